#!/usr/bin/env bash
# The shipped Windows files of BUILD_DIR (scripts/build-windows.sh): the stripped programs
# in dist/ import system DLLs only and carry their version resource and manifest; with
# SV_SIGN_CERT set, each file and the uninstaller carry a valid signature of that
# certificate; the installer installs silently for the current user and for every user,
# the installed client starts and answers on its console port, the start at login, the
# Start-menu entry and the uninstall entry exist, and the uninstaller removes them and
# the program but keeps the settings file.
#   package_test.sh BUILD_DIR
# Needs the Wine settings and the X display of the test stage (scripts/test-windows.sh).
set -euo pipefail
build=$(realpath "$1")
setup=$build/sorvana-client-setup.exe
work=$(mktemp -d "${TMPDIR:-/tmp}/sorvana-package-XXXXXX")
trap 'rm -rf "$work"' EXIT
fail() {
  echo "package test: $*" >&2
  exit 1
}
# shellcheck source=tests/win32/wait.sh
source "$(dirname "$0")/wait.sh"
programs=("$build/dist/sorvana-client.exe" "$build/dist/sorvana-server.exe")

# Imports: every DLL is one that Windows itself provides (Wine's system folder holds them).
system32=$WINEPREFIX/drive_c/windows/system32
for file in "${programs[@]}" "$setup"; do
  while read -r dll; do
    [[ -f $system32/${dll,,} ]] || fail "$(basename "$file") imports $dll, which is no system DLL"
  done < <(x86_64-w64-mingw32-objdump -p "$file" | sed -n 's/^\tDLL Name: //p')
  x86_64-w64-mingw32-objdump -h "$file" | grep -q -F .debug_ && fail "$(basename "$file") is not stripped"
done

# The resources, read back from the program files: the version block as resource script
# text, the manifest as it is stored (UTF-8).
for file in "${programs[@]}"; do
  name=$(basename "$file" .exe)
  if ! x86_64-w64-mingw32-windres -J coff -O rc -i "$file" -o "$work/$name.rc" ||
    ! x86_64-w64-mingw32-windres -J coff -O res -i "$file" -o "$work/$name.res"; then
    fail "cannot read the resources of $name.exe"
  fi
  for expected in 'VALUE "CompanyName", "drumel"' 'VALUE "ProductName", "Sorvana Client"' \
    "VALUE \"OriginalFilename\", \"$name.exe\"" 'VALUE "FileDescription", "Sorvana' \
    'VALUE "FileVersion", "1.' 'FILEVERSION 1, '; do
    grep -a -q -F "$expected" "$work/$name.rc" || fail "$name.exe lacks $expected in its version resource"
  done
  for expected in '<requestedExecutionLevel level="asInvoker"' '>PerMonitorV2, PerMonitor</dpiAwareness>' \
    '<longPathAware xmlns="http://schemas.microsoft.com/SMI/2016/WindowsSettings">true<' \
    'name="Microsoft.Windows.Common-Controls" version="6.0.0.0"'; do
    grep -a -q -F "$expected" "$work/$name.res" || fail "$name.exe lacks $expected in its manifest"
  done
done
sizes=$(identify "$(dirname "$0")/../../host/win32/sorvana-client.ico" | awk '{ print $3 }' | sort -n -t x | tr '\n' ' ')
[[ $sizes == "16x16 20x20 24x24 32x32 48x48 256x256 " ]] || fail "the icon has the sizes $sizes"

verify_signature() {
  [[ -z ${SV_SIGN_CERT:-} ]] && return
  osslsigncode verify -CAfile "$SV_SIGN_CERT" -in "$1" >"$work/verify.txt" 2>&1 ||
    fail "the signature of $1 does not verify: $(cat "$work/verify.txt")"
}
for file in "${programs[@]}" "$setup"; do
  verify_signature "$file"
done

user_folder=$(printf '%s\n' "$WINEPREFIX"/drive_c/users/*/ | grep -v /Public/ | head -n 1)
uninstall_key='Software\Microsoft\Windows\CurrentVersion\Uninstall\SorvanaClient'
run_key='HKCU\Software\Microsoft\Windows\CurrentVersion\Run'
# One installation: MODE (user or machine), the installer's extra options, the folder it
# must install into (Unix path), the root of its uninstall entry and its Start-menu folder.
check_installation() {
  local mode=$1 options=$2 folder=$3 root=$4 menu=$5
  # Nothing left from an earlier run may stand in for what the installer makes.
  rm -rf "$folder" "$menu/Sorvana Client.lnk"
  wine reg delete "$run_key" /v "Sorvana Client" /f >/dev/null 2>&1 || true
  wine reg delete "$root\\$uninstall_key" /f >/dev/null 2>&1 || true
  wine "$setup" /S ${options:+"$options"} >/dev/null 2>&1 || fail "$mode: the installer failed"
  [[ -f $folder/sorvana-client.exe && -f $folder/uninstall.exe ]] || fail "$mode: nothing installed in $folder"
  [[ -f "$menu/Sorvana Client.lnk" ]] || fail "$mode: no Start-menu entry in $menu"
  verify_signature "$folder/uninstall.exe"
  local windows_folder
  windows_folder=$(winepath -w "$folder" 2>/dev/null)
  wine reg query "$run_key" /v "Sorvana Client" 2>/dev/null | tr -d '\r' |
    grep -q -F "\"$windows_folder\\sorvana-client.exe\"" || fail "$mode: no start at login"
  wine reg query "$root\\$uninstall_key" /v UninstallString >/dev/null 2>&1 || fail "$mode: no uninstall entry"

  # The installed client starts, with settings beside it, and is asked to quit.
  local port
  port=$(free_port_pair)
  printf '%s\r\n' '<xml>' '<serversettings>' '<serveradress>127.0.0.1</serveradress>' \
    "<defaultport>$port</defaultport>" '</serversettings>' '</xml>' >"$folder/svClient.xml"
  wine "$folder/sorvana-client.exe" >/dev/null 2>&1 </dev/null &
  local client=$!
  await "listening $((port + 2))" || fail "$mode: the installed client does not answer on its console port"
  wine "$build/bin/tray-remote.exe" quit "$windows_folder\\sorvana-client.exe" >/dev/null 2>&1 ||
    fail "$mode: the installed client did not quit"
  wait "$client" || true

  wine "$folder/uninstall.exe" /S >/dev/null 2>&1 || fail "$mode: the uninstaller failed"
  # The uninstaller goes on from a copy of itself after the first process has ended.
  await "[[ ! -e '$folder/sorvana-client.exe' && ! -e '$folder/uninstall.exe' ]]" || fail "$mode: the program stayed"
  await "! wine reg query '$root\\$uninstall_key' >/dev/null 2>&1" || fail "$mode: the uninstall entry stayed"
  ! wine reg query "$run_key" /v "Sorvana Client" >/dev/null 2>&1 || fail "$mode: the start at login stayed"
  [[ ! -e "$menu/Sorvana Client.lnk" ]] || fail "$mode: the Start-menu entry stayed"
  [[ -f $folder/svClient.xml ]] || fail "$mode: the settings file was removed"
  rm -rf "$folder"
}
check_installation user "" "${user_folder}AppData/Local/Programs/Sorvana Client" HKCU \
  "${user_folder}AppData/Roaming/Microsoft/Windows/Start Menu/Programs"
check_installation machine /ALLUSERS "$WINEPREFIX/drive_c/Program Files/Sorvana Client" HKLM \
  "$WINEPREFIX/drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs"
echo "package test: system DLLs only, resources, icon${SV_SIGN_CERT:+, signatures}, install and uninstall per user and per machine"
