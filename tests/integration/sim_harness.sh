# Shared by the integration scripts: a work folder, clean-up, failure report,
# and the simulator started on a pseudo-terminal ($PTY), with its stderr in
# $WORK/sim.err. Source it after setting SIM, APP and SIM_ARGS.
WORK=$(mktemp -d "${TMPDIR:-/tmp}/rlvexa-integration.XXXXXX")
SIM_PID=""
APP_PID=""

cleanup() {
  [ -n "$APP_PID" ] && kill "$APP_PID" 2>/dev/null
  [ -n "$SIM_PID" ] && kill "$SIM_PID" 2>/dev/null
  [ -n "$APP_PID" ] && wait "$APP_PID" 2>/dev/null
  [ -n "$SIM_PID" ] && wait "$SIM_PID" 2>/dev/null
  rm -rf "$WORK"
}
trap cleanup EXIT
trap 'exit 1' INT TERM

fail() {
  echo "FAIL: $*" >&2
  for f in sim.err app.err answers.txt; do
    if [ -f "$WORK/$f" ]; then
      echo "---- $f" >&2
      tail -n 40 "$WORK/$f" >&2
    fi
  done
  exit 1
}

# The simulator prints its pseudo-terminal's path as the first line on stdout.
mkfifo "$WORK/sim.out"
"$SIM" --pty --verbose ${SIM_ARGS:-} >"$WORK/sim.out" 2>"$WORK/sim.err" &
SIM_PID=$!
exec 3<"$WORK/sim.out"
PTY=""
if ! read -r -t 10 PTY <&3; then
  fail "the simulator printed no pseudo-terminal path"
fi
[ -e "$PTY" ] || fail "the simulator's pseudo-terminal $PTY does not exist"


# Runs the configurator headless on $PTY with $WORK/commands.txt as input and
# at most $1 seconds; its answers go to $WORK/answers.txt.
run_app() {
  timeout "$1" "$APP" --headless --tracker-port "$PTY" --dir "$WORK/data" \
    <"$WORK/commands.txt" >"$WORK/answers.txt" 2>"$WORK/app.err" &
  APP_PID=$!
  wait "$APP_PID"
  local rc=$?
  APP_PID=""
  [ "$rc" -eq 0 ] || fail "the configurator exited with $rc"
}

# Compares $WORK/answers.txt line by line with the arguments.
expect_answers() {
  local expected=("$@") answers i
  mapfile -t answers <"$WORK/answers.txt"
  [ "${#answers[@]}" -eq "${#expected[@]}" ] ||
    fail "expected ${#expected[@]} answer lines, got ${#answers[@]}"
  for i in "${!expected[@]}"; do
    [ "${answers[$i]}" = "${expected[$i]}" ] ||
      fail "answer $((i + 1)): expected '${expected[$i]}', got '${answers[$i]}'"
  done
}
