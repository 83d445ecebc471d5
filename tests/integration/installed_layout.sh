#!/usr/bin/env bash
# The installed layout: `cmake --install` into a staging prefix puts the
# programs, the shipped data, the udev rule, the desktop entry, the icon and
# the man pages in their places; each man page lists exactly its program's
# --help options (every command of the configurator included) and the exit
# codes the program returns; the installed configurator starts with the demo
# tracker (as an unprivileged user where possible), reads the shipped language
# file from the system data folder and keeps the user's files in the XDG data
# folder.
# Usage: installed_layout.sh BUILD_DIR VERSION
set -uo pipefail
BUILD=$1
VERSION=$2
WORK=$(mktemp -d "${TMPDIR:-/tmp}/rlvexa-install.XXXXXX")
trap 'rm -rf "$WORK"' EXIT
fail() {
  echo "FAIL: $*" >&2
  for f in install.log app.err answers.txt; do
    [ -f "$WORK/$f" ] && { echo "---- $f" >&2; tail -n 30 "$WORK/$f" >&2; }
  done
  exit 1
}

STAGE=$WORK/stage
cmake --install "$BUILD" --prefix "$STAGE/usr" >"$WORK/install.log" 2>&1 || fail "cmake --install failed"
for f in bin/rlvexa-configurator bin/rlvexa-tracker-sim share/rlvexa-configurator/language.lng \
  lib/udev/rules.d/60-rlvexa.rules share/applications/rlvexa-configurator.desktop \
  share/icons/hicolor/scalable/apps/rlvexa-configurator.svg share/man/man1/rlvexa-configurator.1.gz \
  share/man/man1/rlvexa-tracker-sim.1.gz bin/rlvexa-services share/man/man1/rlvexa-services.1.gz \
  share/doc/rlvexa-configurator/copyright share/doc/rlvexa-configurator/changelog.gz; do
  [ -f "$STAGE/usr/$f" ] || fail "not installed: $f"
done
[ -e "$STAGE/usr/bin/language.lng" ] && fail "the language file lies beside the installed executable"
grep -q 'TAG+="uaccess"' "$STAGE/usr/lib/udev/rules.d/60-rlvexa.rules" || fail "the rule grants no seat access"
grep -q 'ENV{ID_MM_DEVICE_IGNORE}="1"' "$STAGE/usr/lib/udev/rules.d/60-rlvexa.rules" ||
  fail "the rule does not keep ModemManager away"
if command -v desktop-file-validate >/dev/null 2>&1; then
  desktop-file-validate "$STAGE/usr/share/applications/rlvexa-configurator.desktop" ||
    fail "desktop-file-validate rejects the desktop entry"
else
  echo "note: desktop-file-validate is missing, the desktop entry is not validated" >&2
fi

for prog in rlvexa-configurator rlvexa-tracker-sim rlvexa-services; do
  got=$("$STAGE/usr/bin/$prog" --version) || fail "$prog --version failed"
  [ "$got" = "$prog $VERSION" ] || fail "$prog --version printed '$got', expected '$prog $VERSION'"
  "$STAGE/usr/bin/$prog" --help | grep -q -- "--version" || fail "$prog --help does not list --version"
done

# The man pages against the programs. The option terms of a page are exactly
# the options its program's --help names (for the configurator, also every
# command's --help; every command the README lists has its section); an option
# named anywhere in a page is one of an installed program; roff has no warning.
options_of() { grep -oE -- '(^|[^A-Za-z0-9-])--[a-z][a-z0-9-]*' | grep -oE -- '--[a-z][a-z0-9-]*' | sort -u; }
# A page's roff with its minus signs as hyphens, read from a file (a pipe that
# grep -q leaves early would fail under pipefail).
page_of() {
  [ -f "$WORK/$1.page" ] || zcat "$STAGE/usr/share/man/man1/$1.1.gz" | sed 's/\\-/-/g' >"$WORK/$1.page"
  cat "$WORK/$1.page"
}
readme=$(dirname "$0")/../../README.md
all_options=$WORK/all-options.txt
: >"$all_options"
for prog in rlvexa-configurator rlvexa-tracker-sim rlvexa-services; do
  help=$("$STAGE/usr/bin/$prog" --help)
  page_of "$prog" >/dev/null
  commands=$(sed -n 's/^\.SS //p' "$WORK/$prog.page")
  for c in $commands; do
    help+=$'\n'$("$STAGE/usr/bin/$prog" "$c" --help) || fail "$prog $c --help failed"
  done
  if [ "$prog" = rlvexa-configurator ]; then
    for c in $(sed -n '/^### Command line/,/^###/p' "$readme" | grep -oE '^rlvexa-configurator [a-z]+' | cut -d' ' -f2); do
      grep -qx -- "$c" <<<"$commands" || fail "the man page of $prog has no section for the command $c (README)"
    done
  fi
  options_of <<<"$help" >"$WORK/help-options.txt"
  cat "$WORK/help-options.txt" >>"$all_options"
  page_of "$prog" | grep -A1 -x '\.TP' | grep -E '^\.BI? --' | options_of >"$WORK/page-options.txt"
  diff "$WORK/help-options.txt" "$WORK/page-options.txt" >"$WORK/options.diff" ||
    fail "the man page of $prog (>) and its --help (<) give different options: $(tr '\n' ' ' <"$WORK/options.diff")"
  warnings=$(zcat "$STAGE/usr/share/man/man1/$prog.1.gz" | groff -man -Tutf8 -ww -z 2>&1)
  [ -z "$warnings" ] || fail "roff warns on the man page of $prog: $warnings"
done
for prog in rlvexa-configurator rlvexa-tracker-sim rlvexa-services; do
  stray=$(page_of "$prog" | options_of | grep -vxFf "$all_options") &&
    fail "the man page of $prog names options no program has: $stray"
done
# Exit codes, as the programs return them and as their pages give them:
# program | arguments | code | a word of the page's meaning for that code.
while IFS='|' read -r prog args code word; do
  # shellcheck disable=SC2086 # the arguments are words
  timeout 30 "$STAGE/usr/bin/$prog" $args </dev/null >/dev/null 2>&1
  rc=$?
  [ "$rc" -eq "$code" ] || fail "$prog $args exited with $rc, expected $code"
  page_of "$prog" | sed -n '/^\.SH EXIT STATUS/,/^\.SH [^E]/p' | grep -A1 -x "\.B $code" >"$WORK/meanings.txt"
  grep -qi -- "$word" "$WORK/meanings.txt" ||
    fail "the man page of $prog does not give $code as '$word'"
done <<'EOF'
rlvexa-configurator|--no-such-option|2|command line
rlvexa-configurator|export|2|usage
rlvexa-configurator|export /nonexistent/a.fcg|6|file
rlvexa-configurator|status --port /nonexistent/tty|3|no tracker
rlvexa-tracker-sim|--no-such-option|2|command line
rlvexa-services|--no-such-option x|2|command line
rlvexa-services|--data /nonexistent/dir|1|data folder
EOF

# A normal user where the test runs as root.
run=()
if [ "$(id -u)" -eq 0 ] && command -v setpriv >/dev/null 2>&1 && id nobody >/dev/null 2>&1 &&
  setpriv --reuid=nobody --regid="$(id -g nobody)" --clear-groups -- true 2>/dev/null; then
  run=(setpriv --reuid=nobody --regid="$(id -g nobody)" --clear-groups --)
  chmod -R a+rX "$WORK"
fi
if [ ${#run[@]} -gt 0 ] && ! "${run[@]}" test -x "$STAGE/usr/bin/rlvexa-configurator"; then
  run=()
fi
mkdir -m 777 "$WORK/home"
printf '%s\n' 'until ComPortDeviceCaption text DEMO: RL20Vexa 15000' 'prop RzCheckTree1 nodes' 'quit' |
  timeout 30 env HOME="$WORK/home" XDG_DATA_HOME="$WORK/home/data" XDG_CONFIG_HOME="$WORK/home/config" \
    XDG_RUNTIME_DIR= "${run[@]}" "$STAGE/usr/bin/rlvexa-configurator" --headless --demo \
    >"$WORK/answers.txt" 2>"$WORK/app.err"
rc=$?
[ "$rc" -eq 0 ] || fail "the installed configurator exited with $rc"
mapfile -t answers <"$WORK/answers.txt"
[ "${answers[0]:-}" = "ok" ] || fail "the demo tracker was not reached: ${answers[0]:-}"
# The structure tree's nodes come from the shipped language file.
case "${answers[1]:-}" in
  "ok" | "") fail "the shipped language file was not read: ${answers[1]:-}" ;;
  "ok "*) ;;
  *) fail "prop answered ${answers[1]:-}" ;;
esac
user=$WORK/home/data/rlvexa-configurator
[ -f "$user/config.ini" ] || fail "config.ini is not in the user's data folder $user"
grep -q '^ComPort=DEMO' "$user/config.ini" && fail "config.ini remembers the demo port"
[ -e "$user/language.lng" ] && fail "the shipped language file was copied into the user's folder"
[ -n "$(find "$STAGE" -name config.ini)" ] && fail "config.ini was written into the installed tree"
echo "ok: installed layout ${run[*]:+(run as nobody)}"
