#!/usr/bin/env bash
# The command line against a simulated tracker that asks for its password, on
# a pseudo-terminal: every command, its output and its exit status.
#
# usage: cli_pty.sh RLVEXA_TRACKER_SIM RLVEXA_CONFIGURATOR
set -u

SIM=${1:?usage: cli_pty.sh RLVEXA_TRACKER_SIM RLVEXA_CONFIGURATOR}
APP=${2:?usage: cli_pty.sh RLVEXA_TRACKER_SIM RLVEXA_CONFIGURATOR}

SIM_ARGS="--password 1234"
. "$(dirname "$0")/sim_harness.sh"

# Runs the configurator with the arguments; its status in $RC, output in
# $WORK/out.txt and $WORK/err.txt.
run() {
  timeout 120 "$APP" "$@" >"$WORK/out.txt" 2>"$WORK/err.txt" </dev/null
  RC=$?
}

expect_rc() {
  local want=$1
  shift
  [ "$RC" -eq "$want" ] || {
    cat "$WORK/out.txt" "$WORK/err.txt" >&2
    fail "$* gave exit status $RC, expected $want"
  }
}

D="--dir $WORK/data"

# Every failure on standard error is one line that starts with the program and
# the command: "rlvexa-configurator COMMAND: ...".
one_error_line() {
  [ "$(wc -l <"$WORK/err.txt")" -eq 1 ] && grep -q "^rlvexa-configurator $1: " "$WORK/err.txt" ||
    fail "$1 did not fail with one 'rlvexa-configurator $1: ' line: $(cat "$WORK/err.txt")"
}

# Usage and help.
run read --port "$PTY"
expect_rc 2 "read without --out"
one_error_line read
grep -q "needs --out" "$WORK/err.txt" || fail "no usage line for a missing --out"
run frob --port "$PTY"
expect_rc 2 "an unknown command"
[ "$(cat "$WORK/err.txt")" = "rlvexa-configurator: unknown command frob" ] ||
  fail "an unknown command is not named so: $(cat "$WORK/err.txt")"
run --help
for c in status read write flash bundle export import diff; do
  grep -qx "  $c" "$WORK/out.txt" || fail "--help does not list the command $c"
done
for c in status read write flash bundle export import diff; do
  run "$c" --help
  expect_rc 0 "$c --help"
  grep -qx "  0  success" "$WORK/out.txt" || fail "$c --help does not list the exit statuses"
done
# The command line's own texts: English by default, Russian with --lang ru.
run export "$WORK/missing.fcg" --lang ru
expect_rc 6 "export of a missing file"
one_error_line export
grep -q "не удалось прочитать" "$WORK/err.txt" || fail "--lang ru did not give Russian: $(cat "$WORK/err.txt")"

# Commands and the demo leave the user's settings as they are: neither the
# port they used nor the language of --lang is remembered.
mkdir -p "$WORK/user"
printf '[Settings]\nLanguage=russian\nComPort=/dev/ttyUSB9\nDisableNews=1\n' >"$WORK/user/config.ini"
cp "$WORK/user/config.ini" "$WORK/user.ini"
run status --port "$PTY" --dir "$WORK/user" --lang en
expect_rc 0 "status with the user's settings"
run status --port demo --dir "$WORK/user"
expect_rc 0 "status of the demo tracker"
cmp -s "$WORK/user/config.ini" "$WORK/user.ini" || fail "a command changed config.ini: $(cat "$WORK/user/config.ini")"
printf 'until ComPortDeviceCaption text DEMO: RL20Vexa 15000\nquit\n' |
  timeout 60 "$APP" --headless --demo --dir "$WORK/user" >"$WORK/demo.txt" 2>"$WORK/err.txt"
[ "$(head -1 "$WORK/demo.txt")" = "ok" ] || fail "the demo tracker was not reached: $(cat "$WORK/demo.txt")"
grep -qx 'ComPort=/dev/ttyUSB9' "$WORK/user/config.ini" ||
  fail "a --demo run changed the remembered port: $(cat "$WORK/user/config.ini")"
# A DEMO remembered by an earlier version is not what a later start probes.
printf '[Settings]\nComPort=DEMO\n' >"$WORK/user/config.ini"
printf 'wait 1500\nget ComPortDeviceCaption\nquit\n' |
  timeout 60 "$APP" --headless --dir "$WORK/user" >"$WORK/demo.txt" 2>"$WORK/err.txt"
! grep -q 'DEMO' "$WORK/demo.txt" || fail "a normal start shows the demo port: $(cat "$WORK/demo.txt")"

# No tracker: a port that does not exist.
run status --port "$WORK/no-such-port" $D
expect_rc 3 "status on a missing port"
one_error_line status
grep -q "no-such-port" "$WORK/err.txt" || fail "the missing port is not named"

# No tracker: a port where nothing answers (a pseudo-terminal nobody serves).
mkfifo "$WORK/silent.out"
python3 -c 'import os, time; m, s = os.openpty(); print(os.ttyname(s), flush=True); time.sleep(60)' \
  >"$WORK/silent.out" &
SILENT_PID=$!
read -r -t 10 SILENT <"$WORK/silent.out" || fail "no silent pseudo-terminal"
run status --port "$SILENT" $D
kill "$SILENT_PID" 2>/dev/null
expect_rc 3 "status on a silent port"
[ "$(cat "$WORK/err.txt")" = "rlvexa-configurator status: no tracker answered on $SILENT within 10 s" ] ||
  fail "a silent port is not told in the expected words: $(cat "$WORK/err.txt")"

# The password: none given, then a wrong one (each with a data folder that remembers none).
run read --port "$PTY" --out "$WORK/x.fcg" --dir "$WORK/fresh1"
expect_rc 4 "read without the password"
run read --port "$PTY" --out "$WORK/x.fcg" --password 1 --dir "$WORK/fresh2"
expect_rc 4 "read with a wrong password"
one_error_line read
grep -q "refused the password" "$WORK/err.txt" || fail "the refusal is not named"
[ ! -e "$WORK/x.fcg" ] || fail "a failed read wrote its output"

# Status as JSON.
run status --port "$PTY" --json $D
expect_rc 0 "status --json"
cp "$WORK/out.txt" "$WORK/status.json"
run status --port "$PTY" --json --lang ru $D
expect_rc 0 "status --json --lang ru"
cp "$WORK/out.txt" "$WORK/status-ru.json"
# The values are the simulator's: its living tracker's state at the second the record gives.
python3 - "$WORK/status.json" "$WORK/status-ru.json" <<'PY' || fail "status --json does not give the simulator's values"
import calendar, json, re, sys, time
raw = open(sys.argv[1]).read()
assert raw.count("\n") == 1, "not one line"
d = json.loads(raw)
ru = json.loads(open(sys.argv[2]).read())
assert sorted(d) == sorted(ru) and d["imei"] == ru["imei"] and d["firmware"] == ru["firmware"], (d, ru)
# Numbers are numbers, with a point.
assert re.search(r'"latitude":-?\d+\.\d{6},', raw) and re.search(r'"speed_kmh":\d+\.\d,', raw), raw
assert d["imei"] == "866000000000001" and d["device_type"] == 8 and d["device_name"] == "RL20Vexa", d
assert d["firmware"] == {"version": 5, "build": "2018.0612.03"} and d["gnss_firmware"] == "1.18", d
assert d["gsm"]["registration"] == 1 and d["gsm"]["gprs"] == 3 and d["gsm"]["operator"] == 1, d["gsm"]
assert d["record_period"] == [30, 120], d
assert re.fullmatch(r"\d{4}-\d\d-\d\dT\d\d:\d\d:\d\dZ", d["time"]), d["time"]
t = calendar.timegm(time.strptime(d["time"], "%Y-%m-%dT%H:%M:%SZ")) - 1767225600
assert 0 <= t < 3600, t
leg, along = (t // 100) % 4, (t % 100) * 100
dlat, dlon, course = [(along, 0, 0), (10000, along, 900), (10000 - along, 10000, 1800), (0, 10000 - along, 2700)][leg]
moving = (t // 50) % 5 != 4
want = {
    "latitude": (55750000 + dlat) / 1e6, "longitude": (37620000 + dlon) / 1e6, "course_deg": course / 10,
    "speed_kmh": (400 + (t % 9) * 5) / 10 if moving else 0, "satellites": 8 + (t // 7) % 7,
    "hdop": (7 + (t // 11) % 9) / 10, "altitude_m": 150 + (t // 13) % 5, "odometer_km": t * 11 / 1000,
    "valid": True, "outputs": [moving], "temperature_c": 34, "work_time_s": 86400 + t, "receiver_state": 2,
}
for key, value in want.items():
    assert abs(d[key] - value) < 1e-9 if isinstance(value, float) else d[key] == value, (key, d[key], value)
assert d["inputs"][0] == {"type": "analogue", "value": (12000 + (t % 20) * 50) / 1000, "raw": 12000 + (t % 20) * 50}
assert d["inputs"][1] == {"type": "frequency", "value": t % 300, "raw": t % 300}, d["inputs"]
assert d["onewire_c"] == [18 + (t // 60) % 3, None, 5, None, None, None, None, None], d["onewire_c"]
assert d["fuel"][1] == {"level": 0, "temperature_c": None} and d["accelerometer"]["z"] == 1000, d
assert d["gsm"]["signal_csq"] == 12 + (t // 5) % 15 and d["gsm"]["server_connected"] is True, d["gsm"]
assert d["key"] == ("00D5C4B3A201" if t % 30 < 3 else None), d["key"]
assert len(d["device_record"]) == 1024 and len(d["navigation_record"]) == 512, d
PY
# The text: readouts with one decimal separator, English by default.
run status --port "$PTY" $D --lang ru
expect_rc 0 "status --lang ru"
grep -q "^Широта: [0-9]*\.[0-9]\{6\}$" "$WORK/out.txt" || fail "the latitude is not Russian with a point: $(cat "$WORK/out.txt")"
run status --port "$PTY" $D
grep -q "^Latitude: [0-9]*\.[0-9]\{6\}$" "$WORK/out.txt" || fail "the latitude is not English with a point: $(cat "$WORK/out.txt")"
! grep -q '[0-9],[0-9]' "$WORK/out.txt" || fail "a decimal comma in the text: $(cat "$WORK/out.txt")"

# Read, export, import: the same bytes.
run read --port "$PTY" --out "$WORK/a.fcg" --password 1234 $D
expect_rc 0 "read"
[ "$(stat -c %s "$WORK/a.fcg")" -eq 1046 ] || fail "the read file is not 1046 bytes"
run export "$WORK/a.fcg"
expect_rc 0 "export"
cp "$WORK/out.txt" "$WORK/a.txt"
grep -q '^CONFPASS = ' "$WORK/a.txt" || fail "the text has no password line"
run import "$WORK/a.txt" --out "$WORK/b.fcg"
expect_rc 0 "import"
cmp -s "$WORK/a.fcg" "$WORK/b.fcg" || fail "import of the export is not the same file"

# Diff: a file with itself, and with a text that changes the server only.
run diff "$WORK/a.fcg" "$WORK/a.fcg"
expect_rc 0 "diff of a file with itself"
[ ! -s "$WORK/out.txt" ] || fail "diff of a file with itself printed something"
sed 's/^SERVERIP = .*/SERVERIP = "other.example.net:4000"/' "$WORK/a.txt" >"$WORK/c.txt"
run diff "$WORK/a.fcg" "$WORK/c.txt"
expect_rc 1 "diff of two configurations"
[ "$(cat "$WORK/out.txt")" = 'connection.SERVERIP: "telematics.example.com:21114" -> "other.example.net:4000"' ] ||
  fail "unexpected diff: $(cat "$WORK/out.txt")"

# A standard output that takes nothing (a full disk, a closed pipe) is an output failure.
for c in "export $WORK/a.fcg" "diff $WORK/a.fcg $WORK/c.txt" "status --port $PTY $D"; do
  timeout 120 "$APP" $c >/dev/full 2>"$WORK/err.txt" </dev/null
  RC=$?
  expect_rc 8 "$c onto a full disk"
  [ "$(wc -l <"$WORK/err.txt")" -eq 1 ] && grep -q "output could not be written" "$WORK/err.txt" ||
    fail "$c onto a full disk did not say so in one line: $(cat "$WORK/err.txt")"
done
python3 - "$APP" "$WORK/a.fcg" <<'PY' || fail "export into a closed pipe is not an output failure"
import os, subprocess, sys
r, w = os.pipe()
os.close(r)
p = subprocess.run([sys.argv[1], "export", sys.argv[2]], stdout=w, stderr=subprocess.PIPE,
                   stdin=subprocess.DEVNULL, timeout=60)
assert p.returncode == 8 and p.stderr.count(b"\n") == 1, (p.returncode, p.stderr)
PY

# Bad files: a corrupt .fcg, a text with an unknown key; nothing is written.
head -c 100 /dev/urandom >"$WORK/corrupt.fcg"
printf 'RL\x05\x01' >>"$WORK/corrupt.fcg"
run write --port "$PTY" "$WORK/corrupt.fcg" --password 1234 $D
expect_rc 6 "write of a corrupt file"
printf 'RL\x05\x01' >"$WORK/wrongtype.fcg"
head -c 1042 /dev/zero >>"$WORK/wrongtype.fcg"
run export "$WORK/wrongtype.fcg"
expect_rc 6 "export of a file of another device"
sed 's/^CONFPASS = /CONFPASSX = /' "$WORK/a.txt" >"$WORK/bad.txt"
run import "$WORK/bad.txt" --out "$WORK/bad.fcg"
expect_rc 6 "import of a text with an unknown key"
one_error_line import
grep -q "line .*CONFPASSX" "$WORK/err.txt" || fail "the bad line is not named: $(cat "$WORK/err.txt")"
[ ! -e "$WORK/bad.fcg" ] || fail "a failed import wrote its output"

# Write the changed configuration; the tracker then holds it.
run write --port "$PTY" "$WORK/c.txt" --password 1234 $D
expect_rc 0 "write"
run read --port "$PTY" --out "$WORK/d.fcg" --password 1234 $D
expect_rc 0 "read after write"
run diff "$WORK/c.txt" "$WORK/d.fcg"
grep -v '^additional.WRITETIME' "$WORK/out.txt" >"$WORK/fields.txt"
[ ! -s "$WORK/fields.txt" ] || fail "the tracker holds other fields than written: $(cat "$WORK/fields.txt")"

# Firmware through the bootloader: an image of 20000 bytes of body.
{
  printf 'SLFW\x08\x07\x00\x00\x20\x4e\x00\x00\x78\x56\x34\x12\x00\x00\x00\x00\xef\x07\x66\x00\x03'
  head -c $((512 - 25)) /dev/zero
  head -c 20000 /dev/urandom
} >"$WORK/image.bin"
run flash --port "$PTY" "$WORK/image.bin" --password 1234 $D
expect_rc 0 "flash"
grep -q "2031.0102.03" "$WORK/out.txt" || fail "the new build is not reported: $(cat "$WORK/out.txt")"
grep -q ": Firmware version: 7 (build" "$WORK/out.txt" || fail "the flash summary is not English: $(cat "$WORK/out.txt")"
! grep -q '[А-Яа-я]' "$WORK/out.txt" || fail "the flash summary has Russian in it: $(cat "$WORK/out.txt")"
run flash --port "$PTY" "$WORK/corrupt.fcg" --password 1234 $D
expect_rc 6 "flash of a file that is no image"

# The diagnostic bundle: one archive, no password in it.
run bundle --port "$PTY" --out "$WORK/support.zip" --password 1234 $D
expect_rc 0 "bundle"
REMEMBERED=$(sed -n 's/^[0-9]\{15\}=//p' "$WORK/data/config.ini" | head -1)
[ -n "$REMEMBERED" ] || fail "the test expects a remembered password in the settings"
python3 - "$WORK/support.zip" <<'PY' || fail "the bundle is not the expected archive"
import sys, zipfile
z = zipfile.ZipFile(sys.argv[1])
names = set(z.namelist())
want = {"device-record.bin", "device-record.txt", "navigation-record.bin", "navigation-record.txt",
        "configuration.fcg", "configuration.txt", "event-log.txt", "fault-log.txt", "traffic-trace.txt",
        "version.txt", "settings.ini"}
assert want <= names, names
assert len(z.read("configuration.fcg")) == 1046
assert b" rx " in z.read("traffic-trace.txt")
passes = z.read("settings.ini").decode().split("[Passes]")[1]
assert all(line.endswith("=") for line in passes.split() if "=" in line), passes
assert "\nCONFPASS = (removed)\n" in z.read("configuration.txt").decode()
# The trace keeps no password: not the password command's (1234 = D2 04), not the one in the
# first configuration record as the tracker sent it.
trace = z.read("traffic-trace.txt").decode()
def stream(what):
    return " ".join(l.split(" " + what + " ", 1)[1] for l in trace.splitlines() if " " + what + " " in l)
assert "AA 25 D2 04" not in stream("tx")
rx = stream("rx").split()
head = "53 4C 52 4C 06 02 55 20 00 00 00 02".split()
starts = [i for i in range(len(rx)) if rx[i:i + len(head)] == head]
assert starts and all(rx[i + 17:i + 19] == ["00", "00"] for i in starts), starts
PY
run bundle --port "$PTY" --out "$WORK/no-such-folder/support.zip" --password 1234 $D
expect_rc 6 "bundle into a missing folder"

# The archive never writes through a planted link, nor into a FIFO.
echo "keep me" >"$WORK/victim.txt"
ln -s "$WORK/victim.txt" "$WORK/planted.zip.part"
run bundle --port "$PTY" --out "$WORK/planted.zip" --password 1234 $D
expect_rc 0 "bundle beside a planted link"
[ "$(cat "$WORK/victim.txt")" = "keep me" ] || fail "the bundle wrote through a planted link"
[ -f "$WORK/planted.zip" ] && [ ! -L "$WORK/planted.zip" ] || fail "the bundle is not a file of its own"
mkfifo "$WORK/pipe.zip"
run bundle --port "$PTY" --out "$WORK/pipe.zip" --password 1234 $D
expect_rc 6 "bundle onto a FIFO"
[ -p "$WORK/pipe.zip" ] || fail "the bundle replaced a FIFO"
grep -q "not a regular file" "$WORK/err.txt" || fail "the refusal does not say why: $(cat "$WORK/err.txt")"

# The history: one file per distinct configuration read (before the write, after it).
IMEI=$(python3 -c 'import json,sys; print(json.load(open(sys.argv[1]))["imei"])' "$WORK/status.json")
KEPT=$(find "$WORK/data/History/$IMEI" -name '*.fcg' | wc -l)
[ "$KEPT" -eq 2 ] || fail "the history holds $KEPT files instead of 2"
cmp -s "$(find "$WORK/data/History/$IMEI" -name '*.fcg' | sort | head -1)" "$WORK/a.fcg" ||
  fail "the oldest kept configuration is not the one read first"

echo "PASS: the command line over $PTY"
exit 0
