#!/usr/bin/env bash
# Installs the Debian packages that building, testing and the demo need.
# Packages already installed are skipped; apt-get runs only when something is missing.
set -euo pipefail

packages=(
  build-essential cmake pkg-config clang-14 libclang-rt-14-dev libfuzzer-14-dev
  libgtest-dev libgmock-dev libbenchmark-dev nlohmann-json3-dev
  libasio-dev libpcre2-dev libssl-dev libacl1-dev libglib2.0-dev acl
  python3 nodejs npm chromium systemd shellcheck
)
# The Windows build: the cross compiler, Wine to run its tests, an X server and tools
# for the tray test, dpkg-dev for the source packages of its libraries (libssl-dev names the
# OpenSSL version built for Windows), and NSIS, osslsigncode and OpenSSL for the installer
# and its signing.
if [[ "${SV_WINDOWS:-0}" == 1 ]]; then
  packages+=(g++-mingw-w64-x86-64-posix googletest libssl-dev wine wine64 xvfb xdotool x11-utils dpkg-dev imagemagick
    nsis osslsigncode openssl)
fi
if [[ "${SV_BENCH_TOOLS:-0}" == 1 ]]; then
  packages+=(rsync socat nginx-light wrk openssh-server)
fi

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done
# nodejs from another source may already provide npm.
if command -v npm >/dev/null 2>&1; then
  missing=("${missing[@]/npm}")
fi
mapfile -t missing < <(printf '%s\n' "${missing[@]}" | grep -v '^$' || true)

if ((${#missing[@]})); then
  echo "setup: installing ${missing[*]}"
  SUDO=""
  [[ $(id -u) -ne 0 ]] && SUDO=sudo
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
