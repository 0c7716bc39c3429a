#!/usr/bin/env bash
# The demo: builds the programs, then runs sorvana-server with a small project folder
# and sorvana-client from a folder of its own (the program copied there with its
# svClient.xml beside it), which keeps a local copy of that project in step.
# Open the console address the client prints; Ctrl+C ends both programs.
# SV_BIN_DIR=folder runs the programs found there instead of building build/bin.
set -euo pipefail
cd "$(dirname "$0")/.."
if [[ -z "${SV_BIN_DIR:-}" ]]; then
  scripts/build.sh
fi
bin=${SV_BIN_DIR:-build/bin}

listening() { (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null; }
# A server port with the console port (server port + 2) free as well.
port=${SV_DEMO_PORT:-19740}
while listening "$port" || listening $((port + 2)); do port=$((port + 1)); done

demo=$(mktemp -d "${TMPDIR:-/tmp}/sorvana-demo-XXXXXX")
mkdir -p "$demo/server/drumel/docs" "$demo/client"
echo "Dobrodošli u Sorvana demo." >"$demo/server/drumel/citaj.txt"
echo "Prvi dokument." >"$demo/server/drumel/docs/a.txt"
cp "$bin/sorvana-client" "$demo/client/"
printf '%s\r\n' '<xml>' '<serversettings>' '<serveradress>127.0.0.1</serveradress>' \
  "<defaultport>$port</defaultport>" '<defaultpollinterval>1</defaultpollinterval>' \
  '</serversettings>' '<projects>' '<project>' '<name>drumel</name>' \
  "<path>$demo/client/drumel</path>" '</project>' '</projects>' '</xml>' >"$demo/client/svClient.xml"

"$bin/sorvana-server" --listen "127.0.0.1:$port" "drumel=$demo/server/drumel" &
server=$!
trap 'kill "$server" 2>/dev/null || true; wait "$server" 2>/dev/null || true' EXIT

cat <<TEXT
Demo folder:    $demo
Server project: $demo/server/drumel  (change files here)
Client copy:    $demo/client/drumel  (synchronised every minute, or at once with
                "Sinhroniziraj" in the console)
"Configure" is SIGUSR1:  kill -USR1 <client pid>;  Ctrl+C quits.
TEXT
"$demo/client/sorvana-client" &
client=$!
echo "Client pid:     $client"
# Ctrl+C reaches the script; hand it on as the client's "Quit".
trap 'kill -TERM "$client" 2>/dev/null || true' INT TERM
wait "$client" || wait "$client" || true
