#!/usr/bin/env bash
# Soak: sorvana-client with poll interval 0 (a synchronisation at every 200 ms tick)
# against sorvana-server for SV_SOAK_SYNCS synchronisations (default 1,000), while one
# process changes a few server files every second and another requests console pages.
# Prints the client's resident memory at the start and after every 100
# synchronisations. Goal: after the first 100, it grows by less than 5 MiB.
set -euo pipefail
source "$(dirname "$0")/../common.sh"
syncs=${SV_SOAK_SYNCS:-1000}
sv_need curl
sv_build sorvana-client sorvana-server

sv_workdir soak
work=$SV_WORK
export HOME=$work/home XDG_CONFIG_HOME=$work/home/.config XDG_DATA_HOME=$work/home/.local/share XDG_RUNTIME_DIR=$work/home/run
mkdir -p "$XDG_CONFIG_HOME" "$XDG_DATA_HOME" "$XDG_RUNTIME_DIR" "$work/client"

# 200 files of 1 to 64 KiB in 10 folders.
for ((d = 0; d < 10; d++)); do
  mkdir -p "$work/server/drumel/d$d"
  for ((f = 0; f < 20; f++)); do
    head -c $((1024 * (1 + (d * 20 + f) % 64))) /dev/urandom >"$work/server/drumel/d$d/f$f.bin"
  done
done

port=$(sv_free_port)
console=$((port + 2))
"$BIN/sorvana-server" --log-files --listen "127.0.0.1:$port" "drumel=$work/server/drumel" 2>"$work/server.log" &
sv_track $!
sv_wait_listening "$port"
cp "$BIN/sorvana-client" "$work/client/"
sv_settings "$work/client/svClient.xml" "$port" 0 drumel "$work/client/drumel"
"$work/client/sorvana-client" >"$work/client.out" 2>&1 &
client=$!
sv_track "$client"
sv_wait_listening "$console"
# The console key, from the address of the "Configure:" line.
for ((i = 0; i < 100; i++)); do
  grep -q '^Configure: .*kljuc=' "$work/client.out" && break
  sleep 0.1
done
auth="Authorization: Bearer $(sed -n 's/^Configure: .*kljuc=//p' "$work/client.out")"

# The changer: three server files get new content every second.
(
  while :; do
    for _ in 1 2 3; do
      head -c $((1024 + RANDOM % 65536)) /dev/urandom >"$work/server/drumel/d$((RANDOM % 10))/f$((RANDOM % 20)).bin"
    done
    sleep 1
  done
) &
sv_track $!
# The reader: the status page and a filtered event-log page, a few times a second.
(
  while :; do
    curl -s -o /dev/null -H "$auth" "http://127.0.0.1:$console/index.html" || true
    curl -s -o /dev/null -H "$auth" "http://127.0.0.1:$console/eventlog.html?page=$((RANDOM % 5 + 1))&filter=drumel" || true
    sleep 0.2
  done
) &
sv_track $!

# Synchronisations done so far: the server's "Sync" requests.
done_syncs() { grep -c 'Sync drumel' "$work/server.log" || true; }
rss() { awk '/VmRSS/ { print $2 }' "/proc/$client/status"; }

echo
echo "Soak benchmark — $(sv_machine)"
start_kb=$(rss)
printf '%5d synchronisations: %6d KiB resident\n' 0 "$start_kb"
next=100
started=$(date +%s)
while ((next <= syncs)); do
  kill -0 "$client" 2>/dev/null || { echo "the client has ended" >&2; cat "$work/client.out" >&2; exit 1; }
  if (($(done_syncs) >= next)); then
    kb=$(rss)
    printf '%5d synchronisations: %6d KiB resident\n' "$next" "$kb"
    ((next == 100)) && first_kb=$kb
    last_kb=$kb
    next=$((next + 100))
  fi
  sleep 0.2
done
growth=$((last_kb - first_kb))
printf 'growth after the first 100: %d KiB (goal < 5120 KiB); %d s in all\n' "$growth" $(($(date +%s) - started))
failures=$(curl -s -H "$auth" "http://127.0.0.1:$console/eventlog.html?page=1&filter=Socket%7CCannot%7CNedozvoljena" | grep -c 'VALIGN=TOP' || true)
echo "failed synchronisations among the newest logged: $failures; files fetched: $(grep -c 'GetFile' "$work/server.log" || true)"
