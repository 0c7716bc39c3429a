#!/usr/bin/env bash
# Every whole-program comparison of this project with a peer, as one table. Each case
# runs in interleaved pairs (project then peer, then peer then project, ...), so that a
# machine whose speed drifts moves both sides of a pair alike; the ratio is taken pair by
# pair and shown as its median with the lowest and the highest pair.
#
#   case             project                                 peer
#   sync-10k         sync_once from sorvana-server:          rsync -a --delete from an
#                    10,000 files of 10 KB in 100 folders    rsync daemon, same files
#   sync-10k-serial  the same, sorvana-server --no-pipelining
#   sync-100k        100,000 files of 1 KB in 1,000 folders
#   sync-100k-serial the same, sorvana-server --no-pipelining
#   same-100k        the 100,000 files again: nothing to change
#   replace-10k      sync_once over older versions of the        rsync -a --delete --backup
#                    10,000 files: each replaced, the old one    --backup-dir=... over the
#                    to the desktop trash                        same older files
#   large            one file of 1 GiB                       socat -u -b 131072, both ends
#   status           the console's status page               nginx serving a saved copy
#   events           event-log page 50 of 100,000 events,    nginx serving a saved copy
#                    filtered (one event in a hundred kept)
#   scan             scanning 1,000,000 empty files in 1,000 folders and writing the
#                    listing (scan_bench): its peak memory against the listing's size
#
# Ratios: for times, project / peer (below 1: the project is faster); for the console,
# the project's requests per second / nginx's (wrk, 2 threads, 32 connections,
# "Connection: close"; above 1: the project is faster); for the scan, peak memory /
# listing size. Peak memory is the largest resident size of the timed process (the
# client, the rsync client, the receiving socat, scan_bench) or, for the console and
# nginx, of the serving process after its runs. Load is the one-minute load average
# before and after the case.
#
#   SV_PAIRS=6          pairs per case
#   SV_CASES="..."      the cases to run, by name (default: all of them)
#   SV_WRK_SECONDS=5    length of each wrk run
#   SV_SETTLE=5         seconds between cases, after the last one's copies are removed;
#                       ext4 without a journal passes over inodes freed in the last 5
#                       minutes once new files dirty their table, so 310 keeps one
#                       case's removal out of the next one's times
#   SV_SCAN_DIR=...     a tree of 1,000,000 files to reuse (else one is made and removed)
#   TMPDIR              where data and copies go: the disk under test (bench/README.md
#                       shows how to give the run an ext4 disk with a journal of its own)
#   SV_BENCH_BUILD      the Release build folder (default build-bench)
set -euo pipefail
source "$(dirname "$0")/common.sh"
pairs=${SV_PAIRS:-6}
cases=${SV_CASES:-sync-10k sync-10k-serial sync-100k sync-100k-serial same-100k replace-10k large status events scan}
seconds=${SV_WRK_SECONDS:-5}
settle_seconds=${SV_SETTLE:-5}
sv_need rsync socat wrk nginx curl python3
sv_build sorvana-server sync_once filled_console scan_bench

sv_workdir all
work=$SV_WORK
chmod 755 "$work"
export SV_LOG=$work/commands.log
data=$work/data copies=$work/copies
mkdir -p "$data" "$copies"

wanted() { [[ " $cases " == *" $1 "* ]]; }

# ---- Pairs and rows ----------------------------------------------------------------

# run_pairs PROJECT-FN PEER-FN: SV_PAIRS interleaved pairs. Each function is called with
# the run's number and sets VALUE (ms or req/s) and PEAK (KiB, 0 when not known).
run_pairs() {
  local i pv qv pk qk
  P=() Q=() R=() PEAK_P=0 PEAK_Q=0
  for ((i = 0; i < pairs; i++)); do
    if ((i % 2 == 0)); then
      "$1" "$i"; pv=$VALUE pk=$PEAK; "$2" "$i"; qv=$VALUE qk=$PEAK
    else
      "$2" "$i"; qv=$VALUE qk=$PEAK; "$1" "$i"; pv=$VALUE pk=$PEAK
    fi
    P+=("$pv") Q+=("$qv") R+=("$(awk -v a="$pv" -v b="$qv" 'BEGIN { printf "%.4f", (b > 0 ? a / b : 0) }')")
    if ((pk > PEAK_P)); then PEAK_P=$pk; fi
    if ((qk > PEAK_Q)); then PEAK_Q=$qk; fi
  done
}

mib() { awk -v k="$1" 'BEGIN { if (k > 0) printf "%.1f MiB", k / 1024; else printf "—" }'; }
spread() { printf '%s\n' "$@" | sort -g | awk '{ v[NR] = $1 } END { printf "%.2f [%.2f–%.2f]", v[int((NR + 1) / 2)], v[1], v[NR] }'; }

ROWS=()
# row CASE PROJECT-NAME PEER-NAME UNIT LOAD-BEFORE: one line of the table from the pairs.
row() {
  ROWS+=("$(printf '| %s | %s %s %s | %s %s %s | %s | %s / %s | %s / %s |' "$1" "$2" "$(sv_median "${P[@]}")" "$4" \
    "$3" "$(sv_median "${Q[@]}")" "$4" "$(spread "${R[@]}")" "$(mib "$PEAK_P")" "$(mib "$PEAK_Q")" "$5" "$(sv_load)")")
  echo "${ROWS[-1]}"
}

# ---- Synchronisation -----------------------------------------------------------------

sync_cases=false
for c in sync-10k sync-10k-serial sync-100k sync-100k-serial same-100k replace-10k large; do wanted "$c" && sync_cases=true; done
if $sync_cases; then
  echo "making the data in $data"
  big=false
  for c in sync-100k sync-100k-serial same-100k; do wanted "$c" && big=true; done
  python3 - "$data" "$big" <<'PY'
import os, sys
def make(root, folders, files, size):
    for d in range(folders):
        folder = os.path.join(root, "d%03d" % d)
        os.makedirs(folder)
        for f in range(files):
            with open(os.path.join(folder, "f%03d.bin" % f), "wb") as out:
                out.write(os.urandom(size))
make(os.path.join(sys.argv[1], "files10k"), 100, 100, 10240)
if sys.argv[2] == "true":
    make(os.path.join(sys.argv[1], "files100k"), 1000, 100, 1024)
else:
    os.makedirs(os.path.join(sys.argv[1], "files100k"))
# Older versions of the 10,000 files: other content, a day older.
old = os.path.join(sys.argv[1], "old10k")
make(old, 100, 100, 10240)
for folder, _, names in os.walk(old):
    for name in names:
        path = os.path.join(folder, name)
        stat = os.stat(path)
        os.utime(path, (stat.st_atime - 86400, stat.st_mtime - 86400))
PY
  mkdir -p "$data/large"
  if wanted large; then head -c 1G /dev/urandom >"$data/large/one.bin"; fi
  projects=("files10k=$data/files10k" "files100k=$data/files100k" "large=$data/large")
  piped_port=$(sv_free_port)
  "$BIN/sorvana-server" --listen "127.0.0.1:$piped_port" "${projects[@]}" 2>"$work/server.log" &
  sv_track $!
  serial_port=$(sv_free_port)
  "$BIN/sorvana-server" --no-pipelining --listen "127.0.0.1:$serial_port" "${projects[@]}" 2>"$work/serial.log" &
  sv_track $!
  sv_wait_listening "$piped_port"
  sv_wait_listening "$serial_port"
  sv_rsync_daemon "$work" "files10k=$data/files10k" "files100k=$data/files100k"
fi

# ours PORT PROJECT FOLDER: one synchronisation into FOLDER.
ours() {
  sv_settings "$work/svClient.xml" "$1" 60 "$2" "$3"
  sv_timed "$BIN/sync_once" "$work/svClient.xml"
  VALUE=$SV_MS PEAK=$SV_KB
}
theirs() { # theirs MODULE FOLDER
  sv_timed rsync -a --delete "rsync://127.0.0.1:$SV_RSYNC_PORT/$1/" "$2/"
  VALUE=$SV_MS PEAK=$SV_KB
}

# Fresh copies in every run; they are removed after the case, and the disk is given time
# to settle, since freeing many files keeps it busy for a while.
settle() {
  rm -rf "${copies:?}"/*
  sync
  sleep "$settle_seconds"
}

first_sync() { # first_sync CASE PORT PROJECT
  local load
  load=$(sv_load)
  CASE_PORT=$2 CASE_PROJECT=$3
  p_first() { ours "$CASE_PORT" "$CASE_PROJECT" "$copies/o$1"; }
  q_first() { theirs "$CASE_PROJECT" "$copies/r$1"; }
  run_pairs p_first q_first
  diff -r "$data/$3" "$copies/o0" >/dev/null || { echo "$1: the copy differs from the server's folder" >&2; exit 1; }
  row "$1" sorvana rsync ms "$load"
  settle
}

wanted sync-10k && first_sync sync-10k "$piped_port" files10k
wanted sync-10k-serial && first_sync sync-10k-serial "$serial_port" files10k
wanted sync-100k && first_sync sync-100k "$piped_port" files100k
wanted sync-100k-serial && first_sync sync-100k-serial "$serial_port" files100k

if wanted same-100k; then
  ours "$piped_port" files100k "$copies/o"
  theirs files100k "$copies/r"
  load=$(sv_load)
  before=$(grep -c 'Nije potrebna sinkronizacija za projekt files100k' "$SV_LOG" || true)
  p_same() { ours "$piped_port" files100k "$copies/o"; }
  q_same() { theirs files100k "$copies/r"; }
  run_pairs p_same q_same
  after=$(grep -c 'Nije potrebna sinkronizacija za projekt files100k' "$SV_LOG" || true)
  ((after - before == pairs)) || { echo "same-100k: a run had something to change" >&2; exit 1; }
  row same-100k sorvana rsync ms "$load"
  settle
fi

if wanted replace-10k; then
  load=$(sv_load)
  # Every run starts from its own copy of the older files, made untimed; the trash (ours,
  # through XDG_DATA_HOME) and the backup folder (rsync's) lie on the same disk.
  p_replace() {
    local XDG_DATA_HOME=$copies/xdg-o$1
    export XDG_DATA_HOME
    cp -a "$data/old10k" "$copies/o$1"
    sync
    ours "$piped_port" files10k "$copies/o$1"
  }
  q_replace() {
    cp -a "$data/old10k" "$copies/r$1"
    sync
    sv_timed rsync -a --delete --backup --backup-dir="$copies/backup-r$1" \
      "rsync://127.0.0.1:$SV_RSYNC_PORT/files10k/" "$copies/r$1/"
    VALUE=$SV_MS PEAK=$SV_KB
  }
  run_pairs p_replace q_replace
  diff -r "$data/files10k" "$copies/o0" >/dev/null || { echo "replace-10k: the copy differs from the server's folder" >&2; exit 1; }
  trashed=$(find "$copies/xdg-o0/Trash/files" -type f | wc -l)
  ((trashed == 10000)) || { echo "replace-10k: $trashed files in the trash, not 10000" >&2; exit 1; }
  row replace-10k sorvana rsync ms "$load"
  settle
fi

if wanted large; then
  load=$(sv_load)
  # Each copy starts with nothing of the last one left to write back: 1 GiB of dirty
  # pages written out during a run would time the disk rather than the copy.
  p_large() {
    sync
    ours "$piped_port" large "$copies/large-o"
    rm -rf "$copies/large-o"
  }
  q_large() {
    local port memory start receiver
    port=$(sv_free_port)
    memory=$(mktemp)
    # The receiver listens first; the copy is timed from the sender's start to the
    # receiver's end, when every byte is in the file.
    /usr/bin/time -f %M -o "$memory" socat -u -b 131072 "TCP-LISTEN:$port,bind=127.0.0.1,reuseaddr" \
      "OPEN:$copies/large-r,creat,trunc" &
    receiver=$!
    sync
    sleep 0.5
    start=$(date +%s%N)
    socat -u -b 131072 "OPEN:$data/large/one.bin" "TCP:127.0.0.1:$port"
    wait "$receiver"
    VALUE=$((($(date +%s%N) - start) / 1000000)) PEAK=$(tail -n 1 "$memory")
    rm -f "$memory" "$copies/large-r"
  }
  # One untimed copy each first: after the many-file cases' removals the first copies,
  # whichever program makes them, meet memory that the machine must supply afresh.
  q_large -; p_large -
  run_pairs p_large q_large
  row large sorvana socat ms "$load"
  settle
fi

# ---- Console -----------------------------------------------------------------------

if wanted status || wanted events; then
  sv_filled_console "$work/console" 100000
  console_pid=$SV_CONSOLE_PID console_port=$SV_CONSOLE_PORT console_auth=$SV_CONSOLE_AUTH
  mkdir -p "$work/www"
  event_page="/eventlog.html?page=50&filter=izmjena"
  curl -sf -H "$console_auth" "http://127.0.0.1:$console_port/index.html" >"$work/www/index.html"
  curl -sf -H "$console_auth" "http://127.0.0.1:$console_port$event_page" >"$work/www/eventlog.html"
  rows=$(grep -c 'VALIGN=TOP' "$work/www/eventlog.html" || true)
  ((rows == 20)) || { echo "event-log page 50 shows $rows rows, not 20" >&2; exit 1; }
  sv_nginx "$work/nginx" "$work/www"
fi

rate() { # rate URL: requests per second, none of them failed (the console key goes to nginx too)
  local report
  report=$(wrk -t2 -c32 -d"${seconds}s" -H 'Connection: close' -H "$console_auth" "$1")
  if grep -qE 'Non-2xx|Socket errors' <<<"$report"; then
    echo "wrk reports failures for $1:" >&2
    grep -E 'Non-2xx|Socket errors' <<<"$report" >&2
  fi
  VALUE=$(awk '/^Requests\/sec:/ { print int($2) }' <<<"$report") PEAK=0
}

console_case() { # console_case CASE OUR-PATH NGINX-PATH
  local load
  load=$(sv_load)
  CASE_OURS=$2 CASE_THEIRS=$3
  p_page() { rate "http://127.0.0.1:$console_port$CASE_OURS"; }
  q_page() { rate "http://127.0.0.1:$SV_NGINX_PORT$CASE_THEIRS"; }
  run_pairs p_page q_page
  PEAK_P=$(sv_peak_kb "$console_pid") PEAK_Q=$(sv_peak_kb "$SV_NGINX_PID")
  row "$1" console nginx req/s "$load"
}

wanted status && console_case status /index.html /index.html
wanted events && console_case events "$event_page" /eventlog.html

# ---- Scan memory -------------------------------------------------------------------

if wanted scan; then
  tree=${SV_SCAN_DIR:-$work/scan}
  if [[ ! -d $tree/f999 ]]; then
    echo "making 1,000,000 files in 1,000 folders under $tree"
    for ((d = 0; d < 1000; d++)); do
      mkdir -p "$tree/f$d"
      (cd "$tree/f$d" && seq -f "file-%g.txt" 0 999 | xargs touch)
    done
  fi
  load=$(sv_load)
  "$BIN/scan_bench" "$tree" >/dev/null  # a warm cache for every run
  P=() Q=() R=() PEAK_P=0 PEAK_Q=0
  for ((i = 0; i < pairs; i++)); do
    memory=$(mktemp)
    listing=$(/usr/bin/time -f %M -o "$memory" "$BIN/scan_bench" "$tree" | awk '{ print $4 }')
    peak=$(tail -n 1 "$memory")
    rm -f "$memory"
    P+=("$((peak / 1024))") Q+=("$((listing / 1048576))")
    R+=("$(awk -v p="$peak" -v l="$listing" 'BEGIN { printf "%.4f", p * 1024 / l }')")
    if ((peak > PEAK_P)); then PEAK_P=$peak; fi
  done
  row scan "scan_bench peak" "listing" MiB "$load"
fi

echo
echo "Whole programs against their peers — $(sv_machine)"
echo "$pairs pairs a case, interleaved; medians; ratio median [lowest–highest pair]"
echo
echo "| Case | Project | Peer | Ratio | Peak memory project / peer | Load before / after |"
echo "|---|---|---|---|---|---|"
printf '%s\n' "${ROWS[@]}"
