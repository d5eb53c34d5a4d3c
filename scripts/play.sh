#!/usr/bin/env bash
# Plays on this machine: starts kserver on build/world in the background unless something already
# listens on the port, opens tarvo3d with the connect dialog filled for it, and stops the
# background server when the client ends.
set -euo pipefail
cd "$(dirname "$0")/.."
port="${PORT:-14901}"

listening() { (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; }

server_pid=""
stop_server() {
  if [ -n "$server_pid" ]; then
    kill -TERM "$server_pid" 2>/dev/null || true
    wait "$server_pid" 2>/dev/null || true
  fi
}
trap stop_server EXIT

if listening; then
  echo "play: a server already listens on port $port; using it"
else
  [ -d build/world ] || cp -r data/world build/world
  build/bin/kserver --headless --dir build/world --port "$port" 2>build/play-server.log &
  server_pid=$!
  for _ in $(seq 1 50); do
    listening && break
    if ! kill -0 "$server_pid" 2>/dev/null; then
      echo "play: the server did not start; see build/play-server.log" >&2
      cat build/play-server.log >&2
      exit 1
    fi
    sleep 0.1
  done
  echo "play: server started on port $port (log in build/play-server.log)"
fi

build/bin/tarvo3d --connect "127.0.0.1:$port" --account guest --password guest --wait "$@"
