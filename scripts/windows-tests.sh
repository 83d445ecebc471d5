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
cleanup() {
  wineserver -k >/dev/null 2>&1 || true
  rm -rf "$WINEPREFIX"
}
trap cleanup EXIT
# The prefix is made once, before the shards run side by side.
scripts/wine-run.sh wineboot -i >/dev/null 2>&1 || true

status=0
rm -f build/windows-cross/tests/unit-shard*.xml
ctest --preset windows-cross -j "$jobs" || status=$?
# The counts from GoogleTest's reports of the shards.
read -r run failed skipped < <(python3 - build/windows-cross/tests/unit-shard*.xml <<'PY'
import sys
import xml.etree.ElementTree as ET
run = failed = skipped = 0
for name in sys.argv[1:]:
    for case in ET.parse(name).getroot().iter("testcase"):
        if case.get("result") == "suppressed":  # not selected for this shard
            continue
        run += 1
        failed += 1 if case.find("failure") is not None else 0
        skipped += 1 if case.get("result") == "skipped" or case.find("skipped") is not None else 0
print(run, failed, skipped)
PY
)
echo "Windows (MinGW-w64 under Wine): $run unit tests run, $((run - failed - skipped)) passed, $failed failed," \
  "$skipped skipped on Windows; build $((built - start)) s, tests $(($(date +%s) - built)) s"
exit "$status"
