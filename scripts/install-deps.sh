#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need (as root, or through sudo).
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config
  libgtest-dev libgmock-dev libbenchmark-dev
  qt6-base-dev qt6-serialport-dev libudev-dev
  qt6-svg-dev fonts-dejavu-core
  python3 procps
  dpkg-dev desktop-file-utils lintian
  libarchive-dev
  g++-mingw-w64-x86-64 googletest wine wine64
  # rlvexa-services keeps its store in PostgreSQL through libpq; the tests
  # start a server of their own with initdb and pg_ctl.
  libpq-dev postgresql
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
echo "Installing: ${missing[*]}" >&2
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >&2
