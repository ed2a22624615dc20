# Shared by the console benchmarks and scripts/soak.sh (sourced, not run): a
# private prefix for the real console, a virtual X display, and the console
# started and driven from the keyboard as an operator would.
# Needs Xvfb and xdotool.

# bench_start [BUILD_DIR]: the bench packages installed (unless SKIP_INSTALL is
# set) and $build set to BUILD_DIR, by default build, relative to the repository.
bench_start() {
    [[ -n ${SKIP_INSTALL:-} ]] || "$repo/scripts/install-deps.sh" bench
    build=${1:-$repo/build}
    case $build in /*) ;; *) build=$repo/$build ;; esac
}

# need_program PATH...: each must be there and runnable, else the benchmark ends.
need_program() {
    local program
    for program in "$@"; do
        [[ -x $program ]] || { echo "$(basename "$0"): $program missing" >&2; exit 1; }
    done
}

# need_sound_server: a PulseAudio server must answer, else the benchmark ends.
need_sound_server() {
    pactl info >/dev/null 2>&1 || { echo "$(basename "$0"): no PulseAudio server answers" >&2; exit 1; }
}

# clean_up_console_run: what a benchmark that listens to the console started,
# stopped, and its scratch folder $work removed; for `trap clean_up_console_run EXIT`.
clean_up_console_run() {
    stop_console
    stop_display
    stop_ear
    rm -rf "$work"
}

# make_prefix DIR LOG...: DIR becomes a prefix whose settings name drive L and
# the system default device; L:\logger\logs holds links to the given logs.
make_prefix() {
    local dir=$1
    shift
    rm -rf "$dir"
    mkdir -p "$dir/drive_c/program files/Tarnveil" "$dir/dosdevices" "$dir/logger-drive/logger/logs"
    ln -s ../drive_c "$dir/dosdevices/c:"
    ln -s "$dir/logger-drive" "$dir/dosdevices/l:"
    printf '0L' >"$dir/drive_c/program files/Tarnveil/ZeVudi.ini"
    local log
    for log in "$@"; do
        ln -s "$(realpath "$log")" "$dir/logger-drive/logger/logs/$(basename "$log")"
    done
}

# start_display: a virtual X server on a free display number; sets DISPLAY.
start_display() {
    local number=$((90 + RANDOM % 400))
    while [[ -e /tmp/.X11-unix/X$number ]]; do number=$((number + 1)); done
    Xvfb ":$number" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
    XVFB_PID=$!
    export DISPLAY=":$number"
    local i
    for ((i = 0; i < 100; i++)); do
        xdotool getmouselocation >/dev/null 2>&1 && return 0
        sleep 0.05
    done
    echo "Xvfb did not start" >&2
    return 1
}

stop_display() {
    [[ -n ${XVFB_PID:-} ]] && kill "$XVFB_PID" 2>/dev/null && wait "$XVFB_PID" 2>/dev/null || true
    XVFB_PID=""
}

# start_console BINARY PREFIX: starts the console and waits for its window;
# sets CONSOLE_PID and CONSOLE_WINDOW.
start_console() {
    TARNVEIL_PREFIX=$2 "$1" >/dev/null 2>&1 &
    CONSOLE_PID=$!
    CONSOLE_WINDOW=$(timeout 20 xdotool search --sync --onlyvisible --name '^Tarnveil$' | head -1)
    [[ -n $CONSOLE_WINDOW ]]
}

stop_console() {
    [[ -n ${CONSOLE_PID:-} ]] && kill "$CONSOLE_PID" 2>/dev/null && wait "$CONSOLE_PID" 2>/dev/null || true
    CONSOLE_PID=""
}

# play_first_log: a click on the first row of the log list (the window keeps
# its 640 x 460 layout), then Alt+P for Play.
play_first_log() {
    xdotool windowfocus "$CONSOLE_WINDOW" 2>/dev/null || true
    xdotool mousemove --window "$CONSOLE_WINDOW" 60 105 click 1
    sleep 0.2
    xdotool key alt+p
}

# console_streams: how many playback streams the console has open on the sound server.
console_streams() {
    pactl list sink-inputs 2>/dev/null | grep -c "application.process.id = \"$CONSOLE_PID\"" || true
}

# rss_kb PID / fd_count PID
rss_kb() { awk '/^VmRSS:/ { print $2 }' "/proc/$1/status"; }
fd_count() { ls "/proc/$1/fd" | wc -l; }

# start_ear DIR: a private null sink that the console plays to (PULSE_SINK is
# exported), and on its monitor bench/sound_onsets.py, which writes the time of
# each loud passage after silence into ONSETS (DIR/onsets). stop_ear undoes it.
start_ear() {
    export PULSE_SINK=tarnveil_ear_$$
    EAR_MODULE=$(pactl load-module module-null-sink sink_name="$PULSE_SINK")
    ONSETS=$1/onsets
    : >"$ONSETS"
    parec -d "$PULSE_SINK.monitor" --raw --format=s16le --rate=48000 --channels=1 --latency-msec=5 |
        python3 -u "$(dirname "${BASH_SOURCE[0]}")/sound_onsets.py" 48000 3000 60 >"$ONSETS" &
    EAR_PID=$!
    sleep 0.5
}

stop_ear() {
    [[ -n ${EAR_PID:-} ]] && kill "$EAR_PID" 2>/dev/null || true
    [[ -n ${EAR_MODULE:-} ]] && pactl unload-module "$EAR_MODULE" 2>/dev/null || true
    EAR_PID="" EAR_MODULE=""
}

# onset_after T0 [WAIT_MS]: the first onset after T0 (nanoseconds since the
# epoch, as `date +%s%N`), waiting up to WAIT_MS (3000); empty if none.
onset_after() {
    local t0=$1 until found
    until=$(($(date +%s%N) + ${2:-3000} * 1000000))
    while :; do
        found=$(awk -v t="$t0" '$1 > t { print $1; exit }' "$ONSETS")
        [[ -n $found ]] && { echo "$found"; return; }
        (($(date +%s%N) < until)) || return 0
        sleep 0.02
    done
}
