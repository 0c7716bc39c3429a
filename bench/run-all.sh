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
#   tls-10k          sync-10k over TLS, the server's own      rsync -a --delete over ssh
#                    self-signed certificate pinned          (an sshd of the run's own)
#   tls-large        large over TLS, the same certificate    socat -u -b 131072, OpenSSL
#                                                            listener and client, the same
#                                                            certificate
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
# nginx, of the serving process after its runs; the TLS rows add the serving side's
# peak in brackets (the case's own sorvana-server; sshd with its connections and their
# rsync; the sending socat). Load is the one-minute load average before and after the
# case.
#
#   SV_PAIRS=6          pairs per case
#   SV_CASES="..."      the cases to run, by name (default: all of them)
#   SV_WRK_SECONDS=5    length of each wrk run
#   SV_SETTLE=5         seconds between cases, after the last one's copies are removed;
#                       ext4 without a journal passes over inodes freed in the last 5
#                       minutes once new files dirty their table, so 310 keeps one
#                       case's removal out of the next one's times
#   SV_PLAIN=1          the TLS cases with the project over its plain channel (the peers
#                       keep their encryption): what the channel's encryption costs
#   SV_SCAN_DIR=...     a tree of 1,000,000 files to reuse (else one is made and removed)
#   TMPDIR              where data and copies go: the disk under test (bench/README.md
#                       shows how to give the run an ext4 disk with a journal of its own)
#   SV_BENCH_BUILD      the Release build folder (default build-bench)
set -euo pipefail
source "$(dirname "$0")/common.sh"
pairs=${SV_PAIRS:-6}
cases=${SV_CASES:-sync-10k sync-10k-serial sync-100k sync-100k-serial same-100k replace-10k large tls-10k tls-large status events scan}
seconds=${SV_WRK_SECONDS:-5}
settle_seconds=${SV_SETTLE:-5}
plain=${SV_PLAIN:-0}
sv_need rsync socat wrk nginx curl python3 ss
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
  P=() Q=() R=() PEAK_P=0 PEAK_Q=0 PEAK_PS=0 PEAK_QS=0
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
# peaks CLIENT-KIB SERVER-KIB: the client's peak, and the server's in brackets when known.
peaks() { if (($2 > 0)); then echo "$(mib "$1") ($(mib "$2"))"; else mib "$1"; fi; }
spread() { printf '%s\n' "$@" | sort -g | awk '{ v[NR] = $1 } END { printf "%.2f [%.2f–%.2f]", v[int((NR + 1) / 2)], v[1], v[NR] }'; }

ROWS=() PEAK_PS=0 PEAK_QS=0
# row CASE PROJECT-NAME PEER-NAME UNIT LOAD-BEFORE: one line of the table from the pairs.
row() {
  ROWS+=("$(printf '| %s | %s %s %s | %s %s %s | %s | %s / %s | %s / %s |' "$1" "$2" "$(sv_median "${P[@]}")" "$4" \
    "$3" "$(sv_median "${Q[@]}")" "$4" "$(spread "${R[@]}")" "$(peaks "$PEAK_P" "$PEAK_PS")" "$(peaks "$PEAK_Q" "$PEAK_QS")" "$5" "$(sv_load)")")
  echo "${ROWS[-1]}"
}

# ---- Synchronisation -----------------------------------------------------------------

sync_cases=false
for c in sync-10k sync-10k-serial sync-100k sync-100k-serial same-100k replace-10k large tls-10k tls-large; do wanted "$c" && sync_cases=true; done
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
  if wanted large || wanted tls-large; then head -c 1G /dev/urandom >"$data/large/one.bin"; fi
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

# ours PORT PROJECT FOLDER [PIN]: one synchronisation into FOLDER, over TLS with PIN.
ours() {
  sv_settings "$work/svClient.xml" "$1" 60 "$2" "$3" "${4:-}"
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

# ---- The encrypted channel -----------------------------------------------------------

if wanted tls-10k || wanted tls-large; then
  cert=$work/cert/server.crt key=$work/cert/server.key
  if [[ $plain == 1 ]]; then
    # Our side without TLS, for the channel's own cost; the peers keep theirs.
    mkdir -p "$work/cert"
    openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -subj /CN=127.0.0.1 -days 2 \
      -keyout "$key" -out "$cert" 2>>"$SV_LOG"
    pin="" tls_options=() ours_name="sorvana plaintext"
  else
    # The server's own self-signed certificate, pinned by the client; socat's listener
    # serves the same certificate and key.
    pin=$("$BIN/sorvana-server" --make-cert "$work/cert" | grep -oE '[0-9a-f]{64}' | head -n 1)
    tls_options=(--tls-cert "$cert" --tls-key "$key") ours_name=sorvana
  fi
  [[ -f $cert && -f $key && ( -n $pin || $plain == 1 ) ]] || { echo "sorvana-server --make-cert made no certificate" >&2; exit 1; }
fi

# tls_server PROJECT=PATH: a TLS-only sorvana-server of the case's own, so that its peak
# memory is the case's; sets tls_port. tls_server_stop ends it and sets PEAK_PS.
tls_server() {
  tls_port=$(sv_free_port)
  "$BIN/sorvana-server" --listen "127.0.0.1:$tls_port" "${tls_options[@]}" "$1" \
    2>>"$work/tls-server.log" &
  tls_pid=$!
  sv_track "$tls_pid"
  sv_wait_bound "$tls_port"
}
tls_server_stop() {
  PEAK_PS=$(sv_peak_kb "$tls_pid")
  kill "$tls_pid"
  wait "$tls_pid" 2>/dev/null || true
}

if wanted tls-10k; then
  load=$(sv_load)
  tls_server "files10k=$data/files10k"
  sv_sshd "$work/ssh"
  p_tls10k() { ours "$tls_port" files10k "$copies/o$1" "$pin"; }
  q_tls10k() {
    sv_timed rsync -a --delete -e "$SV_SSH" "127.0.0.1:$data/files10k/" "$copies/r$1/"
    VALUE=$SV_MS PEAK=$SV_KB
  }
  run_pairs p_tls10k q_tls10k
  diff -r "$data/files10k" "$copies/o0" >/dev/null || { echo "tls-10k: the copy differs from the server's folder" >&2; exit 1; }
  diff -r "$data/files10k" "$copies/r0" >/dev/null || { echo "tls-10k: rsync's copy differs from the server's folder" >&2; exit 1; }
  tls_server_stop
  sv_sshd_stop
  PEAK_QS=$SV_SSHD_KB
  row tls-10k "$ours_name" "rsync+ssh" ms "$load"
  settle
fi

if wanted tls-large; then
  load=$(sv_load)
  tls_server "large=$data/large"
  # As in large: nothing of the last copy left to write back, both copies into the same
  # folder, each removed after it.
  p_tlslarge() {
    sync
    ours "$tls_port" large "$copies/large-o" "$pin"
    if [[ $1 == - ]] && ! cmp -s "$data/large/one.bin" "$copies/large-o/one.bin"; then
      echo "tls-large: the copy differs" >&2
      exit 1
    fi
    rm -rf "$copies/large-o"
  }
  q_tlslarge() {
    local port memory sender
    port=$(sv_free_port)
    memory=$(mktemp)
    # The sender listens, as the server does; the receiving client is timed.
    /usr/bin/time -f %M -o "$memory" socat -u -b 131072 "OPEN:$data/large/one.bin" \
      "OPENSSL-LISTEN:$port,bind=127.0.0.1,reuseaddr,cert=$cert,key=$key,verify=0" 2>>"$SV_LOG" &
    sender=$!
    sv_wait_bound "$port"
    sync
    sv_timed socat -u -b 131072 "OPENSSL:127.0.0.1:$port,verify=0" "OPEN:$copies/large-r,creat,trunc"
    wait "$sender"
    VALUE=$SV_MS PEAK=$SV_KB
    if (($(tail -n 1 "$memory") > PEAK_QS)); then PEAK_QS=$(tail -n 1 "$memory"); fi
    if [[ $1 == - ]] && ! cmp -s "$data/large/one.bin" "$copies/large-r"; then
      echo "tls-large: socat's copy differs" >&2
      exit 1
    fi
    rm -f "$memory" "$copies/large-r"
  }
  # One untimed copy each first, as in large, checked.
  q_tlslarge -; p_tlslarge -
  run_pairs p_tlslarge q_tlslarge
  tls_server_stop
  row tls-large "$ours_name" socat ms "$load"
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
