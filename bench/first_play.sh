#!/usr/bin/env bash
# The first Play of a session: the console started afresh, its window shown,
# a log picked a second later as an operator would, then Alt+P, to the first
# loud sample at the sound server; then Stop and a second Alt+P for comparison.
# Each round also times the start until the window is visible, and starts SoX
# `play` and mpv on the same log (process start to first sample), so the peers
# come from the same run. BEFORE names an older console binary to measure
# interleaved with this one.
#
# Usage: bench/first_play.sh [BUILD_DIR]   (default: build)   RUNS=7  BEFORE=path
# Needs Xvfb, xdotool, pactl, parec, python3, sox, mpv.
set -euo pipefail

repo=$(cd "$(dirname "$0")/.." && pwd)
source "$repo/bench/console_env.sh"
bench_start "${1:-}"
runs=${RUNS:-7}
after=$build/tarnveil
before=${BEFORE:-}
need_program "$after"
need_sound_server

work=$(mktemp -d)
trap clean_up_console_run EXIT

log=$work/tone.wav
sox -n -r 48000 -c 2 -b 16 -e signed-integer -t wav "$log" synth 30 sine 1000 vol 0.5

start_ear "$work"

results=$work/results
# record NAME T0: the first onset after T0 (waiting up to 3 s), in ms after T0.
record() {
    local name=$1 t0=$2 at
    at=$(onset_after "$t0")
    if [[ -n $at ]]; then
        echo "$name $(((at - t0) / 1000))" >>"$results"
    else
        echo "$name miss" >>"$results"
    fi
}

console() {
    local name=$1 binary=$2 t0
    make_prefix "$work/prefix" "$log"
    t0=$(date +%s%N)
    start_console "$binary" "$work/prefix" || { echo "first_play.sh: no window from $binary" >&2; exit 1; }
    echo "$name:window $((($(date +%s%N) - t0) / 1000))" >>"$results"
    sleep 1
    xdotool windowfocus "$CONSOLE_WINDOW" 2>/dev/null || true
    xdotool mousemove --window "$CONSOLE_WINDOW" 60 105 click 1
    sleep 0.3
    t0=$(date +%s%N)
    xdotool key --window "$CONSOLE_WINDOW" alt+p
    record "$name:first-play" "$t0"
    sleep 0.5
    xdotool key --window "$CONSOLE_WINDOW" alt+s
    sleep 0.5
    t0=$(date +%s%N)
    xdotool key --window "$CONSOLE_WINDOW" alt+p
    record "$name:later-play" "$t0"
    stop_console
    sleep 0.5
}
peer() { # NAME COMMAND...: started on the log, stopped once it sounds
    local name=$1 t0 pid
    shift
    t0=$(date +%s%N)
    "$@" >/dev/null 2>&1 &
    pid=$!
    record "$name" "$t0"
    kill "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
    sleep 0.5
}

start_display
echo "load: $(cut -d' ' -f1-3 /proc/loadavg) at the start" >&2
for ((run = 1; run <= runs; run++)); do
    echo "round $run of $runs ..." >&2
    [[ -n $before ]] && console console-before "$before"
    console console "$after"
    peer sox-play env AUDIODRIVER=pulseaudio play -q "$log"
    peer mpv mpv --no-config --really-quiet --no-video --ao=pulse "$log"
done
echo "load: $(cut -d' ' -f1-3 /proc/loadavg) at the end" >&2

awk '
function median(list, n,    s, i, j, t) {
    for (i = 1; i <= n; i++) s[i] = list[i]
    for (i = 2; i <= n; i++) for (j = i; j > 1 && s[j - 1] > s[j]; j--) { t = s[j]; s[j] = s[j - 1]; s[j - 1] = t }
    return n % 2 ? s[(n + 1) / 2] : (s[n / 2] + s[n / 2 + 1]) / 2
}
{
    if (!($1 in n)) { order[++names] = $1; n[$1] = 0; missed[$1] = 0 }
    if ($2 == "miss") { missed[$1]++; next }
    n[$1]++; value[$1, n[$1]] = $2 / 1000
}
END {
    printf "%-26s %5s %7s %10s\n", "what", "runs", "missed", "median_ms"
    for (k = 1; k <= names; k++) {
        a = order[k]; delete l
        for (i = 1; i <= n[a]; i++) l[i] = value[a, i]
        if (n[a]) printf "%-26s %5d %7d %10.1f\n", a, n[a], missed[a], median(l, n[a])
        else printf "%-26s %5d %7d %10s\n", a, 0, missed[a], "-"
    }
}' "$results"
