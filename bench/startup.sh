#!/usr/bin/env bash
# Whole-process start of the real console on a virtual X display, with a log
# folder of 32 767 logs (and 1 000 and 100 000 for the trend): from exec until
# its window is mapped. One X client (xev, started once) watches the root
# window for the map; polling with a new client every few milliseconds made
# the X server now and then refuse the console's own connection.
# Target: under 300 ms with 32 767 logs.
#
# Usage: bench/startup.sh [BUILD_DIR]   (default: build)   RUNS=7
# Needs Xvfb, xev and xdotool. The folders are made under
# $TMPDIR/tarnveil-startup once and reused.
set -euo pipefail

repo=$(cd "$(dirname "$0")/.." && pwd)
[[ -n ${SKIP_INSTALL:-} ]] || "$repo/scripts/install-deps.sh" bench
build=${1:-$repo/build}
case $build in /*) ;; *) build=$repo/$build ;; esac
runs=${RUNS:-7}
binary=$build/tarnveil
[[ -x $binary ]] || { echo "startup.sh: $binary missing" >&2; exit 1; }
source "$repo/bench/console_env.sh"
root=${TMPDIR:-/tmp}/tarnveil-startup

prefix_with() { # COUNT -> prints the prefix, made once
    local count=$1 dir=$root/prefix-$1
    if [[ ! -f $dir/complete ]]; then
        make_prefix "$dir"
        (cd "$dir/logger-drive/logger/logs" && seq -f "log%06g.wav" 1 "$count" | xargs touch)
        echo "$count" >"$dir/complete"
    fi
    echo "$dir"
}

start_display
# Line-buffered, so that each event is read the moment it happens.
coproc WATCH { exec stdbuf -oL xev -root -event substructure; }
trap 'stop_console; kill "$WATCH_PID" 2>/dev/null || true; stop_display' EXIT
# wait_for_map: reads the watcher until a window is mapped; false if the console exits first.
wait_for_map() {
    local line
    for (( ; ; )); do
        if read -r -t 0.05 line <&"${WATCH[0]}"; then
            [[ $line == MapNotify* ]] && return 0
        else
            kill -0 "$CONSOLE_PID" 2>/dev/null || return 1
        fi
    done
}
# drain_watcher: drops the events of the last console's exit.
drain_watcher() {
    local line
    while read -r -t 0.2 line <&"${WATCH[0]}"; do :; done
}
sleep 0.5
drain_watcher

printf '%-8s %5s %10s %10s %10s\n' logs runs median_ms min_ms max_ms
for count in 1000 32767 100000; do
    prefix=$(prefix_with "$count")
    times=()
    for ((i = 0; i <= runs; i++)); do
        begin=$(date +%s%N)
        TARNVEIL_PREFIX=$prefix "$binary" >/dev/null 2>&1 &
        CONSOLE_PID=$!
        wait_for_map || { echo "startup.sh: the console exited" >&2; exit 1; }
        elapsed=$((($(date +%s%N) - begin) / 1000000))
        xdotool search --onlyvisible --name '^Tarnveil$' >/dev/null 2>&1 ||
            { echo "startup.sh: the window mapped is not the console's" >&2; exit 1; }
        stop_console
        drain_watcher
        # The first start warms the file cache and is not counted.
        ((i == 0)) || times+=("$elapsed")
    done
    printf '%s\n' "${times[@]}" | sort -n | awk -v logs="$count" '
        { t[NR] = $1 }
        END { m = NR % 2 ? t[(NR + 1) / 2] : (t[NR / 2] + t[NR / 2 + 1]) / 2
              printf "%-8s %5d %10.0f %10d %10d\n", logs, NR, m, t[1], t[NR] }'
done
