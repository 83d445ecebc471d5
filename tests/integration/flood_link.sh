#!/usr/bin/env bash
# A peer that floods the line with noise: the configurator's memory stays flat,
# and a configuration read started once the flood is over completes.
#
# usage: flood_link.sh RLVEXA_TRACKER_SIM RLVEXA_CONFIGURATOR [FLOOD_SECONDS [CHECK_MEMORY]]
# CHECK_MEMORY 0 leaves the memory bound out (a sanitizer's quarantine holds
# freed memory on purpose).
set -u

SIM=${1:?usage: flood_link.sh RLVEXA_TRACKER_SIM RLVEXA_CONFIGURATOR [FLOOD_SECONDS]}
APP=${2:?usage: flood_link.sh RLVEXA_TRACKER_SIM RLVEXA_CONFIGURATOR [FLOOD_SECONDS]}
FLOOD_SECONDS=${3:-5}
CHECK_MEMORY=${4:-1}
DELAY=2
# Resident memory may grow by at most this much during the flood (KiB).
MAX_GROWTH_KB=2048

. "$(dirname "$0")/sim_harness.sh"

mkfifo "$WORK/proxy.out"
python3 "$(dirname "$0")/flood_proxy.py" "$PTY" --delay "$DELAY" --seconds "$FLOOD_SECONDS" \
  --limit $((FLOOD_SECONDS + 60)) >"$WORK/proxy.out" 2>"$WORK/proxy.err" &
PROXY_PID=$!
trap 'kill $PROXY_PID 2>/dev/null; cleanup' EXIT
exec 4<"$WORK/proxy.out"
LINE=""
read -r -t 10 LINE <&4 || fail "the flood proxy printed no pseudo-terminal path"

READ_DONE="Конфигурация успешно считана из прибора"
{
  echo "until ComPortDeviceCaption text $LINE: RL20Vexa 8000"
  echo "wait $(((DELAY + FLOOD_SECONDS) * 1000 + 1000))"
  echo "click MImage7"
  echo "until MESLABEL text $READ_DONE 8000"
  echo "quit"
} >"$WORK/commands.txt"

timeout $((FLOOD_SECONDS + 40)) "$APP" --headless --tracker-port "$LINE" --dir "$WORK/data" \
  <"$WORK/commands.txt" >"$WORK/answers.txt" 2>"$WORK/app.err" &
APP_PID=$!

# Resident memory once the flood has started (the baseline) and its peak.
# (The configurator runs under timeout: its process is the child of $APP_PID.)
sleep $((DELAY + 1))
REAL_PID=$(pgrep -P "$APP_PID" -n)
[ -n "$REAL_PID" ] || fail "the configurator is not running"
rss() { awk '/^VmRSS:/ { print $2 }' "/proc/$REAL_PID/status" 2>/dev/null; }
base=$(rss)
peak=${base:-0}
while kill -0 "$APP_PID" 2>/dev/null; do
  now=$(rss)
  [ -n "$now" ] && [ "$now" -gt "$peak" ] && peak=$now
  sleep 0.25
done
wait "$APP_PID"
rc=$?
APP_PID=""
[ "$rc" -eq 0 ] || fail "the configurator exited with $rc"
grep -q "flood over" "$WORK/proxy.err" || fail "the flood did not run"

expect_answers ok ok ok ok ok
growth=$((peak - ${base:-0}))
echo "flood: $(grep 'flood over' "$WORK/proxy.err"); resident memory ${base} KiB at its start, peak ${peak} KiB (+${growth} KiB)"
[ "$CHECK_MEMORY" = 0 ] || [ "$growth" -le "$MAX_GROWTH_KB" ] || fail "resident memory grew by ${growth} KiB during the flood"
echo "PASS: ${FLOOD_SECONDS} s of noise, then a configuration read over the same line"
exit 0
