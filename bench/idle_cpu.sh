#!/usr/bin/env bash
# Processor time of the configurator left alone: by default while it searches
# for a tracker that is not plugged in, headless, standard input kept open;
# utime + stime from /proc/PID/stat over a window of SECONDS, median of RUNS
# runs, in percent of one core, and the resident memory (VmRSS, VmHWM of
# /proc/PID/status) at the end of the window. Goal while searching: at most 1 %.
# Usage: bench/idle_cpu.sh [CONFIGURATOR] [SECONDS] [RUNS] [-- EXTRA ARGUMENTS]
#   EXTRA ARGUMENTS go to the configurator, e.g. "-- --demo" (connected to the
#   demo tracker and polling it). WINDOW=1 runs the window on Qt's offscreen
#   platform instead of the headless mode. TUNNEL=SIMULATOR connects that
#   tracker simulator over TCP to the configurator's remote port instead
#   (opened on page 5), so the figure is idle CPU with a tracker in the tunnel.
set -euo pipefail
APP=${1:-build/default/qt/rlvexa-configurator}
SECONDS_WINDOW=${2:-30}
RUNS=${3:-3}
shift $(($# < 3 ? $# : 3))
[ "${1:-}" = "--" ] && shift
EXTRA=("$@")
MODE=(--headless)
if [ "${WINDOW:-0}" = 1 ]; then
  MODE=()
  export QT_QPA_PLATFORM=offscreen
fi
ticks_per_second=$(getconf CLK_TCK)

cpu_ticks() {
  # Fields 14 and 15 after the command name, which may hold blanks.
  local stat
  stat=$(<"/proc/$1/stat")
  stat=${stat##*) }
  awk '{print $12 + $13}' <<<"$stat"
}

results=()
rss_results=()
for run in $(seq 1 "$RUNS"); do
  dir=$(mktemp -d)
  warmup=3  # start-up is not idle time
  sim_pid=""
  if [ -n "${TUNNEL:-}" ]; then
    port=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
    "$TUNNEL" --connect "127.0.0.1:$port" --static >/dev/null 2>&1 &
    sim_pid=$!
    { printf 'type RconfPort %s\nclick Button1\n' "$port"; sleep $((SECONDS_WINDOW + 20)); } |
      "$APP" "${MODE[@]}" --dir "$dir" "${EXTRA[@]}" >/dev/null 2>&1 &
    pid=$!
    warmup=10  # the tracker connects, is identified and its configuration read
  else
    sleep $((SECONDS_WINDOW + 15)) | "$APP" "${MODE[@]}" --dir "$dir" "${EXTRA[@]}" >/dev/null 2>&1 &
    pid=$!
  fi
  sleep "$warmup"
  start=$(cpu_ticks "$pid")
  sleep "$SECONDS_WINDOW"
  end=$(cpu_ticks "$pid")
  # Resident memory at the end of the window, and its peak.
  rss=$(awk '/^VmRSS:/ {print $2}' "/proc/$pid/status")
  hwm=$(awk '/^VmHWM:/ {print $2}' "/proc/$pid/status")
  kill "$pid" 2>/dev/null || true
  wait "$pid" 2>/dev/null || true
  if [ -n "$sim_pid" ]; then
    kill "$sim_pid" 2>/dev/null || true
    wait "$sim_pid" 2>/dev/null || true
  fi
  rm -rf "$dir"
  percent=$(awk -v t=$((end - start)) -v hz="$ticks_per_second" -v s="$SECONDS_WINDOW" \
    'BEGIN {printf "%.2f", 100 * t / hz / s}')
  echo "run $run: $((end - start)) ticks in ${SECONDS_WINDOW} s = ${percent} % of a core;" \
    "VmRSS $rss kB, VmHWM $hwm kB" >&2
  results+=("$percent")
  rss_results+=("$rss $hwm")
done
printf '%s\n' "${results[@]}" | sort -n | awk '{v[NR] = $1} END {print "median: " v[int((NR + 1) / 2)] " % of a core"}'
printf '%s\n' "${rss_results[@]}" | sort -n | awk '{v[NR] = $1; h[NR] = $2}
  END {m = int((NR + 1) / 2); print "rss: VmRSS " v[m] " kB, VmHWM " h[m] " kB (run of the median VmRSS)"}'
