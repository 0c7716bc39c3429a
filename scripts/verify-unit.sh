#!/usr/bin/env bash
# Checks the systemd user unit with systemd-analyze, as the user manager would load it,
# without a running systemd: HOME and XDG_RUNTIME_DIR point into a temporary folder that
# holds the program where the unit expects it. Any complaint (a warning too) fails.
# Usage: scripts/verify-unit.sh [PROGRAM]   (default build/bin/sorvana-client)
set -euo pipefail
cd "$(dirname "$0")/.."
program=${1:-build/bin/sorvana-client}
unit=host/systemd/sorvana-client.service

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
mkdir -p "$tmp/home/.local/bin" "$tmp/home/.config/systemd/user" "$tmp/run"
chmod 700 "$tmp/run"
cp "$program" "$tmp/home/.local/bin/sorvana-client"
cp "$unit" "$tmp/home/.config/systemd/user/"

if ! output=$(HOME="$tmp/home" XDG_RUNTIME_DIR="$tmp/run" \
    systemd-analyze --user verify "$tmp/home/.config/systemd/user/sorvana-client.service" 2>&1) ||
    [[ -n "$output" ]]; then
  echo "$output"
  echo "verify-unit: $unit has faults" >&2
  exit 1
fi
echo "verify-unit: $unit is well formed"
