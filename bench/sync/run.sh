#!/usr/bin/env bash
# Synchronisation against its peers, over loopback, on the same data:
#   1. initial: 10,000 files of 10 KB in 100 folders into an empty folder, by
#      sorvana-server and the client's synchronisation (bench/sync_once) against
#      `rsync -a --delete` from an rsync daemon;
#   2. nothing to change: both again on the folders they have just filled;
#   3. one file of 1 GiB, against a plain TCP copy with socat.
# Prints each figure (median of SV_RUNS runs, default 3), the ratios and the client's
# peak memory. Goals: 1 and 2 at most 1.0x rsync, 3 at most 1.3x socat, and the client's
# peak under 64 MiB for the large file.
set -euo pipefail
source "$(dirname "$0")/../common.sh"
runs=${SV_RUNS:-3}
sv_need rsync socat python3
sv_build sorvana-server sync_once

sv_workdir sync
work=$SV_WORK
export SV_LOG=$work/commands.log

echo "making the data in $work"
python3 - "$work/server/files" <<'PY'
import os, sys
root = sys.argv[1]
for d in range(100):
    folder = os.path.join(root, "d%02d" % d)
    os.makedirs(folder)
    for f in range(100):
        with open(os.path.join(folder, "f%03d.bin" % f), "wb") as out:
            out.write(os.urandom(10240))
PY
mkdir -p "$work/server/large"
head -c 1G /dev/urandom >"$work/server/large/one.bin"

# The peers: sorvana-server with both projects, an rsync daemon on the small files.
server_port=$(sv_free_port)
"$BIN/sorvana-server" --listen "127.0.0.1:$server_port" "files=$work/server/files" \
  "large=$work/server/large" 2>"$work/server.log" &
sv_track $!
sv_wait_listening "$server_port"
sv_rsync_daemon "$work" "files=$work/server/files"
rsync_port=$SV_RSYNC_PORT

client() { # client PROJECT FOLDER: one synchronisation into FOLDER
  sv_settings "$work/svClient.xml" "$server_port" 60 "$1" "$2"
  sv_timed "$BIN/sync_once" "$work/svClient.xml"
}
with_rsync() { sv_timed rsync -a --delete "rsync://127.0.0.1:$rsync_port/files/" "$1/"; }

declare -a ours_initial ours_same rsync_initial rsync_same ours_large socat_large
peak_initial=0 peak_same=0 peak_large=0
ours_runs() {
  client files "$work/ours-$run"; ours_initial+=("$SV_MS"); peak_initial=$((SV_KB > peak_initial ? SV_KB : peak_initial))
  client files "$work/ours-$run"; ours_same+=("$SV_MS"); peak_same=$((SV_KB > peak_same ? SV_KB : peak_same))
}
rsync_runs() {
  with_rsync "$work/theirs-$run"; rsync_initial+=("$SV_MS")
  with_rsync "$work/theirs-$run"; rsync_same+=("$SV_MS")
}
# Every run fills fresh folders: deleting 10,000 files leaves the file system busy for
# seconds afterwards, which would slow whichever side ran next. The two sides take
# turns at going first.
for ((run = 1; run <= runs; run++)); do
  sync
  if ((run % 2)); then ours_runs; rsync_runs; else rsync_runs; ours_runs; fi
done
diff -r "$work/server/files" "$work/ours-1" >/dev/null || { echo "the client's copy differs from the server's" >&2; exit 1; }
grep -q 'Nije potrebna sinkronizacija za projekt files' "$SV_LOG" || { echo "the second run was not a no-change run" >&2; exit 1; }
rm -rf "$work"/ours-* "$work"/theirs-*

socat_port=$(sv_free_port)
for ((run = 1; run <= runs; run++)); do
  rm -rf "$work/ours-large" "$work/socat.bin"
  client large "$work/ours-large"; ours_large+=("$SV_MS"); peak_large=$((SV_KB > peak_large ? SV_KB : peak_large))
  # The receiver listens first; the copy is timed from the sender's start to the
  # receiver's end, when every byte is in the file. Both ends move 128 KiB at a time
  # (socat's default of 8 KiB would make the plain copy the slower one).
  socat -u -b 131072 "TCP-LISTEN:$socat_port,bind=127.0.0.1,reuseaddr" "OPEN:$work/socat.bin,creat,trunc" &
  receiver=$!
  sleep 0.5
  start=$(date +%s%N)
  socat -u -b 131072 "OPEN:$work/server/large/one.bin" "TCP:127.0.0.1:$socat_port"
  wait "$receiver"
  socat_large+=($((($(date +%s%N) - start) / 1000000)))
done
cmp -s "$work/server/large/one.bin" "$work/ours-large/one.bin" || { echo "the large file differs" >&2; exit 1; }

report() { # report LABEL OURS THEIRS PEER GOAL
  printf '%-44s client %6d ms   %-5s %6d ms   ratio %s   (goal <= %s)\n' "$1" "$2" "$4" "$3" "$(sv_ratio "$2" "$3")" "$5"
}
echo
echo "Synchronisation benchmark — $(sv_machine)"
report "initial, 10,000 files of 10 KB in 100 folders" "$(sv_median "${ours_initial[@]}")" \
  "$(sv_median "${rsync_initial[@]}")" rsync 1.0
report "nothing to change" "$(sv_median "${ours_same[@]}")" "$(sv_median "${rsync_same[@]}")" rsync 1.0
report "one file of 1 GiB" "$(sv_median "${ours_large[@]}")" "$(sv_median "${socat_large[@]}")" socat 1.3
printf 'client peak memory: initial %d MiB, nothing to change %d MiB, 1 GiB file %d MiB (goal < 64 MiB)\n' \
  $((peak_initial / 1024)) $((peak_same / 1024)) $((peak_large / 1024))
echo "(median of $runs runs; wall time of the whole client process, settings read to exit)"
