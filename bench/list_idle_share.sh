#!/usr/bin/env bash
# Calls a minute the console makes on a share while it sits idle with nothing
# played (so nothing but the log list touches the share), for each build in
# turn, cold (no catalog) and then warm, on one archive made by
# bench/archive_share.sh. The count starts SETTLE_S after launch and runs IDLE_S.
#
# Usage: bench/list_idle_share.sh ARCHIVE_ROOT BUILD_DIR...
#   DELAY_MS=2 SETTLE_S=45 IDLE_S=90
# ARCHIVE_ROOT holds logger/logs, e.g. $TMPDIR/tarnveil-archive/year-hours-<day>.
set -euo pipefail

repo=$(cd "$(dirname "$0")/.." && pwd)
root=$1
shift
delay_ms=${DELAY_MS:-2}
settle_s=${SETTLE_S:-45}
idle_s=${IDLE_S:-90}
source "$repo/bench/console_env.sh"

work=$(mktemp -d)
mkdir -p "$work/share"
"$1/tests/slow_share" --read-only --delay-ms "$delay_ms" --counter "$work/calls" "$root" "$work/share" &
server=$!
cleanup() {
    stop_console
    stop_display
    kill "$server" 2>/dev/null || true
    wait "$server" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT
calls() { od -An -tu8 -N8 "$work/calls" | tr -d ' '; }
until grep -q " $work/share fuse" /proc/mounts; do sleep 0.1; done

start_display
echo "load before: $(cut -d' ' -f1-3 /proc/loadavg)"
for build in "$@"; do
    make_prefix "$work/prefix"
    ln -sfn "$work/share" "$work/prefix/dosdevices/l:"
    export XDG_CACHE_HOME=$work/cache
    rm -rf "$XDG_CACHE_HOME"
    for state in cold warm; do
        start_console "$build/tarnveil" "$work/prefix"
        sleep "$settle_s"
        before=$(calls)
        sleep "$idle_s"
        echo "$build $state: $((($(calls) - before) * 60 / idle_s)) calls a minute"
        stop_console
    done
done
echo "load after: $(cut -d' ' -f1-3 /proc/loadavg)"
