#!/usr/bin/env bash
# A user who may not open the tracker's port is told so: the configurator runs
# headless as an unprivileged user (nobody) on the simulator's pseudo-terminal,
# which belongs to root. The status line names the fix, standard error names
# the path and the reason, and the run ends with exit status 3.
# Usage: port_permission.sh SIMULATOR CONFIGURATOR
set -uo pipefail
SIM=$1
APP=$2
SKIP=77

# Root ignores the file mode: the test needs root to drop to another user.
if [ "$(id -u)" -ne 0 ]; then
  echo "SKIP: not root, so no other user to run the configurator as" >&2
  exit $SKIP
fi
if ! command -v setpriv >/dev/null 2>&1; then
  echo "SKIP: setpriv (util-linux) is missing" >&2
  exit $SKIP
fi
if ! id nobody >/dev/null 2>&1; then
  echo "SKIP: no user nobody" >&2
  exit $SKIP
fi
as_nobody=(setpriv --reuid=nobody --regid="$(id -g nobody)" --clear-groups --)
if ! "${as_nobody[@]}" true 2>/dev/null; then
  echo "SKIP: cannot drop privileges here (setpriv refused)" >&2
  exit $SKIP
fi
if ! "${as_nobody[@]}" test -x "$APP"; then
  echo "SKIP: the user nobody cannot run $APP from this folder" >&2
  exit $SKIP
fi

source "$(dirname "$0")/sim_harness.sh"
chmod 755 "$WORK"
mkdir -m 777 "$WORK/data"
if "${as_nobody[@]}" sh -c ': <>"$1"' sh "$PTY" 2>/dev/null; then
  echo "SKIP: the user nobody may open $PTY" >&2
  exit $SKIP
fi

printf '%s\n' 'wait 2500' 'get ComPortDeviceCaption' 'prop MESPANEL visible' 'get MESLABEL' >"$WORK/commands.txt"
timeout 30 "${as_nobody[@]}" "$APP" --headless --tracker-port "$PTY" --dir "$WORK/data" \
  <"$WORK/commands.txt" >"$WORK/answers.txt" 2>"$WORK/app.err"
rc=$?
[ "$rc" -eq 3 ] || fail "exit status $rc, expected 3 (permission denied)"

mapfile -t answers <"$WORK/answers.txt"
[ "${#answers[@]}" -eq 5 ] || fail "expected 5 answers (the last one to the end of input), got ${#answers[@]}"
[ "${answers[0]}" = "ok" ] || fail "wait answered ${answers[0]}"
case "${answers[1]}" in
  "ok $PTY: Not connected (permission denied: install the udev rule or join the group "*", then replug)") ;;
  *) fail "status line: ${answers[1]}" ;;
esac
[ "${answers[2]}" = "ok 1" ] || fail "the message panel is not shown: ${answers[2]}"
case "${answers[3]}" in
  *"$PTY"*60-rlvexa.rules*usermod*) ;;
  *) fail "message panel: ${answers[3]}" ;;
esac
grep -qF "serial port $PTY cannot be opened: permission denied" "$WORK/app.err" ||
  fail "standard error does not name the path and the reason"
[ "$(grep -cF "serial port $PTY cannot be opened" "$WORK/app.err")" -eq 1 ] ||
  fail "the failure is told more than once on standard error"

# A command of the command line ends at once (not after the 10 s wait for a
# tracker) with one line naming the port and the reason, and exit status 3.
mkdir -m 777 "$WORK/cli"
started=$(date +%s%N)
timeout 30 "${as_nobody[@]}" "$APP" status --port "$PTY" --dir "$WORK/cli" </dev/null >"$WORK/cli.out" 2>"$WORK/cli.err"
rc=$?
elapsed_ms=$((($(date +%s%N) - started) / 1000000))
[ "$rc" -eq 3 ] || fail "status on a port nobody may open gave exit status $rc, expected 3: $(cat "$WORK/cli.err")"
[ "$elapsed_ms" -lt 5000 ] || fail "status on a port nobody may open took $elapsed_ms ms, not at once"
case "$(cat "$WORK/cli.err")" in
  "rlvexa-configurator status: cannot open $PTY: permission denied: install the udev rule or join the group "*", then replug") ;;
  *) fail "status did not say why in one line: $(cat "$WORK/cli.err")" ;;
esac
[ ! -s "$WORK/cli.out" ] || fail "status printed results: $(cat "$WORK/cli.out")"
echo "ok: permission denied on $PTY is reported to the unprivileged user (the command line in $elapsed_ms ms)"
