#!/usr/bin/env bash
# The Debian package: `cpack -G DEB` in the build folder gives a package that
# holds the programs, the udev rule (reloaded on install), the desktop entry,
# the icon, the man pages and the shipped data, with its dependencies taken
# from the shared libraries the programs use.
# Usage: deb_package.sh BUILD_DIR VERSION
set -uo pipefail
BUILD=$1
VERSION=$2
WORK=$(mktemp -d "${TMPDIR:-/tmp}/rlvexa-deb.XXXXXX")
trap 'rm -rf "$WORK"' EXIT
fail() {
  echo "FAIL: $*" >&2
  [ -f "$WORK/cpack.log" ] && tail -n 30 "$WORK/cpack.log" >&2
  exit 1
}
command -v dpkg-deb >/dev/null 2>&1 || { echo "SKIP: dpkg-deb is missing" >&2; exit 77; }

cpack -G DEB --config "$BUILD/CPackConfig.cmake" -B "$WORK/out" >"$WORK/cpack.log" 2>&1 || fail "cpack failed"
deb=$(find "$WORK/out" -maxdepth 1 -name "rlvexa-configurator_${VERSION}_*.deb" | head -n 1)
[ -n "$deb" ] || fail "no rlvexa-configurator_${VERSION}_*.deb in $WORK/out"

dpkg-deb --contents "$deb" | awk '{print $NF}' >"$WORK/contents.txt"
for f in ./usr/bin/rlvexa-configurator ./usr/bin/rlvexa-tracker-sim ./usr/share/rlvexa-configurator/language.lng \
  ./usr/lib/udev/rules.d/60-rlvexa.rules ./usr/share/applications/rlvexa-configurator.desktop \
  ./usr/share/icons/hicolor/scalable/apps/rlvexa-configurator.svg ./usr/share/man/man1/rlvexa-configurator.1 \
  ./usr/share/man/man1/rlvexa-tracker-sim.1; do
  grep -qxF "$f" "$WORK/contents.txt" || fail "the package lacks $f"
done
depends=$(dpkg-deb --field "$deb" Depends)
for lib in libqt6core6 libqt6serialport6 libqt6widgets6 libqt6svg6 libudev1; do
  case "$depends" in *"$lib"*) ;; *) fail "Depends lacks $lib: $depends" ;; esac
done
dpkg-deb --ctrl-tarfile "$deb" | tar -t | grep -qx './postinst' || fail "the package has no postinst"
dpkg-deb --ctrl-tarfile "$deb" | tar -xO ./postinst | grep -q 'udevadm control --reload-rules' ||
  fail "postinst does not reload the udev rules"
echo "ok: $(basename "$deb")"
