#!/usr/bin/env bash
# The monitoring page against the living simulated tracker: its IMEI keys the
# password remembered in config.ini, so the automatic read needs no prompt;
# the readouts move with the tracker; events become journal lines; the fault
# log lists the tracker's records.
#
# usage: headless_monitoring.sh RLVEXA_TRACKER_SIM RLVEXA_CONFIGURATOR
set -u

SIM=${1:?usage: headless_monitoring.sh RLVEXA_TRACKER_SIM RLVEXA_CONFIGURATOR}
APP=${2:?usage: headless_monitoring.sh RLVEXA_TRACKER_SIM RLVEXA_CONFIGURATOR}

IMEI=866000000000042
SIM_ARGS="--password 4242 --imei $IMEI --event 5 --fault-records 3"
. "$(dirname "$0")/sim_harness.sh"

mkdir -p "$WORK/data"
printf '[Passes]\n%s=4242\n' "$IMEI" >"$WORK/data/config.ini"

READ_DONE="Конфигурация успешно считана из прибора"
{
  echo "until ComPortDeviceCaption text $PTY: RL20Vexa 8000"
  echo "until MESLABEL text $READ_DONE 5000"
  echo "prop PageControlMes index"  # the message page, never the password prompt
  echo "get LIMEI"
  echo "get LVer"
  echo "until LOG_memo count 1 3000"
  echo "get LDateTime"
  echo "wait 2500"
  echo "get LDateTime"
  echo "dblclick Label22"
  echo "page"
  echo "click Button23"
  echo "until FLOGGRID rows 5 5000"
  echo "cell FLOGGRID 1 1"
  echo "cell FLOGGRID 1 3"
  echo "cell FLOGGRID 1 4"
  echo "quit"
} >"$WORK/commands.txt"

run_app 40

mapfile -t answers <"$WORK/answers.txt"
[ "${#answers[@]}" -eq 17 ] || fail "expected 17 answer lines, got ${#answers[@]}"
[ "${answers[2]}" = "ok 0" ] || fail "the password prompt was shown: ${answers[2]}"
[ "${answers[3]}" = "ok IMEI: $IMEI" ] || fail "IMEI: ${answers[3]}"
[ "${answers[4]}" = "ok Версия ПО: 5 (build 2018.0612.03)" ] || fail "version: ${answers[4]}"
[ "${answers[5]}" = "ok" ] || fail "no event line: ${answers[5]}"
[[ "${answers[6]}" == "ok Дата и время: 01.01.2026 00:00:"* ]] || fail "fix time: ${answers[6]}"
[ "${answers[6]}" != "${answers[8]}" ] || fail "the fix time did not move: ${answers[8]}"
[ "${answers[10]}" = "ok 3" ] || fail "the testing page was not shown: ${answers[10]}"
[ "${answers[12]}" = "ok" ] || fail "the fault log was not listed: ${answers[12]}"
[ "${answers[13]}" = "ok 01.01.2026 00:00:00" ] || fail "first record: ${answers[13]}"
[ "${answers[14]}" = "ok 01.01.2026 02:00:00" ] || fail "third record: ${answers[14]}"
[ "${answers[15]}" = "ok " ] || fail "the list does not end with an empty row: ${answers[15]}"

grep -q 'rx cmd=37' "$WORK/sim.err" || fail "the remembered password did not reach the simulator"
echo "PASS: monitoring, remembered password, events and fault log over $PTY"
exit 0
