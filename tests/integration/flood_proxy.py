#!/usr/bin/env python3
"""A pseudo-terminal between the configurator and a simulated tracker that
floods the configurator's side with noise for a while.

Prints the path of the configurator's side on its first line. Bytes pass
unchanged both ways. Once the tracker has answered its first identify, the
proxy waits --delay seconds, then for --seconds sends --size random bytes every
--every milliseconds towards the configurator (what the line cannot take is
dropped), then goes quiet and prints "flood over" on standard error.
"""
import argparse
import os
import pty
import select
import sys
import time
import tty


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("tracker", help="the simulator's pseudo-terminal")
    ap.add_argument("--delay", type=float, default=1.0)
    ap.add_argument("--seconds", type=float, default=5.0)
    ap.add_argument("--every", type=float, default=4.0, help="milliseconds")
    ap.add_argument("--size", type=int, default=4096)
    ap.add_argument("--limit", type=float, default=600.0, help="seconds before the proxy ends by itself")
    args = ap.parse_args()

    master, slave = pty.openpty()
    tty.setraw(slave)
    os.set_blocking(master, False)
    print(os.ttyname(slave), flush=True)
    tracker = os.open(args.tracker, os.O_RDWR | os.O_NOCTTY | os.O_NONBLOCK)
    tty.setraw(tracker)

    start = time.monotonic()
    flood_from = None
    flood_until = None
    next_burst = 0.0
    sent = dropped = 0
    announced = False
    while time.monotonic() - start < args.limit:
        now = time.monotonic()
        timeout = 0.05
        if flood_from is not None and now < flood_until:
            timeout = max(0.0, min(timeout, next_burst - now))
        ready, _, _ = select.select([master, tracker], [], [], timeout)
        if master in ready:
            try:
                data = os.read(master, 65536)
                if data:
                    os.write(tracker, data)
            except (BlockingIOError, OSError):
                pass
        if tracker in ready:
            try:
                data = os.read(tracker, 65536)
            except (BlockingIOError, OSError):
                data = b""
            if data:
                if flood_from is None and b"SLRL" in data:
                    flood_from = time.monotonic() + args.delay
                    flood_until = flood_from + args.seconds
                    next_burst = flood_from
                try:
                    os.write(master, data)
                except BlockingIOError:
                    pass
        now = time.monotonic()
        if flood_from is not None and flood_from <= now < flood_until and now >= next_burst:
            burst = os.urandom(args.size)
            try:
                sent += os.write(master, burst)
            except BlockingIOError:
                dropped += len(burst)
            next_burst += args.every / 1000.0
            if next_burst < now:
                next_burst = now
        if flood_until is not None and now >= flood_until and not announced:
            announced = True
            print(f"flood over: {sent} bytes taken, {dropped} dropped", file=sys.stderr, flush=True)


if __name__ == "__main__":
    main()
