#!/usr/bin/env bash
# Builds the core and its unit tests as Windows executables (MinGW-w64) and runs
# them under Wine in a throw-away prefix; prints how many tests ran there.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=${1:-$(nproc 2>/dev/null || echo 2)}
start=$(date +%s)
cmake --preset windows-cross >&2
cmake --build --preset windows-cross -j "$jobs"
built=$(date +%s)

WINEPREFIX=$(mktemp -d /tmp/rlvexa-wine.XXXXXX)
export WINEPREFIX WINEDEBUG=-all
log=$(mktemp /tmp/rlvexa-wine-log.XXXXXX)
cleanup() {
  wineserver -k >/dev/null 2>&1 || true
  rm -rf "$WINEPREFIX" "$log"
}
trap cleanup EXIT
# The prefix is made once, before the shards run side by side.
scripts/wine-run.sh wineboot -i >/dev/null 2>&1 || true

status=0
ctest --preset windows-cross -j "$jobs" 2>&1 | tee "$log" || status=$?
passed=$(sed -n 's/.*\[  PASSED  \] \([0-9]*\) test.*/\1/p' "$log" | awk '{s += $1} END {print s + 0}')
skipped=$(sed -n 's/.*\[  SKIPPED \] \([0-9]*\) test.*/\1/p' "$log" | awk '{s += $1} END {print s + 0}')
failed=$(sed -n 's/.*\[  FAILED  \] \([0-9]*\) test.*/\1/p' "$log" | awk '{s += $1} END {print s + 0}')
echo "Windows (MinGW-w64 under Wine): $((passed + failed + skipped)) unit tests run, $passed passed," \
  "$failed failed, $skipped skipped on Windows; build $((built - start)) s, tests $(($(date +%s) - built)) s"
exit "$status"
