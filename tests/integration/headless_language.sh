#!/usr/bin/env bash
# The language toggle through the headless automation front end with a
# tracker connected on a pseudo-terminal: after one click on the flag every
# caption, hint and list item named by the shipped language file reads in
# English, after a second click in Russian again, and every value typed or
# selected before the first click reads the same after the second.
#
# usage: headless_language.sh RLVEXA_TRACKER_SIM RLVEXA_CONFIGURATOR LANGUAGE_FILE
set -u

SIM=${1:?usage: headless_language.sh RLVEXA_TRACKER_SIM RLVEXA_CONFIGURATOR LANGUAGE_FILE}
APP=${2:?usage: headless_language.sh RLVEXA_TRACKER_SIM RLVEXA_CONFIGURATOR LANGUAGE_FILE}
LNG=${3:?usage: headless_language.sh RLVEXA_TRACKER_SIM RLVEXA_CONFIGURATOR LANGUAGE_FILE}

SIM_ARGS=""
. "$(dirname "$0")/sim_harness.sh"

# The script and the answers it must give, both built from the shipped file.
python3 - "$LNG" "$PTY" "$WORK/commands.txt" "$WORK/expected.txt" <<'EOF' || fail "cannot build the script"
import re, sys
lng, pty, commands_path, expected_path = sys.argv[1:]
sections = {}
section = None
for line in open(lng, encoding="utf-8"):
    line = line.rstrip("\r\n")
    if not line.strip() or line.lstrip().startswith(";"):
        continue
    m = re.match(r"\s*\[(.+)\]\s*$", line)
    if m:
        section = sections.setdefault(m.group(1).lower(), {})
        continue
    if "=" in line and section is not None:
        key, value = line.split("=", 1)
        value = value.strip()
        if len(value) >= 2 and value[0] == '"' and value[-1] == '"':
            value = value[1:-1]
        section.setdefault(key.strip().lower(), (key.strip(), value))

def lang(value, english):
    q = value.find("//\\")
    if q < 0:
        return value
    return value[q + 4:] if english else value[:q]

def text(sec, key, english):
    return lang(sections[sec.lower()][key.lower()][1], english)

# (command, Russian answer, English answer) for the texts checked.
checks = [
    ("prop Button19 caption", "Strings", "Str131"),
    ("prop Label22 caption", "Strings", "Str9"),
    ("prop RzGroupBox9 caption", "Strings", "Str120"),
    ("prop MODCLEAR caption", "Strings", "Str127"),
    ("prop Label70 caption", "Strings", "Str54"),
    ("prop CalibrateStep0 caption", "Strings", "Str98"),
    ("prop MImage6 hint", "Menu", "Load_config"),
    ("prop CloseImage hint", "Header", "Close"),
]
texts = []
for command, sec, key in checks:
    texts.append((command, text(sec, key, False), text(sec, key, True)))
for sec, prefix, control in [("OpList", "Op", "OPERATOR"), ("Outs", "Out", "OUTTYPE"),
                             ("Device1Type", "Dt", "RS485DEVICE")]:
    count = int(sections[sec.lower()]["count"][1])
    items = lambda english: "|".join(text(sec, prefix + str(i), english) for i in range(count))
    texts.append((f"prop {control} items", items(False), items(True)))
# Readouts of the monitoring page: with the tracker connected they show its
# records, each beginning with a monitoring text of the language shown.
readouts = {"LType": "Str0", "LNumber": "Str1", "LVer": "Str3", "LDateTime": "Str4", "LLat": "Str5",
            "LLon": "Str6", "LSat": "Str10", "LCsq": "Str26"}
prefixes = [(f"prop {name} caption", text("Monitoring", key, False), text("Monitoring", key, True))
            for name, key in readouts.items()]
# Every other caption and hint of the window's own section. The readouts a
# record replaces (the block under their comment) show the tracker's values.
readout_keys = set()
in_readouts = False
for line in open(lng, encoding="utf-8"):
    if line.startswith(";"):
        in_readouts = "readouts" in line
    elif in_readouts and "=" in line:
        readout_keys.add(line.split("=", 1)[0].strip())
for key, value in sections.get("captions", {}).values():
    if key in readout_keys:
        continue
    if "." not in key:
        texts.append((f"prop {key} caption", lang(value, False), lang(value, True)))
    elif key.endswith(".hint"):
        texts.append((f"prop {key[:-5]} hint", lang(value, False), lang(value, True)))

# Values on several pages, typed or selected before the first click.
values = [
    ("type SERVERIP telematics.example.org:21114", "get SERVERIP"),
    ("type UserAPN internet.operator.example.com", "get UserAPN"),
    ("select OPERATOR 5", "prop OPERATOR index"),
    ("select TRACKTYPE 1", "prop TRACKTYPE index"),
    ("type MaxHdop 2,5", "get MaxHdop"),
    ("select RS485DEVICE 2", "prop RS485DEVICE index"),
    ("check CALLSMSFROMALL 0", "prop CALLSMSFROMALL checked"),
    ("setcell MCCMNCGRID 0 1 250", "cell MCCMNCGRID 0 1"),
    ("setcell MCCMNCGRID 1 1 99", "cell MCCMNCGRID 1 1"),
    ("checknode RzCheckTree1 3 1", "prop RzCheckTree1 ticks"),
    ("type RconfPort 12777", "get RconfPort"),
]

commands, expected = [], []
def ask(command, answer):
    commands.append(command)
    expected.append(answer)

ask(f"until ComPortDeviceCaption text {pty}: RL20Vexa 8000", "ok")
ask("wait 1500", "ok")
for command, _ in values:
    ask(command, "ok")
readings = []
for _, reading in values:
    commands.append(reading)
    expected.append(None)  # whatever it is, it must come back
    readings.append(len(expected) - 1)
def ask_all(english):
    for command, ru, en in texts:
        ask(command, "ok " + (en if english else ru))
    for command, ru, en in prefixes:
        ask(command, "PREFIX ok " + (en if english else ru))
ask_all(False)
ask("click LangImage", "ok")
ask_all(True)
ask("prop LangImage index", "ok 1")
ask("click LangImage", "ok")
ask_all(False)
for i, (_, reading) in enumerate(values):
    commands.append(reading)
    expected.append(("same", readings[i]))
ask("quit", "ok")
open(commands_path, "w", encoding="utf-8").write("\n".join(commands) + "\n")
with open(expected_path, "w", encoding="utf-8") as out:
    for e in expected:
        if e is None:
            out.write("ANY\n")
        elif isinstance(e, tuple):
            out.write(f"SAME {e[1]}\n")
        else:
            out.write(e + "\n")
EOF

run_app 60

python3 - "$WORK/commands.txt" "$WORK/expected.txt" "$WORK/answers.txt" <<'EOF' || fail "the answers differ"
import sys
commands = open(sys.argv[1], encoding="utf-8").read().splitlines()
expected = open(sys.argv[2], encoding="utf-8").read().splitlines()
answers = open(sys.argv[3], encoding="utf-8").read().splitlines()
if len(answers) != len(expected):
    sys.exit(f"expected {len(expected)} answers, got {len(answers)}")
bad = 0
for i, (command, want, got) in enumerate(zip(commands, expected, answers)):
    if want == "ANY":
        ok = got.startswith("ok")
    elif want.startswith("PREFIX "):
        want = want[7:]
        ok = got.startswith(want) and len(got) > len(want)
    elif want.startswith("SAME "):
        ok = got == answers[int(want[5:])]
        want = answers[int(want[5:])]
    else:
        ok = got == want
    if not ok:
        bad += 1
        print(f"{command}: expected {want!r}, got {got!r}", file=sys.stderr)
sys.exit(1 if bad else 0)
EOF
echo "PASS: the toggle turns the window's texts English and back, and keeps the values"
exit 0
