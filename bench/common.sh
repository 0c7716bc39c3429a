# Shared by the comparison scripts in bench/*/run.sh (sourced, not run).
#
#   SV_BENCH_BUILD  build folder for the Release build (default: build-bench)
#   SV_JOBS         parallel compile jobs (default: 2)

SV_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
BUILD=${SV_BENCH_BUILD:-$SV_ROOT/build-bench}
BIN=$BUILD/bin

# SV_WORK := a fresh work folder, removed at exit after every process given to
# sv_track has been ended.
sv_pids=()
sv_workdir() {
  SV_WORK=$(mktemp -d "${TMPDIR:-/tmp}/sv-bench-$1-XXXXXX")
  trap sv_cleanup EXIT
  trap 'exit 130' INT TERM  # so that an interrupted run tidies up too
}
sv_track() { sv_pids+=("$@"); }
sv_cleanup() {
  local pid
  for pid in "${sv_pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$SV_WORK"
}

# Builds the named targets in the Release build.
sv_build() {
  cmake -S "$SV_ROOT" -B "$BUILD" -DCMAKE_BUILD_TYPE=Release -DSV_BENCH=ON >/dev/null
  cmake --build "$BUILD" -j "${SV_JOBS:-2}" --target "$@" >/dev/null
}

# Checks that the peer tools are installed (SV_BENCH_TOOLS=1 scripts/setup.sh).
sv_need() {
  local tool
  for tool in "$@"; do
    command -v "$tool" >/dev/null 2>&1 || {
      echo "missing $tool: run SV_BENCH_TOOLS=1 scripts/setup.sh" >&2
      exit 1
    }
  done
}

# A loopback port that is free, and the one two above it as well (a client's console).
sv_free_port() {
  python3 - <<'PY'
import socket
def free(p):
    s = socket.socket()
    try:
        s.bind(("127.0.0.1", p)); return True
    except OSError:
        return False
    finally:
        s.close()
while True:
    s = socket.socket(); s.bind(("127.0.0.1", 0)); p = s.getsockname()[1]; s.close()
    if p < 65533 and free(p) and free(p + 2):
        print(p); break
PY
}

# Waits until something listens on 127.0.0.1:PORT (at most 30 s).
sv_wait_listening() {
  local i
  for ((i = 0; i < 300; i++)); do
    (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null && return 0
    sleep 0.1
  done
  echo "nothing listens on port $1" >&2
  return 1
}

# Starts filled_console (bench/console/filled_console.cpp) with its settings in
# FOLDER/client and EVENTS events of PROJECT, and waits until its console listens:
# sv_filled_console FOLDER EVENTS [PROJECT]. Sets SV_CONSOLE_PORT, SV_CONSOLE_PID and
# SV_CONSOLE_AUTH, the header line that carries the console key (its key file goes to
# FOLDER/run).
sv_filled_console() {
  local server_port i
  server_port=$(sv_free_port)
  SV_CONSOLE_PORT=$((server_port + 2))
  mkdir -p "$1/client" "$1/run"
  chmod 700 "$1/run"
  sv_settings "$1/client/svClient.xml" "$server_port" 60 drumel "$1/client/drumel"
  XDG_RUNTIME_DIR="$1/run" "$BIN/filled_console" "$1/client" "$2" ${3:+"$3"} >"$1/console.out" 2>&1 &
  SV_CONSOLE_PID=$!
  sv_track "$SV_CONSOLE_PID"
  for ((i = 0; i < 600; i++)); do
    if grep -q '^ready ' "$1/console.out"; then
      SV_CONSOLE_AUTH="Authorization: Bearer $(awk '/^ready / { print $2 }' "$1/console.out")"
      return 0
    fi
    kill -0 "$SV_CONSOLE_PID" 2>/dev/null || { cat "$1/console.out" >&2; exit 1; }
    sleep 0.1
  done
  echo "the console did not start" >&2
  exit 1
}

# Writes a client settings file: sv_settings FILE PORT POLL NAME PATH [PIN]. With PIN,
# the client requires TLS and the server's key to be the one pinned.
sv_settings() {
  local tls=()
  [[ -n ${6:-} ]] && tls=('<tls>1</tls>' "<tlspin>$6</tlspin>")
  printf '%s\r\n' '<xml>' '<serversettings>' '<serveradress>127.0.0.1</serveradress>' \
    "<defaultport>$2</defaultport>" "<defaultpollinterval>$3</defaultpollinterval>" "${tls[@]}" \
    '</serversettings>' '<projects>' '<project>' "<name>$4</name>" "<path>$5</path>" \
    '</project>' '</projects>' '</xml>' >"$1"
}

# Runs a command and sets SV_MS (wall time in milliseconds) and SV_KB (its peak
# resident memory in KiB, from /usr/bin/time). Output goes to $SV_LOG when set; a
# command that fails ends the script.
sv_timed() {
  local start end memory status=0
  memory=$(mktemp)
  start=$(date +%s%N)
  /usr/bin/time -f %M -o "$memory" "$@" >>"${SV_LOG:-/dev/null}" 2>&1 || status=$?
  end=$(date +%s%N)
  if ((status != 0)); then
    echo "failed ($status): $*" >&2
    [[ -n ${SV_LOG:-} ]] && tail -n 20 "$SV_LOG" >&2
    exit 1
  fi
  SV_MS=$(((end - start) / 1000000))
  SV_KB=$(tail -n 1 "$memory")
  rm -f "$memory"
}

# The median of the numbers given.
sv_median() { printf '%s\n' "$@" | sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

# a / b with two decimals.
sv_ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", (b > 0 ? a / b : 0) }'; }

sv_machine() {
  echo "$(date -u '+%Y-%m-%d %H:%M UTC'), $(nproc) CPU ($(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //')), $(free -g | awk '/Mem:/ { print $2 }') GiB RAM, Linux $(uname -r)"
}

# Starts an rsync daemon on 127.0.0.1 serving read-only modules, and waits until it
# listens: sv_rsync_daemon FOLDER MODULE=PATH... (its files go to FOLDER). Sets
# SV_RSYNC_PORT.
sv_rsync_daemon() {
  local folder=$1 module
  shift
  SV_RSYNC_PORT=$(sv_free_port)
  {
    echo "use chroot = no"
    echo "uid = $(id -un)"
    echo "gid = $(id -gn)"
    echo "pid file = $folder/rsyncd.pid"
    for module in "$@"; do
      printf '[%s]\npath = %s\nread only = yes\n' "${module%%=*}" "${module#*=}"
    done
  } >"$folder/rsyncd.conf"
  rsync --daemon --no-detach --config="$folder/rsyncd.conf" --address=127.0.0.1 --port="$SV_RSYNC_PORT" &
  sv_track $!
  sv_wait_listening "$SV_RSYNC_PORT"
}

# Waits until a socket listens on 127.0.0.1:PORT (at most 30 s) without connecting to
# it, for listeners that serve a single connection or log every one.
sv_wait_bound() {
  local i
  for ((i = 0; i < 300; i++)); do
    [[ -n $(ss -Hltn "src 127.0.0.1 and sport = :$1") ]] && return 0
    sleep 0.1
  done
  echo "nothing listens on port $1" >&2
  return 1
}

# Starts an OpenSSH server on 127.0.0.1 with a host key, a client key and a configuration
# of its own in FOLDER, and waits until it listens: sv_sshd FOLDER. Sets SV_SSH_PORT,
# SV_SSH (the ssh command line for rsync -e: that key, that host key only) and SV_SSHD_PID.
# sv_sshd_stop ends it and sets SV_SSHD_KB, the peak resident memory (KiB) of the server
# and every process it started (its connections, the commands they ran).
sv_sshd() {
  local folder=$1
  sv_need ssh ssh-keygen
  [[ -x /usr/sbin/sshd ]] || { echo "missing sshd: run SV_BENCH_TOOLS=1 scripts/setup.sh" >&2; exit 1; }
  mkdir -p "$folder"
  chmod 700 "$folder"
  SV_SSH_PORT=$(sv_free_port)
  ssh-keygen -q -t ed25519 -N '' -C sv-bench-host -f "$folder/host_key"
  ssh-keygen -q -t ed25519 -N '' -C sv-bench-client -f "$folder/client_key"
  cp "$folder/client_key.pub" "$folder/authorized_keys"
  echo "[127.0.0.1]:$SV_SSH_PORT $(cut -d' ' -f1-2 "$folder/host_key.pub")" >"$folder/known_hosts"
  cat >"$folder/sshd_config" <<CONF
ListenAddress 127.0.0.1:$SV_SSH_PORT
HostKey $folder/host_key
PidFile $folder/sshd.pid
AuthorizedKeysFile $folder/authorized_keys
AuthenticationMethods publickey
PasswordAuthentication no
KbdInteractiveAuthentication no
PermitRootLogin prohibit-password
StrictModes no
UsePAM no
UseDNS no
PrintMotd no
CONF
  # As root, sshd wants its empty privilege-separation folder; the package leaves its
  # making to the service manager.
  if [[ $(id -u) -eq 0 && ! -d /run/sshd ]]; then
    mkdir -m 755 /run/sshd
    sv_made_run_sshd=true
  fi
  /usr/bin/time -f %M -o "$folder/peak" /usr/sbin/sshd -D -e -f "$folder/sshd_config" 2>"$folder/sshd.log" &
  sv_sshd_time=$!
  sv_wait_bound "$SV_SSH_PORT" || { cat "$folder/sshd.log" >&2; exit 1; }
  SV_SSHD_PID=$(pgrep -P "$sv_sshd_time")
  sv_track "$SV_SSHD_PID"
  sv_sshd_folder=$folder
  SV_SSH="ssh -F none -p $SV_SSH_PORT -i $folder/client_key -o IdentitiesOnly=yes -o BatchMode=yes \
-o UserKnownHostsFile=$folder/known_hosts -o StrictHostKeyChecking=yes"
}
sv_sshd_stop() {
  kill "$SV_SSHD_PID"
  wait "$sv_sshd_time" 2>/dev/null || true
  SV_SSHD_KB=$(tail -n 1 "$sv_sshd_folder/peak")
  if [[ ${sv_made_run_sshd:-} == true ]]; then rmdir /run/sshd; fi
}

# Starts nginx on 127.0.0.1 serving the files of ROOT as text/html, without an access
# log, and waits until it listens: sv_nginx FOLDER ROOT (its files go to FOLDER). Sets
# SV_NGINX_PORT and SV_NGINX_PID.
sv_nginx() {
  local folder=$1 root=$2
  SV_NGINX_PORT=$(sv_free_port)
  mkdir -p "$folder"
  cat >"$folder/nginx.conf" <<CONF
worker_processes auto;
daemon off;
pid $folder/nginx.pid;
error_log $folder/error.log;
$( [[ $(id -u) -eq 0 ]] && echo "user root root;" )
events { worker_connections 1024; }
http {
  access_log off;
  client_body_temp_path $folder/body;
  proxy_temp_path $folder/proxy;
  fastcgi_temp_path $folder/fastcgi;
  uwsgi_temp_path $folder/uwsgi;
  scgi_temp_path $folder/scgi;
  default_type text/html;
  server {
    listen 127.0.0.1:$SV_NGINX_PORT;
    root $root;
  }
}
CONF
  nginx -e "$folder/error.log" -p "$folder" -c "$folder/nginx.conf" &
  SV_NGINX_PID=$!
  sv_track "$SV_NGINX_PID"
  sv_wait_listening "$SV_NGINX_PORT"
}

# The highest resident memory (KiB) of a process and its children so far (VmHWM).
sv_peak_kb() {
  local pid peak=0 kb
  for pid in "$1" $(pgrep -P "$1" || true); do
    kb=$(awk '/VmHWM/ { print $2 }' "/proc/$pid/status" 2>/dev/null || echo 0)
    if ((kb > peak)); then peak=$kb; fi
  done
  echo "$peak"
}

# The load average over the last minute.
sv_load() { cut -d' ' -f1 /proc/loadavg; }
