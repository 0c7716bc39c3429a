#!/usr/bin/env bash
# wine-run.sh PROGRAM [ARGUMENTS...]: how CTest starts a Windows program, through Wine.
# Very rarely Wine ends at once with a failing status, before the program has printed
# anything (a Google Test program always prints before its first test); such a start is
# made once more, with a note on stderr. A program that printed anything is never run
# again, so a test that fails stays failed.
out=$(mktemp "${TMPDIR:-/tmp}/wine-run-XXXXXX")
trap 'rm -f "$out"' EXIT
for attempt in 1 2; do
  wine "$@" | tee "$out"
  status=${PIPESTATUS[0]}
  if ((status == 0 || attempt == 2)) || [[ -s $out ]]; then exit "$status"; fi
  echo "wine-run: Wine ended with status $status before $1 printed anything; starting it again" >&2
done
