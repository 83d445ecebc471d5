#!/usr/bin/env bash
# Builds the configurator and runs it against the built-in simulated tracker.
#
#   bash scripts/demo.sh           headless: a short tour of automation commands,
#                                  each printed beside its answer; then, on a
#                                  terminal, type your own commands
#   bash scripts/demo.sh --window  the window, with the same simulated tracker
#
# The configurator's files (config.ini, the saved demo.fcg) go to a private
# temporary folder that is removed when the demo ends.
set -euo pipefail
cd "$(dirname "$0")/.."

usage() { sed -n '2,10p' "$0" | sed 's/^# \{0,1\}//'; }
window=0
case "${1:-}" in
  "") ;;
  --window) window=1 ;;
  -h | --help)
    usage
    exit 0
    ;;
  *)
    usage >&2
    exit 2
    ;;
esac

APP=build/default/qt/rlvexa-configurator
DIR=""
APP_PID=""
TO_APP=""
FROM_APP=""

cleanup() {
  if [ -n "$APP_PID" ]; then
    # The end of its input closes the configurator as "quit" does; one that
    # does not end by itself is asked to.
    if [ -n "$TO_APP" ]; then
      exec {TO_APP}>&-
      for _ in 1 2 3 4 5 6 7 8 9 10; do
        kill -0 "$APP_PID" 2>/dev/null || break
        sleep 0.5
      done
    fi
    kill -TERM "$APP_PID" 2>/dev/null || true
    wait "$APP_PID" 2>/dev/null || true
  fi
  [ -n "$DIR" ] && rm -rf "$DIR"
  return 0
}
trap cleanup EXIT
trap 'echo; echo "Stopped."; exit 130' INT
trap 'exit 143' TERM
# A write to a configurator that has ended fails instead of killing the script.
trap '' PIPE

echo "Stop the demo at any time with Ctrl-C."
echo
echo "== Installing the Debian packages the build needs (only those missing)"
scripts/install-deps.sh
echo "== Configuring the build (CMake preset \"default\", folder build/default)"
cmake --preset default >/dev/null
echo "== Building the configurator and the tracker simulator: a few minutes the first time;"
echo "   Ninja counts the steps as [done/total]"
cmake --build --preset default -j "$(nproc 2>/dev/null || echo 2)" \
  --target rlvexa-configurator rlvexa-tracker-sim
echo

DIR=$(mktemp -d "${TMPDIR:-/tmp}/rlvexa-demo.XXXXXX")

if [ "$window" -eq 1 ]; then
  if [ -z "${DISPLAY:-}${WAYLAND_DISPLAY:-}${QT_QPA_PLATFORM:-}" ]; then
    echo "No display (DISPLAY and WAYLAND_DISPLAY are not set): run without --window for the" >&2
    echo "headless demo, or from a desktop session." >&2
    exit 1
  fi
  echo "== The window, with the simulated tracker on the port \"DEMO\"; close it to end the demo."
  # In the background, so that a signal to this script ends the window too.
  "$APP" --demo --dir "$DIR" </dev/null &
  APP_PID=$!
  wait "$APP_PID" || true
  APP_PID=""
  exit 0
fi

# The configurator answers each command with exactly one line.
coproc CONFIGURATOR { exec "$APP" --demo --headless --dir "$DIR"; }
APP_PID=$CONFIGURATOR_PID
exec {TO_APP}>&"${CONFIGURATOR[1]}" {FROM_APP}<&"${CONFIGURATOR[0]}"

# Sends one command; its answer is left in ANSWER.
send() {
  ANSWER=""
  printf '%s\n' "$1" >&"$TO_APP" 2>/dev/null || return 1
  IFS= read -r ANSWER <&"$FROM_APP" || return 1
}
# Sends one command and prints it beside its answer.
ask() {
  if ! send "$1"; then
    echo "The configurator has ended." >&2
    exit 1
  fi
  printf '  %-58s -> %s\n' "$1" "$ANSWER"
}

READ_DONE="Конфигурация успешно считана из прибора"
WRITE_DONE="Конфигурация успешно записана в прибор"

echo "== The configurator, headless, with a simulated tracker on the port \"DEMO\""
echo "   (command -> answer; data folder $DIR)"
echo
echo "The title bar's caption: no tracker yet, then the tracker identified."
ask "get ComPortDeviceCaption"
ask "until ComPortDeviceCaption text DEMO: RL20Vexa 5000"
ask "page"
echo "The configuration is read from the tracker on its own; then edited and written back."
ask "until MESLABEL text $READ_DONE 5000"
ask "get SERVERIP"
ask "click OKMES"
ask "type DISPNUMBER +79001234567"
ask "answer confirm yes"
ask "click MImage6"
ask "until MESLABEL text $WRITE_DONE 5000"
ask "click OKMES"
echo "Saved to a file; a relative name is taken from the data folder (--dir)."
ask "answer save demo.fcg"
ask "click MImage2"
ask "get LConfigPath"
echo "Status values of the tracker:"
if send "prop LSat text" && [ "${ANSWER#error: unknown control}" = "$ANSWER" ]; then
  ask "wait 1500"
  for readout in LDateTime LSat LSpeed LCsq LIMEI LVer; do
    ask "get $readout"
  done
else
  echo "  (none yet: the live status values come with the monitoring pages, still to come)"
fi
echo

if [ -t 0 ]; then
  echo "Now type your own commands, one per line (README, \"Headless automation\"), for"
  echo "example: get SERVERIP    prop MImage7 enabled    page    wait 1000"
  echo "\"quit\" or Ctrl-D ends the demo; Ctrl-C stops it at once."
  while IFS= read -r -p "> " line; do
    [ -z "${line//[[:blank:]]/}" ] && continue  # a blank line gets no answer
    if ! send "$line"; then
      echo "The configurator has ended." >&2
      exit 1
    fi
    echo "  -> $ANSWER"
    read -r -a words <<<"$line"
    if [ "${words[*]}" = quit ] && [ "$ANSWER" = ok ]; then
      echo "Demo ended."
      exit 0
    fi
  done
  echo
fi
ask "quit"
echo "Demo ended."
