#!/usr/bin/env bash
# The configuration store on a full disk: the server runs in a mount namespace
# of its own with its data folder on a small tmpfs that is filled up; an
# upload is then not confirmed, the stored configuration stays byte for byte,
# and the log names the reason. Needs root (or the right to mount in a new
# namespace); skipped with exit status 77 otherwise.
#
# usage: services_disk.sh RLVEXA_SERVICES
set -u
SERVICES=${1:?usage: services_disk.sh RLVEXA_SERVICES}
WORK=$(mktemp -d "${TMPDIR:-/tmp}/rlvexa-services-disk.XXXXXX")
fail() {
  echo "FAIL: $*" >&2
  for f in disk.log client.err; do [ -f "$WORK/$f" ] && { echo "---- $f" >&2; tail -n 20 "$WORK/$f" >&2; }; done
  exit 1
}
. "$(dirname "$0")/services_harness.sh"
trap 'stop_services; rm -rf "$WORK"' EXIT

DATA=$WORK/data
mkdir -p "$DATA" "$WORK/probe"
if ! unshare -m --propagation private mount -t tmpfs -o size=64k rlvexa-probe "$WORK/probe" 2>/dev/null; then
  echo "SKIP: cannot mount a tmpfs in a new mount namespace (needs root)"
  exit 77
fi

# The stored configuration: 1046 bytes, as a file of two records.
head -c 1046 /dev/urandom >"$WORK/old.fcg"
head -c 1046 /dev/urandom >"$WORK/new.fcg"
# In the namespace: the data folder on a 64 KiB tmpfs holding the stored
# configuration, the rest of the space taken by a filler file.
SERVICES_LAUNCH=(unshare -m --propagation private bash -c '
  mount -t tmpfs -o size=64k rlvexa-full "$0" || exit 1
  mkdir -p "$0/configs" && cp "$1" "$0/configs/866000000000001.fcg" || exit 1
  dd if=/dev/zero of="$0/filler" bs=4096 2>/dev/null
  shift
  exec "$@"' "$DATA" "$WORK/old.fcg")
start_services disk "$DATA" 127.0.0.1 0 0 --pause-ms 0

python3 - "$STORE_PORT" "$WORK" 2>"$WORK/client.err" <<'PY' || fail "client checks failed"
import socket, sys, time
store, work = int(sys.argv[1]), sys.argv[2]
old, new = open(work + "/old.fcg", "rb").read(), open(work + "/new.fcg", "rb").read()

def check(cond, what):
    if not cond:
        raise SystemExit("not so: " + what)

s = socket.create_connection(("127.0.0.1", store), timeout=5)
s.sendall(b"file#866000000000001#1046#")
time.sleep(0.2)
s.sendall(new)
answer = b""
try:
    while True:
        piece = s.recv(100)
        if not piece:
            break
        answer += piece
except (ConnectionResetError, socket.timeout):
    pass
check(b"EndTransfer" not in answer, "an upload that did not reach the disk is not confirmed: %r" % answer)
s.close()

s = socket.create_connection(("127.0.0.1", store), timeout=5)
s.sendall(b"download#866000000000001#")
got = b""
while len(got) < len(b"file#866000000000001#1046#") + len(old):
    piece = s.recv(4096)
    check(piece, "the download ends early: %r" % got[:40])
    got += piece
check(got == b"file#866000000000001#1046#" + old, "the stored configuration stays byte for byte")
s.sendall(b"endtransfer#")
PY

grep -q "could not store the configuration of 866000000000001: No space left on device" "$WORK/disk.log" ||
  fail "the log does not name the full disk"
# The data folder as the server sees it, inside its namespace.
left=$(ls "/proc/$SERVICES_PID/root$DATA/configs")
[ "$left" = 866000000000001.fcg ] || fail "configs holds: $left"
echo "ok: rlvexa-services full disk"
exit 0
