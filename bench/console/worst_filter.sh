#!/usr/bin/env bash
# The status page's latency while another connection asks, one request after another,
# for the worst event-log filter on a full log of 100,000 entries. Every entry names a
# project whose name holds a run of 60 "a", and two filters are tried:
#   (a|a){1,14}[-_][xy]  takes milliseconds on every entry and never matches, so each
#                        request matches for the page's whole budget (2 s), answers 500
#                        and is asked again at once: one core busy all the time;
#   (a|a)+$              would backtrack for hours on every entry; PCRE2's match limit
#                        ends it at the first one, so it is asked again and again.
# wrk measures /index.html from one connection (Connection: close) for SV_WRK_SECONDS
# seconds (default 10): alone, then beside each filter. Goal: p99 under 50 ms beside
# the worst filter.
set -euo pipefail
source "$(dirname "$0")/../common.sh"
seconds=${SV_WRK_SECONDS:-10}
sv_need wrk curl
sv_build filled_console

sv_workdir worst-filter
work=$SV_WORK
sv_filled_console "$work" 100000 "$(printf 'a%.0s' {1..60})-10"
console_pid=$SV_CONSOLE_PID
auth=$SV_CONSOLE_AUTH

base="http://127.0.0.1:$SV_CONSOLE_PORT"
declare -A filters=([slow]='%28a%7Ca%29%7B1%2C14%7D%5B-_%5D%5Bxy%5D' [endless]='%28a%7Ca%29%2B%24')

# Asks for one filter again and again, one request at a time; a line per answer:
# status and seconds.
ask_again() {
  while :; do
    curl -s -o /dev/null -H "$auth" -w '%{http_code} %{time_total}\n' "$base/eventlog.html?filter=$1" >>"$2" || true
  done
}

# Sets P50, P99 and RPS of the status page.
measure() {
  local report
  report=$(wrk -t1 -c1 -d"${seconds}s" --latency -H 'Connection: close' -H "$auth" "$base/index.html")
  P50=$(awk '$1 == "50%" { print $2 }' <<<"$report")
  P99=$(awk '$1 == "99%" { print $2 }' <<<"$report")
  RPS=$(awk '/^Requests\/sec:/ { print int($2) }' <<<"$report")
}

echo
echo "Status page beside the worst filter — $(sv_machine)"
echo "wrk: 1 thread, 1 connection, ${seconds} s, Connection: close; log of 100,000 entries"
for name in slow endless; do
  echo "$name filter answers: $(curl -s -H "$auth" "$base/eventlog.html?filter=${filters[$name]}" | iconv -f cp1250 -t utf-8)"
done
measure
printf '%-28s p50 %-9s p99 %-9s %6d req/s\n' "alone" "$P50" "$P99" "$RPS"
for name in slow endless; do
  answers="$work/$name.answers"
  : >"$answers"
  ask_again "${filters[$name]}" "$answers" &
  asker=$!
  sv_track "$asker"
  sleep 1
  measure
  kill "$asker"
  wait "$asker" 2>/dev/null || true
  summary=$(awk '{ n++; codes[$1]++; t += $2; if ($2 > max) max = $2 }
                 END { for (c in codes) s = s c "×" codes[c] " "; printf "%d answers (%s), mean %.3f s, max %.3f s", n, s, t / n, max }' "$answers")
  printf '%-28s p50 %-9s p99 %-9s %6d req/s   filter: %s\n' "beside the $name filter" "$P50" "$P99" "$RPS" "$summary"
done
echo "console process resident memory after the runs: $(awk '/VmRSS/ { print int($2 / 1024) }' "/proc/$console_pid/status") MiB"
echo "goal: p99 under 50 ms beside the worst filter"
