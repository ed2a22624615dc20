#!/usr/bin/env bash
# Resident memory while playing a 2 GiB log against playing a 2-second one: the
# player reads ahead a fixed half second, so the file's size must not show.
# Two measurements, each printing both figures and their ratio:
#   engine  - engine_probe rss-play (WavePlayer alone), sampled every 0.5 s
#   console - the real console on a virtual X display, sampled 1.5 s after Play
# Usage: bench/memory.sh [BUILD_DIR]   (default: build)
# Uses build/bench-data/two-gib.wav (made by bench/peers.sh); needs a PulseAudio
# server, and Xvfb + xdotool for the console part.
set -euo pipefail

repo=$(cd "$(dirname "$0")/.." && pwd)
source "$repo/bench/console_env.sh"
bench_start "${1:-}"
data=$repo/build/bench-data
big=$data/two-gib.wav
short=$data/two-seconds.wav
[[ -f $big ]] || { echo "memory.sh: $big missing; run bench/peers.sh first" >&2; exit 1; }
if [[ ! -f $short ]]; then
    sox "$data/minute.wav" -t wav "$short.part" trim 0 2
    mv "$short.part" "$short"
fi

verdict() { # LABEL SHORT_KB BIG_KB
    awk -v label="$1" -v s="$2" -v b="$3" 'BEGIN {
        r = b / s
        printf "%-26s 2 s log %7d kB   2 GiB log %7d kB   ratio %.3f   %s\n", label, s, b, r,
               (r <= 1.10 ? "within 10 %" : "MORE THAN 10 % ABOVE")
    }'
}

# Engine: the largest and the 1.5-s sample of each run (the 2 s log has ended by 2 s).
engine() { # FILE SECONDS -> "max at1500"
    "$build/bench/engine_probe" rss-play "$1" "$2" pulse |
        awk '/^rss_kb/ { n++; if (n == 3) at = $2; if ($2 > max) max = $2 } END { print max, at }'
}
read -r shortMax shortAt < <(engine "$short" 2)
read -r bigMax bigAt < <(engine "$big" 2)
read -r bigMax20 _ < <(engine "$big" 20)
verdict "engine, at 1.5 s" "$shortAt" "$bigAt"
verdict "engine, largest" "$shortMax" "$bigMax"
verdict "engine, largest over 20 s" "$shortMax" "$bigMax20"

if command -v Xvfb >/dev/null && command -v xdotool >/dev/null; then
    work=$(mktemp -d)
    trap clean_up_console_run EXIT
    start_display
    console() { # FILE -> kB 1.5 s after Play
        make_prefix "$work/prefix" "$1"
        start_console "$build/tarnveil" "$work/prefix"
        sleep 1
        play_first_log
        sleep 1.5
        rss_kb "$CONSOLE_PID"
        stop_console
    }
    verdict "console, 1.5 s after Play" "$(console "$short")" "$(console "$big")"
fi
