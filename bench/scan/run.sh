#!/bin/sh
# Scanning a project folder and writing its listing, against find printing the same
# facts, on one tree of 100,000 files in 1,000 folders with a warm cache.
#   bench/scan/run.sh            (BUILD=build by default; SCAN_DIR to reuse a tree)
# Goals: at most 1.5 times find; peak memory under three times the listing plus 20 MB.
set -eu
ROOT=$(cd "$(dirname "$0")/../.." && pwd)
BUILD=${BUILD:-build}
RUNS=${RUNS:-5}
# With TZ unset the C library looks at /etc/localtime again for every time find prints,
# which would flatter us; name the zone once for both sides.
export TZ="${TZ:-:/etc/localtime}"

cmake -S "$ROOT" -B "$ROOT/$BUILD" -DCMAKE_BUILD_TYPE=Release -DSV_BENCH=ON >/dev/null
cmake --build "$ROOT/$BUILD" -j2 --target scan_bench >/dev/null
BENCH="$ROOT/$BUILD/bin/scan_bench"

if [ -z "${SCAN_DIR:-}" ]; then
  SCAN_DIR=$(mktemp -d "${TMPDIR:-/tmp}/scan-bench.XXXXXX")
  trap 'rm -rf "$SCAN_DIR"' EXIT
fi
if [ ! -d "$SCAN_DIR/f999" ]; then
  echo "building 100,000 files in 1,000 folders under $SCAN_DIR"
  for d in $(seq 0 999); do
    mkdir -p "$SCAN_DIR/f$d"
    (cd "$SCAN_DIR/f$d" && seq -f "file-%g.txt" 0 99 | xargs touch)
  done
fi

now() { date +%s.%N; }
# Best of RUNS wall-clock seconds of a command.
best() {
  b=
  for _ in $(seq 1 "$RUNS"); do
    s=$(now); "$@" >/dev/null; e=$(now)
    b=$(echo "$s $e ${b:-999999}" | awk '{d=$2-$1; print (d<$3)?d:$3}')
  done
  echo "$b"
}

find "$SCAN_DIR" -printf '%P\n' >/dev/null   # warm the cache
"$BENCH" "$SCAN_DIR" >/dev/null

FIND=$(best find "$SCAN_DIR" -printf '%P %TY-%Tm-%Td %TH-%TM-%TS\n')
SCAN=$(best "$BENCH" "$SCAN_DIR")
OWN=$("$BENCH" "$SCAN_DIR" "$RUNS")
LISTING=$(echo "$OWN" | awk '{print $4}')
PEAK_KB=$(/usr/bin/time -v "$BENCH" "$SCAN_DIR" 2>&1 >/dev/null | awk -F: '/Maximum resident/ {gsub(/ /,"",$2); print $2}')

echo "find:                 $FIND s (names only: $(best find "$SCAN_DIR" -printf '%P\n') s)"
echo "scan + listing:       $SCAN s (process; in-process best: $(echo "$OWN" | awk '{print $2}') s)"
echo "ratio to find:        $(echo "$SCAN $FIND" | awk '{printf "%.2f", $1/$2}') (goal <= 1.5)"
echo "listing:              $LISTING bytes"
echo "peak memory:          $PEAK_KB KB (goal < $(echo "$LISTING" | awk '{printf "%d", ($1*3)/1024 + 20480}') KB)"
