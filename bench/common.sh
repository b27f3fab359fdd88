# Shared set-up of the benchmark scripts: a Release build and a stand-in
# peer replaying a script, in a private data directory.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
scripts/setup
cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DSORVANE_TESTS=OFF -DSORVANE_BENCH=ON >/dev/null
ninja -C build-bench >/dev/null

work=$(mktemp -d)
peer_pid=
cleanup() { [[ -n $peer_pid ]] && kill "$peer_pid" 2>/dev/null; wait 2>/dev/null; rm -rf "$work"; }
trap cleanup EXIT
export SORVANE_DATA_DIR=$work/data

# start_peer SCRIPT_TEXT: serves the script on every connection; sets $socket.
start_peer() {
  printf '%s\n' "$1" >"$work/script"
  run_peer script "$work/script"
}

# start_demo_peer HOSTS_FILE: answers like the desktop application, running
# exec commands with the local shell; sets $socket.
start_demo_peer() {
  run_peer demo --hosts "$1"
}

run_peer() {  # MODE ARGS...
  [[ -n $peer_pid ]] && { kill "$peer_pid"; wait "$peer_pid" 2>/dev/null || true; }
  build-bench/sorvane-peer "$@" >"$work/peer.out" 2>"$work/peer.err" &
  peer_pid=$!
  for _ in $(seq 100); do grep -q '^listening on ' "$work/peer.out" 2>/dev/null && break; sleep 0.05; done
  socket=$(sed -n 's/^listening on //p' "$work/peer.out")
  [[ -S $socket ]] || { echo "peer did not start"; cat "$work/peer.err"; exit 1; }
}

# request_frame JSON > file: one Json frame as the tool would send it.
request_frame() {
  python3 -c 'import struct,sys; p=sys.argv[1].encode(); sys.stdout.buffer.write(struct.pack(">BI",0x4A,len(p))+p)' "$1"
}
