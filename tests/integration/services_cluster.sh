#!/usr/bin/env bash
# Two servers on one PostgreSQL database: a configuration uploaded through one
# is downloaded through the other; during a series of concurrent uploads of a
# few IMEIs through both, one server is stopped with SIGTERM: it finishes or
# fails what it has under way and exits 0, every confirmed upload is in the
# database whole (nothing torn or mixed), and an upload that began after
# another was confirmed is the newer one. Then the database goes away: every
# request fails (never a confirmation), the server lives on, and it serves
# again once the database is back; a database that stops answering fails the
# request after the answer limit instead of holding the server.
#
# usage: services_cluster.sh RLVEXA_SERVICES
set -u
SERVICES=${1:?usage: services_cluster.sh RLVEXA_SERVICES}
WORK=$(mktemp -d "${TMPDIR:-/tmp}/rlvexa-services-cluster.XXXXXX")
fail() {
  echo "FAIL: $*" >&2
  for f in "$WORK"/*.log "$WORK/client.err"; do [ -f "$f" ] && { echo "---- $f" >&2; tail -n 20 "$f" >&2; }; done
  exit 1
}
BACKEND=pg
. "$(dirname "$0")/services_harness.sh"
trap 'stop_all; rm -rf "$WORK"' EXIT

DATA=$WORK/data
mkdir -p "$DATA"
use_folder "$DATA"
start_services a "$DATA" 127.0.0.1 0 0 --keep 1000 --pause-ms 0
A_PID=$SERVICES_PID A_PORT=$STORE_PORT
start_services b "$DATA" 127.0.0.1 0 0 --keep 1000 --pause-ms 0
B_PID=$SERVICES_PID B_PORT=$STORE_PORT

python3 - "$A_PORT" "$B_PORT" "$A_PID" "$WORK" 2>"$WORK/client.err" <<'PY' || fail "client checks failed"
import json, os, signal, socket, sys, threading, time
a, b, a_pid, work = int(sys.argv[1]), int(sys.argv[2]), int(sys.argv[3]), sys.argv[4]

def check(cond, what):
    if not cond:
        raise SystemExit("not so: " + what)

def upload(port, imei, body, pause=0.0):
    """True once the server confirmed the upload."""
    try:
        s = socket.create_connection(("127.0.0.1", port), timeout=5)
        s.sendall(b"file#%s#%d#" % (imei, len(body)))
        time.sleep(pause)
        s.sendall(body)
        answer = s.recv(100)
        s.close()
        return b"EndTransfer" in answer
    except OSError:
        return False

def download(port, imei):
    s = socket.create_connection(("127.0.0.1", port), timeout=5)
    s.sendall(b"download#%s#" % imei)
    got = b""
    while True:
        piece = s.recv(65536)
        if not piece:
            break
        got += piece
        head = got.split(b"#")
        if got.startswith(b"notexists#") or (len(head) >= 4 and len(got) >= len(b"#".join(head[:3])) + 1 + int(head[2])):
            break
    s.close()
    return got

# Through one, back through the other.
body = b"A" * 1046
check(upload(a, b"866000000000100", body), "upload through the first server")
check(download(b, b"866000000000100") == b"file#866000000000100#1046#" + body, "download through the second")

# 8 clients, 25 uploads each, alternating the servers; the first server is
# stopped once 60 are confirmed; a client whose server fails tries the other.
imeis = [b"8660000000001%02d" % i for i in range(1, 5)]
records, lock, stopped = [], threading.Lock(), []

def client(index):
    for n in range(25):
        imei = imeis[(index + n) % len(imeis)]
        tag = b"%d-%02d;" % (index, n)
        body = (tag * (1046 // len(tag) + 1))[:1046]
        start = time.monotonic()
        first = a if (index + n) % 2 == 0 else b
        ok = upload(first, imei, body, pause=0.02) or upload(b, imei, body)
        with lock:
            records.append({"imei": imei.decode(), "body": body.hex(), "start": start,
                            "confirmed": time.monotonic() if ok else None})
            if sum(1 for r in records if r["confirmed"]) == 60 and not stopped:
                os.kill(a_pid, signal.SIGTERM)
                stopped.append(time.monotonic())

threads = [threading.Thread(target=client, args=(i,)) for i in range(8)]
for t in threads:
    t.start()
for t in threads:
    t.join()
check(stopped, "the first server was stopped")
confirmed = [r for r in records if r["confirmed"]]
print("uploads: %d of %d confirmed" % (len(confirmed), len(records)), file=sys.stderr)
check(len(confirmed) == len(records), "every upload confirmed by one server or the other")
json.dump(records, open(os.path.join(work, "uploads.json"), "w"))
PY

wait "$A_PID"
rc=$?
[ "$rc" -eq 0 ] || fail "the stopped server exited with $rc"
grep -q "stopped$" "$WORK/a.log" || fail "the stopped server did not log its stop"
grep -h "stopping:\|closed: the server stops\|cut off" "$WORK/a.log" | cut -d" " -f2- >&2

# The database against what the clients saw.
"$PG_BIN/psql" -At -d "$PG_URL" -c "SELECT id, imei, encode(data, 'hex') FROM rlvexa_configs ORDER BY id" \
  >"$WORK/rows.txt" || fail "psql"
python3 - "$WORK" 2>"$WORK/client.err" <<'PY' || fail "database checks failed"
import json, os, sys
work = sys.argv[1]
records = json.load(open(os.path.join(work, "uploads.json")))
rows = [line.split("|") for line in open(os.path.join(work, "rows.txt")).read().split()]
position = {}
for order, (_, imei, body) in enumerate(rows):
    if imei == "866000000000100":
        continue
    if (imei, body) not in {(r["imei"], r["body"]) for r in records}:
        raise SystemExit("not so: a stored configuration of %s is none that was sent (torn or mixed)" % imei)
    position[(imei, body)] = order
for r in records:
    if (r["imei"], r["body"]) not in position:
        raise SystemExit("not so: a confirmed upload of %s is missing" % r["imei"])
# Per IMEI: an upload begun after another was confirmed is stored after it.
for r in records:
    for q in records:
        if r["imei"] == q["imei"] and r["confirmed"] < q["start"]:
            if position[(r["imei"], r["body"])] > position[(q["imei"], q["body"])]:
                raise SystemExit("not so: an older upload of %s is stored as newer" % r["imei"])
print("database: %d rows, every confirmed upload whole and in order" % len(rows), file=sys.stderr)
PY
cat "$WORK/client.err" >&2

# upload_until_confirmed BODY SECONDS: uploads the 4 bytes BODY for one IMEI
# through the second server again and again until it confirms (the server
# tries its database again at most a second after it failed).
upload_until_confirmed() {
  python3 - "$B_PORT" "$1" "$2" 2>"$WORK/client.err" <<'PY'
import socket, sys, time
port, body, deadline = int(sys.argv[1]), sys.argv[2].encode(), time.monotonic() + float(sys.argv[3])
while True:
    s = socket.create_connection(("127.0.0.1", port), timeout=10)
    s.sendall(b"file#866000000000100#4#" + body)
    try:
        if s.recv(100) == b"EndTransfer":
            break
    except ConnectionResetError:
        pass
    if time.monotonic() > deadline:
        raise SystemExit("not so: no confirmation of %r" % body)
    time.sleep(0.3)
PY
}

# The database goes away and comes back: failures, then service again.
pg_down
python3 - "$B_PORT" 2>"$WORK/client.err" <<'PY' || fail "requests while the database is away"
import socket, sys
port = int(sys.argv[1])
def ask(request):
    s = socket.create_connection(("127.0.0.1", port), timeout=5)
    s.sendall(request)
    try:
        answer = s.recv(100)
    except ConnectionResetError:
        answer = b""
    s.close()
    return answer
answer = ask(b"file#866000000000100#4#LOST")
if b"EndTransfer" in answer:
    raise SystemExit("not so: an upload confirmed without a database")
answer = ask(b"download#866000000000100#")
if answer:
    raise SystemExit("not so: a download answered without a database: %r" % answer)
PY
kill -0 "$B_PID" 2>/dev/null || fail "the server died with its database"
grep -q "failed: could not store the configuration of 866000000000100: cannot connect to the database" "$WORK/b.log" ||
  fail "the reason is not logged"
start_pg
upload_until_confirmed BACK 5 || fail "no upload once the database is back"
python3 - "$B_PORT" 2>"$WORK/client.err" <<'PY' || fail "requests once the database is back"
import socket, sys
s = socket.create_connection(("127.0.0.1", int(sys.argv[1])), timeout=5)
s.sendall(b"download#866000000000100#")
got = b""
while len(got) < len(b"file#866000000000100#4#BACK"):
    piece = s.recv(100)
    if not piece:
        break
    got += piece
if got != b"file#866000000000100#4#BACK":
    raise SystemExit("not so: the download once the database is back: %r" % got)
PY

# A database that stops answering (its processes frozen: the connection stays
# open, nothing comes back) fails the request after the answer limit, 10 s,
# instead of holding the server; once it answers again, so does the server.
pg_pids=$(head -n 1 "$PG_DIR/data/postmaster.pid")
pg_pids="$pg_pids $(pgrep -P "$pg_pids" | tr '\n' ' ')"
kill -STOP $pg_pids
python3 - "$B_PORT" 2>"$WORK/client.err" <<'PY' || { kill -CONT $pg_pids; fail "requests while the database does not answer"; }
import socket, sys, time
start = time.monotonic()
s = socket.create_connection(("127.0.0.1", int(sys.argv[1])), timeout=30)
s.sendall(b"file#866000000000100#4#HUNG")
try:
    answer = s.recv(100)
except ConnectionResetError:
    answer = b""
took = time.monotonic() - start
if b"EndTransfer" in answer or not 9 < took < 20:
    raise SystemExit("not so: the upload to a frozen database ended with %r after %.1f s" % (answer, took))
PY
kill -CONT $pg_pids
grep -q "database: no answer within 10 s" "$WORK/b.log" || fail "the silent database is not logged"
upload_until_confirmed WOKE 10 || fail "no upload once the database answers again"
stop_services

# SIGTERM with an upload that never completes: the idle connection is closed
# at once, the unfinished one is cut off after --grace, and the exit is clean.
start_services grace "$DATA" 127.0.0.1 0 0 --grace 1
python3 - "$STORE_PORT" "$SERVICES_PID" 2>"$WORK/client.err" <<'PY' || fail "the stop with an unfinished upload"
import os, signal, socket, sys, time
port, pid = int(sys.argv[1]), int(sys.argv[2])
idle = socket.create_connection(("127.0.0.1", port), timeout=5)
stuck = socket.create_connection(("127.0.0.1", port), timeout=5)
stuck.sendall(b"file#866000000000100#10#half")
time.sleep(0.3)
start = time.monotonic()
os.kill(pid, signal.SIGTERM)
if idle.recv(10) != b"":
    raise SystemExit("not so: the idle connection is not closed at the stop")
if time.monotonic() - start > 0.5:
    raise SystemExit("not so: the idle connection waited for the grace time")
try:
    answer = stuck.recv(100)
except ConnectionResetError:
    answer = b""
if answer or not 0.8 < time.monotonic() - start < 3:
    raise SystemExit("not so: the unfinished upload is cut off after the grace time: %r after %.1f s"
                     % (answer, time.monotonic() - start))
PY
wait "$SERVICES_PID"
rc=$?
[ "$rc" -eq 0 ] || fail "the server stopped with an unfinished upload exited with $rc"
grep -q "1 connections still open: cut off" "$WORK/grace.log" || fail "the cut-off is not logged"
"$SERVICES" admin --store "$PG_URL" export-config 866000000000100 --out "$WORK/last.fcg" >/dev/null &&
  [ "$(cat "$WORK/last.fcg")" = WOKE ] || fail "the unfinished upload changed the stored configuration"
echo "ok: rlvexa-services on one database"
exit 0
