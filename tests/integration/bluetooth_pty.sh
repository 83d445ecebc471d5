#!/usr/bin/env bash
# The Bluetooth panel against the simulated tracker over a pseudo-terminal,
# through the headless automation front end and the real Qt platform: a scan
# lists the tracker's devices, the chosen row is paired, a row the scan did not
# fill fails, the paired list shows the device, and it is removed again.
#
# usage: bluetooth_pty.sh RLVEXA_TRACKER_SIM RLVEXA_CONFIGURATOR
set -u

SIM=${1:?usage: bluetooth_pty.sh RLVEXA_TRACKER_SIM RLVEXA_CONFIGURATOR}
APP=${2:?usage: bluetooth_pty.sh RLVEXA_TRACKER_SIM RLVEXA_CONFIGURATOR}

SIM_ARGS="--bt-devices Гарнитура,Sensor-B"
. "$(dirname "$0")/sim_harness.sh"

# The second word of three of the texts begins with a Latin "c".
SCAN_DONE="Bluetooth: cканирование завершено"
FAILED="Bluetooth: cопряжение провалено"
{
  echo "until ComPortDeviceCaption text $PTY: RL20Vexa 8000"
  echo "wait 1500"  # the automatic read of the configuration
  echo "click Button12"
  echo "prop Panel26 visible"
  echo "click Button14"
  echo "until Button14 text Скан: 29 3000"
  echo "until MESLABEL text $SCAN_DONE 40000"
  echo "until Button14 text Сканировать 3000"
  echo "cell BlueScan 0 1"
  echo "cell BlueScan 1 1"
  echo "cell BlueScan 0 2"
  echo "cell BlueScan 1 2"
  echo "cell BlueScan 1 3"
  echo "selectcell BlueScan 1 2"
  echo "click Button16"
  echo "until MESLABEL text Bluetooth: подключение установлено - Sensor-B 5000"
  echo "selectcell BlueScan 1 4"
  echo "click Button16"
  echo "until MESLABEL text $FAILED 5000"
  echo "click Button17"
  echo "wait 1500"
  echo "cell BlueScan 0 1"
  echo "cell BlueScan 1 1"
  echo "cell BlueScan 1 2"
  echo "selectcell BlueScan 1 1"
  echo "click Button18"
  echo "until MESLABEL text Bluetooth: удален из списка 5000"
  echo "click Button17"
  echo "wait 1500"
  echo "cell BlueScan 1 1"
  echo "selectcell BlueScan 1 0"
  echo "click Button16"
  echo "get MESLABEL"
  echo "quit"
} >"$WORK/commands.txt"

run_app 90

expect_answers ok ok ok "ok 1" ok ok ok ok \
  "ok 1" "ok Гарнитура" "ok 2" "ok Sensor-B" "ok " \
  ok ok ok ok ok ok ok ok \
  "ok 1" "ok Sensor-B" "ok " \
  ok ok ok ok ok \
  "ok " \
  ok ok "ok Выберите устройство" ok

# On the tracker's side: the scan, the pairing of row 2 and of row 4, a list,
# the removal and a list; the pairing of the heading row sent nothing.
RX=$(grep -o 'rx cmd=7[234]' "$WORK/sim.err" | sed 's/rx cmd=//' | tr '\n' ' ')
[ "$RX" = "72 73 73 74 73 74 " ] || fail "expected the requests 72 73 73 74 73 74, saw: $RX"
echo "PASS: scan, pair, list and remove over $PTY"
exit 0
