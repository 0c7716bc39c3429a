#!/usr/bin/env bash
# The peak memory of reading documents of 1, 10 and 100 MiB, flat and nested, by the
# client (task list, settings file) and by sorvana-server (listing), as a ratio to the
# document's size (goal: at most 8). One process a figure (bench/memory/read_memory.cpp);
# the markup tree is measured too, for scale.
#
#   SV_BENCH_BUILD=build-bench bench/memory/run.sh     # SV_SIZES="1 10 100"
set -euo pipefail
source "$(dirname "$0")/../common.sh"
sv_build read_memory
sv_workdir memory

sizes=${SV_SIZES:-1 10 100}
echo "$(sv_machine)"
echo
printf '| Reader | Shape |'
for s in $sizes; do printf ' %s MiB |' "$s"; done
printf ' peak at %s MiB | held after |\n|---|---|' "${sizes##* }"
for s in $sizes; do printf -- '---|'; done
printf -- '---|---|\n'
for reader in tasks listing settings tree; do
  for shape in flat nested smallest deepest; do
    printf '| %s | %s |' "$reader" "$shape"
    for s in $sizes; do
      read -r _ _ bytes peak ratio extra held < <("$BIN/read_memory" "$reader" "$shape" "$s" "$SV_WORK")
      printf ' %s (%s) |' "$ratio" "$extra"
    done
    printf ' %s MiB | %s MiB |\n' "$((peak / 1024))" "$((held / 1024))"
  done
done
