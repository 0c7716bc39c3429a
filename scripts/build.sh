#!/usr/bin/env bash
# Builds the programs into build/bin (sorvana-client, sorvana-server).
set -euo pipefail
cd "$(dirname "$0")/.."
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$(nproc)" --target sorvana-client sorvana-server
