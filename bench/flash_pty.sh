#!/usr/bin/env bash
# Flashes a 256 KiB firmware image into the simulator's bootloader over a
# pseudo-terminal with the headless configurator and prints the time from the
# press of "Programing" to the last block (the bar at 100), and its ratio to
# the protocol's floor: every step before it (start, size, header, each
# earlier block) waits for its answer, and an answer is read only after 5
# quiet link ticks of 10 ms. Goal: within 10 % of the floor. Checks that the simulator
# took the body byte for byte.
# Usage: bench/flash_pty.sh [BUILD_DIR] [BODY_BYTES]
set -euo pipefail
BUILD=${1:-build/default}
BODY=${2:-262144}
APP=$BUILD/qt/rlvexa-configurator
SIM=$BUILD/tools/sim/rlvexa-tracker-sim
[ -x "$APP" ] && [ -x "$SIM" ] || { echo "build $APP and $SIM first" >&2; exit 2; }

dir=$(mktemp -d)
sim=
cleanup() {
  [ -n "$sim" ] && kill "$sim" 2>/dev/null && wait "$sim" 2>/dev/null
  rm -rf "$dir"
}
trap cleanup EXIT

# The image: "SLFW", hardware 8, version 1, the body size, a CRC field, build
# 2026.1209.01, zeros up to 512 bytes, then a random body.
le32() { printf "\\x$(printf %02x $(($1 & 255)))\\x$(printf %02x $(($1 >> 8 & 255)))\\x$(printf %02x $(($1 >> 16 & 255)))\\x$(printf %02x $(($1 >> 24 & 255)))"; }
{
  printf 'SLFW\x08\x01\x00\x00'
  le32 "$BODY"
  printf '\x34\x12\x00\x00\x00\x00\x00\x00\xea\x07\xb9\x04\x01'
  head -c $((512 - 25)) /dev/zero
} >"$dir/image.bin"
head -c "$BODY" /dev/urandom >"$dir/body.bin"
cat "$dir/body.bin" >>"$dir/image.bin"

"$SIM" --pty --bootloader --dump-flash "$dir/flashed.bin" >"$dir/sim.out" &
sim=$!
until [ -s "$dir/sim.out" ]; do sleep 0.1; done
pty=$(head -1 "$dir/sim.out")

blocks=$(((BODY + 1023) / 1024))
{
  echo "until BootVer text Bootloader version: v0.1 20000"
  echo "answer open $dir/image.bin"
  echo "click Open_fw"
  echo "click Program_flash"
  echo "until Progress_flash position 100 600000"
  echo "until ComPortDeviceCaption text $pty: RL20Vexa 20000"
  echo "quit"
} | "$APP" --headless --dir "$dir" --tracker-port "$pty" 2>"$dir/app.err" |
  while IFS= read -r line; do echo "$(date +%s.%N) $line"; done >"$dir/answers.txt"

cat "$dir/answers.txt" | cut -d' ' -f2- | paste -sd' ' >&2
start=$(sed -n 4p "$dir/answers.txt" | cut -d' ' -f1)
end=$(sed -n 5p "$dir/answers.txt" | cut -d' ' -f1)
kill "$sim"
wait "$sim" || true
sim=
if ! cmp -s "$dir/flashed.bin" "$dir/body.bin"; then
  echo "the simulator's stored body differs from the image's" >&2
  exit 1
fi
awk -v s="$start" -v e="$end" -v b="$blocks" 'BEGIN {
  floor = (b + 2) * 0.05
  t = e - s
  printf "flashed %d blocks in %.2f s; floor %.2f s (%d answers x 50 ms); ratio %.3f\n", b, t, floor, b + 2, t / floor
}'
