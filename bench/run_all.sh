#!/usr/bin/env bash
# The speed and footprint figures of the configurator in one run, as one table:
# - idle processor time over SECONDS (utime + stime of /proc/PID/stat) and the
#   resident memory (VmRSS, VmHWM) at its end, searching for a tracker and
#   connected to the demo tracker, headless and with the window on Qt's
#   offscreen platform (the four run side by side: idle, they hardly compete);
# - start to the first painted window (offscreen), median of 5 starts;
# - start to the first answer of the tracker simulator on a pseudo-terminal,
#   a declared port appearing to the tracker identified on it, the
#   configuration read and write, and their floor (bench/pty_timing.py);
# - a 256 KiB firmware image flashed through the command line into one
#   simulator and into 8 at once: the command's time, the transfer (start
#   command to acknowledged end) and the peak memory (bench/flash_timing.py);
# - the same with the fast link (--fast) beside the default, when built with it;
# - the page switches of the window (rlvexa-page-switch-bench);
# - the codec's throughput on 4 KiB blocks (rlvexa-bench);
# - rlvexa-services under load (bench/services_load.py), and its upload rates,
#   latency and idle memory on the data folder and on PostgreSQL
#   (bench/services_pg_load.py).
# Not a test: the figures depend on the machine. About 8 minutes with 30 s.
# Usage: bench/run_all.sh [BUILD_DIR] [SECONDS]
set -euo pipefail
BUILD=${1:-build/default}
SECONDS_WINDOW=${2:-30}
HERE=$(cd "$(dirname "$0")" && pwd)
APP=$BUILD/qt/rlvexa-configurator
SIM=$BUILD/tools/sim/rlvexa-tracker-sim
PAGES=$BUILD/qt/rlvexa-page-switch-bench
CODEC=$BUILD/bench/rlvexa-bench
SERVICES=$BUILD/tools/services/rlvexa-services
for program in "$APP" "$SIM" "$PAGES" "$CODEC" "$SERVICES"; do
  [ -x "$program" ] || {
    echo "build $program first (cmake --build --preset default)" >&2
    exit 2
  }
done
OUT=$(mktemp -d)
trap 'rm -rf "$OUT"' EXIT
# Other programs' load shows in the times (not in the processor times).
load_before=$(cut -d' ' -f1 /proc/loadavg)

echo "idle: 4 runs of ${SECONDS_WINDOW} s side by side..." >&2
bash "$HERE/idle_cpu.sh" "$APP" "$SECONDS_WINDOW" 1 >"$OUT/idle-hs" 2>&1 &
bash "$HERE/idle_cpu.sh" "$APP" "$SECONDS_WINDOW" 1 -- --demo >"$OUT/idle-hc" 2>&1 &
WINDOW=1 bash "$HERE/idle_cpu.sh" "$APP" "$SECONDS_WINDOW" 1 >"$OUT/idle-ws" 2>&1 &
WINDOW=1 bash "$HERE/idle_cpu.sh" "$APP" "$SECONDS_WINDOW" 1 -- --demo >"$OUT/idle-wc" 2>&1 &
wait

echo "first paint, pseudo-terminal, pages, codec..." >&2
python3 - "$APP" >"$OUT/paint" <<'EOF'
import os, statistics, subprocess, sys, tempfile, time
env = dict(os.environ, QT_QPA_PLATFORM="offscreen", RLVEXA_EXIT_AFTER_FIRST_PAINT="1")
times, cpu = [], []
for _ in range(5):
    folder = tempfile.mkdtemp()
    start = time.time()
    out = subprocess.run([sys.argv[1], "--dir", folder], env=env, stdin=subprocess.DEVNULL,
                         capture_output=True, text=True, timeout=30).stdout
    # "first paint: SECONDS processor SECONDS"
    words = [l.split() for l in out.splitlines() if l.startswith("first paint:")]
    if not words:
        sys.exit("no first paint reported")
    times.append((float(words[0][2]) - start) * 1000)
    cpu.append(float(words[0][4]) * 1000)
runs = lambda values: "/".join(f"{v:.0f}" for v in values)
print(f"paint_ms={statistics.median(times):.0f} paint_runs={runs(times)} "
      f"paint_cpu_ms={statistics.median(cpu):.0f} paint_cpu_runs={runs(cpu)}")
EOF
python3 "$HERE/pty_timing.py" "$APP" "$SIM" 3 --sim-arg --no-delay >"$OUT/pty"
echo "flash: one tracker, then 8 at once..." >&2
python3 "$HERE/flash_timing.py" "$APP" "$SIM" --trackers 1 --sim-arg=--no-delay >"$OUT/flash1"
python3 "$HERE/flash_timing.py" "$APP" "$SIM" --trackers 8 --sim-arg=--no-delay >"$OUT/flash8"
FAST=0
if "$APP" --help 2>/dev/null | grep -q -- '--fast'; then
  FAST=1
  echo "fast link: pseudo-terminal and flash..." >&2
  python3 "$HERE/pty_timing.py" "$APP" "$SIM" 3 --app-arg --fast --sim-arg --no-delay >"$OUT/ptyfast"
  python3 "$HERE/flash_timing.py" "$APP" "$SIM" --trackers 1 --app-arg=--fast --sim-arg=--no-delay \
    >"$OUT/flashfast"
fi
QT_QPA_PLATFORM=offscreen "$PAGES" 15 >"$OUT/pages" 2>/dev/null
"$CODEC" --benchmark_filter='BM_Crc16/4096$|BM_Crc8/4096$|BM_ScanFrames' --benchmark_format=csv \
  2>/dev/null >"$OUT/codec"
echo "services under load..." >&2
python3 "$HERE/services_load.py" "$SERVICES" >"$OUT/services" || true  # its lines say what failed
echo "services' uploads on the folder and on PostgreSQL..." >&2
python3 "$HERE/services_pg_load.py" "$SERVICES" >"$OUT/services-pg" || true

idle() { sed -n 's/^median: \([0-9.]*\) .*/\1/p' "$OUT/idle-$1"; }
rss() { sed -n 's/^rss: VmRSS \([0-9]*\) kB, VmHWM \([0-9]*\) kB.*/\1 \2/p' "$OUT/idle-$1"; }
mib() { awk -v k="$1" 'BEGIN {printf "%.1f", k / 1024}'; }
value() { tr ' ' '\n' <"$OUT/$1" | sed -n "s/^$2=//p"; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN {printf "%.2f", a / b}'; }
gbs() { awk -F, -v n="\"$1\"" '$1 == n {printf "%.2f", $6 / 1e9}' "$OUT/codec"; }

date_line=$(date -u '+%Y-%m-%d %H:%M UTC')
echo "RLvexa configurator, $date_line, $(nproc) cores, ${SECONDS_WINDOW} s idle windows," \
  "load average $load_before before, $(cut -d' ' -f1 /proc/loadavg) after"
printf '%-34s %-16s %-16s %s\n' "idle" "headless" "window" "goal"
for mode in searching connected; do
  k=${mode:0:1}
  read -r hr hh <<<"$(rss "h$k")"
  read -r wr wh <<<"$(rss "w$k")"
  goal=""
  [ "$mode" = connected ] && goal="<= 0.2 % / 0.5 %"
  [ "$mode" = searching ] && goal="<= 1 %"
  printf '%-34s %-16s %-16s %s\n' "  CPU $mode (% of a core)" "$(idle "h$k")" "$(idle "w$k")" "$goal"
  printf '%-34s %-16s %-16s\n' "  RSS / peak $mode (MiB)" "$(mib "$hr") / $(mib "$hh")" "$(mib "$wr") / $(mib "$wh")"
done
printf '%-34s %-16s %s\n' "start to first painted window" "$(value paint paint_ms) ms" \
  "<= 120 ms (runs $(value paint paint_runs))"
printf '%-34s %-16s %s\n' "  processor time to it" "$(value paint paint_cpu_ms) ms" \
  "(runs $(value paint paint_cpu_runs))"
printf '%-34s %-16s %s\n' "start to first tracker answer" "$(value pty first_answer_ms) ms" \
  "<= 100 ms (runs $(value pty first_answer_runs))"
printf '%-34s %-16s %s\n' "port appears to tracker identified" "$(value pty hotplug_ms) ms" \
  "<= 150 ms (runs $(value pty hotplug_runs))"
printf '%-34s %-16s %s\n' "configuration read" "$(value pty read_ms) ms" \
  "floor $(value pty read_floor_ms) ms, ratio $(ratio "$(value pty read_ms)" "$(value pty read_floor_ms)") (runs $(value pty read_runs))"
printf '%-34s %-16s %s\n' "configuration write (last block in)" "$(value pty write_ms) ms" \
  "floor $(value pty write_floor_ms) ms, ratio $(ratio "$(value pty write_ms)" "$(value pty write_floor_ms)") (runs $(value pty write_runs))"
printf '%-34s %-16s %s\n' "flash 256 KiB, one tracker" "$(value flash1 command_ms) ms" \
  "transfer $(value flash1 transfer_ms) ms (runs $(value flash1 command_runs))"
printf '%-34s %-16s %s\n' "flash 256 KiB, 8 trackers at once" "$(value flash8 command_ms) ms" \
  "ratio $(ratio "$(value flash8 command_ms)" "$(value flash1 command_ms)") to one, goal <= 1.3 (runs $(value flash8 command_runs))"
printf '%-34s %-16s %s\n' "  memory per extra session" \
  "$(awk -v a="$(value flash8 maxrss_kb)" -v b="$(value flash1 maxrss_kb)" 'BEGIN {printf "%.1f", (a - b) / 7 / 1024}') MiB" \
  "<= 8 MiB (peak $(mib "$(value flash1 maxrss_kb)") MiB with one, $(mib "$(value flash8 maxrss_kb)") MiB with 8)"
if [ "$FAST" = 1 ]; then
  printf '%-34s %-16s %s\n' "fast link: configuration read" "$(value ptyfast read_ms) ms" \
    "default $(value pty read_ms) ms; goal <= 15 ms (runs $(value ptyfast read_runs))"
  printf '%-34s %-16s %s\n' "fast link: configuration write" "$(value ptyfast write_ms) ms" \
    "default $(value pty write_ms) ms; goal <= 10 ms (runs $(value ptyfast write_runs))"
  printf '%-34s %-16s %s\n' "fast link: start to first answer" "$(value ptyfast first_answer_ms) ms" \
    "default $(value pty first_answer_ms) ms (runs $(value ptyfast first_answer_runs))"
  printf '%-34s %-16s %s\n' "fast link: 256 KiB transfer" "$(value flashfast transfer_ms) ms" \
    "default $(value flash1 transfer_ms) ms, $(ratio "$(value flash1 transfer_ms)" "$(value flashfast transfer_ms)")x; goal <= 1500 ms (runs $(value flashfast transfer_runs))"
else
  echo "fast link: not in this build (no --fast)"
fi
sed -n 's/^page \([0-9]\) \([^ ]*\) *median *\([0-9.]*\) ms *max *\([0-9.]*\) ms *processor median *\([0-9.]*\) ms.*/\1 \2 \3 \4 \5/p' \
  "$OUT/pages" | while read -r index name median max cpu; do
  printf '%-34s %-16s %s\n' "page switch $index ($name)" "$median ms" "max $max ms, processor $cpu ms; goal <= 16 ms"
done
for name in BM_Crc16/4096 BM_Crc8/4096 BM_ScanFrames_StatusAnswers BM_ScanFrames_StatusFramesUnshown BM_ScanFrames_Noise; do
  printf '%-34s %-16s %s\n' "codec ${name#BM_}" "$(gbs "$name") GB/s" ">= 1 GB/s"
done
sed -n '2,$p' "$OUT/services"
cat "$OUT/services-pg"
