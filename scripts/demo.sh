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

"$bin/sorvana-server" --listen "127.0.0.1:$port" "drumel=$demo/server/drumel" 2>"$demo/server.log" &
server=$!
trap 'kill "$server" 2>/dev/null || true; wait "$server" 2>/dev/null || true' EXIT
# The client synchronises at once when it starts: let the server listen first.
for ((i = 0; i < 100; i++)); do
  listening "$port" && break
  kill -0 "$server" 2>/dev/null || { cat "$demo/server.log" >&2; exit 1; }
  sleep 0.1
done
listening "$port" || { echo "sorvana-server does not listen on port $port" >&2; exit 1; }

# Where the client keeps its console key for scripts.
if [[ ${XDG_RUNTIME_DIR:-} == /* ]]; then
  key_file=$XDG_RUNTIME_DIR/sorvana-client/console-key
else
  config=${XDG_CONFIG_HOME:-}
  [[ $config == /* ]] || config=$HOME/.config
  key_file=$config/drumel/sorvana/console-key
fi

cat <<TEXT
Demo folder:    $demo
Server project: $demo/server/drumel  (change files here)
Server log:     $demo/server.log
Client copy:    $demo/client/drumel  (synchronised every minute, or at once with
                "Sinhroniziraj" in the console)
Console:        the address of the client's "Configure:" line below (it carries the
                console key; kill -USR1 <client pid> prints it again)
Scripts:        curl -H "Authorization: Bearer \$(cat $key_file)" localhost:$((port + 2))/status.json
"Configure" is SIGUSR1:  kill -USR1 <client pid>;  Ctrl+C quits.
TEXT
"$demo/client/sorvana-client" &
client=$!
echo "Client pid:     $client"
# Ctrl+C reaches the script (background programs ignore it); hand it on as the
# client's "Quit", and the server goes when the script ends.
trap 'kill -TERM "$client" 2>/dev/null || true' INT TERM
wait "$client" || wait "$client" || true
