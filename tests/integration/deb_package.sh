#!/usr/bin/env bash
# The Debian package: `cpack -G DEB` in the build folder gives a package that
# holds the programs, the udev rule (reloaded on install), the desktop entry,
# the icon, the man pages and the shipped data, with its dependencies taken
# from the shared libraries the programs use. It follows Debian policy: stripped
# programs (their debug symbols are not shipped), gzipped man pages, a
# machine-readable copyright and a changelog of this version, a Maintainer with
# an address, a description of plain wrapped lines; lintian finds no error, and
# every lintian warning is listed in the README.
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
  ./usr/share/icons/hicolor/scalable/apps/rlvexa-configurator.svg ./usr/share/man/man1/rlvexa-configurator.1.gz \
  ./usr/share/man/man1/rlvexa-tracker-sim.1.gz ./usr/bin/rlvexa-services ./usr/share/man/man1/rlvexa-services.1.gz \
  ./usr/share/doc/rlvexa-configurator/copyright ./usr/share/doc/rlvexa-configurator/changelog.gz; do
  grep -qxF "$f" "$WORK/contents.txt" || fail "the package lacks $f"
done
depends=$(dpkg-deb --field "$deb" Depends)
for lib in libqt6core6 libqt6serialport6 libqt6widgets6 libqt6svg6 libudev1; do
  case "$depends" in *"$lib"*) ;; *) fail "Depends lacks $lib: $depends" ;; esac
done
dpkg-deb --ctrl-tarfile "$deb" | tar -t | grep -qx './postinst' || fail "the package has no postinst"
dpkg-deb --ctrl-tarfile "$deb" | tar -xO ./postinst | grep -q 'udevadm control --reload-rules' ||
  fail "postinst does not reload the udev rules"

maintainer=$(dpkg-deb --field "$deb" Maintainer)
[[ "$maintainer" =~ ^[^\<]+\ \<[^@\>]+@[^@\>]+\>$ ]] || fail "Maintainer has no address: $maintainer"
description=$(dpkg-deb --field "$deb" Description)
case "$description" in *";"*) fail "the description holds a build-system separator: $description" ;; esac
awk 'length > 80 { exit 1 }' <<<"$description" || fail "a description line is longer than 80 characters"

dpkg-deb -x "$deb" "$WORK/root" || fail "dpkg-deb -x failed"
for prog in rlvexa-configurator rlvexa-tracker-sim rlvexa-services; do
  readelf -S "$WORK/root/usr/bin/$prog" | grep -qE '\.(debug_[a-z]+|symtab)\b' && fail "$prog is not stripped"
done
doc=$WORK/root/usr/share/doc/rlvexa-configurator
head -n 1 "$doc/copyright" | grep -qx 'Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/' ||
  fail "the copyright file is not machine-readable"
zcat "$doc/changelog.gz" | head -n 1 | grep -q "^rlvexa-configurator ($VERSION) " ||
  fail "the changelog's latest entry is not version $VERSION"

# lintian reports no error; each warning it gives is listed in the README.
if command -v lintian >/dev/null 2>&1; then
  lintian --tag-display-limit 0 "$deb" >"$WORK/lintian.txt" 2>&1
  grep -q '^E: ' "$WORK/lintian.txt" && fail "lintian reports errors: $(grep '^E: ' "$WORK/lintian.txt")"
  readme=$(dirname "$0")/../../README.md
  for tag in $(sed -nE 's/^W: [^:]+: ([a-z0-9-]+).*/\1/p' "$WORK/lintian.txt" | sort -u); do
    grep -q -- "\`$tag\`" "$readme" || fail "the lintian warning $tag is not in the README: $(grep " $tag" "$WORK/lintian.txt")"
  done
else
  echo "note: lintian is missing, the package is not checked by it" >&2
fi

# The package's own files run: unpacked into a root of their own, the
# configurator reaches the demo tracker and reads the shipped language file.
mkdir -p "$WORK/home"
answers=$(printf '%s\n' 'until ComPortDeviceCaption text DEMO: RL20Vexa 15000' 'prop RzCheckTree1 nodes' 'quit' |
  timeout 30 env HOME="$WORK/home" XDG_DATA_HOME="$WORK/home/data" \
    "$WORK/root/usr/bin/rlvexa-configurator" --headless --demo 2>"$WORK/app.err") ||
  fail "the packaged configurator failed: $(cat "$WORK/app.err")"
mapfile -t lines <<<"$answers"
[ "${lines[0]:-}" = "ok" ] || fail "the packaged configurator did not reach the demo tracker: ${lines[0]:-}"
case "${lines[1]:-}" in
  "ok "?*) ;;
  *) fail "the packaged configurator did not read its language file: ${lines[1]:-}" ;;
esac
[ -f "$WORK/home/data/rlvexa-configurator/config.ini" ] || fail "no config.ini in the user's data folder"
echo "ok: $(basename "$deb"), installed size $(dpkg-deb --field "$deb" Installed-Size) KiB"
