# Shared by bench/click_to_sound.sh and bench/first_play.sh (sourced, not run):
# an ear at the monitor of a private null sink, which time-stamps each loud
# passage that follows silence (bench/sound_onsets.py). Needs pactl, parec and
# python3; `repo` names the checkout.

# start_ear DIR: loads the sink, sends every player there through PULSE_SINK
# and starts listening; the onsets go to DIR/onsets.
start_ear() {
    EAR_SINK=tarnveil_ear_$$
    EAR_MODULE=$(pactl load-module module-null-sink sink_name=$EAR_SINK)
    export PULSE_SINK=$EAR_SINK
    EAR_ONSETS=$1/onsets
    : >"$EAR_ONSETS"
    parec -d "$EAR_SINK.monitor" --raw --format=s16le --rate=48000 --channels=1 --latency-msec=5 |
        python3 -u "$repo/bench/sound_onsets.py" 48000 3000 60 >"$EAR_ONSETS" &
    EAR_LISTENER=$!
    sleep 0.5
}

stop_ear() {
    [[ -n ${EAR_LISTENER:-} ]] && kill "$EAR_LISTENER" 2>/dev/null || true
    [[ -n ${EAR_MODULE:-} ]] && pactl unload-module "$EAR_MODULE" 2>/dev/null || true
    EAR_LISTENER=""
    EAR_MODULE=""
}

# onset_after T0: the first onset after T0 (as `date +%s%N`), waiting up to 3 s; empty if none.
onset_after() {
    local t0=$1 i found
    for ((i = 0; i < 150; i++)); do
        found=$(awk -v t="$t0" '$1 > t { print $1; exit }' "$EAR_ONSETS")
        [[ -n $found ]] && { echo "$found"; return; }
        sleep 0.02
    done
}
