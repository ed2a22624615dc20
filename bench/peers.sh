#!/usr/bin/env bash
# Tarnveil's audio engine against the players an operator might otherwise use:
# mpv, ffmpeg (the decoder ffplay uses) and SoX, on the same files, with the
# same stopwatch, in one run.
#
# Usage: bench/peers.sh [BUILD_DIR]        (default: build)
#   RUNS=7        repetitions of each timed command (the median is reported)
#   PLAY_RUNS=3   repetitions of each 30-second playback
#   PLAY_SECONDS=30
#   SKIP_INSTALL=1  do not install the peers (they must be on PATH)
#   PARTS=abc     which of the measurements below to run
#
# Needs: engine_probe built in BUILD_DIR (cmake -DTARNVEIL_BENCH=ON, target
# engine_probe), a PulseAudio server (the null sink is enough) for part (c),
# root or sudo for apt-get the first time, about 2.7 GB free under
# build/bench-data. Takes about 8 minutes with the defaults (plus about one
# minute to make the files the first time).
#
# Files (made once, reused): build/bench-data/one-hour.wav, 48 kHz stereo
# 16-bit, 3600 s (660 MiB), and two-gib.wav, the same format at 2 GiB (3.1 h).
#
# Measurements (wall time of the whole process, file cache warm: each command
# runs once untimed first):
#   (a) open + seek to 59:00 + decode one second, both files
#   (b) decode the whole one-hour log to nowhere (throughput, x real time)
#   (c) CPU (user + system over wall) while playing 30 s to the sound server
# Ratios are peer / ours: above 1 means ours is faster or lighter.
set -euo pipefail

repo=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$repo/build}
case $build in /*) ;; *) build=$repo/$build ;; esac
probe=$build/bench/engine_probe
data=$repo/build/bench-data
runs=${RUNS:-7}
playRuns=${PLAY_RUNS:-3}
playSeconds=${PLAY_SECONDS:-30}
seekSeconds=3540
parts=${PARTS:-abc}

[[ -x $probe ]] || { echo "peers.sh: $probe missing; build the target engine_probe first" >&2; exit 1; }

# --- peers ----------------------------------------------------------------
[[ -n ${SKIP_INSTALL:-} ]] || "$repo/scripts/install-deps.sh" bench
for tool in mpv ffmpeg sox play; do
    command -v $tool >/dev/null || { echo "peers.sh: $tool not found" >&2; exit 1; }
done
haveFfplay=$(command -v ffplay >/dev/null && echo 1 || echo 0)

# --- files ----------------------------------------------------------------
mkdir -p "$data"
hour=$data/one-hour.wav
big=$data/two-gib.wav
minute=$data/minute.wav
if [[ ! -s $minute ]]; then
    # A sweep over a steady tone: real content that no decoder can skip as silence.
    sox -n -r 48000 -c 2 -b 16 -e signed-integer -t wav "$minute.part" synth 60 sine 200-3000 sine 330 vol 0.4
    mv "$minute.part" "$minute"
fi
if [[ $(stat -c %s "$hour" 2>/dev/null || echo 0) -ne 691200044 ]]; then
    echo "making $hour ..." >&2
    sox "$minute" -t wav "$hour.part" repeat 59
    mv "$hour.part" "$hour"
fi
# 2 GiB exactly: a 44-byte header and 536 870 901 frames.
if [[ $parts == *a* && $(stat -c %s "$big" 2>/dev/null || echo 0) -ne 2147483648 ]]; then
    echo "making $big ..." >&2
    sox "$minute" -t wav "$big.part" repeat 186 trim 0 536870901s
    mv "$big.part" "$big"
fi

# --- stopwatch --------------------------------------------------------------
results=$(mktemp)
trap 'rm -f "$results"' EXIT

# measure TEST PLAYER RUNS COMMAND...: one untimed run, then RUNS timed ones;
# records wall, user and system seconds of each.
measure() {
    local test=$1 player=$2 count=$3
    shift 3
    "$@" >/dev/null 2>&1 || { echo "peers.sh: failed: $*" >&2; echo "$test|$player|fail|fail|fail" >>"$results"; return; }
    local i times
    for ((i = 0; i < count; i++)); do
        if times=$( { TIMEFORMAT='%R %U %S'; time "$@" >/dev/null 2>&1; } 2>&1 | tail -1); then
            echo "$test|$player|${times// /|}" >>"$results"
        else
            echo "peers.sh: failed: $*" >&2
        fi
    done
}

playCpu() { # like measure, without the untimed run (the file is warm by then)
    local player=$1
    shift
    local i times
    for ((i = 0; i < playRuns; i++)); do
        if times=$( { TIMEFORMAT='%R %U %S'; time "$@" >/dev/null 2>&1; } 2>&1 | tail -1); then
            echo "play|$player|${times// /|}" >>"$results"
        else
            echo "peers.sh: failed: $*" >&2
        fi
    done
}

[[ $parts == *a* ]] && echo "(a) open + seek to 59:00 + decode 1 s, $runs runs each" >&2
for file in "$hour" "$big"; do
    [[ $parts == *a* ]] || break
    test=seek-$(basename "$file" .wav)
    measure "$test" ours "$runs" "$probe" seek-decode "$file" $((seekSeconds * 1000)) 1000
    measure "$test" ffmpeg "$runs" ffmpeg -nostdin -v error -ss $seekSeconds -i "$file" -t 1 -f null -
    measure "$test" sox "$runs" sox "$file" -n trim $seekSeconds 1
    measure "$test" mpv "$runs" mpv --no-config --really-quiet --vo=null --ao=null --ao-null-untimed \
        --start=$seekSeconds --length=1 "$file"
done

if [[ $parts == *b* ]]; then
    echo "(b) decode the one-hour log, $runs runs each" >&2
    measure decode-all ours "$runs" "$probe" decode-all "$hour"
    measure decode-all ffmpeg "$runs" ffmpeg -nostdin -v error -i "$hour" -f null -
    measure decode-all sox "$runs" sox "$hour" -n
    measure decode-all mpv "$runs" mpv --no-config --really-quiet --vo=null --ao=null --ao-null-untimed "$hour"
fi

if [[ $parts != *c* ]]; then
    :
elif pactl info >/dev/null 2>&1; then
    echo "(c) play ${playSeconds} s on the sound server, $playRuns runs each" >&2
    playCpu ours "$probe" play "$hour" "$playSeconds" pulse
    playCpu mpv mpv --no-config --really-quiet --no-video --ao=pulse --length="$playSeconds" "$hour"
    playCpu play env AUDIODRIVER=pulseaudio play -q "$hour" trim 0 "$playSeconds"
    if [[ $haveFfplay == 1 ]]; then
        playCpu ffplay env SDL_AUDIODRIVER=pulseaudio ffplay -v error -nodisp -autoexit -t "$playSeconds" "$hour"
    fi
else
    echo "(c) skipped: no PulseAudio server answers (pactl info)" >&2
fi

# --- table -------------------------------------------------------------------
awk -F'|' -v cores="$(nproc)" '
function median(list, n,    sorted, i, j, t) {
    for (i = 1; i <= n; i++) sorted[i] = list[i]
    for (i = 2; i <= n; i++) for (j = i; j > 1 && sorted[j - 1] > sorted[j]; j--) { t = sorted[j]; sorted[j] = sorted[j - 1]; sorted[j - 1] = t }
    return n % 2 ? sorted[(n + 1) / 2] : (sorted[n / 2] + sorted[n / 2 + 1]) / 2
}
{
    key = $1 SUBSEP $2
    if (!(key in n)) { order[++keys] = key; n[key] = 0 }
    if ($3 == "fail") { failed[key] = 1; next }
    n[key]++
    wall[key, n[key]] = $3
    # CPU share of one core while playing, in percent.
    cpu[key, n[key]] = $3 > 0 ? 100 * ($4 + $5) / $3 : 0
}
END {
    printf "%-16s %-7s %5s %12s %14s %12s\n", "test", "player", "runs", "median", "peer/ours", "note"
    for (k = 1; k <= keys; k++) {
        split(order[k], part, SUBSEP)
        test = part[1]; player = part[2]; key = order[k]
        if (failed[key] || n[key] == 0) { printf "%-16s %-7s %5s %12s\n", test, player, 0, "failed"; continue }
        delete list
        for (i = 1; i <= n[key]; i++) list[i] = (test == "play") ? cpu[key, i] : wall[key, i]
        m = median(list, n[key])
        value[key] = m
        if (player == "ours") ours[test] = m
        unit = (test == "play") ? sprintf("%.2f %%cpu", m) : sprintf("%.3f s", m)
        ratio = (player == "ours") ? "1.00" : (ours[test] > 0 ? sprintf("%.2f", m / ours[test]) : "-")
        note = ""
        if (test == "decode-all") note = sprintf("%.0fx realtime", 3600 / m)
        printf "%-16s %-7s %5d %12s %14s %12s\n", test, player, n[key], unit, ratio, note
        if (!(test in best) || m < best[test]) { best[test] = m; leader[test] = player }
        if (!(test in seen)) { seen[test] = 1; tests[++testCount] = test }
    }
    # Who led each test in this run, from the medians above.
    printf "\n"
    for (t = 1; t <= testCount; t++) {
        test = tests[t]
        what = (test == "play") ? "least CPU" : "fastest"
        if (leader[test] == "ours" || !(test in ours)) printf "%s: %s %s\n", test, what, leader[test]
        else printf "%s: %s %s, ours %.2fx its figure\n", test, what, leader[test], ours[test] / best[test]
    }
}' "$results"
