#!/usr/bin/env bash
# Runs a Windows program under Wine without a display and without Wine's own
# messages. WINEPREFIX, when not set, is a prefix beside the program (a
# throw-away one: the CI sets its own temporary prefix and removes it).
set -euo pipefail
[ $# -ge 1 ] || { echo "usage: wine-run.sh PROGRAM.exe [ARGS...]" >&2; exit 2; }
export WINEDEBUG=-all
# No Mono or Gecko installation prompts, no display.
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
export DISPLAY=
if [ -z "${WINEPREFIX:-}" ]; then
  WINEPREFIX="$(cd "$(dirname "$1")" && pwd)/wineprefix"
  export WINEPREFIX
fi
wine=$(command -v wine || true)
[ -n "$wine" ] || { echo "wine-run.sh: Wine is not installed" >&2; exit 127; }
exec "$wine" "$@"
