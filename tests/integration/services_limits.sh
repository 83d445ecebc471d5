#!/usr/bin/env bash
# The store and update server's limits on loopback: a slow reader gets its
# whole file although it takes longer than the idle limit, a silent peer and
# one that reads nothing of its file are still dropped, clients that ask for large files and read nothing (or send
# requests without end) leave the server's memory bounded, and the caps on
# connections in all and per address close the excess at once while others
# are served, also when a thousand idle connections come from one host to a
# server allowed only 1024 open files. The same on the data folder and on a
# PostgreSQL database (BACKEND pg), where the builds come in pieces from it.
#
# usage: services_limits.sh RLVEXA_SERVICES [folder|pg]
set -u
SERVICES=${1:?usage: services_limits.sh RLVEXA_SERVICES [folder|pg]}
BACKEND=${2:-folder}
WORK=$(mktemp -d "${TMPDIR:-/tmp}/rlvexa-services-limits.XXXXXX")
fail() {
  echo "FAIL: $*" >&2
  for f in "$WORK"/*.log "$WORK/client.err"; do
    [ -f "$f" ] && { echo "---- $f" >&2; tail -n 20 "$f" >&2; }
  done
  exit 1
}
. "$(dirname "$0")/services_harness.sh"
trap 'stop_all; [ -n "${KEEP:-}" ] || rm -rf "$WORK"' EXIT

DATA=$WORK/data
mkdir -p "$DATA/firmware/type-8" "$DATA/configurator"
head -c 8388608 /dev/urandom >"$DATA/firmware/type-8/fw5_2031.0102.03.bin"
head -c 1048576 /dev/urandom >"$DATA/configurator/ConfiguratorRLvexa_v1.4.10.0.exe"
head -c 2042 /dev/zero | tr '\0' 'n' >"$DATA/news.txt"
use_folder "$DATA"

client() {
  python3 - "$@" 2>"$WORK/client.err" <<'PY' || fail "client checks failed: $1"
import os, resource, socket, sys, time
phase, store, update, pid, data = sys.argv[1], int(sys.argv[2]), int(sys.argv[3]), sys.argv[4], sys.argv[5]
soft, hard = resource.getrlimit(resource.RLIMIT_NOFILE)
if soft < 4096:  # room for the 1100 connections of the flood
    resource.setrlimit(resource.RLIMIT_NOFILE, (4096 if hard == resource.RLIM_INFINITY else min(hard, 4096), hard))
FW = "fw5_2031.0102.03.bin"
CONF = "ConfiguratorRLvexa_v1.4.10.0.exe"

def check(cond, what):
    if not cond:
        raise SystemExit("not so: " + what)

def connect(port, source="127.0.0.1", rcvbuf=0):
    s = socket.socket()
    if rcvbuf:
        s.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, rcvbuf)
    s.bind((source, 0))
    s.settimeout(5)
    s.connect(("127.0.0.1", port))
    return s

def refused(s):
    # Closed by the server at once, without an answer.
    s.settimeout(2)
    try:
        return s.recv(100) == b""
    except ConnectionResetError:
        return True
    except socket.timeout:
        return False

def answered(source):
    s = connect(update, source)
    s.sendall(b"Get_CONFUPD:Vexa#")
    s.settimeout(3)
    try:
        ok = s.recv(100) == CONF.encode()
    except (socket.timeout, ConnectionResetError):
        ok = False
    s.close()
    time.sleep(0.2)
    t = connect(store, source)
    t.sendall(b"download#866000000000009#")
    t.settimeout(3)
    try:
        ok = ok and t.recv(100) == b"notexists#"
    except (socket.timeout, ConnectionResetError):
        ok = False
    t.close()
    return ok

def rss_kib():
    for line in open("/proc/%s/status" % pid):
        if line.startswith("VmRSS:"):
            return int(line.split()[1])

if phase == "slow":
    # 8 MiB (more than the system buffers) read at 1.6 MB/s: 5 s, five
    # times the idle limit.
    expected = open(os.path.join(data, "firmware", "type-8", FW), "rb").read()
    s = connect(update, rcvbuf=32768)
    start = time.time()
    s.sendall(b"GetFile=" + FW.encode() + b"#")
    want = ("file#firmware\\type-8\\%s#%d#" % (FW, len(expected))).encode()
    got = b""
    while len(got) < len(want) + len(expected):
        piece = s.recv(80000)
        check(piece, "the slow reader was cut after %d bytes, %.1f s" % (len(got), time.time() - start))
        got += piece
        time.sleep(0.05)
    check(got == want + expected, "the slow reader got the file byte for byte")
    check(time.time() - start > 3, "the read took longer than three times the idle limit")
    s.sendall(b"EndTransfer")
    check(s.recv(10) == b"", "the server hangs up after EndTransfer")
    # A peer that says nothing, and one that asked for the file and takes
    # none of it, are dropped.
    quiet = connect(update)
    stuck = connect(update, rcvbuf=32768)
    stuck.sendall(b"GetFile=" + FW.encode() + b"#")
    start = time.time()
    check(refused(quiet) or refused(quiet), "a silent peer is dropped")
    check(time.time() - start < 4, "a silent peer is dropped after the idle limit")
    log = os.path.join(os.path.dirname(data), "slow.log")
    while open(log).read().count("dropped: silent too long") < 2 and time.time() - start < 8:
        time.sleep(0.2)
    check(open(log).read().count("dropped: silent too long") == 2, "a peer that reads nothing is dropped")

elif phase == "memory":
    before = rss_kib()
    sockets = []
    # 20 clients ask for a 1 MiB build five times each, one asks 100 times,
    # one asks for the news (2 KiB) for as long as the server takes its
    # requests: none reads.
    for i in range(20):
        s = connect(update, rcvbuf=32768)
        s.sendall(("GetFile=%s#" % CONF).encode() * 5)
        sockets.append(s)
    s = connect(update, rcvbuf=32768)
    s.sendall(("GetFile=%s#" % CONF).encode() * 100)
    sockets.append(s)
    flood = socket.socket()
    flood.setsockopt(socket.SOL_SOCKET, socket.SO_SNDBUF, 32768)
    flood.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 32768)
    flood.connect(("127.0.0.1", update))
    flood.setblocking(False)
    request, pending, sent, limit, until = b"+++GetNews+++" * 100, b"", 0, 1 << 20, time.time() + 1.5
    while time.time() < until and sent < limit:
        pending = pending or request
        try:
            taken = flood.send(pending)
        except BlockingIOError:
            time.sleep(0.05)
            continue
        sent, pending = sent + taken, pending[taken:]
    time.sleep(0.3)
    grown = (rss_kib() - before) / 1024
    print("memory: %.1f MiB above idle, the flood stopped after %d bytes" % (grown, sent), file=sys.stderr)
    check(grown < 32, "memory under unread requests: %.1f MiB above idle" % grown)
    check(sent < limit // 2, "the server stops taking requests it cannot answer yet: %d bytes taken" % sent)

elif phase == "caps":
    # --max-connections 6 --max-per-peer 4
    mine = [connect(update) for _ in range(4)]
    extra = connect(update)
    check(refused(extra), "the fifth connection from one address is closed")
    others = [connect(store, "127.0.0.2") for _ in range(2)]
    check(refused(connect(store, "127.0.0.3")), "the seventh connection in all is closed")
    mine.pop().close()
    time.sleep(0.2)
    check(answered("127.0.0.3") or answered("127.0.0.3"), "a freed place is taken again")

elif phase == "flood":
    # 1100 idle connections from one host; the default caps, 1024 open files.
    idle = []
    for _ in range(1100):
        try:
            idle.append(connect(update))
        except OSError:
            break
    time.sleep(0.5)
    check(answered("127.0.0.2"), "both ports answer another host after a flood of connections")
    closed = 0
    for s in idle:
        s.setblocking(False)
        try:
            closed += s.recv(100) == b""
        except ConnectionResetError:
            closed += 1
        except BlockingIOError:
            pass
    print("flood: %d of %d connections closed at once" % (closed, len(idle)), file=sys.stderr)
    check(len(idle) == 1100 and closed == 1100 - 64, "the connections past 64 are closed at once")
PY
  cat "$WORK/client.err" >&2
}

start_services slow "$DATA" 127.0.0.1 0 0 --idle 1
client slow "$STORE_PORT" "$UPDATE_PORT" "$SERVICES_PID" "$DATA"
grep -q "file acknowledged" "$WORK/slow.log" || fail "the slow reader was dropped before its EndTransfer"
[ "$(grep -c "dropped: silent too long" "$WORK/slow.log")" = 2 ] || fail "the silent peers alone are dropped"
# Under AddressSanitizer freed memory is held back for a while: not here.
ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}quarantine_size_mb=0:thread_local_quarantine_size_kb=0" \
  start_services memory "$DATA" 127.0.0.1 0 0 --idle 5
client memory "$STORE_PORT" "$UPDATE_PORT" "$SERVICES_PID" "$DATA"
start_services caps "$DATA" 127.0.0.1 0 0 --max-connections 6 --max-per-peer 4
client caps "$STORE_PORT" "$UPDATE_PORT" "$SERVICES_PID" "$DATA"
grep -q "refused, already 4 connections from 127.0.0.1" "$WORK/caps.log" || fail "the refusal is not logged"
stop_services
SERVICES_LAUNCH=(bash -c 'ulimit -n 1024 && exec "$@"' rlvexa-services)
start_services flood "$DATA" 127.0.0.1 0 0
client flood "$STORE_PORT" "$UPDATE_PORT" "$SERVICES_PID" "$DATA"
echo "ok: rlvexa-services limits ($BACKEND)"
exit 0
