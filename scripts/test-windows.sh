#!/usr/bin/env bash
# The Windows stage: builds the Windows programs (scripts/build-windows.sh) and tests them
# under Wine on a virtual X display: the unit tests and the tray test through CTest in
# build-windows, then the end-to-end tests of the Linux build (build/bin/sv_e2e_tests,
# when it exists) against the .exe files, and the installer with the shipped files
# (tests/win32/package_test.sh). One Wine server serves the whole stage. Unless
# SV_SIGN_CERT and SV_SIGN_KEY name a certificate, the build signs with a throwaway
# self-signed one made here, which the package test trusts.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

if [[ -z ${SV_SIGN_CERT:-} ]]; then
  signing=$root/build-windows/signing
  mkdir -p "$signing"
  if [[ ! -f $signing/cert.pem ]]; then
    openssl req -x509 -newkey rsa:2048 -nodes -days 3650 -subj "/CN=Sorvana Client test signing" \
      -addext "keyUsage=critical,digitalSignature" -addext "extendedKeyUsage=codeSigning" \
      -keyout "$signing/key.pem" -out "$signing/cert.pem" 2>/dev/null
  fi
  export SV_SIGN_CERT=$signing/cert.pem SV_SIGN_KEY=$signing/key.pem
fi
scripts/build-windows.sh

work=$(mktemp -d "${TMPDIR:-/tmp}/sorvana-windows-XXXXXX")
export WINEPREFIX=$root/build-windows/wine
export WINEDEBUG=-all
# No prompts to install Mono or Gecko, and no menu entries on this machine's desktop.
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
# File names in UTF-8 on the disk; Wine takes the locale for en-US (code page 1252, so
# that the program's own conversion to Windows-1250 is what the tests see).
export LC_ALL=C.UTF-8
# The desktop trash of Wine's recycle bin, and anything else of the desktop, stays here.
export XDG_DATA_HOME=$work/share XDG_CONFIG_HOME=$work/config
mkdir -p "$XDG_DATA_HOME" "$XDG_CONFIG_HOME"

Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$work/display" 2>/dev/null &
xvfb=$!
for ((i = 0; i < 100; i++)); do
  [[ -s $work/display ]] && break
  sleep 0.1
done
display=$(cat "$work/display")
export DISPLAY=:$display
stop() {
  wineserver -k 2>/dev/null || true
  kill "$xvfb" 2>/dev/null || true
  rm -rf "$work"
}
trap stop EXIT

if [[ ! -f $WINEPREFIX/system.reg ]]; then
  wineboot -i >/dev/null 2>&1
  wineserver -w  # the server of the first start ends before the stage's own begins
fi
wineserver -p
# Wine's own processes (services, the desktop with the tray) start with the first
# program and keep its output open as long as they live: start them here, away from the
# pipes through which the test runners wait for a test's end.
wineboot >/dev/null 2>&1 </dev/null
wine build-windows/bin/tray-remote.exe tips >/dev/null 2>&1 </dev/null

echo "== Windows unit tests and tray test (Wine)"
ctest --test-dir build-windows --output-on-failure -j 2

echo "== shipped files and installer (Wine)"
tests/win32/package_test.sh build-windows

if [[ -x build/bin/sv_e2e_tests ]]; then
  echo "== end-to-end tests with the Windows programs (Wine)"
  SV_E2E_WINDOWS_BIN=$root/build-windows/bin build/bin/sv_e2e_tests
fi
