#!/usr/bin/env bash
# Builds the configurator and runs it against the built-in simulated tracker.
# The automation commands below show the link coming up; then type your own
# commands (see README), or press Ctrl-D to quit.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake --preset default >/dev/null
cmake --build --preset default -j "$(nproc 2>/dev/null || echo 2)" --target rlvexa-configurator >/dev/null

script='get ComPortDeviceCaption
until ComPortDeviceCaption text DEMO: RL20Vexa 5000
get ComPortDeviceCaption
page
prop MImage7 enabled
wait 2000
get ComPortDeviceCaption'

echo "Commands sent:" >&2
echo "$script" | sed 's/^/  > /' >&2
echo "Answers:" >&2
if [ -t 0 ]; then
  { echo "$script"; cat; } | build/default/qt/rlvexa-configurator --demo --headless --dir "${TMPDIR:-/tmp}"
else
  { echo "$script"; echo quit; } | build/default/qt/rlvexa-configurator --demo --headless --dir "${TMPDIR:-/tmp}"
fi
