#!/usr/bin/env bash
# Whole-process start of the real console on a virtual X display, with a log
# folder of 32 767 logs (and 1 000 and 100 000 for the trend, and a year of
# hourly logs in hour folders, YYYY/MM/DD/HH/archive.mp3; "100000a": 100 000
# sparse hourly WAV logs from make_archive.py): from exec until its
# window is mapped ("visible"), and until its log list has been filled and
# painted ("filled").
#
# Nothing polls the X server: one xev client watches the root window for the
# console's window being mapped, and the console itself says when its list
# has been filled (its tarnveil.loglist logging category, off unless asked
# for). Both arrive on one pipe and are timed as they arrive.
# Targets for "visible": 250 ms with 32 767 logs, 350 ms with 100 000.
#
# Usage: bench/startup.sh [BUILD_DIR...]   (default: build)   RUNS=7
#        LOGSETS="1000 32767 100000 8760h" (the default)
#        COLD=1: every start without the stored catalog (else all but the
#        first, uncounted, start find it)
# Given several build folders (an older build beside this one), their consoles
# start in turn within each run, so that both meet the same machine load.
# Needs Xvfb and xev. The folders are made under $TMPDIR/tarnveil-startup
# once and reused.
set -euo pipefail

repo=$(cd "$(dirname "$0")/.." && pwd)
[[ -n ${SKIP_INSTALL:-} ]] || "$repo/scripts/install-deps.sh" bench
builds=("${@:-$repo/build}")
binaries=()
for build in "${builds[@]}"; do
    case $build in /*) ;; *) build=$repo/$build ;; esac
    [[ -x $build/tarnveil ]] || { echo "startup.sh: $build/tarnveil missing" >&2; exit 1; }
    binaries+=("$build/tarnveil")
done
runs=${RUNS:-7}
source "$repo/bench/console_env.sh"
root=${TMPDIR:-/tmp}/tarnveil-startup
# The consoles' catalogs, kept apart from the user's own.
export XDG_CACHE_HOME=$root/cache

prefix_with() { # COUNT[h] -> prints the prefix, made once; "8760h": hour folders
    local logset=$1 dir=$root/prefix-$1 logs
    if [[ ! -f $dir/complete ]]; then
        make_prefix "$dir"
        logs=$dir/logger-drive/logger/logs
        if [[ $logset == *a ]]; then
            python3 "$repo/bench/make_archive.py" flat "$logs" --hours "${logset%a}"
        elif [[ $logset == *h ]]; then
            for ((i = 0; i < ${logset%h}; i++)); do
                printf '2026/%02d/%02d/%02d\n' $((1 + i / 744 % 12)) $((1 + i / 24 % 31)) $((i % 24))
            done >"$dir/folders"
            (cd "$logs" && xargs mkdir -p <"$dir/folders" && sed 's|$|/archive.mp3|' "$dir/folders" | xargs touch)
        else
            (cd "$logs" && seq -f "log%06g.wav" 1 "$logset" | xargs touch)
        fi
        echo "$logset" >"$dir/complete"
    fi
    echo "$dir"
}

ms_between() { # START END (EPOCHREALTIME values) -> whole milliseconds
    awk -v a="$1" -v b="$2" 'BEGIN { printf "%d", (b - a) * 1000 }'
}

summary() { # LABEL LOGS VALUES... -> one table row
    local label=$1 logs=$2
    shift 2
    printf '%s\n' "$@" | sort -n | awk -v logs="$logs" -v what="$label" '
        { t[NR] = $1 }
        END { m = NR % 2 ? t[(NR + 1) / 2] : (t[NR / 2] + t[NR / 2 + 1]) / 2
              printf "%-8s %-8s %5d %10.0f %10d %10d\n", logs, what, NR, m, t[1], t[NR] }'
}

start_display
events=$(mktemp -u)
mkfifo "$events"
exec 3<>"$events"
rm -f "$events"
stdbuf -oL xev -root -event substructure >&3 2>/dev/null &
XEV_PID=$!
trap 'stop_console; kill $XEV_PID 2>/dev/null || true; stop_display' EXIT

drain() { while read -r -t 0.2 _ <&3; do :; done; }

printf '%-8s %-8s %5s %10s %10s %10s  %s\n' logs until runs median_ms min_ms max_ms build
for logset in ${LOGSETS:-1000 32767 100000 8760h}; do
    prefix=$(prefix_with "$logset")
    declare -A visible_times=() filled_times=()
    for ((i = 0; i <= runs; i++)); do
      for b in "${!binaries[@]}"; do
        drain
        [[ -z ${COLD:-} ]] || rm -rf "$XDG_CACHE_HOME/tarnveil"
        begin=$EPOCHREALTIME
        QT_LOGGING_RULES='tarnveil.loglist.info=true' TARNVEIL_PREFIX=$prefix "${binaries[b]}" >/dev/null 2>&3 &
        CONSOLE_PID=$!
        visible="" filled=""
        while [[ -z $filled ]]; do
            read -r -t 30 line <&3 || { echo "startup.sh: no word from ${binaries[b]} (run $i)" >&2; exit 1; }
            now=$EPOCHREALTIME
            case $line in
            MapNotify*) [[ -n $visible ]] || visible=$now ;;
            *"log list filled"*) filled=$now ;;
            esac
        done
        stop_console
        # The first start warms the file cache and is not counted.
        if ((i > 0)); then
            visible_times[$b]+=" $(ms_between "$begin" "$visible")"
            filled_times[$b]+=" $(ms_between "$begin" "$filled")"
        fi
      done
    done
    for b in "${!binaries[@]}"; do
        # shellcheck disable=SC2086 # the times are a blank-separated list
        summary visible "$logset" ${visible_times[$b]} | sed "s|\$|  ${binaries[b]%/tarnveil}|"
        # shellcheck disable=SC2086
        summary filled "$logset" ${filled_times[$b]} | sed "s|\$|  ${binaries[b]%/tarnveil}|"
    done
    unset visible_times filled_times
done
