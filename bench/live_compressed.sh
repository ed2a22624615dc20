#!/usr/bin/env bash
# Following a compressed live log at its live edge: the processor time it costs
# against playing the same format finished, for one build and a peer build in
# the same run (old and new alternating).
#
# Usage: bench/live_compressed.sh BUILD_DIR [PEER_BUILD_DIR]
#   SECONDS_PLAYED=20   how long each playback runs
#   RUNS=3              repetitions of each playback (medians are reported)
#   FORMATS="mp3 flac"
#   WORK=DIR            where the logs are written (default: a temporary folder);
#                       finished hour logs already there are used again
#
# Needs engine_probe and growing_log_writer built in BUILD_DIR and a PulseAudio
# server. For each format a writer records an hour of programme at full speed,
# then goes on in real time, naming its log in CurFile; each probe jumps to the
# live edge and follows it. The peer of each follow plays a finished hour log
# of the same format for the same time. Processor time is counted from two
# seconds in, after the jump to the live edge (an hour into the log), which
# opening a log costs once.
set -euo pipefail

repo=$(cd "$(dirname "$0")/.." && pwd)
absolute() { case $1 in /*) echo "$1" ;; *) echo "$repo/$1" ;; esac; }
build=$(absolute "${1:?usage: live_compressed.sh BUILD_DIR [PEER_BUILD_DIR]}")
builds=("$build")
[[ -n ${2:-} ]] && builds+=("$(absolute "$2")")
played=${SECONDS_PLAYED:-20}
runs=${RUNS:-3}
formats=${FORMATS:-mp3 flac}
writer=$build/bench/growing_log_writer
for b in "${builds[@]}"; do
    [[ -x $b/bench/engine_probe ]] || { echo "live_compressed.sh: no engine_probe in $b" >&2; exit 1; }
done
[[ -x $writer ]] || { echo "live_compressed.sh: build growing_log_writer first" >&2; exit 1; }
pactl info >/dev/null 2>&1 || { echo "live_compressed.sh: no PulseAudio server" >&2; exit 1; }

work=${WORK:-$(mktemp -d)}
writerPid=""
cleanup() {
    [[ -n $writerPid ]] && kill "$writerPid" 2>/dev/null && wait "$writerPid" 2>/dev/null || true
    [[ -z ${WORK:-} ]] && rm -rf "$work"
    return 0
}
trap cleanup EXIT

median() { sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
value() { awk -v key="$1" '$1 == key { print $2 }' "$2"; }

echo "machine load: $(uptime)"
for format in $formats; do
    finished=$work/finished/logger/logs/hour.$format
    [[ -f $finished ]] || "$writer" "$work/finished" "hour.$format" "$format" 3600
    rm -rf "$work/live-$format"
    "$writer" "$work/live-$format" "live.$format" "$format" 3600 live >"$work/writer-$format.txt" &
    writerPid=$!
    until grep -q live "$work/writer-$format.txt"; do sleep 1; done
    started=$SECONDS
    for ((run = 1; run <= runs; run++)); do
        for n in "${!builds[@]}"; do
            probe=${builds[$n]}/bench/engine_probe
            # Half a second before where the writer is now: the reader reaches
            # the live edge at once, whatever length the log's header gives.
            now=$(((3600 + SECONDS - started) * 1000 - 500))
            # A run that fails leaves its figures out of the medians.
            TARNVEIL_FOLLOW_FROM_MS=$now "$probe" follow "$work/live-$format" "$played" \
                >"$work/follow-$format-$n-$run.txt" 2>/dev/null || echo "follow $format ${builds[$n]} run $run failed"
            "$probe" play "$finished" "$played" >"$work/play-$format-$n-$run.txt" 2>/dev/null ||
                echo "play $format ${builds[$n]} run $run failed"
        done
    done
    kill "$writerPid" && wait "$writerPid" || true
    writerPid=""
    for n in "${!builds[@]}"; do
        follow=$(for r in $(seq "$runs"); do value cpu_steady_percent "$work/follow-$format-$n-$r.txt"; done | median)
        finishedCpu=$(for r in $(seq "$runs"); do value cpu_steady_percent "$work/play-$format-$n-$r.txt"; done | median)
        lag=$(for r in $(seq "$runs"); do value lag_median_ms "$work/follow-$format-$n-$r.txt"; done | median)
        starved=$(for r in $(seq "$runs"); do value starved_buffers "$work/follow-$format-$n-$r.txt"; done | median)
        echo "$format ${builds[$n]}: cpu following ${follow} %, playing finished ${finishedCpu} %," \
             "ratio $(awk -v a="$follow" -v b="$finishedCpu" 'BEGIN { printf "%.2f", (b > 0) ? a / b : 0 }')," \
             "lag ${lag} ms, starved buffers ${starved} (medians of $runs)"
    done
done
