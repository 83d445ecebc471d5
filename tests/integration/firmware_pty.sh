#!/usr/bin/env bash
# The configurator flashes an image into the simulator over a pseudo-terminal,
# starting in the tracker's application (restart into the bootloader, the
# update goes on by itself, restart into the new build), and then updates the
# GNSS receiver behind the tracker's transparent mode; the link comes back
# after each. The simulator's stored body must equal the image's.
#
# usage: firmware_pty.sh RLVEXA_TRACKER_SIM RLVEXA_CONFIGURATOR
set -u
SIM=${1:?usage: firmware_pty.sh RLVEXA_TRACKER_SIM RLVEXA_CONFIGURATOR}
APP=${2:?usage: firmware_pty.sh RLVEXA_TRACKER_SIM RLVEXA_CONFIGURATOR}
WORK=$(mktemp -d "${TMPDIR:-/tmp}/rlvexa-firmware.XXXXXX")
SIM_PID=""
cleanup() {
  [ -n "$SIM_PID" ] && kill "$SIM_PID" 2>/dev/null && wait "$SIM_PID" 2>/dev/null
  rm -rf "$WORK"
}
trap cleanup EXIT
fail() {
  echo "FAIL: $*" >&2
  for f in answers.txt app.err; do [ -f "$WORK/$f" ] && { echo "---- $f" >&2; tail -n 20 "$WORK/$f" >&2; }; done
  exit 1
}
mkdir "$WORK/data"

# An image of 20000 bytes of body for hardware 8, build 2031.0102.03.
BODY=20000
{
  printf 'SLFW\x08\x07\x00\x00\x20\x4e\x00\x00\x78\x56\x34\x12\x00\x00\x00\x00\xef\x07\x66\x00\x03'
  head -c $((512 - 25)) /dev/zero
} >"$WORK/image.bin"
head -c "$BODY" /dev/urandom >"$WORK/body.bin"
cat "$WORK/body.bin" >>"$WORK/image.bin"
# The receiver's two files: an agent whose check answers 67 8D (the sum of its
# little-endian words) and a firmware of the size the receiver is told.
python3 - "$WORK/data" <<'PY' || fail "cannot make the receiver files"
import os, sys
agent = bytearray(os.urandom(2000))
s = sum(agent[i] | agent[i + 1] << 8 for i in range(0, len(agent) - 2, 2)) & 0xFFFF
last = (0x678D - s) & 0xFFFF
agent[-2:] = bytes([last & 255, last >> 8])
open(os.path.join(sys.argv[1], "MT3333DA.bin"), "wb").write(agent)
open(os.path.join(sys.argv[1], "MT3333ROM.bin"), "wb").write(os.urandom(0x000A1713))
PY

"$SIM" --pty --static --dump-flash "$WORK/flashed.bin" >"$WORK/sim.out" 2>"$WORK/sim.err" &
SIM_PID=$!
for _ in $(seq 100); do [ -s "$WORK/sim.out" ] && break; sleep 0.1; done
PTY=$(head -1 "$WORK/sim.out")
[ -e "$PTY" ] || fail "the simulator printed no pseudo-terminal"

cat >"$WORK/commands.txt" <<CMD
until ComPortDeviceCaption text $PTY: RL20Vexa 20000
answer open $WORK/image.bin
click MImage9
click Open_fw
get FWbuild
click Program_flash
until Progress_flash position 100 60000
until ComPortDeviceCaption text $PTY: RL20Vexa 30000
until LVer text Версия ПО: 7 (build 2031.0102.03) 10000
click GNSSUPD
until Label28 text Программирование завершено! 120000
until ComPortDeviceCaption text $PTY: RL20Vexa 30000
quit
CMD
timeout 240 "$APP" --headless --tracker-port "$PTY" --dir "$WORK/data" <"$WORK/commands.txt" \
  >"$WORK/answers.txt" 2>"$WORK/app.err" || fail "the configurator failed"
expected=$'ok\nok\nok\nok\nok Firmware build: 2031.0102.03\nok\nok\nok\nok\nok\nok\nok\nok'
[ "$(cat "$WORK/answers.txt")" = "$expected" ] || fail "unexpected answers"
kill "$SIM_PID"
wait "$SIM_PID"
SIM_PID=""
cmp -s "$WORK/flashed.bin" "$WORK/body.bin" || fail "the simulator's stored body differs from the image's"
echo "flashed and updated the receiver over $PTY"
