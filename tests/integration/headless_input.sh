#!/usr/bin/env bash
# The automation input of the real configurator under hostile lines: an 80 MB
# line is answered with one error line at once and what follows it still
# works; "quit" with trailing words, tabs between words, control characters
# in an echoed command.
#
# usage: headless_input.sh RLVEXA_CONFIGURATOR
set -u

APP=${1:?usage: headless_input.sh RLVEXA_CONFIGURATOR}
WORK=$(mktemp -d "${TMPDIR:-/tmp}/rlvexa-input.XXXXXX")
trap 'rm -rf "$WORK"' EXIT

fail() {
  echo "FAIL: $*" >&2
  for f in app.err answers.txt; do
    [ -f "$WORK/$f" ] && { echo "---- $f" >&2; cut -c1-200 "$WORK/$f" | tail -n 20 >&2; }
  done
  exit 1
}

# The long line is streamed, not stored. Searching the whole line again after
# every read took close to a minute for 80 MB; one pass takes well under a
# second, so 30 s bounds the run with a wide margin for a loaded machine and
# the sanitizer build.
{
  echo "page"
  head -c 80000000 /dev/zero | tr '\0' 'x'
  echo
  printf 'get\tNoSuchControl\n'
  printf 'prop\tRzPageControl1\t\tindex\n'
  echo "quit now"
  printf 'frob\033[2Jnicate\n'
  echo "page"
  echo "quit"
} | timeout 30 "$APP" --headless --dir "$WORK/data" >"$WORK/answers.txt" 2>"$WORK/app.err"
rc=$?
[ "$rc" -eq 124 ] && fail "no end within 30 s"
[ "$rc" -eq 0 ] || fail "the configurator exited with $rc"

expected=(
  "ok 0"
  "error: line longer than 1048576 bytes, ignored"
  "error: unknown control NoSuchControl"
  "ok 0"
  'error: quit takes no arguments, got "now"'
  'error: unknown command frob\x1b[2Jnicate'
  "ok 0"
  "ok"
)
mapfile -t answers <"$WORK/answers.txt"
[ "${#answers[@]}" -eq "${#expected[@]}" ] ||
  fail "expected ${#expected[@]} answer lines, got ${#answers[@]}"
for i in "${!expected[@]}"; do
  [ "${answers[$i]}" = "${expected[$i]}" ] ||
    fail "answer $((i + 1)): expected '${expected[$i]}', got '${answers[$i]:0:200}'"
done
# At a terminal the mode shows that it waits for a command; piped (above) it
# writes the answers alone.
python3 - "$APP" "$WORK" <<'PY' || fail "no prompt at a terminal"
import os, select, subprocess, sys, time
app, work = sys.argv[1], sys.argv[2]
master, slave = os.openpty()
err = open(os.path.join(work, "app.err"), "w")
p = subprocess.Popen([app, "--headless", "--dir", os.path.join(work, "tty")], stdin=slave, stdout=slave,
                     stderr=err, close_fds=True)
os.close(slave)
seen = b""
def until(text, seconds=20):
    global seen
    deadline = time.time() + seconds
    while text not in seen:
        left = deadline - time.time()
        assert left > 0, (text, seen)
        if select.select([master], [], [], left)[0]:
            try:
                seen += os.read(master, 4096)
            except OSError:
                break
    assert text in seen, (text, seen)
until(b"rlvexa> ")
assert seen.count(b"rlvexa> ") == 1, seen
os.write(master, b"page\n")
until(b"ok 0\r\nrlvexa> ")
os.write(master, b"quit\n")
assert p.wait(timeout=20) == 0
PY
echo "PASS: an 80 MB line refused, the commands around it answered; a prompt at a terminal"
exit 0
