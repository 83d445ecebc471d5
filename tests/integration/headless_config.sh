#!/usr/bin/env bash
# Reading and writing the configuration of a simulated tracker that asks for
# its password, through the headless automation front end, the real Qt
# platform and a pseudo-terminal.
#
# usage: headless_config.sh RLVEXA_TRACKER_SIM RLVEXA_CONFIGURATOR
set -u

SIM=${1:?usage: headless_config.sh RLVEXA_TRACKER_SIM RLVEXA_CONFIGURATOR}
APP=${2:?usage: headless_config.sh RLVEXA_TRACKER_SIM RLVEXA_CONFIGURATOR}

SIM_ARGS="--password 1234"
. "$(dirname "$0")/sim_harness.sh"

READ_DONE="Конфигурация успешно считана из прибора"
WRITE_DONE="Конфигурация успешно записана в прибор"
{
  echo "until ComPortDeviceCaption text $PTY: RL20Vexa 8000"
  echo "until PageControlMes index 1 5000"  # the automatic read asks for the password
  echo "prop MESPANEL visible"
  echo "type PassEdit 1234"
  echo "click PassButOK"
  echo "until MESLABEL text $READ_DONE 5000"
  echo "type CONFPASS 4321"
  echo "type DISPNUMBER +79001234567"
  echo "answer confirm yes"  # the review of the changes after the read
  echo "click MImage6"
  echo "until MESLABEL text $WRITE_DONE 5000"
  echo "type CONFPASS 1"
  echo "type DISPNUMBER +7"
  echo "click MImage7"
  echo "until CONFPASS text 4321 5000"
  echo "get DISPNUMBER"
  echo "quit"
} >"$WORK/commands.txt"

run_app 40

expect_answers ok ok "ok 1" ok ok ok ok ok ok ok ok ok ok ok ok "ok +79001234567" ok

# On the tracker's side: the password, then both records written.
grep -q 'rx cmd=37' "$WORK/sim.err" || fail "no password command reached the simulator"
[ "$(grep -c 'rx cmd=33' "$WORK/sim.err")" -ge 2 ] || fail "both records were not written"
echo "PASS: password, read, write and read back over $PTY"
exit 0
