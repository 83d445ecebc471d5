#!/usr/bin/env python3
"""Upload figures of rlvexa-services on loopback, on the data folder and on a
PostgreSQL database (a cluster of the benchmark's own, started with initdb and
pg_ctl in a temporary folder, default durability: every confirmed upload is
flushed to its disk):

- flat out: 200 concurrent clients (16 addresses of 127.0.0.0/8, 200 IMEIs),
  each uploading a 1046-byte configuration, waiting for "EndTransfer" and
  starting the next at once; uploads per second and the 99th percentile of
  the upload time, for the folder, the database through one server, and the
  database through two servers (the clients alternating);
- offered evenly: uploads started at a fixed rate (1000/s on the folder, 500/s
  on the database), at most 200 at once; the 99th percentile of the time from
  each upload's planned start to its confirmation (so waiting for a free
  client or in the accept queue counts);
- memory: VmRSS of one server (on the database) holding 1,000 idle
  connections, and its growth above idle.

Median of 3 runs each. Bounded: about 3,000 uploads a run, at most 60 s each.
Not a test: the figures depend on the machine. About 2 minutes.
Usage: bench/services_pg_load.py [RLVEXA_SERVICES]
"""
import asyncio
import collections
import glob
import os
import shutil
import socket
import statistics
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import services_load  # noqa: E402  (its launch of the server)

SERVICES = sys.argv[1] if len(sys.argv) > 1 else "build/default/tools/services/rlvexa-services"
CLIENTS = 200
ADDRESSES = 16
BODY = bytes(range(256)) * 4 + b"x" * 22  # 1046 bytes, as a configuration file
FLAT_UPLOADS = 3000
OFFERED_SECONDS = 3
RUN_LIMIT = 60
REASONS = collections.Counter()  # why uploads failed


def as_user(argv):
    """PostgreSQL refuses to run as root: as root, run it as nobody."""
    return ["runuser", "-u", "nobody", "--"] + argv if os.getuid() == 0 else argv


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


class Postgres:
    def __init__(self):
        bins = sorted(glob.glob("/usr/lib/postgresql/*/bin"), key=lambda p: [int(x) for x in p.split("/")[-2].split(".")])
        if not bins:
            sys.exit("PostgreSQL is missing (scripts/install-deps.sh installs postgresql)")
        self.bin = bins[-1]
        self.dir = tempfile.mkdtemp(prefix="rlvexa-bench-pg.")
        if os.getuid() == 0:
            shutil.chown(self.dir, "nobody")
        self.port = free_port()
        subprocess.run(as_user([self.bin + "/initdb", "-D", self.dir + "/data", "-U", "rlvexa", "-A", "trust",
                                "-E", "UTF8"]), check=True, capture_output=True)
        subprocess.run(as_user([self.bin + "/pg_ctl", "-D", self.dir + "/data", "-l", self.dir + "/log", "-w",
                                "-o", "-p %d -k %s -c listen_addresses=127.0.0.1" % (self.port, self.dir),
                                "start"]), check=True, capture_output=True)
        self.url = "postgresql://rlvexa@127.0.0.1:%d/postgres" % self.port

    def reset(self):
        subprocess.run([self.bin + "/psql", "-q", "-d", self.url, "-c",
                        "DROP SCHEMA public CASCADE; CREATE SCHEMA public"], check=True, capture_output=True)

    def stop(self):
        subprocess.run(as_user([self.bin + "/pg_ctl", "-D", self.dir + "/data", "-m", "fast", "-w", "stop"]),
                       capture_output=True)
        shutil.rmtree(self.dir, ignore_errors=True)


def start(store, log, extra=()):
    server, ports = services_load.launch(SERVICES, ["--store", store], log, extra)
    return server, ports["store"]


def stop(servers):
    for server in servers:
        server.terminate()
    for server in servers:
        server.wait(timeout=20)


rss_kib = services_load.rss_kib


async def upload(port, index):
    reader, writer = await asyncio.open_connection("127.0.0.1", port,
                                                   local_addr=("127.0.0.%d" % (1 + index % ADDRESSES), 0))
    try:
        imei = b"86600000%07d" % (index % CLIENTS)
        writer.write(b"file#%s#%d#" % (imei, len(BODY)) + BODY)
        answer = await reader.read(100)
        return b"EndTransfer" in answer
    finally:
        writer.close()


async def flat_out(ports):
    """(uploads per second, p99 in ms, failures): 200 clients back to back."""
    loop = asyncio.get_running_loop()
    latencies, failures, next_index = [], [0], [0]

    async def client():
        while next_index[0] < FLAT_UPLOADS:
            index = next_index[0]
            next_index[0] += 1
            await timed_upload(ports, index, loop.time(), latencies, failures)

    t0 = loop.time()
    await asyncio.wait_for(asyncio.gather(*(client() for _ in range(CLIENTS))), RUN_LIMIT)
    elapsed = loop.time() - t0
    return len(latencies) / elapsed, percentile(latencies, 99) * 1000, failures[0]


async def timed_upload(ports, index, since, latencies, failures):
    """One upload; its time from `since` joins `latencies`, or it counts as a failure."""
    try:
        ok = await upload(ports[index % len(ports)], index)
    except OSError as e:
        REASONS[str(e)] += 1
        ok = False
    if ok:
        latencies.append(asyncio.get_running_loop().time() - since)
    else:
        failures[0] += 1


async def offered(ports, rate):
    """(p99 in ms, failures, uploads per second achieved) at `rate` uploads a second, evenly."""
    loop = asyncio.get_running_loop()
    count = rate * OFFERED_SECONDS
    slots = asyncio.Semaphore(CLIENTS)
    latencies, failures = [], [0]
    t0 = loop.time() + 0.1

    async def one(index):
        planned = t0 + index / rate
        await asyncio.sleep(max(0.0, planned - loop.time()))
        async with slots:
            await timed_upload(ports, index, planned, latencies, failures)

    await asyncio.wait_for(asyncio.gather(*(one(i) for i in range(count))), RUN_LIMIT)
    elapsed = loop.time() - t0
    return percentile(latencies, 99) * 1000, failures[0], len(latencies) / elapsed


def percentile(values, p):
    if not values:
        return float("nan")
    values = sorted(values)
    return values[min(len(values) - 1, int(len(values) * p / 100))]


def idle_memory(store, log):
    """(VmRSS in MiB, growth above idle in MiB) with 1,000 idle connections."""
    server, port = start(store, log, ["--max-connections", "1100", "--max-per-peer", "1100", "--idle", "120"])
    try:
        time.sleep(0.5)
        idle = rss_kib(server.pid)
        held = []
        for i in range(1000):
            s = socket.socket()
            s.bind(("127.0.0.%d" % (1 + i % ADDRESSES), 0))
            s.connect(("127.0.0.1", port))
            held.append(s)
        time.sleep(1.0)
        loaded = rss_kib(server.pid)
        for s in held:
            s.close()
        return loaded / 1024, (loaded - idle) / 1024
    finally:
        stop([server])


def main():
    if not os.access(SERVICES, os.X_OK):
        sys.exit("build %s first (cmake --build --preset default --target rlvexa-services)" % SERVICES)
    import resource
    soft, hard = resource.getrlimit(resource.RLIMIT_NOFILE)
    resource.setrlimit(resource.RLIMIT_NOFILE, (min(hard, 8192), hard))
    folder = tempfile.mkdtemp(prefix="rlvexa-bench.")
    pg = Postgres()
    results = {}
    try:
        data = os.path.join(folder, "data")
        os.makedirs(data)
        log = open(os.path.join(folder, "services.log"), "w")
        cases = [("folder", data, 1, 1000), ("database, one server", pg.url, 1, 500),
                 ("database, two servers", pg.url, 2, 500)]
        for name, store, count, rate in cases:
            print("%s: 3 runs flat out, 3 at %d/s..." % (name, rate), file=sys.stderr)
            flat, even = [], []
            for _ in range(3):
                if store == pg.url:
                    pg.reset()
                started = [start(store, log) for _ in range(count)]
                try:
                    ports = [port for _, port in started]
                    flat.append(asyncio.run(flat_out(ports)))
                    even.append(asyncio.run(offered(ports, rate)))
                finally:
                    stop([server for server, _ in started])
            results[name] = (flat, even, rate)
        print("memory: 3 runs...", file=sys.stderr)
        results["memory"] = [idle_memory(pg.url, log) for _ in range(3)]
    finally:
        pg.stop()
        shutil.rmtree(folder, ignore_errors=True)

    runs = lambda values, form: "/".join(form % v for v in values)
    print("rlvexa-services uploads, %s, %d cores, load average %.1f" %
          (time.strftime("%Y-%m-%d %H:%M UTC", time.gmtime()), os.cpu_count(), os.getloadavg()[0]))
    failed = False
    for name in ("folder", "database, one server", "database, two servers"):
        flat, even, rate = results[name]
        goal = 1000 if name == "folder" else 500
        rates = [f[0] for f in flat]
        p99s = [f[1] for f in flat]
        even_p99 = [e[0] for e in even]
        failures = sum(f[2] for f in flat) + sum(e[1] for e in even)
        failed = failed or failures > 0
        print("%-24s flat out %6.0f uploads/s (runs %s; goal >= %d), p99 %.0f ms (runs %s)" %
              (name, statistics.median(rates), runs(rates, "%.0f"), goal, statistics.median(p99s),
               runs(p99s, "%.0f")))
        print("%-24s at %d/s   p99 %.0f ms (runs %s; goal <= 100 ms), achieved %s/s, failures %d" %
              ("", rate, statistics.median(even_p99), runs(even_p99, "%.0f"), runs([e[2] for e in even], "%.0f"),
               failures))
    if REASONS:
        print("failures: " + "; ".join("%d %s" % (n, why) for why, n in REASONS.most_common(5)))
    memory = results["memory"]
    print("%-24s %.1f MiB VmRSS (runs %s; goal <= 64 MiB), %.1f MiB above idle" %
          ("1,000 idle connections", statistics.median(m[0] for m in memory), runs([m[0] for m in memory], "%.1f"),
           statistics.median(m[1] for m in memory)))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
