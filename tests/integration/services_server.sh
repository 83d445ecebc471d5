#!/usr/bin/env bash
# The store and update server on loopback against a scripted client: requests
# split anywhere, a header alone in its read before the file, only digit IMEIs
# and sane sizes accepted, only the listed builds served, the newest build by
# its numbers, the news, requests answered one after the other (a request that
# comes while a file is sent waits its turn), a news file or build that is a
# FIFO refused without blocking, and nothing written outside its data folder.
# The same checks run on the data folder and on a PostgreSQL database (BACKEND
# pg: the folder imported; there also a schema newer than the program's is
# refused and the history of one IMEI is kept).
#
# usage: services_server.sh RLVEXA_SERVICES [folder|pg]
set -u
SERVICES=${1:?usage: services_server.sh RLVEXA_SERVICES [folder|pg]}
BACKEND=${2:-folder}
WORK=$(mktemp -d "${TMPDIR:-/tmp}/rlvexa-services.XXXXXX")
fail() {
  echo "FAIL: $*" >&2
  for f in srv.log client.err; do [ -f "$WORK/$f" ] && { echo "---- $f" >&2; tail -n 40 "$WORK/$f" >&2; }; done
  exit 1
}
. "$(dirname "$0")/services_harness.sh"
trap 'stop_all; rm -rf "$WORK"' EXIT

"$SERVICES" --help | grep -q -- "--data" || fail "--help does not describe --data"
"$SERVICES" --version | grep -q "^rlvexa-services " || fail "--version"
"$SERVICES" --store-port 1 >/dev/null 2>&1
[ $? -eq 2 ] || fail "a command line without --data is not refused"
"$SERVICES" --data "$WORK/none" --store-port 0 --update-port 0 >/dev/null 2>&1
[ $? -eq 1 ] || fail "a missing data folder is not refused"

DATA=$WORK/data
mkdir -p "$DATA/firmware/type-8" "$DATA/firmware/type-3" "$DATA/configurator" "$WORK/outside"
printf 'old' >"$DATA/firmware/type-8/fw5_2017.0000.03.bin"
printf 'newest-build' >"$DATA/firmware/type-8/fw5_2031.0102.03.bin"
printf 'older' >"$DATA/firmware/type-8/fw5_2031.0101.03.bin"
printf 'other' >"$DATA/firmware/type-3/fw9_0001.0001.01.bin"
printf 'nine' >"$DATA/configurator/ConfiguratorRLvexa_v1.4.9.0.exe"
printf 'ten' >"$DATA/configurator/ConfiguratorRLvexa_v1.4.10.0.exe"
printf 'Hello fleet\n' >"$DATA/news.txt"
printf 'secret' >"$WORK/outside/secret.txt"
use_folder "$DATA"

start_services srv "$DATA" 127.0.0.1 0 0

python3 - "$STORE_PORT" "$UPDATE_PORT" "$DATA" "$WORK" "$SERVICES" "$(store_of "$DATA")" "$BACKEND" \
  2>"$WORK/client.err" <<'PY' || fail "client checks failed"
import os, socket, subprocess, sys, time
store, update, data, work = int(sys.argv[1]), int(sys.argv[2]), sys.argv[3], sys.argv[4]
services, where, backend = sys.argv[5], sys.argv[6], sys.argv[7]

def admin(*words):
    return subprocess.run([services, "admin", "--store", where] + list(words), capture_output=True)

def stored(imei):
    out = os.path.join(work, "export.fcg")
    done = admin("export-config", imei, "--out", out)
    return open(out, "rb").read() if done.returncode == 0 else None

def connect(port):
    s = socket.create_connection(("127.0.0.1", port), timeout=5)
    s.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
    return s

def read_all(s, limit=10 ** 7):
    out = b""
    while len(out) < limit:
        try:
            b = s.recv(65536)
        except socket.timeout:
            break
        if not b:
            break
        out += b
    return out

def send_pieces(s, data, size=1, pause=0.01):
    for i in range(0, len(data), size):
        s.sendall(data[i:i + size])
        time.sleep(pause)

def check(cond, what):
    if not cond:
        raise SystemExit("not so: " + what)

def closed(s):
    s.settimeout(3)
    try:
        return s.recv(100) == b""
    except ConnectionResetError:
        return True

# An upload whose header arrives byte by byte and shares a write with the file.
s = connect(store)
send_pieces(s, b"file#866000000000001#")
s.sendall(b"11#HELLO")
s.sendall(b" WORLD")
s.settimeout(3)
check(s.recv(100) == b"EndTransfer", "the upload is confirmed")
s.close()
check(stored("866000000000001") == b"HELLO WORLD", "stored byte for byte")

# Hostile uploads: refused, the connection closed, nothing written.
for request in [b"file#../outside/x#5#12345", b"file#86600#0#", b"file#86600#-5#abcde", b"file#86600#abc#",
                b"file#86600#65537#", b"file#86600#99999999999999999999999#", b"file#8660 0#1#x",
                b"hello world", b"file#" + b"1" * 600]:
    s = connect(store)
    s.sendall(request)
    check(closed(s), "a hostile upload is dropped: %r" % request[:40])
    s.close()
names = sorted(line.split()[0] for line in admin("list-configs").stdout.decode().splitlines())
check(names == ["866000000000001"], "only the good upload is stored: %r" % names)
check(os.listdir(os.path.join(work, "outside")) == ["secret.txt"], "nothing written outside")

# A download: the header alone in its read, the file after the pause.
s = connect(store)
s.sendall(b"download#866000000000001#")
s.settimeout(3)
first = s.recv(1000)
check(first == b"file#866000000000001#11#", "the header comes alone: %r" % first)
body = b""
while len(body) < 11:
    body += s.recv(1000)
check(body == b"HELLO WORLD", "the file follows: %r" % body)
s.sendall(b"endtransfer#")
check(closed(s), "the store hangs up after endtransfer#")

s = connect(store)
send_pieces(s, b"download#866000000000002#", 4)
s.settimeout(3)
check(s.recv(100) == b"notexists#", "a missing IMEI")
s.close()
s = connect(store)
s.sendall(b"download#../../outside/secret.txt#")
check(closed(s), "a download under a path is dropped")

# Questions, split where they may be.
s = connect(update)
send_pieces(s, b"Get_FW,ty", 9)
time.sleep(0.05)
s.sendall(b"pe=8")
s.settimeout(3)
check(s.recv(2048) == b"fw5_2031.0102.03.bin", "the newest firmware by its numbers")
s.close()
s = connect(update)
s.sendall(b"Get_FW,type=77")
s.settimeout(3)
check(s.recv(2048) == b"none", "no firmware for an unknown type")
s.close()
s = connect(update)
send_pieces(s, b"Get_CONFUPD:Vexa#", 5)
s.settimeout(3)
check(s.recv(2048) == b"ConfiguratorRLvexa_v1.4.10.0.exe", "the newest configurator, number by number")
s.close()
s = connect(update)
s.sendall(b"+++GetNews+++")
s.settimeout(3)
check(s.recv(2048) == b"#News#Hello fleet", "the news")
s.close()

# Files: only the listed builds, the header alone, the path with "\".
s = connect(update)
s.sendall(b"GetFile=fw5_2031.0102.03.bin#")
s.settimeout(3)
first = s.recv(1000)
check(first == b"file#firmware\\type-8\\fw5_2031.0102.03.bin#12#", "file header: %r" % first)
check(s.recv(1000) == b"newest-build", "file body")
s.sendall(b"EndTransfer")
check(closed(s), "the service hangs up after EndTransfer")
for name in [b"../outside/secret.txt", b"news.txt", b"..\\..\\outside\\secret.txt", b"type-8", b"",
             b"firmware/type-8/fw5_2031.0102.03.bin"]:
    s = connect(update)
    s.sendall(b"GetFile=" + name + b"#")
    s.settimeout(3)
    check(s.recv(100) == b"file not exists", "not served: %r" % name)
    s.close()
s = connect(update)
s.sendall(b"DELETE everything")
check(closed(s), "garbage is dropped")

# Requests sent together are answered in turn: a file, header and body, is
# complete before the answer to the next request begins.
s = connect(update)
s.sendall(b"GetFile=fw5_2031.0102.03.bin#GetFile=fw5_2017.0000.03.bin#Get_CONFUPD:Vexa#")
s.settimeout(3)
want = (b"file#firmware\\type-8\\fw5_2031.0102.03.bin#12#newest-build"
        b"file#firmware\\type-8\\fw5_2017.0000.03.bin#3#old" b"ConfiguratorRLvexa_v1.4.10.0.exe")
got = b""
while len(got) < len(want):
    piece = s.recv(1000)
    check(piece, "the answers in turn: %r" % got)
    got += piece
check(got == want, "the answers in turn: %r" % got)
s.close()

if backend != "folder":
    sys.exit(0)
# A news file or a build that is a FIFO is refused at once; the server goes on.
os.remove(os.path.join(data, "news.txt"))
os.mkfifo(os.path.join(data, "news.txt"))
os.symlink(os.path.join(data, "news.txt"), os.path.join(data, "configurator", "ConfiguratorRLvexa_v1.4.11.0.exe"))
s = connect(update)
s.sendall(b"+++GetNews+++")
s.settimeout(0.5)
try:
    check(s.recv(100) == b"", "no news from a FIFO")
except socket.timeout:
    pass
s.close()
for request in [b"GetFile=ConfiguratorRLvexa_v1.4.11.0.exe#", b"Get_CONFUPD:Vexa#"]:
    s = connect(update)
    s.sendall(request)
    s.settimeout(3)
    answer = s.recv(100)
    check(answer in (b"file not exists", b"ConfiguratorRLvexa_v1.4.10.0.exe"), "answered after a FIFO: %r" % answer)
    s.close()
PY

# The admin command publishes to the running server: a newer firmware build,
# a configurator build and the news; a name the server would never offer and
# a command line without a store are refused.
rm -f "$DATA/news.txt" "$DATA/configurator/ConfiguratorRLvexa_v1.4.11.0.exe"
printf 'brand-new' >"$WORK/fw5_2032.0001.03.bin"
printf 'eleven' >"$WORK/ConfiguratorRLvexa_v1.4.11.0.exe"
printf 'Fresh news\n' >"$WORK/news.txt"
printf 'x' >"$WORK/firmware.bin"
admin() { "$SERVICES" admin --store "$(store_of "$DATA")" "$@" >>"$WORK/admin.out" 2>&1; }
admin publish-firmware "$WORK/fw5_2032.0001.03.bin" --type 8 || fail "publish-firmware: $(cat "$WORK/admin.out")"
admin publish-configurator "$WORK/ConfiguratorRLvexa_v1.4.11.0.exe" || fail "publish-configurator"
admin set-news "$WORK/news.txt" || fail "set-news"
admin publish-firmware "$WORK/firmware.bin" --type 8
[ $? -eq 1 ] || fail "a firmware name that is never offered is published"
"$SERVICES" admin publish-firmware "$WORK/fw5_2032.0001.03.bin" --type 8 >/dev/null 2>&1
[ $? -eq 2 ] || fail "admin without a store is not refused as a bad command line"
python3 - "$UPDATE_PORT" 2>"$WORK/client.err" <<'PY' || fail "the published builds and news are not served"
import socket, sys
def ask(request, size):
    s = socket.create_connection(("127.0.0.1", int(sys.argv[1])), timeout=5)
    s.sendall(request)
    got = b""
    while len(got) < size:
        piece = s.recv(1000)
        if not piece:
            break
        got += piece
    return got
for request, want in [(b"Get_FW,type=8", b"fw5_2032.0001.03.bin"),
                      (b"Get_CONFUPD:Vexa#", b"ConfiguratorRLvexa_v1.4.11.0.exe"),
                      (b"+++GetNews+++", b"#News#Fresh news"),
                      (b"GetFile=fw5_2032.0001.03.bin#", b"file#firmware\\type-8\\fw5_2032.0001.03.bin#9#brand-new")]:
    got = ask(request, len(want))
    if got != want:
        raise SystemExit("not so: %r answered %r" % (request, got))
PY

grep -q "upload 866000000000001, 11 bytes" "$WORK/srv.log" || fail "the upload is not logged"
grep -q "dropped" "$WORK/srv.log" || fail "dropped connections are not logged"
"$SERVICES" admin --store "$(store_of "$DATA")" export-config 866000000000001 --out "$WORK/last.fcg" >/dev/null &&
  [ "$(cat "$WORK/last.fcg")" = "HELLO WORLD" ] || fail "the stored configuration"
if [ "$BACKEND" = folder ]; then
  ls "$DATA/configs" | grep -q tmp && fail "a temporary file is left in configs"
else
  stop_services
  # Three more uploads, --keep 2: the two newest are kept, newest first.
  start_services keep "$DATA" 127.0.0.1 0 0 --keep 2
  for body in first second third; do
    python3 -c 'import socket, sys
s = socket.create_connection(("127.0.0.1", int(sys.argv[1])), timeout=5)
s.sendall(b"file#866000000000001#%d#%s" % (len(sys.argv[2]), sys.argv[2].encode()))
sys.exit(s.recv(100) != b"EndTransfer")' "$STORE_PORT" "$body" || fail "upload $body"
  done
  "$SERVICES" admin --store "$PG_URL" list-configs 866000000000001 >"$WORK/list.out" || fail "list-configs"
  grep -q '^866000000000001 1/2 .* 5 bytes from 127.0.0.1$' "$WORK/list.out" &&
    grep -q '^866000000000001 2/2 .* 6 bytes from 127.0.0.1$' "$WORK/list.out" ||
    fail "the history: $(cat "$WORK/list.out")"
  # "pg": the database from libpq's variables.
  PGHOST=127.0.0.1 PGPORT=$PG_PORT PGUSER=rlvexa PGDATABASE=postgres "$SERVICES" admin --store pg list-configs \
    866000000000001 | cmp -s - "$WORK/list.out" || fail "--store pg does not take libpq's variables"
  "$SERVICES" admin --store "$PG_URL" export-config 866000000000001 --version 2 --out "$WORK/v2.fcg" >/dev/null &&
    [ "$(cat "$WORK/v2.fcg")" = second ] || fail "the version before the newest"
  "$SERVICES" admin --store "$PG_URL" export-config 866000000000001 --version 3 --out "$WORK/v3.fcg" >/dev/null 2>&1
  [ $? -eq 3 ] && [ ! -e "$WORK/v3.fcg" ] || fail "a version no longer kept is not refused with status 3"
  stop_services
  # A schema newer than the program knows: refused at start, with the reason.
  "$PG_BIN/psql" -q -d "$PG_URL" -c 'INSERT INTO rlvexa_schema VALUES (99)' || fail "psql"
  "$SERVICES" --store "$PG_URL" --store-port 0 --update-port 0 >/dev/null 2>"$WORK/newer.log"
  [ $? -eq 1 ] && grep -q "schema is version 99, newer than this program knows" "$WORK/newer.log" ||
    fail "a newer schema is not refused: $(cat "$WORK/newer.log")"
fi
echo "ok: rlvexa-services ($BACKEND)"
exit 0
