#!/usr/bin/env python3
"""Writes a program's man page from its own --help, so the page cannot drift.

Usage: man_from_help.py TEMPLATE OUTPUT PROGRAM

TEMPLATE is roff with the hand-written parts (name, description, files, see
also); the generated parts replace the lines that hold only one of:
  @SYNOPSIS@     the usage lines of `PROGRAM --help`
  @OPTIONS@      its options (and its other paragraphs)
  @COMMANDS@     every command named in its "Commands ...: a, b, c." line,
                 each from `PROGRAM COMMAND --help`
  @EXIT_STATUS@  the "Exit status:" paragraphs: the program's, then every status a
                 command can give (each command's section names its own)
and @VERSION@ anywhere is the program's --version. OUTPUT and OUTPUT.gz
(gzip -9, no name, no time stamp) are written.

The --help layout read: "usage: PROG ..." with continuation lines that start
with "[" after the indent; option lines "  --name [ARG]  text" (ARG is one word
followed by two spaces, or an upper-case word) with deeper-indented
continuation lines (a continuation with a run of spaces inside is kept as a
preformatted line); an unindented line ending in ":" heads the options below
it; other unindented lines are paragraphs, each ending with a line that ends
in "." ("Exit status:" alone on its line heads indented "N meaning" lines);
indented lines before the first option describe a command.
"""

import gzip
import re
import subprocess
import sys

OPTION = re.compile(r"^(\s{1,8})(--?[A-Za-z][\w-]*)(.*)$")


def run(argv):
    done = subprocess.run(argv, capture_output=True, text=True, timeout=60)
    if done.returncode != 0:
        sys.exit(f"{' '.join(argv)} exited with {done.returncode}: {done.stderr.strip()}")
    return done.stdout


def text(s):
    """Roff text: backslashes escaped, a leading-hyphen word's hyphens made minus signs."""
    s = s.replace("\\", "\\e")
    s = re.sub(r"(^|[\s\[(|,\"'=])(-+)(?=[A-Za-z])", lambda m: m.group(1) + "\\-" * len(m.group(2)), s)
    if s.startswith((".", "'")):
        s = "\\&" + s
    return s


def split_option(line):
    """(indent, name, argument, description) of an option line, or None."""
    m = OPTION.match(line)
    if not m:
        return None
    indent, name, rest = len(m.group(1)), m.group(2), m.group(3)
    if rest == "" or rest.startswith("  "):
        return indent, name, "", rest.strip()
    if not rest.startswith(" "):
        return None
    rest = rest[1:]
    for pattern in (r"(\S+)\s{2,}(.*)$", r"(\S+)$", r"([A-Z][A-Z0-9_:,.<>|]*)\s(.*)$"):
        a = re.match(pattern, rest)
        if a:
            return indent, name, a.group(1), (a.group(2) if a.lastindex == 2 else "").strip()
    return indent, name, "", rest.strip()


def parse(help_text):
    """Blocks of a --help text: usage, description lines, options, headings, paragraphs."""
    out = {"usage": [], "about": [], "items": [], "paragraphs": []}
    lines = help_text.rstrip("\n").split("\n")
    i = 0
    option = None  # the open option entry
    paragraph = []
    while i < len(lines):
        line = lines[i]
        i += 1
        if not line.strip():
            option = None
            continue
        if line.startswith("usage: "):
            usage = [line[len("usage: "):].strip()]
            while i < len(lines) and re.match(r"^\s+\[", lines[i]):
                usage.append(lines[i].strip())
                i += 1
            out["usage"].append(" ".join(usage))
            continue
        if re.match(r"^Exit (status|codes?):\s*$", line):
            # The exit codes as a list: one indented "N meaning" line each.
            entries = []
            while i < len(lines) and lines[i][:1].isspace():
                m = re.match(r"^\s+(\d+)\s+(.*)$", lines[i])
                if m:
                    entries.append(f"{m.group(1)} {m.group(2).strip().rstrip('.;,')}")
                elif entries:
                    entries[-1] += " " + lines[i].strip().rstrip(".;,")
                i += 1
            out["paragraphs"].append("Exit status: " + "; ".join(entries) + ".")
            option = None
            continue
        if re.match(r"^Commands\b.*:\s*$", line) and i < len(lines) and re.match(r"^\s+[a-z]", lines[i]):
            # The commands as a list: one indented "name  what it does" line each.
            names = []
            while i < len(lines) and lines[i][:1].isspace():
                if re.match(r"^\s{1,4}[a-z][\w-]*(\s|$)", lines[i]):
                    names.append(lines[i].split()[0])
                i += 1
            out["paragraphs"].append("Commands: " + ", ".join(names) + ".")
            option = None
            continue
        if not line[0].isspace():
            option = None
            if line.endswith(":") and i < len(lines) and OPTION.match(lines[i]):
                out["items"].append(("heading", line[:-1]))
                continue
            paragraph.append(line.strip())
            if line.endswith("."):
                out["paragraphs"].append(" ".join(paragraph))
                paragraph = []
            continue
        parts = split_option(line)
        if parts and (option is None or parts[0] <= option["indent"]):
            option = {"indent": parts[0], "name": parts[1], "arg": parts[2], "lines": [parts[3]] if parts[3] else []}
            out["items"].append(("option", option))
            continue
        if option is not None and len(line) - len(line.lstrip()) > option["indent"]:
            option["lines"].append(line.strip() if not re.search(r"\S\s{2,}\S", line.strip()) else "\0" + line.strip())
            continue
        out["about"].append(line.strip())
    if paragraph:
        out["paragraphs"].append(" ".join(paragraph))
    return out


def option_roff(option):
    name = text(option["name"])
    lines = [".TP", f'.BI {name} " {text(option["arg"])}"' if option["arg"] else f".B {name}"]
    pre = False
    for line in option["lines"]:
        if line.startswith("\0") != pre:
            pre = not pre
            lines.append(".nf" if pre else ".fi")
        lines.append(text(line.lstrip("\0")))
    if pre:
        lines.append(".fi")
    return lines


def items_roff(items):
    lines = []
    for kind, item in items:
        if kind == "heading":
            lines += [".PP", f".B {text(item)}"]
        else:
            lines += option_roff(item)
    return lines


def is_exit(paragraph):
    return re.match(r"Exit (status|codes?):", paragraph) is not None


def exit_entries(paragraph):
    """[(code, meaning)] of "Exit status: 0 a, 1 b; 2 c."."""
    body = paragraph.split(":", 1)[1].strip().rstrip(".")
    parts = re.split(r"[;,]\s+(?=\d+\s)", body)
    entries = []
    for part in parts:
        m = re.match(r"(\d+)\s+(.*)$", part.strip())
        if not m:
            sys.exit(f"cannot read the exit status entry '{part}' in: {paragraph}")
        entries.append((m.group(1), m.group(2)))
    return entries


def exit_roff(paragraph):
    lines = []
    for code, meaning in exit_entries(paragraph):
        lines += [".TP", f".B {code}", text(meaning)]
    return lines


def paragraphs_roff(paragraphs):
    lines = []
    for p in paragraphs:
        if not is_exit(p) and not p.startswith("Commands"):
            lines += [".PP", text(p)]
    return lines


def synopsis_roff(program, usages):
    lines = []
    for usage in usages:
        words = usage.split(" ", 1)
        if lines:
            lines.append(".br")
        lines += [f".B {text(words[0])}", text(re.sub(r"\s+", " ", words[1])) if len(words) > 1 else ""]
    return [line for line in lines if line]


def main():
    if len(sys.argv) != 4:
        sys.exit(__doc__)
    template, output, program = sys.argv[1:]
    version = run([program, "--version"]).strip().split()[-1]
    main_help = parse(run([program, "--help"]))

    commands = []
    for p in main_help["paragraphs"]:
        m = re.match(r"Commands\b[^:]*:\s*(.*?)\.?$", p)
        if m:
            commands = [c.strip() for c in m.group(1).split(",") if c.strip()]
    command_helps = [(c, parse(run([program, c, "--help"]))) for c in commands]

    generated = {
        "@SYNOPSIS@": synopsis_roff(program, main_help["usage"])
        + [line for c, h in command_helps for line in [".br"] + synopsis_roff(program, h["usage"])],
        "@OPTIONS@": items_roff(main_help["items"]) + paragraphs_roff(main_help["paragraphs"]),
        "@COMMANDS@": [],
        "@EXIT_STATUS@": [],
    }
    shared = []  # paragraphs every command repeats, written once
    command_exits = {}  # code -> meaning, over every command
    for command, h in command_helps:
        generated["@COMMANDS@"] += [f".SS {text(command)}"] + synopsis_roff(program, h["usage"])
        if h["about"]:
            generated["@COMMANDS@"] += [".PP", text(" ".join(h["about"]))]
        generated["@COMMANDS@"] += items_roff(h["items"])
        codes = []
        for p in h["paragraphs"]:
            if is_exit(p):
                for code, meaning in exit_entries(p):
                    codes.append(code)
                    if command_exits.setdefault(code, meaning) != meaning:
                        sys.exit(f"{program} {command} --help gives exit status {code} another meaning: {meaning}")
            elif p not in shared:
                shared.append(p)
        if codes:
            # Each command's own exit statuses; their meanings are under EXIT STATUS.
            generated["@COMMANDS@"] += [".PP", text("Exit status: " + ", ".join(codes) + ".")]
    if shared:
        generated["@COMMANDS@"] = paragraphs_roff(shared) + generated["@COMMANDS@"]

    own_exits = [p for p in main_help["paragraphs"] if is_exit(p)]
    for p in own_exits:
        if command_exits:
            generated["@EXIT_STATUS@"] += [".PP", "Without a command:"]
        generated["@EXIT_STATUS@"] += exit_roff(p)
    if command_exits:
        generated["@EXIT_STATUS@"] += [".PP", "A command (each gives only the statuses its section lists):"]
        for code in sorted(command_exits, key=int):
            generated["@EXIT_STATUS@"] += [".TP", f".B {code}", text(command_exits[code])]

    page = []
    with open(template, encoding="utf-8") as f:
        for line in f.read().split("\n"):
            if line.strip() in generated:
                page += generated[line.strip()]
            else:
                page.append(line.replace("@VERSION@", version))
    if not generated["@EXIT_STATUS@"] and "@EXIT_STATUS@" in open(template, encoding="utf-8").read():
        sys.exit(f"{program} --help has no 'Exit status:' paragraph")
    content = "\n".join(page).rstrip("\n") + "\n"
    with open(output, "w", encoding="utf-8") as f:
        f.write(content)
    with open(output + ".gz", "wb") as f:
        f.write(gzip.compress(content.encode("utf-8"), compresslevel=9, mtime=0))


if __name__ == "__main__":
    main()
