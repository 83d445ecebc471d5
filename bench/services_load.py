#!/usr/bin/env python3
"""The load figures of rlvexa-services on loopback, with its default options:

- memory: VmRSS above idle under 200 requests for a 1 MiB build that are
  never read, sent at once on one connection, and sent by 200 clients (8
  addresses of 127.0.0.0/8) one each (goal: under 32 MiB);
- 500 concurrent clients (10 addresses), each fetching the 1 MiB build
  (header, the 200 ms pause, the file, "EndTransfer"): time until the last
  one is done;
- a 16 MiB build read at 300 KB/s by three clients at once: whether each got
  the whole file, and in how long (the idle limit is 30 s).

Median of 3 runs each (the three slow readers are the three runs of the
last figure). Not a test: the figures depend on the machine. About 75 s.
Usage: bench/services_load.py [RLVEXA_SERVICES]
"""
import os
import selectors
import shutil
import socket
import statistics
import subprocess
import sys
import tempfile
import threading
import time

SERVICES = sys.argv[1] if len(sys.argv) > 1 else "build/default/tools/services/rlvexa-services"
CONF = "ConfiguratorRLvexa_v1.4.10.0.exe"  # 1 MiB
FW = "fw5_2031.0102.03.bin"  # 16 MiB


def launch(services, where, log, extra=()):
    """Starts rlvexa-services on loopback on free ports; (process, {"store": port, "update": port})."""
    server = subprocess.Popen([services] + list(where) + ["--listen", "127.0.0.1", "--store-port", "0",
                                                          "--update-port", "0"] + list(extra),
                              stdout=subprocess.PIPE, stderr=log, text=True)
    ports = {}
    while len(ports) < 2:
        line = server.stdout.readline()
        if not line:
            sys.exit("rlvexa-services did not start")
        words = line.split()
        ports[words[0]] = int(words[2])
    return server, ports


def start(data, log):
    server, ports = launch(SERVICES, ["--data", data], log)
    return server, ports["update"]


def stop(server):
    server.terminate()
    server.wait(timeout=10)


def rss_kib(pid):
    with open("/proc/%d/status" % pid) as status:
        for line in status:
            if line.startswith("VmRSS:"):
                return int(line.split()[1])
    return 0


def connect(port, index, addresses):
    s = socket.socket()
    s.bind(("127.0.0.%d" % (1 + index % addresses), 0))
    s.connect(("127.0.0.1", port))
    return s


def memory_run(data, log, pipelined):
    """VmRSS above idle, in MiB, under 200 unread requests for the 1 MiB build:
    all sent at once on one connection, or one each on 200 connections."""
    server, port = start(data, log)
    try:
        time.sleep(0.5)
        idle = rss_kib(server.pid)
        request = b"GetFile=" + CONF.encode() + b"#"
        if pipelined:
            clients = [connect(port, 0, 1)]
            clients[0].sendall(request * 200)
        else:
            clients = [connect(port, i, 8) for i in range(200)]
            for s in clients:
                s.sendall(request)
        time.sleep(2)  # the pause, then the files as far as the sockets take them
        loaded = rss_kib(server.pid)
        for s in clients:
            s.close()
        return (loaded - idle) / 1024, idle / 1024
    finally:
        stop(server)


def concurrent_run(data, log, clients=500):
    size = os.path.getsize(os.path.join(data, "configurator", CONF))
    server, port = start(data, log)
    try:
        time.sleep(0.3)
        selector = selectors.DefaultSelector()
        start_time = time.monotonic()
        state = {}
        for i in range(clients):
            s = connect(port, i, 10)
            s.setblocking(False)
            s.send(b"GetFile=" + CONF.encode() + b"#")
            state[s] = 0
            selector.register(s, selectors.EVENT_READ)
        header = len(b"file#configurator\\%s#%d#" % (CONF.encode(), size))
        done = 0
        deadline = start_time + 120
        while done < clients and time.monotonic() < deadline:
            for key, _ in selector.select(timeout=1):
                s = key.fileobj
                try:
                    piece = s.recv(262144)
                except (BlockingIOError, InterruptedError):
                    continue
                if not piece:
                    selector.unregister(s)
                    s.close()
                    continue
                state[s] += len(piece)
                if state[s] == header + size:
                    s.send(b"EndTransfer")
                    selector.unregister(s)
                    s.close()
                    done += 1
        elapsed = time.monotonic() - start_time
        for s in list(state):
            s.close()
        return elapsed, done
    finally:
        stop(server)


def slow_reader(port, size, rate, result, index):
    s = socket.create_connection(("127.0.0.1", port))
    start_time = time.monotonic()
    s.sendall(b"GetFile=" + FW.encode() + b"#")
    want = len(b"file#firmware\\type-8\\%s#%d#" % (FW.encode(), size)) + size
    got, step = 0, 0.1
    while got < want:
        piece = s.recv(int(rate * step))
        if not piece:
            break
        got += len(piece)
        # Paced by the clock: rate bytes a second on average.
        ahead = got / rate - (time.monotonic() - start_time)
        if ahead > 0:
            time.sleep(ahead)
    if got == want:
        s.sendall(b"EndTransfer")
    s.close()
    result[index] = (time.monotonic() - start_time, got == want, got)


def slow_runs(data, log, rate=300000):
    size = os.path.getsize(os.path.join(data, "firmware", "type-8", FW))
    server, port = start(data, log)
    try:
        result = [None] * 3
        threads = [threading.Thread(target=slow_reader, args=(port, size, rate, result, i)) for i in range(3)]
        for t in threads:
            t.start()
        for t in threads:
            t.join()
        return result
    finally:
        stop(server)


def main():
    if not os.access(SERVICES, os.X_OK):
        sys.exit("build %s first (cmake --build --preset default --target rlvexa-services)" % SERVICES)
    folder = tempfile.mkdtemp()
    try:
        data = os.path.join(folder, "data")
        os.makedirs(os.path.join(data, "configurator"))
        os.makedirs(os.path.join(data, "firmware", "type-8"))
        with open(os.path.join(data, "configurator", CONF), "wb") as f:
            f.write(os.urandom(1 << 20))
        with open(os.path.join(data, "firmware", "type-8", FW), "wb") as f:
            f.write(os.urandom(16 << 20))
        log = open(os.path.join(folder, "services.log"), "w")
        print("memory: 3 runs of each...", file=sys.stderr)
        pipelined = [memory_run(data, log, True) for _ in range(3)]
        memory = [memory_run(data, log, False) for _ in range(3)]
        print("500 concurrent clients: 3 runs...", file=sys.stderr)
        concurrent = [concurrent_run(data, log) for _ in range(3)]
        print("16 MiB at 300 KB/s: 3 readers at once, about a minute...", file=sys.stderr)
        slow = slow_runs(data, log)
    finally:
        shutil.rmtree(folder, ignore_errors=True)

    runs = lambda values, form: "/".join(form % v for v in values)
    grown = [m[0] for m in memory]
    grown_pipelined = [m[0] for m in pipelined]
    times = [c[0] for c in concurrent]
    served = [c[1] for c in concurrent]
    slow_times = [s[0] for s in slow]
    print("rlvexa-services, %s, %d cores, load average %s" %
          (time.strftime("%Y-%m-%d %H:%M UTC", time.gmtime()), os.cpu_count(), os.getloadavg()[0]))
    print("%-44s %-14s %s" % ("memory, 200 unread GetFile of a 1 MiB build",
                              "%.1f MiB" % statistics.median(grown_pipelined),
                              "above idle (%.1f MiB), all on one connection; goal < 32 MiB (runs %s)" %
                              (statistics.median(m[1] for m in pipelined), runs(grown_pipelined, "%.1f"))))
    print("%-44s %-14s %s" % ("  the same on 200 connections", "%.1f MiB" % statistics.median(grown),
                              "goal < 32 MiB (runs %s)" % runs(grown, "%.1f")))
    print("%-44s %-14s %s" % ("500 concurrent clients, 1 MiB each", "%.2f s" % statistics.median(times),
                              "served %s of 500 (runs %s)" % (runs(served, "%d"), runs(times, "%.2f"))))
    print("%-44s %-14s %s" % ("16 MiB read at 300 KB/s", "%.1f s" % statistics.median(slow_times),
                              "complete %s (runs %s)" % ("/".join("yes" if s[1] else "no, %d bytes" % s[2]
                                                                  for s in slow), runs(slow_times, "%.1f"))))
    return 0 if all(s[1] for s in slow) and all(n == 500 for n in served) else 1


if __name__ == "__main__":
    sys.exit(main())
