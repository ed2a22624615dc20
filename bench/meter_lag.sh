#!/usr/bin/env bash
# The level meter against the sound after a seek and after Resume: when the
# meter first reads loud, less when the first loud sample reaches the sound
# server (bench/meter_lag_probe.cpp), as medians. With a second build folder
# (an older build, say), both probes run alternately in the same run.
#
# Usage: bench/meter_lag.sh [BUILD_DIR] [PEER_BUILD_DIR]   (default: build)
#   ROUNDS=5   probe runs per build; each makes RUNS seeks and RUNS Resumes
#   RUNS=4
#   POLL_MS="1 25"  how often the meter is read: 1 shows the engine's own
#                   timing, 25 the console's meter timer
# Needs a PulseAudio server and parec. Plays to a null sink of its own, so
# that other sound on the server does not reach the capture.
set -euo pipefail

repo=$(cd "$(dirname "$0")/.." && pwd)
absolute() { case $1 in /*) echo "$1" ;; *) echo "$repo/$1" ;; esac; }
builds=("$(absolute "${1:-build}")")
[[ -n ${2:-} ]] && builds+=("$(absolute "$2")")
rounds=${ROUNDS:-5}
runs=${RUNS:-4}
polls=${POLL_MS:-1 25}
for build in "${builds[@]}"; do
    [[ -x $build/bench/meter_lag_probe ]] || { echo "meter_lag.sh: $build/bench/meter_lag_probe missing" >&2; exit 1; }
done
pactl info >/dev/null 2>&1 || { echo "meter_lag.sh: no PulseAudio server answers" >&2; exit 1; }

export PULSE_SINK=tarnveil_meter_$$
module=$(pactl load-module module-null-sink sink_name="$PULSE_SINK")
results=$(mktemp)
trap 'pactl unload-module "$module" 2>/dev/null || true; rm -f "$results"' EXIT

uptime
for ((round = 0; round < rounds; round++)); do
    for poll in $polls; do
        for build in "${builds[@]}"; do
            "$build/bench/meter_lag_probe" "$PULSE_SINK.monitor" "$runs" "$poll" |
                awk -v build="$build" -v poll="$poll" '$2 == "meter_minus_sound_ms" || $2 == "miss" {
                    print build, poll, $0 }' >>"$results" || true
        done
    done
done
uptime

awk '
function median(list, n,    i, j, t) {
    for (i = 2; i <= n; i++) for (j = i; j > 1 && list[j - 1] > list[j]; j--) { t = list[j]; list[j] = list[j - 1]; list[j - 1] = t }
    return n % 2 ? list[(n + 1) / 2] : (list[n / 2] + list[n / 2 + 1]) / 2
}
{
    key = $1 " " $2 " " $3
    if (!(key in n)) { order[++keys] = key; n[key] = 0; missed[key] = 0 }
    if ($4 == "miss") { missed[key]++; next }
    n[key]++; lag[key, n[key]] = $5; late[key, n[key]] = $7
}
END {
    printf "%-50s %5s %4s %6s %18s %14s %20s\n", "build", "poll", "case", "runs", "meter-sound med", "min..max", "sound after action"
    for (k = 1; k <= keys; k++) {
        key = order[k]; split(key, part, " ")
        delete a; delete b; lo = 1e9; hi = -1e9
        for (i = 1; i <= n[key]; i++) {
            a[i] = lag[key, i]; b[i] = late[key, i]
            if (a[i] < lo) lo = a[i]; if (a[i] > hi) hi = a[i]
        }
        printf "%-50s %5s %6s %4d/%-2d %14.1f ms %6.1f..%-6.1f %16.1f ms\n", part[1], part[2], part[3], n[key],
            n[key] + missed[key], n[key] ? median(a, n[key]) : 0, lo, hi, n[key] ? median(b, n[key]) : 0
    }
}' "$results"
