#!/usr/bin/env bash
# Runs the console's browser test against the programs in BIN_DIR (default build/bin):
# headless Chromium from Debian's packages, driven by playwright-core from npm.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
bin=$(cd "${1:-$here/../../build/bin}" && pwd)
cd "$here"
if [[ ! -d node_modules/playwright-core ]]; then
  npm ci --no-audit --no-fund --loglevel=error
fi
exec node console.test.mjs "$bin"
