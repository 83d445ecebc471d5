#!/usr/bin/env bash
# The configurator finds, identifies and polls the simulated tracker over a
# pseudo-terminal, with the real Qt platform and real time.
#
# usage: pty_link.sh RLVEXA_TRACKER_SIM RLVEXA_CONFIGURATOR
set -u

SIM=${1:?usage: pty_link.sh RLVEXA_TRACKER_SIM RLVEXA_CONFIGURATOR}
APP=${2:?usage: pty_link.sh RLVEXA_TRACKER_SIM RLVEXA_CONFIGURATOR}

. "$(dirname "$0")/sim_harness.sh"

cat >"$WORK/commands.txt" <<EOF
prop ComPortDeviceCaption text
until ComPortDeviceCaption text $PTY: RL20Vexa 8000
page
wait 1200
prop MImage7 enabled
quit
EOF

run_app 30

# The first probe goes out at once at start: the line shows the design-time
# caption or already the probe.
case "$(head -1 "$WORK/answers.txt")" in
  "ok ComPort" | "ok $PTY: Find device") sed -i 1d "$WORK/answers.txt" ;;
  *) fail "unexpected first status line: $(head -1 "$WORK/answers.txt")" ;;
esac
expect_answers "ok" "ok 1" "ok" "ok 1" "ok"

# On the tracker's side: identified, then polled 41 [01], 34 [00], 34 [01] at
# least twice (a poll every 500 ms and 1.2 s of waiting).
sleep 0.2
RX=$(grep -o 'rx cmd=[0-9]*' "$WORK/sim.err" | sed 's/rx cmd=//' | tr '\n' ' ')
FIRST=$(echo "$RX" | awk '{print $1}')
[ "$FIRST" = "0" ] || fail "the first request was not identify (0): $RX"
POLLS=$(echo " $RX" | grep -o ' 41 34 34' | wc -l)
[ "$POLLS" -ge 2 ] || fail "expected the poll 41, 34, 34 at least twice, saw: $RX"

echo "PASS: identify then $POLLS status polls over $PTY"
exit 0
