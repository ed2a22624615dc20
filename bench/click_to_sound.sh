#!/usr/bin/env bash
# Click-to-sound: from an operator's key press or click on the real console to
# the first loud sample at the sound server, against SoX `play`, mpv and
# ffplay started on the same file, in one run with one stopwatch.
#
# Usage: bench/click_to_sound.sh [BUILD_DIR]   (default: build)   RUNS=5
# Needs Xvfb, xdotool, pactl, parec, python3, sox (and mpv, ffplay when
# present). Takes about RUNS x 25 s.
#
# The sound is caught at the monitor of a private null sink (loaded for the
# run and unloaded after; every player is sent there through PULSE_SINK), read
# by bench/sound_onsets.py, which time-stamps each loud passage that follows
# silence. The delay of an action is its first onset after the moment just
# before xdotool (or the peer's process) was started.
#
# The log is 10 minutes of 48 kHz stereo: even minutes a loud tone, odd
# minutes silence, and the last 30 s loud again. So every measured action goes
# from silence to a place that sounds:
#   play      Alt+P on the selected log (stopped before): the log's start
#   resume    Alt+P while paused in minute 0
#   ff, rwd   with the 1-minute range, > or < from a silent minute to a loud one
#   slider    with the Total range, a click on the track from a silent minute
#             into a loud one (time to the first sample of the new position)
#   replay-N  "Play Last N Seconds" from the Play button's pop-up (stopped before)
#   peer:*    the peer started on the same log, to its first sample
set -euo pipefail

repo=$(cd "$(dirname "$0")/.." && pwd)
source "$repo/bench/console_env.sh"
bench_start "${1:-}"
runs=${RUNS:-5}
binary=$build/tarnveil
need_program "$binary"
need_sound_server

work=$(mktemp -d)
trap clean_up_console_run EXIT

# --- the log ----------------------------------------------------------------
log=$work/click-log.wav
loud() { sox -n -r 48000 -c 2 -b 16 -e signed-integer -t wav "$1" synth "$2" sine 1000 vol 0.5; }
quiet() { sox -n -r 48000 -c 2 -b 16 -e signed-integer -t wav "$1" trim 0 "$2"; }
loud "$work/L60.wav" 60
quiet "$work/Q60.wav" 60
quiet "$work/Q30.wav" 30
loud "$work/L30.wav" 30
sox "$work"/{L60,Q60,L60,Q60,L60,Q60,L60,Q60,L60,Q30,L30}.wav "$log"

start_ear "$work"

results=$work/results
# trial NAME COMMAND...: runs COMMAND (which starts the action) and records the delay.
trial() {
    local name=$1 t0 at
    shift
    t0=$(date +%s%N)
    "$@"
    at=$(onset_after "$t0")
    if [[ -n $at ]]; then
        echo "$name $(((at - t0) / 1000))" >>"$results"
    else
        echo "$name miss" >>"$results"
        echo "click_to_sound.sh: no sound after $name" >&2
    fi
}

# --- the console ------------------------------------------------------------
make_prefix "$work/prefix" "$log"
start_display
start_console "$binary" "$work/prefix" || { echo "click_to_sound.sh: the console window did not appear" >&2; exit 1; }
window=$CONSOLE_WINDOW
# Places in the console's 640 x 460 layout.
click_at() { xdotool mousemove --window "$window" "$1" "$2" click "${3:-1}"; }
key() { xdotool key --window "$window" "$1"; }
settle() { sleep 0.5; }
pause_button() { click_at 58 407; }
rwd_button() { click_at 163 407; }
ff_button() { click_at 372 407; }
range_total() { click_at 398 135; }
range_minute() { click_at 398 187; }
# The track bar spans the whole log under Total: x for a position in seconds.
slider_to() { click_at $((trackLeft + $1 * trackWidth / 600)) 371; }
trackLeft=22
trackWidth=596
replay() { # N: 1, 2 or 3 for the 5, 10 and 20 seconds items of the pop-up
    click_at 476 407 3
    sleep 0.3
    local i
    for ((i = 0; i < $1; i++)); do key Down; done
    trial "replay-$2" key Return
}

xdotool windowfocus "$window" 2>/dev/null || true
click_at 60 105 # the log
sleep 0.3
for ((run = 0; run < runs; run++)); do
    key alt+s
    range_total
    settle
    trial play key alt+p
    settle
    pause_button
    settle
    trial resume key alt+p
    range_minute
    ff_button # to minute 1, silent
    settle
    trial ff ff_button # minute 2
    ff_button          # minute 3
    settle
    trial rwd rwd_button # minute 2
    ff_button            # minute 3
    settle
    trial ff ff_button # minute 4
    rwd_button         # minute 3
    settle
    trial rwd rwd_button # minute 2
    range_total
    slider_to 90 # minute 1
    settle
    trial slider slider_to 150 # minute 2
    slider_to 210              # minute 3
    settle
    trial slider slider_to 270 # minute 4
    key alt+s
    settle
    replay 1 5
    key alt+s
    settle
    replay 2 10
    key alt+s
    settle
    replay 3 20
    key alt+s
done
stop_console

# --- the peers ----------------------------------------------------------------
peer() { # NAME COMMAND...: started on the log, stopped once it sounds
    local name=$1 t0 at pid
    shift
    t0=$(date +%s%N)
    "$@" >/dev/null 2>&1 &
    pid=$!
    at=$(onset_after "$t0")
    kill "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
    if [[ -n $at ]]; then echo "$name $(((at - t0) / 1000))" >>"$results"; else echo "$name miss" >>"$results"; fi
    settle
}
for ((run = 0; run < runs; run++)); do
    peer peer:sox env AUDIODRIVER=pulseaudio play -q "$log"
    command -v mpv >/dev/null && peer peer:mpv mpv --no-config --really-quiet --no-video --ao=pulse "$log"
    command -v ffplay >/dev/null && peer peer:ffplay env SDL_AUDIODRIVER=pulseaudio ffplay -v error -nodisp -autoexit "$log"
done

# --- table ----------------------------------------------------------------------
awk '
function median(list, n,    s, i, j, t) {
    for (i = 1; i <= n; i++) s[i] = list[i]
    for (i = 2; i <= n; i++) for (j = i; j > 1 && s[j - 1] > s[j]; j--) { t = s[j]; s[j] = s[j - 1]; s[j - 1] = t }
    return n % 2 ? s[(n + 1) / 2] : (s[n / 2] + s[n / 2 + 1]) / 2
}
{
    if (!($1 in n)) { order[++names] = $1; n[$1] = 0; missed[$1] = 0 }
    if ($2 == "miss") { missed[$1]++; next }
    v = $2 / 1000; n[$1]++; value[$1, n[$1]] = v
    if (!(($1) in lo) || v < lo[$1]) lo[$1] = v
    if (!(($1) in hi) || v > hi[$1]) hi[$1] = v
}
END {
    printf "%-14s %5s %7s %10s %8s %8s %12s\n", "action", "runs", "missed", "median_ms", "min_ms", "max_ms", "/ours_play"
    for (k = 1; k <= names; k++) {
        a = order[k]; delete l
        for (i = 1; i <= n[a]; i++) l[i] = value[a, i]
        med[a] = n[a] ? median(l, n[a]) : -1
    }
    for (k = 1; k <= names; k++) {
        a = order[k]
        if (!n[a]) { printf "%-14s %5d %7d %10s\n", a, 0, missed[a], "-"; continue }
        ratio = (med["play"] > 0) ? sprintf("%.2f", med[a] / med["play"]) : "-"
        printf "%-14s %5d %7d %10.1f %8.1f %8.1f %12s\n", a, n[a], missed[a], med[a], lo[a], hi[a], ratio
    }
}' "$results"
