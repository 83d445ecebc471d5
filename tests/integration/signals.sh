#!/usr/bin/env bash
# A configurator told to stop by a signal (the terminal closed, the session
# ends) saves its settings as a normal close does, and says so when it cannot.
#
# usage: signals.sh RLVEXA_CONFIGURATOR
set -u
APP=${1:?usage: signals.sh RLVEXA_CONFIGURATOR}
WORK=$(mktemp -d "${TMPDIR:-/tmp}/rlvexa-signals.XXXXXX")
trap 'rm -rf "$WORK"' EXIT

fail() {
  echo "FAIL: $*" >&2
  [ -f "$WORK/app.err" ] && tail -n 20 "$WORK/app.err" >&2
  exit 1
}

# Starts the configurator on the demo tracker with standard input held open,
# sends signal $1 once it runs, and waits (bounded) for it to end.
stop_with() {
  local dir=$1 signal=$2
  rm -f "$WORK/in"
  mkfifo "$WORK/in"
  "$APP" --headless --demo --dir "$dir" <"$WORK/in" >/dev/null 2>"$WORK/app.err" &
  local pid=$!
  exec 5>"$WORK/in"  # held open: no end of input
  sleep 1.5
  kill -s "$signal" "$pid" 2>/dev/null || fail "the configurator ended before SIG$signal"
  for _ in $(seq 1 50); do
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.1
  done
  if kill -0 "$pid" 2>/dev/null; then
    kill -9 "$pid"
    fail "SIG$signal did not end the configurator within 5 s"
  fi
  wait "$pid" 2>/dev/null
  exec 5>&-
  return 0
}

for signal in TERM HUP INT; do
  dir="$WORK/$signal"
  mkdir -p "$dir"
  stop_with "$dir" "$signal"
  grep -q '^Language=' "$dir/config.ini" 2>/dev/null || fail "SIG$signal: the settings were not saved"
done

# Settings that cannot be written: a folder stands where config.ini belongs.
dir="$WORK/blocked"
mkdir -p "$dir/config.ini"
stop_with "$dir" HUP
grep -q "Не удалось сохранить настройки: $dir/config.ini (" "$WORK/app.err" || fail "the failed save of the settings was not reported"
[ -d "$dir/config.ini" ] || fail "the folder in the way was replaced"

# A data folder that cannot be made: the folder and the reason, exit status 2.
touch "$WORK/plain"
"$APP" --headless --dir "$WORK/plain/sub" </dev/null >/dev/null 2>"$WORK/app.err"
rc=$?
[ "$rc" -eq 2 ] || fail "a data folder that cannot be made gave exit status $rc"
grep -q "cannot create the data folder $WORK/plain/sub: Not a directory" "$WORK/app.err" ||
  fail "the start-up error does not name the folder and the reason"

echo "PASS: SIGTERM, SIGHUP and SIGINT save the settings; a failed save and a data folder that cannot be made are reported"
exit 0
