#!/usr/bin/env bash
# The real console on archives of hourly logs behind a share that answers
# every call after DELAY_MS (tests/support's slow_share, a FUSE passthrough
# that also counts the calls), driven from the keyboard and mouse as an
# operator drives it, timed by when it is heard:
#   newest   launch until the newest log is listed, selected (End in the
#            list) and heard after Alt+P, tried again every TRY_MS until it is
#   full     launch until the oldest log is listed and heard the same way
#            (Home in the list): the list reaches back to the archive's start
#   goto     Enter in the Go To Time window, a moment in June typed in, until
#            that moment is heard; an error window first makes it "never"
#   idle     calls a minute on the share, stopped, over IDLE_S from SETTLE_S
#            after the list is full, and again after the Go To Time (first
#            run only: they take minutes; so that run's Go To Time comes a
#            minute later than the others')
# Each is given BOUND_S (from launch, or from Enter); one that does not get
# there reads "never", with the error windows seen meanwhile ("never in 60 s (12
# errors)"), or the error window that ended it ("never (error after 5.03 s)").
#
# Archives (made once under $TMPDIR/tarnveil-archive and reused; sparse: only
# the oldest and newest logs' first minute and the minutes around the moment
# in June sound, so a sound means the right log was reached):
#   year-flat    8 760 logs named as tarnveil-logger names them
#   year-hours   8 760 logs in YYYY/MM/DD/HH/archive.wav
#   decade-flat  87 600 logs named as tarnveil-logger names them
# Each run starts the console cold (no $XDG_CACHE_HOME/tarnveil) and then warm
# (the second start); runs repeat RUNS times unless one took longer than a
# minute, and the table gives medians.
#
# Usage: bench/archive_share.sh [BUILD_DIR]   (default: build)
#   RUNS=3 DELAY_MS=2 BOUND_S=60 IDLE_S=60 SETTLE_S=5 ARCHIVES="year-flat year-hours decade-flat"
# Needs Xvfb, xdotool, pactl, parec, python3, FUSE and the tests built
# (slow_share). Takes about 20 minutes for the three archives.
set -euo pipefail

repo=$(cd "$(dirname "$0")/.." && pwd)
source "$repo/bench/console_env.sh"
bench_start "${1:-}"
runs=${RUNS:-3}
delay_ms=${DELAY_MS:-2}
bound_s=${BOUND_S:-60}
idle_s=${IDLE_S:-60}
settle_s=${SETTLE_S:-5}
try_ms=${TRY_MS:-400}
archives=${ARCHIVES:-year-flat year-hours decade-flat}
binary=$build/tarnveil
share_server=$build/tests/slow_share
need_program "$binary" "$share_server"
need_sound_server

store=${TMPDIR:-/tmp}/tarnveil-archive
work=$(mktemp -d)
server=""
unmount_share() {
    [[ -n $server ]] || return 0
    kill "$server" 2>/dev/null || true
    wait "$server" 2>/dev/null || true
    server=""
}
cleanup() {
    stop_console
    stop_display
    unmount_share
    stop_ear
    rm -rf "$work"
}
trap cleanup EXIT

# --- the archives ---------------------------------------------------------------
newest_day=$(date -d yesterday +%F)
year=$(date -d "$newest_day" +%Y)
[[ $(date -d "$newest_day" +%m) > 06 ]] || year=$((year - 1))
moment="$year-06-15 12:30:00"

archive() { # NAME -> the archive's root (holds logger/logs), made once a day
    local name=$1 root=$store/$1-$newest_day
    if [[ ! -f $root.complete ]]; then
        rm -rf "$store/$name"-*
        case $name in
        year-flat) set -- flat --hours 8760 ;;
        year-hours) set -- hours --hours 8760 ;;
        decade-flat) set -- flat --hours 87600 ;;
        *) echo "archive_share.sh: no archive $name" >&2; exit 1 ;;
        esac
        python3 "$repo/bench/make_archive.py" "$1" "$root/logger/logs" "${@:2}" \
            --end "$newest_day 23" --tone "$moment"
        touch "$root.complete"
    fi
    echo "$root"
}

start_ear "$work"
now_ns() { echo $((${EPOCHREALTIME/./} * 1000)); }
seconds_between() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", (b - a) / 1e9 }'; }

# --- the share ----------------------------------------------------------------
mount_point=$work/share
counter=$work/calls
mount_share() { # ROOT
    mkdir -p "$mount_point"
    "$share_server" --read-only --delay-ms "$delay_ms" --counter "$counter" "$1" "$mount_point" &
    server=$!
    local i
    for ((i = 0; i < 200; i++)); do
        grep -q " $mount_point fuse" /proc/mounts && return 0
        sleep 0.05
    done
    echo "archive_share.sh: the share did not mount" >&2
    exit 1
}
calls() { od -An -tu8 -N8 "$counter" | tr -d ' '; }

# --- the operator -------------------------------------------------------------
errors=0
declare -A seen_errors=()
# dismiss_errors: presses OK in every error window the console shows, and
# counts those not seen before (each is a new window).
dismiss_errors() {
    local window
    for window in $(xdotool search --onlyvisible --name '^Error Message$' 2>/dev/null); do
        [[ -n ${seen_errors[$window]:-} ]] || { seen_errors[$window]=1; errors=$((errors + 1)); }
        xdotool mousemove --window "$window" 140 140 click 1 2>/dev/null || true
    done
}
in_console() {
    xdotool windowfocus "$CONSOLE_WINDOW" 2>/dev/null || true
    xdotool "$@"
}
# play_row KEY: End or Home in the log list, then Play.
play_row() {
    in_console mousemove --window "$CONSOLE_WINDOW" 60 105 click 1
    xdotool key "$1"
    sleep 0.1
    xdotool key alt+p
}
# until_heard SINCE KEY BOUND_END: tries play_row until a sound follows; sets
# heard to the seconds since SINCE, or "never".
until_heard() {
    local since=$1 key=$2 end=$3 tried at
    heard=never
    while (($(now_ns) < end)); do
        dismiss_errors
        tried=$(now_ns)
        play_row "$key"
        at=$(onset_after "$tried" "$try_ms")
        [[ -n $at ]] && { heard=$(seconds_between "$since" "$at"); return; }
        in_console key alt+s
    done
}
# go_to_moment: Go To Time, the moment typed in; sets heard to the seconds from
# Enter to its sound, or "never" when an error window comes first.
go_to_moment() {
    local window enter at
    heard=never
    dismiss_errors
    errors=0
    in_console key ctrl+g
    window=$(timeout 10 xdotool search --sync --onlyvisible --name '^Go To Time$' | head -1)
    [[ -n $window ]] || return 0
    xdotool windowfocus "$window" type "$moment"
    enter=$(now_ns)
    xdotool key Return
    while (($(now_ns) < enter + bound_s * 1000000000)); do
        at=$(onset_after "$enter" 500)
        [[ -n $at ]] && { heard=$(seconds_between "$enter" "$at"); return; }
        dismiss_errors
        ((errors == 0)) || { error_after=$(seconds_between "$enter" "$(now_ns)"); return 0; }
    done
}
# result NAME: $heard as one line of the raw results, with the error windows
# seen and when the one that ended it came.
error_after=-
result() {
    echo "$archive_name $state $1 $heard $errors $error_after" >>"$results"
    errors=0
    error_after=-
}

# idle_minute NAME: calls a minute on the share over IDLE_S, stopped, from SETTLE_S on.
idle_minute() {
    in_console key alt+s
    dismiss_errors
    sleep "$settle_s"
    local before
    before=$(calls)
    sleep "$idle_s"
    heard=$((($(calls) - before) * 60 / idle_s))
    result "$1"
}

# one_start STATE WITH_IDLE: a console start, timed from launch, into $results;
# fails when its timed part took longer than a minute.
one_start() {
    state=$1
    local launch end began idled=0
    [[ $state == cold ]] && rm -rf "$XDG_CACHE_HOME/tarnveil"
    launch=$(now_ns)
    began=$SECONDS
    start_console "$binary" "$prefix" || { echo "archive_share.sh: the console window did not appear" >&2; exit 1; }
    # A new console numbers its windows as the last one did.
    seen_errors=()
    end=$((launch + bound_s * 1000000000))
    until_heard "$launch" End "$end"
    result newest
    in_console key alt+s
    sleep 0.3
    until_heard "$launch" Home "$end"
    result full
    if (($2)); then
        idle_minute idle
        idled=$((settle_s + idle_s))
    fi
    in_console key alt+s
    sleep 0.5
    go_to_moment
    result goto
    if (($2)); then
        idle_minute idle-after-goto
        idled=$((idled + settle_s + idle_s))
    fi
    stop_console
    ((SECONDS - began - idled <= 60))
}

# --- the runs -------------------------------------------------------------------
results=$work/results
: >"$results"
export XDG_CACHE_HOME=$work/cache
prefix=$work/prefix
make_prefix "$prefix"
start_display
echo "load before: $(cut -d' ' -f1-3 /proc/loadavg)"
for archive_name in $archives; do
    root=$(archive "$archive_name")
    mount_share "$root"
    ln -sfn "$mount_point" "$prefix/dosdevices/l:"
    for ((run = 0; run < runs; run++)); do
        short=1
        one_start cold $((run == 0)) || short=0
        one_start warm $((run == 0)) || short=0
        ((short)) || break
    done
    unmount_share
done
echo "load after: $(cut -d' ' -f1-3 /proc/loadavg)"

# --- table ----------------------------------------------------------------------
echo "share: ${delay_ms} ms a call; bound ${bound_s} s; seconds to sound, median (runs); idle: calls a minute"
awk -v bound="$bound_s" '
function median(list, m,    i, j, t) {
    for (i = 2; i <= m; i++) for (j = i; j > 1 && list[j - 1] > list[j]; j--) { t = list[j]; list[j] = list[j - 1]; list[j - 1] = t }
    return m % 2 ? list[(m + 1) / 2] : (list[m / 2] + list[m / 2 + 1]) / 2
}
function column(key, what,    list, i) {
    split("", list)
    for (i = 1; i <= count[what, key]; i++) list[i] = values[what, key, i]
    return median(list, count[what, key])
}
function cell(key,    text) {
    if (!(key in runs)) return "-"
    if (count["never", key] == runs[key] && count["ended", key])
        return sprintf("never (error after %g s)", column(key, "ended"))
    if (count["never", key] == runs[key]) return sprintf("never in %d s (%d errors)", bound, errors[key] / runs[key])
    text = sprintf("%g (%d)", column(key, "heard"), count["heard", key])
    if (count["never", key]) text = text sprintf(" +%d never", count["never", key])
    return text
}
function add(what, key, value) { values[what, key, ++count[what, key]] = value }
{
    row = $1 " " $2; key = row " " $3
    if (!(row in seen)) { seen[row] = 1; rows[++nrows] = row }
    runs[key]++
    if ($4 != "never") { add("heard", key, $4); next }
    add("never", key, 1)
    errors[key] += $5
    if ($6 != "-") add("ended", key, $6)
}
END {
    format = "%-12s %-5s %-28s %-28s %-28s %-10s %s\n"
    printf format, "archive", "start", "newest playable", "list full", "go to time", "idle", "idle after go to"
    for (r = 1; r <= nrows; r++) {
        split(rows[r], f, " ")
        printf format, f[1], f[2], cell(rows[r] " newest"), cell(rows[r] " full"), cell(rows[r] " goto"),
            cell(rows[r] " idle"), cell(rows[r] " idle-after-goto")
    }
}' "$results"
echo "raw results:"
cat "$results"
