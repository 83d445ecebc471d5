#!/usr/bin/env bash
# The tracker over its GPRS link: the simulator connects over TCP to the port
# the configurator opens on page 5, through a link that splits answers into
# small segments, sends two at a time and puts noise before them. The
# configuration is read, written and read back, the status arrives, and a
# firmware file is sent through the tunnel, dropped half-way by a connection
# reset and resumed after the tracker reconnects. The day's log holds the session.
#
# usage: tunnel_link.sh RLVEXA_TRACKER_SIM RLVEXA_CONFIGURATOR
set -u

SIM=${1:?usage: tunnel_link.sh RLVEXA_TRACKER_SIM RLVEXA_CONFIGURATOR}
APP=${2:?usage: tunnel_link.sh RLVEXA_TRACKER_SIM RLVEXA_CONFIGURATOR}

WORK=$(mktemp -d "${TMPDIR:-/tmp}/rlvexa-tunnel.XXXXXX")
SIM_PID=""
APP_PID=""
cleanup() {
  [ -n "$APP_PID" ] && kill "$APP_PID" 2>/dev/null && wait "$APP_PID" 2>/dev/null
  [ -n "$SIM_PID" ] && kill "$SIM_PID" 2>/dev/null && wait "$SIM_PID" 2>/dev/null
  rm -rf "$WORK"
}
trap cleanup EXIT
trap 'exit 1' INT TERM
fail() {
  echo "FAIL: $*" >&2
  for f in answers.txt app.err sim.err; do [ -f "$WORK/$f" ] && { echo "---- $f" >&2; tail -n 30 "$WORK/$f" >&2; }; done
  exit 1
}
mkdir "$WORK/data"

PORT=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])') ||
  fail "no free port"

# A firmware file of 13 blocks of 512 bytes.
{
  printf 'SLFW\x08\x07\x00\x00\x70\x17\x00\x00\x78\x56\x34\x12\x00\x00\x00\x00\xef\x07\x66\x00\x03'
  head -c $((512 - 25)) /dev/zero
  head -c 6000 /dev/urandom
} >"$WORK/image.bin"

# The tracker keeps trying to connect every 3 s until the port opens. The
# configuration is read from the menu: the port search's first probe, made at
# once at start, found no tracker, so no read follows the identification.
"$SIM" --connect "127.0.0.1:$PORT" --static --verbose --split 13 --merge --stray \
  --drop-after-blocks 6 --reset --dump-remote "$WORK/remote.bin" 2>"$WORK/sim.err" &
SIM_PID=$!

READ_DONE="Конфигурация успешно считана из прибора"
WRITE_DONE="Конфигурация успешно записана в прибор"
INTERRUPTED="Передача прошивки прервана: удаленное соединение потеряно. После подключения трекера нажмите «Программировать», чтобы продолжить"
cat >"$WORK/commands.txt" <<CMD
type RconfPort $PORT
click Button1
get ConfServState
until ComPortDeviceCaption text 127.0.0.1: RL20Vexa 20000
click MImage7
until MESLABEL text $READ_DONE 20000
type DISPNUMBER +79001234567
click MImage6
until MESLABEL text $WRITE_DONE 20000
type DISPNUMBER +7
click MImage7
until DISPNUMBER text +79001234567 20000
until LIMEI text IMEI: 866000000000001 10000
click SENDTESTPACK
until MESLABEL text Команда выполнена успешно 10000
answer open $WORK/image.bin
click MImage9
click Open_fw
click Program_flash
until MESLABEL text $INTERRUPTED 60000
until ConfServState text Порт закрыт 5000
click Button1
until ComPortDeviceCaption text 127.0.0.1: RL20Vexa 20000
wait 6000
answer confirm yes
click Program_flash
until MESLABEL text Передача прошивки в трекер завершена 60000
boxes
quit
CMD
timeout 150 "$APP" --headless --dir "$WORK/data" <"$WORK/commands.txt" >"$WORK/answers.txt" 2>"$WORK/app.err" &
APP_PID=$!
wait "$APP_PID"
rc=$?
APP_PID=""
[ "$rc" -eq 0 ] || fail "the configurator exited with $rc"

mapfile -t answers <"$WORK/answers.txt"
[ "${#answers[@]}" -eq 29 ] || fail "expected 29 answers, got ${#answers[@]}"
[ "${answers[2]}" = "ok Порт открыт, ожидание подключения трекера" ] || fail "not listening: ${answers[2]}"
for i in "${!answers[@]}"; do
  [ "$i" -eq 2 ] || [ "$i" -eq 27 ] || [ "${answers[$i]}" = "ok" ] || fail "answer $((i + 1)): ${answers[$i]}"
done
case "${answers[27]}" in
  *", продолжить с байта: 3072"*) ;;
  *) fail "no resume question from byte 3072: ${answers[27]}" ;;
esac

kill "$SIM_PID"
wait "$SIM_PID"
SIM_PID=""
cmp -s "$WORK/remote.bin" "$WORK/image.bin" || fail "the file the tracker took differs from the image"
grep -q "dropped on purpose (reset)" "$WORK/sim.err" || fail "the simulator never dropped the connection"

# The day's log: Windows-1251 lines with CR LF, the peer named, bytes in hex.
python3 - "$WORK/data/Log" <<'PY' || fail "the remote-configuration log is not as expected"
import glob, re, sys
files = glob.glob(sys.argv[1] + "/????-??-??.log")
assert len(files) >= 1, "no log file"
raw = b"".join(open(f, "rb").read() for f in files)
text = raw.decode("cp1251")
lines = text.split("\r\n")
assert lines[-1] == "", "the last line has no CR LF"
for line in lines[:-1]:
    assert re.match(r"^\[\d\d:\d\d:\d\d\.\d\d\d\] - ", line), line
    assert "\n" not in line
assert text.count("Установлено удаленное подключение, IP:127.0.0.1") == 2, "two connections"
assert re.search(r"Приняты данные: [0-9A-F]+\r\n", text)
assert re.search(r"Отправлены данные: 534C524C[0-9A-F]+\r\n", text)
PY
echo "PASS: read, write, status, test packet and a resumed firmware transfer through the tunnel on port $PORT"
exit 0
