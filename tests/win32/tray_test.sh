#!/usr/bin/env bash
# The tray of sorvana-client.exe under Wine on an X display, driven with the mouse as a
# user drives it: the icon appears with the hint "Sorvana Client 9X" and stays through a
# "TaskbarCreated" broadcast; "Configure" from its menu and a double-click on it open the
# console's login address with the key of the program's key file (the shell's open of
# the address reaches a stand-in browser); "Quit" ends the program with status 0 and
# removes the key file. Saves a screenshot of the icon with its menu open as
# OUT_DIR/tray-menu.png. The refused synchronisation brings a balloon with the failure
# and marks the icon red; OUT_DIR/tray-notice.png shows them.
#   tray_test.sh BIN_DIR OUT_DIR
# Needs DISPLAY (an X server such as Xvfb) and the Wine settings of the test stage
# (scripts/test-windows.sh).
set -euo pipefail
bin=$(realpath "$1")
out=$(realpath "$2")
: "${DISPLAY:?the tray test needs an X display (scripts/test-windows.sh starts one)}"

work=$(mktemp -d "${TMPDIR:-/tmp}/sorvana-tray-XXXXXX")
client=""
cleanup() {
  [[ -n $client ]] && kill -9 "$client" 2>/dev/null
  wine reg delete 'HKCU\Software\Wine\WineBrowser' /v Browsers /f >/dev/null 2>&1 || true
  rm -rf "$work"
}
trap cleanup EXIT
fail() {
  echo "tray test: $*" >&2
  import -window root "$out/tray-failure.png" 2>/dev/null || true
  exit 1
}
# shellcheck source=tests/win32/wait.sh
source "$(dirname "$0")/wait.sh"
port=$(free_port_pair)
# The key file, in the local application data folder of Wine's user.
key_file=$(printf '%s\n' "${WINEPREFIX:-$HOME/.wine}"/drive_c/users/*/ | grep -v /Public/ | head -n 1)
key_file=${key_file}AppData/Local/drumel/sorvana/console-key
rm -f "$key_file"

# The client from a folder of its own, its server nowhere (each synchronisation is refused).
cp "$bin/sorvana-client.exe" "$work/"
printf '%s\r\n' '<xml>' '<serversettings>' '<serveradress>127.0.0.1</serveradress>' \
  "<defaultport>$port</defaultport>" '<defaultpollinterval>60</defaultpollinterval>' \
  '</serversettings>' '<projects>' '<project>' '<name>drumel</name>' \
  "<path>Z:${work//\//\\}\\drumel</path>" '</project>' '</projects>' '</xml>' >"$work/svClient.xml"
# The stand-in browser: Wine's shell hands addresses to the programs named here.
printf '#!/bin/sh\necho "$1" >> "%s/opened.txt"\n' "$work" >"$work/browser"
chmod +x "$work/browser"
wine reg add 'HKCU\Software\Wine\WineBrowser' /v Browsers /d "$work/browser" /f >/dev/null 2>&1
touch "$work/opened.txt"
opened() { [[ $(grep -c -E "$url_pattern" "$work/opened.txt") -ge $1 ]]; }

wine "$work/sorvana-client.exe" >"$work/out.txt" 2>&1 &
client=$!
await '[[ -s $key_file ]]' || fail "no console key file at $key_file"
key=$(tr -d '\r\n' <"$key_file")
# "Configure" opens the login address with a code that logs in once, never the key.
url_pattern="^http://localhost:$((port + 2))/prijava\\?kljuc=[0-9a-f]{64}\$"

# The icon: the shell's tray window appears, with our picture in its first place.
await 'tray=$(xdotool search --onlyvisible --name "^Wine System Tray$" 2>/dev/null | head -n 1); [[ -n $tray ]]' ||
  fail "no tray icon appeared"
eval "$(xdotool getwindowgeometry --shell "$tray")"
icon_x=$((X + 10)) icon_y=$((Y + 10)) tray_right=$((X + WIDTH))
orange() {
  import -window root -crop "20x20+$X+$Y" -depth 8 txt:- 2>/dev/null | grep -c -i -E '#(F[A-F]|E[0-9A-F])[4-6][0-9A-F]0[0-9A-F]' || true
}
await '[[ $(orange) -gt 20 ]]' || fail "the tray shows no picture of the program"

# The hint: hovering shows the shell's tooltip of the icon.
xdotool mousemove "$icon_x" "$icon_y"
await 'wine "$bin/tray-remote.exe" tips 2>/dev/null | tr -d "\r" | grep -q -x "Sorvana Client 9X"' ||
  fail "the icon's hint is not \"Sorvana Client 9X\""

# Each synchronisation is refused: the first one brings a balloon from the icon with the
# failure and the icon's red mark.
red() {
  import -window root -crop "20x20+$X+$Y" -depth 8 txt:- 2>/dev/null |
    grep -c -i -E '#(D[C-F]|E[0-9A-F]|F[0-9A-F])[01][0-9A-F][01][0-9A-F]' || true
}
await 'wine "$bin/tray-remote.exe" tips 2>/dev/null | tr -d "\r" | grep -q "Connection refused"' ||
  fail "no balloon told of the failed synchronisation"
await '[[ $(red) -gt 5 ]]' || fail "the icon shows no mark of the failure"
import -window root -crop "320x160+0+0" +repage "$out/tray-notice.png"
# Wine's tray tells the program nothing of a click on a balloon; the click only closes
# it here, so that it covers none of what follows.
balloon=$(xdotool search --onlyvisible --class "^explorer.exe$" 2>/dev/null | grep -v -x "$tray" | tail -n 1)
[[ -n $balloon ]] || fail "the balloon has no window"
eval "$(xdotool getwindowgeometry --shell "$balloon")"
xdotool mousemove $((X + WIDTH / 2)) $((Y + HEIGHT * 3 / 4)) click 1
eval "$(xdotool getwindowgeometry --shell "$tray")"

# A restarted shell's broadcast: the icon is added again, and that it is still there is
# no failure (no error box, the program goes on).
wine "$bin/tray-remote.exe" taskbar-created >/dev/null 2>&1
sleep 1
kill -0 "$client" 2>/dev/null || fail "the program ended on \"TaskbarCreated\""
[[ $(orange) -gt 20 ]] || fail "the icon is gone after \"TaskbarCreated\""

# The menu opens at the icon on a right click: "Quit", then "Configure" (default, bold).
menu_at() {
  xdotool mousemove "$icon_x" "$icon_y" click 3
  await 'menu=$(xdotool search --onlyvisible --class "^sorvana-client.exe$" 2>/dev/null | head -n 1); [[ -n $menu ]]' ||
    fail "no menu opened on a right click"
  eval "$(xdotool getwindowgeometry --shell "$menu")"
  item_x=$((X + WIDTH / 2)) quit_y=$((Y + HEIGHT / 4)) configure_y=$((Y + HEIGHT * 3 / 4))
}
menu_at
sleep 0.5
right=$((X + WIDTH > tray_right ? X + WIDTH : tray_right))
import -window root -crop "$((right + 20))x$((Y + HEIGHT + 20))+0+0" +repage "$out/tray-menu.png"
xdotool mousemove "$item_x" "$configure_y" click 1
await 'opened 1' || fail "\"Configure\" in the menu opened nothing"

xdotool mousemove "$icon_x" "$icon_y" click --repeat 2 --delay 100 1
await 'opened 2' || fail "a double-click on the icon opened nothing"

menu_at
xdotool mousemove "$item_x" "$quit_y" click 1
for ((i = 0; i < 150 && $(kill -0 "$client" 2>/dev/null && echo 1 || echo 0) == 1; i++)); do sleep 0.2; done
kill -0 "$client" 2>/dev/null && fail "\"Quit\" did not end the program"
status=0
wait "$client" || status=$?
client=""
[[ $status -eq 0 ]] || fail "the program ended with status $status after \"Quit\""
[[ ! -e $key_file ]] || fail "the key file stayed after \"Quit\""
[[ $(grep -v -E "$url_pattern" "$work/opened.txt" | wc -l) -eq 0 ]] || fail "other addresses opened: $(cat "$work/opened.txt")"
if grep -q -F "$key" "$work/opened.txt"; then fail "an opened address carried the console key"; fi
echo "tray test: icon, hint, the failure's balloon and mark, a restarted shell, Configure from the menu and a double-click, Quit with status 0; $out/tray-menu.png, $out/tray-notice.png"
