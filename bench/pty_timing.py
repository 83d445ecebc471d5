#!/usr/bin/env python3
"""Times the configurator against the tracker simulator on a pseudo-terminal,
driven through the headless automation mode:

- start to first answer: from the start of the configurator to the tracker's
  identification answer dispatched (the title shows "<port>: RL20Vexa");
- hot-plug to identified: the configurator runs with a declared port that does
  not exist yet; from the moment the port appears (a link to the simulator's
  pseudo-terminal is made) to the tracker identified on it;
- configuration read: from the click on the read button to the second half of
  the record on the pages (a field of that half, changed by hand before, shows
  the tracker's value again);
- configuration write: from the click on the write button to the second block
  received by the tracker (seen in the simulator's trace);

and the floor of each from the frame sizes, the line rate and the quiet gate
the link waits after an answer's last byte. Prints one line of key=value pairs.

usage: pty_timing.py CONFIGURATOR SIMULATOR [RUNS] [--app-arg ARG]... [--sim-arg ARG]...
"""

import os
import select
import statistics
import subprocess
import sys
import tempfile
import threading
import time

READ_DONE = "Конфигурация успешно считана из прибора"
FIELD = "MaxSpeedLevel"  # in the second half of the record
QUIET_GATE_S = 0.05  # 5 link ticks of 10 ms after an answer's last byte
FRAME_OVERHEAD = 11  # magic, direction, length, command, checksums
# The pseudo-terminal and the tracker's USB virtual port do not pace bytes at
# the rate the port is set to; LINE_BAUD sets a rate for the floor's wire time
# (0: none).
LINE_BAUD = int(os.environ.get("LINE_BAUD", "0"))


def wire_seconds(byte_count):
    return byte_count * 10 / LINE_BAUD if LINE_BAUD > 0 else 0.0


APP_ARGS = []
SIM_ARGS = []


class Sim:
    def __init__(self, path):
        self.proc = subprocess.Popen([path, "--pty", "--verbose"] + SIM_ARGS, stdout=subprocess.PIPE,
                                     stderr=subprocess.PIPE, text=True, encoding="utf-8")
        self.pty = self.proc.stdout.readline().strip()
        self.lines = []
        self.lock = threading.Lock()
        threading.Thread(target=self._read, daemon=True).start()

    def _read(self):
        for line in self.proc.stderr:
            with self.lock:
                self.lines.append((time.monotonic(), line.strip()))

    def requests(self, prefix, since):
        with self.lock:
            return [t for t, line in self.lines if t >= since and line.startswith(prefix)]

    def stop(self):
        self.proc.terminate()
        self.proc.wait()


class App:
    def __init__(self, path, pty, folder):
        self.started = time.monotonic()
        self.proc = subprocess.Popen([path, "--headless", "--tracker-port", pty, "--dir", folder] + APP_ARGS,
                                     stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                     stderr=subprocess.DEVNULL, text=True, encoding="utf-8", bufsize=1)

    def ask(self, command, timeout=30):
        self.proc.stdin.write(command + "\n")
        self.proc.stdin.flush()
        ready, _, _ = select.select([self.proc.stdout], [], [], timeout)
        if not ready:
            raise RuntimeError("no answer to: " + command)
        answer = self.proc.stdout.readline().strip()
        return time.monotonic(), answer

    def quit(self):
        try:
            self.ask("quit", 10)
        except (RuntimeError, BrokenPipeError):
            pass
        self.proc.stdin.close()
        self.proc.wait(10)


def expect(answer, command):
    if not answer.startswith("ok"):
        raise RuntimeError(f"{command}: {answer}")
    return answer


def one_run(app_path, sim_path):
    sim = Sim(sim_path)
    folder = tempfile.mkdtemp()
    app = App(app_path, sim.pty, folder)
    try:
        command = f"until ComPortDeviceCaption text {sim.pty}: RL20Vexa 20000"
        t, answer = app.ask(command)
        expect(answer, command)
        first_answer = t - app.started
        # The automatic read on connection, then quiet.
        expect(app.ask(f"until MESLABEL text {READ_DONE} 10000")[1], "automatic read")
        expect(app.ask("wait 600")[1], "wait")
        tracker_value = expect(app.ask(f"get {FIELD}")[1], "get").split(" ", 1)[1]
        changed = "77" if tracker_value != "77" else "78"

        expect(app.ask(f"type {FIELD} {changed}")[1], "type")
        # From the moment the click is sent: with the fast link the exchange
        # may be over before its "ok" is read.
        t0 = time.monotonic()
        _, answer = app.ask("click MImage7")
        expect(answer, "click MImage7")
        t1, answer = app.ask(f"until {FIELD} text {tracker_value} 10000")
        expect(answer, "read back")
        read = t1 - t0
        expect(app.ask("wait 600")[1], "wait")

        expect(app.ask(f"type {FIELD} {changed}")[1], "type")
        expect(app.ask("answer confirm yes")[1], "answer")  # the review of the changes
        before = time.monotonic()
        t0 = before
        _, answer = app.ask("click MImage6")
        expect(answer, "click MImage6")
        deadline = time.monotonic() + 10
        while len(sim.requests("rx cmd=33", before)) < 2 and time.monotonic() < deadline:
            time.sleep(0.002)
        blocks = sim.requests("rx cmd=33", before)
        if len(blocks) < 2:
            raise RuntimeError("the tracker did not receive both blocks of the write")
        write = blocks[1] - t0
    finally:
        app.quit()
        sim.stop()
    return first_answer, read, write, hot_plug(app_path, sim_path)


def hot_plug(app_path, sim_path):
    sim = Sim(sim_path)
    folder = tempfile.mkdtemp()
    port = os.path.join(folder, "tracker")
    app = App(app_path, port, folder)
    try:
        # Started, and searching in vain for a while.
        expect(app.ask("wait 1500")[1], "wait")
        os.symlink(sim.pty, port)
        plugged = time.monotonic()
        command = f"until ComPortDeviceCaption text {port}: RL20Vexa 20000"
        t, answer = app.ask(command)
        expect(answer, command)
        return t - plugged
    finally:
        app.quit()
        sim.stop()


def main():
    if len(sys.argv) < 3:
        print(__doc__.strip().splitlines()[-1], file=sys.stderr)
        return 2
    rest = sys.argv[3:]
    runs = 3
    while rest:
        if rest[0] in ("--app-arg", "--sim-arg") and len(rest) > 1:
            (APP_ARGS if rest[0] == "--app-arg" else SIM_ARGS).append(rest[1])
            rest = rest[2:]
        else:
            runs = int(rest[0])
            rest = rest[1:]
    results = [one_run(sys.argv[1], sys.argv[2]) for _ in range(runs)]
    first = [r[0] for r in results]
    plug = [r[3] for r in results]
    read = [r[1] for r in results]
    write = [r[2] for r in results]
    # Read: request (1 byte) and answer (status, block, length, 512 bytes) twice,
    # each answer taken after the quiet gate.
    read_floor = 2 * (wire_seconds(1 + FRAME_OVERHEAD + 4 + 512 + FRAME_OVERHEAD) + QUIET_GATE_S)
    # Write to the second block at the tracker: both blocks (index, length, 512
    # bytes) sent, the first one's answer (status, block) taken after the gate.
    write_floor = (wire_seconds(2 * (3 + 512 + FRAME_OVERHEAD) + 2 + FRAME_OVERHEAD) + QUIET_GATE_S)

    def ms(values):
        return "/".join(f"{v * 1000:.0f}" for v in values)

    print(f"first_answer_ms={statistics.median(first) * 1000:.0f} first_answer_runs={ms(first)} "
          f"hotplug_ms={statistics.median(plug) * 1000:.0f} hotplug_runs={ms(plug)} "
          f"read_ms={statistics.median(read) * 1000:.0f} read_runs={ms(read)} "
          f"read_floor_ms={read_floor * 1000:.0f} "
          f"write_ms={statistics.median(write) * 1000:.0f} write_runs={ms(write)} "
          f"write_floor_ms={write_floor * 1000:.0f}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
