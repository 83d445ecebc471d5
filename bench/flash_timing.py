#!/usr/bin/env python3
"""Times firmware updates through the command line against tracker simulators
on pseudo-terminals: N simulators in their application, one "flash" command
with a --port for each (restart into the bootloader, the transfer, restart
into the new build), every run checked byte for byte by the simulators' dumps.

Per run it measures:
- the command's time, from its start to its exit;
- each tracker's transfer, from the start command the simulator received to
  the end command it acknowledged (its --verbose trace, timestamped here);
- the command's peak resident memory (getrusage of the child).

Prints one line of key=value pairs: medians over the runs (the transfer is the
slowest tracker's of each run), and the runs themselves.

usage: flash_timing.py CONFIGURATOR SIMULATOR [--trackers N] [--runs R]
                       [--body BYTES] [--app-arg ARG]... [--sim-arg ARG]...
"""

import argparse
import os
import statistics
import subprocess
import sys
import tempfile
import threading
import time

START, END = 16, 21  # the bootloader's start and end commands


class Sim:
    def __init__(self, path, index, folder, extra):
        self.dump = os.path.join(folder, f"flashed{index}.bin")
        self.proc = subprocess.Popen(
            [path, "--pty", "--static", "--verbose", "--imei", f"8660000000{index:05d}", "--dump-flash",
             self.dump] + extra,
            stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        self.pty = self.proc.stdout.readline().strip()
        self.start = None
        self.end = None
        threading.Thread(target=self._read, daemon=True).start()

    def _read(self):
        for line in self.proc.stderr:
            now = time.monotonic()
            if line.startswith(f"rx cmd={START} ") and self.start is None:
                self.start = now
            elif line.startswith(f"tx cmd={END} "):
                self.end = now

    def stop(self):
        self.proc.terminate()
        self.proc.wait(10)


def make_image(folder, body_bytes):
    body = os.urandom(body_bytes)
    header = bytearray(512)
    header[0:4] = b"SLFW"
    header[4], header[5] = 8, 7  # hardware 8, version 7
    header[8:12] = body_bytes.to_bytes(4, "little")
    header[12:16] = (0x12345678).to_bytes(4, "little")
    header[20:25] = bytes([0xEF, 0x07, 0x66, 0x00, 0x03])  # build 2031.0102.03
    path = os.path.join(folder, "image.bin")
    with open(path, "wb") as f:
        f.write(bytes(header) + body)
    return path, body


def one_run(args, folder):
    image, body = make_image(folder, args.body)
    sims = [Sim(args.sim, i, folder, args.sim_arg) for i in range(args.trackers)]
    try:
        command = [args.app, "flash", image, "--dir", os.path.join(folder, "data")] + args.app_arg
        for sim in sims:
            command += ["--port", sim.pty]
        started = time.monotonic()
        proc = subprocess.Popen(command, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                                stderr=subprocess.PIPE)
        _, status, usage = os.wait4(proc.pid, 0)
        took = time.monotonic() - started
        out, err = proc.stdout.read().decode(), proc.stderr.read().decode()
        proc.returncode = os.waitstatus_to_exitcode(status)
        if proc.returncode != 0:
            raise RuntimeError(f"flash exited with {proc.returncode}:\n{out}{err}")
        time.sleep(0.2)  # the trace of the last answers
    finally:
        for sim in sims:
            sim.stop()
    transfers = []
    for sim in sims:
        with open(sim.dump, "rb") as f:
            if f.read() != body:
                raise RuntimeError(f"{sim.pty}: the stored body differs from the image's")
        if sim.start is None or sim.end is None:
            raise RuntimeError(f"{sim.pty}: no start or end in the trace")
        transfers.append(sim.end - sim.start)
    return took, max(transfers), usage.ru_maxrss


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("app")
    parser.add_argument("sim")
    parser.add_argument("--trackers", type=int, default=1)
    parser.add_argument("--runs", type=int, default=3)
    parser.add_argument("--body", type=int, default=262144)
    parser.add_argument("--app-arg", action="append", default=[])
    parser.add_argument("--sim-arg", action="append", default=[])
    args = parser.parse_args()
    results = []
    for _ in range(args.runs):
        with tempfile.TemporaryDirectory() as folder:
            results.append(one_run(args, folder))
    command = [r[0] for r in results]
    transfer = [r[1] for r in results]
    rss = [r[2] for r in results]

    def ms(values):
        return "/".join(f"{v * 1000:.0f}" for v in values)

    print(f"trackers={args.trackers} command_ms={statistics.median(command) * 1000:.0f} "
          f"command_runs={ms(command)} transfer_ms={statistics.median(transfer) * 1000:.0f} "
          f"transfer_runs={ms(transfer)} maxrss_kb={statistics.median(rss):.0f} "
          f"maxrss_runs={'/'.join(str(r) for r in rss)}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
