#!/usr/bin/env bash
# Wake-ups of the real console while a log is open and paused, and then
# stopped: for each thread, the context switches per second (voluntary and
# not) over SECONDS_PER_STATE, from /proc. Paused or stopped, only the clock
# wakes the console, once a second.
#
# Usage: bench/idle_wakeups.sh [BUILD_DIR]   (default: build)   SECONDS_PER_STATE=10
# Needs Xvfb, xdotool, pactl and a PulseAudio server (the null sink is enough).
set -euo pipefail

repo=$(cd "$(dirname "$0")/.." && pwd)
source "$repo/bench/console_env.sh"
bench_start "${1:-}"
seconds=${SECONDS_PER_STATE:-10}
binary=$build/tarnveil
need_program "$binary"

work=$(mktemp -d)
trap clean_up_console_run EXIT
log=$work/minute.wav
sox -n -r 48000 -c 2 -b 16 -e signed-integer -t wav "$log" synth 60 sine 440 vol 0.3

# switches: "TID COMM COUNT" for every thread of the console.
switches() {
    local task
    for task in /proc/"$CONSOLE_PID"/task/*; do
        awk -v tid="${task##*/}" -v comm="$(cat "$task/comm" 2>/dev/null)" \
            '/ctxt_switches/ { n += $2 } END { print tid, comm, n }' "$task/status" 2>/dev/null || true
    done
}
# sample STATE: per-thread wake-ups a second over the next $seconds seconds.
sample() {
    switches >"$work/before"
    sleep "$seconds"
    switches >"$work/after"
    awk -v state="$1" -v s="$seconds" '
        NR == FNR { before[$1] = $3; next }
        ($1 in before) { rate = ($3 - before[$1]) / s; total += rate
                         printf "%-8s %-8s %-16s %8.1f\n", state, $1, $2, rate }
        END { printf "%-8s %-8s %-16s %8.1f\n", state, "all", "-", total }' "$work/before" "$work/after"
}

make_prefix "$work/prefix" "$log"
start_display
start_console "$binary" "$work/prefix" || { echo "idle_wakeups.sh: the console window did not appear" >&2; exit 1; }
play_first_log
sleep 1
printf '%-8s %-8s %-16s %8s\n' state tid thread wakeups_s
xdotool mousemove --window "$CONSOLE_WINDOW" 58 447 click 1 # Pause, under the loudness strip
# The meter's bars take about four seconds to fall and rest.
sleep 5
sample paused
xdotool key --window "$CONSOLE_WINDOW" alt+s
sleep 1
sample stopped
