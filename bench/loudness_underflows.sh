#!/bin/sh
# Playback while other logs are measured: the device's underflows, the gaps
# the reader left and the player's processor time, playing one log alone and
# then while `tarnveil report loudness` measures three one-hour logs at the
# lowest priority, as the console does in the background. Each case runs
# REPS times (default 3) for SECONDS (default 20); the figures of each run
# are printed, then the medians.
#   bench/loudness_underflows.sh build [SECONDS] [REPS]
# Needs a sound server (pactl info) and writes 1.9 GB of logs to $TMPDIR.
set -eu
build=$(cd "${1:-build}" && pwd)
seconds=${2:-20}
reps=${3:-3}
work=${TMPDIR:-/tmp}/tarnveil-loudness-underflows
mkdir -p "$work/prefix/dosdevices" "$work/prefix/drive_c/program files/Tarnveil" "$work/logger"
ln -sfn ../drive_c "$work/prefix/dosdevices/c:"
ln -sfn "$work/logger" "$work/prefix/dosdevices/l:"
printf '0L' >"$work/prefix/drive_c/program files/Tarnveil/ZeVudi.ini"
if [ ! -f "$work/logger/logger/logs/2026-12-07_03-00-00.wav" ]; then
    "$build/tarnveil-logger" --root "$work/logger" --backlog 4 --backlog-end 2026-12-07_04-00-00 >/dev/null
fi
played="$work/logger/logger/logs/2026-12-07_03-00-00.wav"

median() { sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

play() {
    "$build/bench/engine_probe" play "$played" "$seconds" pulse >"$work/play.out" 2>&1
    underflows=$(awk '/underflow/ { print $NF }' "$work/play.out" | head -1)
    gaps=$(awk '/starved_buffers/ { print $NF }' "$work/play.out" | head -1)
    cpu=$(awk '/cpu_percent/ { print $NF }' "$work/play.out")
    echo "$1 underflows=${underflows:-?} reader_gaps=${gaps:-?} cpu_percent=$cpu"
}

: >"$work/alone"
: >"$work/busy"
for i in $(seq "$reps"); do
    play alone | tee -a "$work/alone"
    rm -rf "$work/cache"
    XDG_CACHE_HOME="$work/cache" TARNVEIL_PREFIX="$work/prefix" \
        "$build/tarnveil" report loudness --from "2026-12-07 00:00:00" --to "2026-12-07 03:00:00" >/dev/null &
    report=$!
    play measuring | tee -a "$work/busy"
    wait "$report"
done
for case in alone busy; do
    for field in underflows reader_gaps cpu_percent; do
        printf '%s median %s %s\n' "$case" "$field" \
            "$(sed -n "s/.*$field=\([0-9.?]*\).*/\1/p" "$work/$case" | median)"
    done
done
