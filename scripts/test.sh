#!/usr/bin/env bash
# Builds everything and runs every test: the normal build, then the
# AddressSanitizer + UndefinedBehaviorSanitizer build; then the Qt front end
# without udev (the path of Windows and macOS), and the core's unit tests as
# Windows executables under Wine.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
jobs=$(nproc 2>/dev/null || echo 2)

# Runs one preset's tests and keeps its counts for the summary at the end
# ("PRESET: N passed, N failed, N skipped"); a failure does not stop the run.
summaries=()
status=0
run_ctest() {
  local log rc=0 line total failed skipped
  log=$(mktemp)
  ctest --preset "$1" -j "$jobs" 2>&1 | tee "$log" || rc=$?
  line=$(grep -E '^[0-9]+% tests passed, [0-9]+ tests? failed out of [0-9]+' "$log" | tail -n 1) || true
  if [ -n "$line" ]; then
    failed=$(sed -E 's/.* ([0-9]+) tests? failed out of .*/\1/' <<<"$line")
    total=$(sed -E 's/.* out of ([0-9]+).*/\1/' <<<"$line")
    skipped=$(grep -cE '\(Skipped\)$' "$log") || true
    summaries+=("$1: $((total - failed - skipped)) passed, $failed failed, $skipped skipped")
  else
    summaries+=("$1: 0 passed, 1 failed (ctest ran no test)")
    rc=1
  fi
  rm -f "$log"
  return "$rc"
}

for preset in default asan; do
  echo "== $preset ==" >&2
  cmake --preset "$preset" >&2
  cmake --build --preset "$preset" -j "$jobs"
  run_ctest "$preset" || status=1
done

# The window, the command line and the Qt platform built with RLVEXA_WITH_UDEV=OFF.
echo "== no-udev ==" >&2
start=$(date +%s)
cmake --preset no-udev >&2
cmake --build --preset no-udev -j "$jobs"
run_ctest no-udev || status=1
echo "no-udev stage: $(($(date +%s) - start)) s" >&2

# The core's unit tests as Windows executables under Wine.
echo "== windows-cross ==" >&2
windows_log=$(mktemp)
bash scripts/windows-tests.sh "$jobs" 2>&1 | tee "$windows_log" || status=1
line=$(grep -E '^Windows \(MinGW-w64 under Wine\): ' "$windows_log" | tail -n 1) || true
counts=$(grep -oE '[0-9]+ passed, [0-9]+ failed, [0-9]+ skipped' <<<"$line") || true
if [ -n "$counts" ]; then
  summaries+=("windows-cross: $counts")
else
  summaries+=("windows-cross: 0 passed, 1 failed (no test ran under Wine)")
  status=1
fi
rm -f "$windows_log"

# Summary: one line for each preset, the last lines of the run.
printf '%s\n' "${summaries[@]}"
exit "$status"
