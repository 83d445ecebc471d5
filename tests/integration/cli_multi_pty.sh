#!/usr/bin/env bash
# The command line with several trackers at once: four simulators on
# pseudo-terminals, flashed in one run, the third refusing a block. The three
# others take the image byte for byte (their dumps), the third is reported,
# and the exit status is that of its failure (7); the summary names every port.
# Then a read of two trackers: one file each, named by IMEI.
#
# usage: cli_multi_pty.sh RLVEXA_TRACKER_SIM RLVEXA_CONFIGURATOR
set -u
SIM=${1:?usage: cli_multi_pty.sh RLVEXA_TRACKER_SIM RLVEXA_CONFIGURATOR}
APP=${2:?usage: cli_multi_pty.sh RLVEXA_TRACKER_SIM RLVEXA_CONFIGURATOR}
WORK=$(mktemp -d "${TMPDIR:-/tmp}/rlvexa-multi.XXXXXX")
PIDS=()
cleanup() {
  for pid in "${PIDS[@]}"; do kill "$pid" 2>/dev/null; done
  for pid in "${PIDS[@]}"; do wait "$pid" 2>/dev/null; done
  rm -rf "$WORK"
}
trap cleanup EXIT
fail() {
  echo "FAIL: $*" >&2
  for f in out.txt err.txt; do [ -f "$WORK/$f" ] && { echo "---- $f" >&2; tail -n 30 "$WORK/$f" >&2; }; done
  exit 1
}

# An image of 20000 bytes of body for hardware 8, build 2031.0102.03.
{
  printf 'SLFW\x08\x07\x00\x00\x20\x4e\x00\x00\x78\x56\x34\x12\x00\x00\x00\x00\xef\x07\x66\x00\x03'
  head -c $((512 - 25)) /dev/zero
} >"$WORK/image.bin"
head -c 20000 /dev/urandom >"$WORK/body.bin"
cat "$WORK/body.bin" >>"$WORK/image.bin"

PTYS=()
for i in 1 2 3 4; do
  extra=()
  [ "$i" -eq 3 ] && extra=(--refuse-block 5:2)
  "$SIM" --pty --static --imei "86600000000000$i" --dump-flash "$WORK/flashed$i.bin" "${extra[@]}" \
    >"$WORK/sim$i.out" 2>/dev/null &
  PIDS+=($!)
done
for i in 1 2 3 4; do
  for _ in $(seq 100); do [ -s "$WORK/sim$i.out" ] && break; sleep 0.1; done
  PTYS+=("$(head -1 "$WORK/sim$i.out")")
  [ -e "${PTYS[$((i - 1))]}" ] || fail "simulator $i printed no pseudo-terminal"
done

ARGS=()
for p in "${PTYS[@]}"; do ARGS+=(--port "$p"); done
timeout 200 "$APP" flash "${ARGS[@]}" "$WORK/image.bin" --dir "$WORK/data" \
  >"$WORK/out.txt" 2>"$WORK/err.txt" </dev/null
RC=$?
[ "$RC" -eq 7 ] || fail "flash of four gave exit status $RC, expected 7"
for i in 1 2 4; do
  p=${PTYS[$((i - 1))]}
  grep -q "^flashed $WORK/image.bin to $p: .*2031.0102.03" "$WORK/out.txt" || fail "tracker $i ($p) not reported flashed"
  grep -q "^$p  *86600000000000$i  *[0-9.]* s  *ok$" "$WORK/out.txt" || fail "tracker $i has no ok row"
done
p3=${PTYS[2]}
grep -q "^rlvexa-configurator flash: $p3: the firmware update failed" "$WORK/err.txt" ||
  fail "the refused block is not reported for $p3"
grep -q "^$p3  *866000000000003  *[0-9.]* s  *failed (7): the firmware update failed" "$WORK/out.txt" ||
  fail "the summary has no failure row for $p3"
[ "$(grep -c '^flashed ' "$WORK/out.txt")" -eq 3 ] || fail "not exactly three trackers flashed"

# Stop the simulators: they write their dumps at the end.
for pid in "${PIDS[@]}"; do kill "$pid"; done
for pid in "${PIDS[@]}"; do wait "$pid"; done
for i in 1 2 4; do
  cmp -s "$WORK/flashed$i.bin" "$WORK/body.bin" || fail "tracker $i's stored body differs from the image's"
done
cmp -s "$WORK/flashed3.bin" "$WORK/body.bin" && fail "the tracker that refused a block holds the image"

# A read of two trackers: one file each, the IMEI in its name.
PIDS=()
PTYS=()
for i in 5 6; do
  "$SIM" --pty --static --imei "86600000000000$i" >"$WORK/sim$i.out" 2>/dev/null &
  PIDS+=($!)
done
for i in 5 6; do
  for _ in $(seq 100); do [ -s "$WORK/sim$i.out" ] && break; sleep 0.1; done
  PTYS+=("$(head -1 "$WORK/sim$i.out")")
done
timeout 60 "$APP" read --port "${PTYS[0]}" --port "${PTYS[1]}" --out "$WORK/conf.fcg" --dir "$WORK/data" \
  >"$WORK/out.txt" 2>"$WORK/err.txt" </dev/null
RC=$?
[ "$RC" -eq 0 ] || fail "read of two gave exit status $RC"
for i in 5 6; do
  [ "$(stat -c %s "$WORK/conf-86600000000000$i.fcg" 2>/dev/null)" = 1046 ] || fail "no file for tracker $i"
done
[ ! -e "$WORK/conf.fcg" ] || fail "the plain output name was written too"

echo "PASS: four trackers flashed at once, one refused; two read at once"
