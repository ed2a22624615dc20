#!/usr/bin/env bash
# The whole console's load, window included, against mpv and SoX `play` on the
# same file in one run: processor time while playing and while stopped, and
# wake-ups a second while stopped. Optionally a second console binary (an older
# build) is measured interleaved with this one, so before and after come from
# the same run.
#
# Usage: bench/console_load.sh [BUILD_DIR]   (default: build)
#   BEFORE=path/to/tarnveil   an older console binary, measured beside BUILD_DIR's
#   RUNS=5                    rounds; each round measures every player once
#   SECONDS_PER_STATE=20      length of each measurement
#   SKIP_INSTALL=1            do not install the peers
# Needs Xvfb, xdotool, pactl and a PulseAudio server (the null sink is enough).
#
# Processor time is user + system from /proc/PID/stat (all threads, the ended
# ones included) over wall time, in % of one core. Wake-ups are context
# switches of the live threads from /proc/PID/task/*/status, sampled every
# second: "wake/s" is the mean over the whole measurement, "w/o poll" the
# median of the one-second samples. The log list looks at its folder every 5
# seconds, so at most one second in five holds that look: the median leaves it
# out, the mean keeps it. Threads that start and end between two samples (the
# look's own) are not counted by either.
set -euo pipefail

repo=$(cd "$(dirname "$0")/.." && pwd)
source "$repo/bench/console_env.sh"
bench_start "${1:-}"
runs=${RUNS:-5}
seconds=${SECONDS_PER_STATE:-20}
after=$build/tarnveil
before=${BEFORE:-}
need_program "$after"
[[ -z $before || -x $before ]] || { echo "console_load.sh: $before missing" >&2; exit 1; }
need_sound_server

work=$(mktemp -d)
peer=""
trap 'stop_console; [[ -n $peer ]] && kill "$peer" 2>/dev/null; stop_display; rm -rf "$work"' EXIT
# Ten minutes of a sweep over a steady tone: the meter moves all the time.
log=$work/sweep.wav
sox -n -r 48000 -c 2 -b 16 -e signed-integer -t wav "$log" synth 600 sine 200-3000 sine 330 vol 0.4
results=$work/results
ticks=$(getconf CLK_TCK)

cpu_ticks() { awk '{ print $14 + $15 }' "/proc/$1/stat"; }
switches() {
    local total=0 task n
    for task in /proc/"$1"/task/*; do
        n=$(awk '/^voluntary_ctxt_switches/ { n += $2 } END { print n + 0 }' "$task/status" 2>/dev/null || echo 0)
        total=$((total + n))
    done
    echo "$total"
}
# measure PLAYER STATE PID: one line "PLAYER STATE cpu% wake/s median-wake/s".
measure() {
    local name=$1 state=$2 pid=$3 i start end last now samples=()
    start=$(cpu_ticks "$pid")
    local t0=$EPOCHREALTIME
    last=$(switches "$pid")
    for ((i = 0; i < seconds; i++)); do
        sleep 1
        now=$(switches "$pid")
        samples+=($((now - last)))
        last=$now
    done
    end=$(cpu_ticks "$pid")
    local t1=$EPOCHREALTIME
    printf '%s\n' "${samples[@]}" | sort -n | awk -v name="$name" -v state="$state" \
        -v cpu="$((end - start))" -v hz="$ticks" -v t0="$t0" -v t1="$t1" '
        { s[NR] = $1; sum += $1 }
        END { printf "%s %s %.3f %.2f %.1f\n", name, state, 100 * cpu / hz / (t1 - t0), sum / NR, s[int((NR + 1) / 2)] }' \
        >>"$results"
}

console() {
    local name=$1 binary=$2
    make_prefix "$work/prefix" "$log"
    start_console "$binary" "$work/prefix" || { echo "console_load.sh: no window from $binary" >&2; exit 1; }
    sleep 3
    measure "$name" stopped "$CONSOLE_PID"
    play_first_log
    sleep 2
    measure "$name" playing "$CONSOLE_PID"
    stop_console
}
peer_player() {
    local name=$1
    shift
    "$@" >/dev/null 2>&1 &
    peer=$!
    sleep 2
    measure "$name" playing "$peer"
    kill "$peer" 2>/dev/null
    wait "$peer" 2>/dev/null || true
    peer=""
}

start_display
echo "load: $(cut -d' ' -f1-3 /proc/loadavg) at the start" >&2
for ((run = 1; run <= runs; run++)); do
    echo "round $run of $runs ..." >&2
    [[ -n $before ]] && console console-before "$before"
    console console "$after"
    peer_player mpv mpv --no-config --really-quiet --no-video --ao=pulse "$log"
    peer_player sox-play env AUDIODRIVER=pulseaudio play -q "$log"
done
echo "load: $(cut -d' ' -f1-3 /proc/loadavg) at the end" >&2

printf '%-16s %-8s %8s %8s %9s   (medians of %d runs of %d s)\n' player state 'cpu_%' 'wake/s' 'w/o_poll' "$runs" "$seconds"
sort -k1,1 -k2,2 "$results" | awk '
    function median(list,   n, a, i, j, t) {
        n = split(list, a, " ")
        for (i = 1; i <= n; i++) for (j = i + 1; j <= n; j++) if (a[j] < a[i]) { t = a[i]; a[i] = a[j]; a[j] = t }
        return n % 2 ? a[(n + 1) / 2] : (a[n / 2] + a[n / 2 + 1]) / 2
    }
    { key = $1 " " $2; order[key] = ++seen[key] == 1 ? ++keys : order[key]; names[order[key]] = key
      cpu[key] = cpu[key] " " $3; wake[key] = wake[key] " " $4; quiet[key] = quiet[key] " " $5 }
    END { for (k = 1; k <= keys; k++) { key = names[k]; split(key, p, " ")
          printf "%-16s %-8s %8.2f %8.1f %9.1f\n", p[1], p[2], median(cpu[key]), median(wake[key]), median(quiet[key]) } }'
