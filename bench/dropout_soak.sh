#!/usr/bin/env bash
# Dropouts beside a busy machine: while a `make -j2` build of this project runs
# over and over in a scratch folder (no ccache, so it really compiles), the
# engine plays a finished log, then follows a live log that the logger
# simulator records in ten-second files, each for SOAK_SECONDS; each prints
# the device's underflows and the buffers the reader left short ("-" where the
# probe printed none), in all and from two seconds in: started at the live
# edge, the device's first queue waits for what is not yet recorded.
# BEFORE_PROBE names an older engine_probe to run the same way, in the same run.
#
# Usage: bench/dropout_soak.sh [BUILD_DIR]   (default: build)
#   SOAK_SECONDS=1800   length of each playback (30 minutes)
#   BEFORE_PROBE=path   an older engine_probe, measured beside BUILD_DIR's
# Needs engine_probe and tarnveil-logger built in BUILD_DIR (-DTARNVEIL_BENCH=ON),
# a PulseAudio server, and the build dependencies.
set -euo pipefail

repo=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$repo/build}
case $build in /*) ;; *) build=$repo/$build ;; esac
seconds=${SOAK_SECONDS:-1800}
probe=$build/bench/engine_probe
logger=$build/tarnveil-logger
[[ -x $probe && -x $logger ]] || { echo "dropout_soak.sh: build engine_probe and tarnveil-logger first" >&2; exit 1; }
pactl info >/dev/null 2>&1 || { echo "dropout_soak.sh: no PulseAudio server answers" >&2; exit 1; }

work=$(mktemp -d)
busy=""
loggerPid=""
cleanup() {
    [[ -n $busy ]] && kill -- "-$busy" 2>/dev/null || true
    [[ -n $loggerPid ]] && kill "$loggerPid" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

mkdir -p "$work/finished"
"$logger" --root "$work/finished" --backlog 1 --backlog-length "$((seconds + 30))s" >/dev/null
finished=$(ls "$work"/finished/logger/logs/*.wav)

cmake -S "$repo" -B "$work/busy" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
# The build in its own process group, so that all of it stops at the end.
setsid bash -c "while :; do make -s -j2 -C '$work/busy' tarnveil_core >/dev/null 2>&1; make -s -C '$work/busy' clean >/dev/null 2>&1; done" &
busy=$!
sleep 5

# soak NAME PROBE: a finished log, then the live edge, each for $seconds.
soak() {
    local name=$1 binary=$2
    # A probe that fails still leaves its figures, or none, for the table.
    "$binary" play "$finished" "$seconds" >"$work/$name-play.txt" || true
    mkdir -p "$work/live-$name"
    "$logger" --root "$work/live-$name" --period 10s --no-align >/dev/null 2>&1 &
    loggerPid=$!
    sleep 3
    "$binary" follow "$work/live-$name" "$seconds" >"$work/$name-follow.txt" || true
    kill "$loggerPid" && wait "$loggerPid" || true
    loggerPid=""
    local kind
    for kind in play follow; do
        awk -v name="$name" -v kind="$kind" -v load="$(cut -d' ' -f1 /proc/loadavg)" '
            $1 == "device_underflows" { u = $2 } $1 == "starved_buffers" { s = $2 }
            $1 == "starved_buffers_steady" { t = $2 } $1 == "cpu_percent" { c = $2 }
            END { printf "%-14s %-7s %11s %8s %8s %7s %6s\n", name, kind, u == "" ? "-" : u, s == "" ? "-" : s,
                         t == "" ? "-" : t, c, load }' "$work/$name-$kind.txt"
    done
}

echo "load: $(cut -d' ' -f1-3 /proc/loadavg) with the build running" >&2
printf '%-14s %-7s %11s %8s %8s %7s %6s   (%d s each, beside make -j2)\n' probe what underflows starved 'from_2s' 'cpu_%' load "$seconds"
[[ -n ${BEFORE_PROBE:-} ]] && soak before "$BEFORE_PROBE"
soak after "$probe"
