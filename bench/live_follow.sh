#!/usr/bin/env bash
# Following the live log: how far behind the recording playback stays, and the
# processor time it costs beside playing a finished log of the same format.
#
# Usage: bench/live_follow.sh [BUILD_DIR]        (default: build)
#   SECONDS_PLAYED=40   how long each playback runs
#   PERIOD=10s          the logger's file length (a rotation every PERIOD)
#   RUNS=3              repetitions of each playback (medians are reported)
#
# Needs engine_probe and tarnveil-logger built in BUILD_DIR and a PulseAudio
# server (the null sink is enough): playback runs in real time on it.
#
# Each run starts the logger simulator (44.1 kHz 16-bit stereo), jumps to the
# live edge of the log it records and follows it, rotations included; the lag
# is what has been recorded after the point being heard, sampled every 50 ms
# (the device's own queue is part of it). The peer plays a finished log of the
# same format for the same time.
set -euo pipefail

repo=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$repo/build}
case $build in /*) ;; *) build=$repo/$build ;; esac
probe=$build/bench/engine_probe
logger=$build/tarnveil-logger
played=${SECONDS_PLAYED:-40}
period=${PERIOD:-10s}
runs=${RUNS:-3}

[[ -x $probe && -x $logger ]] || { echo "live_follow.sh: build engine_probe and tarnveil-logger first" >&2; exit 1; }
pactl info >/dev/null 2>&1 || { echo "live_follow.sh: no PulseAudio server" >&2; exit 1; }

work=$(mktemp -d)
loggerPid=""
cleanup() {
    [[ -n $loggerPid ]] && kill "$loggerPid" 2>/dev/null && wait "$loggerPid" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

median() { sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

mkdir -p "$work/finished"
"$logger" --root "$work/finished" --backlog 1 --backlog-length "$((played + 10))s" >/dev/null
finished=$(ls "$work"/finished/logger/logs/*.wav)

for ((run = 1; run <= runs; run++)); do
    mkdir -p "$work/live$run"
    "$logger" --root "$work/live$run" --period "$period" --no-align >/dev/null 2>&1 &
    loggerPid=$!
    # A few seconds recorded first, as on a station that has been on air.
    sleep 3
    "$probe" follow "$work/live$run" "$played" >"$work/follow$run.txt"
    kill "$loggerPid" && wait "$loggerPid" || true
    loggerPid=""
    "$probe" play "$finished" "$played" >"$work/play$run.txt"
done

value() { awk -v key="$1" '$1 == key { print $2 }' "$2"; }
lagMedian=$(for r in $(seq "$runs"); do value lag_median_ms "$work/follow$r.txt"; done | median)
lagMax=$(for r in $(seq "$runs"); do value lag_max_ms "$work/follow$r.txt"; done | sort -n | tail -1)
cpuFollow=$(for r in $(seq "$runs"); do value cpu_percent "$work/follow$r.txt"; done | median)
cpuFinished=$(for r in $(seq "$runs"); do value cpu_percent "$work/play$r.txt"; done | median)
for r in $(seq "$runs"); do
    echo "run $r: $(grep -h followed "$work/follow$r.txt"), lag median $(value lag_median_ms "$work/follow$r.txt") ms, max $(value lag_max_ms "$work/follow$r.txt") ms"
done
echo "lag behind the live edge: median ${lagMedian} ms, maximum ${lagMax} ms (runs: $runs, period $period)"
echo "cpu following: ${cpuFollow} %   cpu playing a finished log: ${cpuFinished} %   ratio: $(awk -v a="$cpuFollow" -v b="$cpuFinished" 'BEGIN { printf "%.2f", (b > 0) ? a / b : 0 }')"
