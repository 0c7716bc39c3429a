#!/usr/bin/env bash
# Installs what is needed, builds, and runs every test: in a normal build, in a build
# with AddressSanitizer and UndefinedBehaviorSanitizer (clang, with the fuzz targets run
# over their seed inputs), and the threaded tests in a ThreadSanitizer build; then the
# Windows programs, cross-built and tested under Wine (scripts/test-windows.sh).
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc)

scripts/setup.sh

echo "== shell scripts"
shellcheck scripts/*.sh tests/browser/run.sh

echo "== normal build"
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DSV_BENCH=ON
cmake --build build -j "$jobs"
ctest --test-dir build --output-on-failure -j "$jobs"

echo "== systemd user unit"
scripts/verify-unit.sh build/bin/sorvana-client

echo "== AddressSanitizer and UndefinedBehaviorSanitizer build"
cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DCMAKE_C_COMPILER=clang-14 \
  -DCMAKE_CXX_COMPILER=clang++-14 -DSV_SANITIZE=ON -DSV_FUZZ=ON -DSV_BENCH=OFF
cmake --build build-asan -j "$jobs"
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --test-dir build-asan --output-on-failure -j "$jobs"

echo "== ThreadSanitizer build (threaded tests)"
cmake -S . -B build-tsan -DCMAKE_BUILD_TYPE=Debug -DSV_TSAN=ON -DSV_BENCH=OFF
cmake --build build-tsan -j "$jobs"
TSAN_OPTIONS=halt_on_error=1 ctest --test-dir build-tsan --output-on-failure -j "$jobs"

if [[ -x tests/browser/run.sh ]]; then
  echo "== browser test"
  tests/browser/run.sh build/bin
fi

echo "== Windows programs under Wine"
scripts/test-windows.sh
