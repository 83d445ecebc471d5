#!/usr/bin/env bash
# The remote listener's daily log under a flood: a peer sends MIB mebibytes of
# noise to the configurator's open remote port as fast as it takes them; the
# day's log must stay within its 16 MiB cap. Prints the bytes sent, the log's
# size and the seconds the flood took, one line per run.
# Not a test: the times depend on the machine.
# Usage: bench/remote_log_flood.sh [BUILD_DIR] [MIB] [RUNS]
set -euo pipefail
BUILD=${1:-build/default}
MIB=${2:-64}
RUNS=${3:-3}
APP=$BUILD/qt/rlvexa-configurator
[ -x "$APP" ] || {
  echo "build $APP first (cmake --build --preset default)" >&2
  exit 2
}
for run in $(seq "$RUNS"); do
  WORK=$(mktemp -d)
  PORT=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
  mkfifo "$WORK/commands"
  "$APP" --headless --dir "$WORK/data" <"$WORK/commands" >"$WORK/answers.txt" 2>"$WORK/app.err" &
  APP_PID=$!
  exec 5>"$WORK/commands"
  printf 'type RconfPort %s\nclick Button1\n' "$PORT" >&5
  python3 - "$PORT" "$MIB" <<'PY'
import socket, sys, time
port, mib = int(sys.argv[1]), int(sys.argv[2])
for _ in range(100):
    try:
        s = socket.create_connection(("127.0.0.1", port))
        break
    except OSError:
        time.sleep(0.1)
chunk = bytes(range(1, 256)) * 257  # no frame magic in it
start, sent = time.monotonic(), 0
while sent < mib << 20:
    s.sendall(chunk)
    sent += len(chunk)
s.shutdown(socket.SHUT_WR)
s.recv(1)  # until the configurator has read everything and closed
print(f"{time.monotonic() - start:.1f} s", end=" ")
PY
  echo quit >&5
  exec 5>&-
  wait "$APP_PID" || true
  SIZE=$(cat "$WORK"/data/Log/*.log | wc -c)
  echo "run $run: sent $MIB MiB, log $SIZE bytes"
  rm -rf "$WORK"
done
