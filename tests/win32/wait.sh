# Helpers of the Windows test scripts (sourced).

# Polls a condition (shell text) every 0.2 s for up to 30 s; fails when it never holds.
await() {
  for ((i = 0; i < 150; i++)); do
    if eval "$1"; then return 0; fi
    sleep 0.2
  done
  return 1
}

# Whether something listens on the loopback port $1.
listening() { (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null; }

# A free loopback port whose console port (+ 2) is free as well.
free_port_pair() {
  local port=$((20000 + RANDOM % 20000))
  while listening "$port" || listening $((port + 2)); do port=$((port + 1)); done
  echo "$port"
}
