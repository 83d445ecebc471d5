#!/usr/bin/env bash
# Builds everything and runs every test: the normal build, then the
# AddressSanitizer + UndefinedBehaviorSanitizer build; then the Qt front end
# without udev (the path of Windows and macOS), and the core's unit tests as
# Windows executables under Wine.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
jobs=$(nproc 2>/dev/null || echo 2)

for preset in default asan; do
  echo "== $preset ==" >&2
  cmake --preset "$preset" >&2
  cmake --build --preset "$preset" -j "$jobs"
  ctest --preset "$preset" -j "$jobs"
done

# The window, the command line and the Qt platform built with RLVEXA_WITH_UDEV=OFF.
echo "== no-udev ==" >&2
start=$(date +%s)
cmake --preset no-udev >&2
cmake --build --preset no-udev -j "$jobs"
ctest --preset no-udev -j "$jobs"
echo "no-udev stage: $(($(date +%s) - start)) s" >&2

echo "== windows-cross ==" >&2
bash scripts/windows-tests.sh "$jobs"
