#!/usr/bin/env bash
# The web console under load, beside nginx serving saved copies of the same pages on
# loopback. The console belongs to the client's own controller (filled_console) with
# an event log of 100,000 entries, one in a hundred of which the filter "izmjena" keeps.
# wrk sends every request with "Connection: close", to both. Prints requests per
# second, the 99th percentile of latency and the ratio to nginx for the status page
# and the filtered event-log page. Goal: at least half of nginx's rate for the status
# page.
#   SV_WRK_SECONDS  length of each wrk run (default 10)
#   SV_WRK_CONNECTIONS  open connections (default 32; the console serves 64 at most)
set -euo pipefail
source "$(dirname "$0")/../common.sh"
seconds=${SV_WRK_SECONDS:-10}
connections=${SV_WRK_CONNECTIONS:-32}
sv_need wrk nginx curl
sv_build filled_console

sv_workdir console
work=$SV_WORK
chmod 755 "$work"

sv_filled_console "$work" 100000
console_pid=$SV_CONSOLE_PID
console_port=$SV_CONSOLE_PORT
auth=$SV_CONSOLE_AUTH

# Saved copies for nginx, taken from the console itself.
status_page="/index.html"
event_page="/eventlog.html?page=1&filter=izmjena"
mkdir -p "$work/www"
curl -sf -H "$auth" "http://127.0.0.1:$console_port$status_page" >"$work/www/index.html"
curl -sf -H "$auth" "http://127.0.0.1:$console_port$event_page" >"$work/www/eventlog.html"
rows=$(grep -c 'VALIGN=TOP' "$work/www/eventlog.html" || true)
((rows == 20)) || { echo "the filtered event-log page shows $rows rows, not 20" >&2; exit 1; }

sv_nginx "$work/nginx" "$work/www"
nginx_port=$SV_NGINX_PORT

# wrk URL: sets RPS and P99 from its report. The console key goes to nginx too, so that
# both read the same requests.
measure() {
  local report
  report=$(wrk -t2 -c"$connections" -d"${seconds}s" --latency -H 'Connection: close' -H "$auth" "$1")
  RPS=$(awk '/^Requests\/sec:/ { print int($2) }' <<<"$report")
  P99=$(awk '$1 == "99%" { print $2 }' <<<"$report")
  ERR=$(awk '/Non-2xx|Socket errors/ { $1 = $1; print }' <<<"$report" | paste -sd';' -)
}

echo
echo "Console benchmark — $(sv_machine)"
echo "wrk: 2 threads, $connections connections, ${seconds} s each, Connection: close"
for page in status events; do
  if [[ $page == status ]]; then ours="$status_page" theirs="/index.html"; else ours="$event_page" theirs="/eventlog.html"; fi
  measure "http://127.0.0.1:$console_port$ours"
  ours_rps=$RPS ours_p99=$P99 ours_err=$ERR
  measure "http://127.0.0.1:$nginx_port$theirs"
  printf '%-8s console %7d req/s p99 %-9s  nginx %7d req/s p99 %-9s  ratio %s\n' "$page" "$ours_rps" \
    "$ours_p99" "$RPS" "$P99" "$(sv_ratio "$ours_rps" "$RPS")"
  if [[ -n $ours_err ]]; then echo "         console: $ours_err"; fi
  if [[ -n $ERR ]]; then echo "         nginx: $ERR"; fi
done
echo "console process resident memory after the runs: $(awk '/VmRSS/ { print int($2 / 1024) }' "/proc/$console_pid/status") MiB"
echo "goal: status page at least 0.50 of nginx's rate"
