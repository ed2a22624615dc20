#!/usr/bin/env bash
# Soak: the real console, on a virtual X display, plays a long log to the sound
# server with its 50-ms timer running, for MINUTES (default 30). Every 30 s it
# samples the console's resident memory, open file descriptors and whether its
# stream is still on the sound server; at the end it prints first, last and
# largest figures and a verdict. When the log ends before the time is up, Play
# is pressed again. Not for CI: it takes as long as it is told to.
#
# Usage: scripts/soak.sh [MINUTES] [BUILD_DIR]   (BUILD_DIR default: build)
#   SOAK_LOG=file.wav  the log to play (default build/bench-data/two-gib.wav,
#                      3.1 hours, made by bench/peers.sh; else a 2-hour log of
#                      silence is written sparse)
#   SOAK_INTERVAL=30   seconds between samples
# Needs Xvfb, xdotool, pactl and a PulseAudio server.
set -euo pipefail

repo=$(cd "$(dirname "$0")/.." && pwd)
[[ -n ${SKIP_INSTALL:-} ]] || "$repo/scripts/install-deps.sh" bench
minutes=${1:-30}
build=${2:-$repo/build}
case $build in /*) ;; *) build=$repo/$build ;; esac
interval=${SOAK_INTERVAL:-30}
binary=$build/tarnveil
[[ -x $binary ]] || { echo "soak.sh: $binary missing; build the target tarnveil first" >&2; exit 1; }
pactl info >/dev/null 2>&1 || { echo "soak.sh: no PulseAudio server answers" >&2; exit 1; }
source "$repo/bench/console_env.sh"

work=$(mktemp -d)
cleanup() { stop_console; stop_display; rm -rf "$work"; }
trap cleanup EXIT

log=${SOAK_LOG:-$repo/build/bench-data/two-gib.wav}
if [[ ! -f $log ]]; then
    # Two hours of 48 kHz stereo 16-bit silence, sparse on disk.
    log=$work/soak-log.wav
    frames=$((48000 * 7200))
    printf 'RIFF' >"$log"
    le32() { printf "$(printf '\\x%02x\\x%02x\\x%02x\\x%02x' $(($1 & 255)) $(($1 >> 8 & 255)) $(($1 >> 16 & 255)) $(($1 >> 24 & 255)))"; }
    { le32 $((36 + frames * 4)); printf 'WAVEfmt '; le32 16; printf '\x01\x00\x02\x00'; le32 48000; le32 192000
      printf '\x04\x00\x10\x00data'; le32 $((frames * 4)); } >>"$log"
    truncate -s $((44 + frames * 4)) "$log"
fi

make_prefix "$work/prefix" "$log"
start_display
start_console "$binary" "$work/prefix" || { echo "soak.sh: the console window did not appear" >&2; exit 1; }
play_first_log
sleep 2
[[ $(console_streams) -ge 1 ]] || { echo "soak.sh: the console is not playing" >&2; exit 1; }

echo "soak: $minutes min, sample every $interval s, log $(basename "$log"), pid $CONSOLE_PID"
printf '%8s %10s %5s %8s %8s\n' elapsed rss_kb fds streams cpu_s
samples=$work/samples
start=$SECONDS
end=$((start + minutes * 60))
replays=0
while :; do
    kill -0 "$CONSOLE_PID" 2>/dev/null || { echo "soak.sh: the console has exited" >&2; exit 1; }
    streams=$(console_streams)
    read -r utime stime < <(awk '{ print $14, $15 }' "/proc/$CONSOLE_PID/stat")
    cpu=$(awk -v t=$((utime + stime)) -v hz="$(getconf CLK_TCK)" 'BEGIN { printf "%.1f", t / hz }')
    line="$((SECONDS - start)) $(rss_kb "$CONSOLE_PID") $(fd_count "$CONSOLE_PID") $streams $cpu"
    echo "$line" >>"$samples"
    printf '%8s %10s %5s %8s %8s\n' $line
    if [[ $streams -eq 0 ]]; then
        replays=$((replays + 1))
        play_first_log
    fi
    ((SECONDS + interval <= end)) || break
    sleep "$interval"
done

awk -v replays=$replays '
NR == 1 { firstRss = $2; firstFd = $3 }
{ lastRss = $2; lastFd = $3; lastCpu = $5; lastT = $1
  if ($2 > maxRss) maxRss = $2
  if ($3 > maxFd) maxFd = $3
  if ($4 == 0) silent++
  # Growth is judged after the first minute, once buffers and fonts have settled.
  if ($1 >= 60 && !settled) { settled = 1; baseRss = $2; baseFd = $3 } }
END {
    if (!settled) { baseRss = firstRss; baseFd = firstFd }
    printf "\nresident memory: first %d kB, last %d kB, max %d kB (after the first minute: %d -> %d kB, %+.1f %%)\n",
           firstRss, lastRss, maxRss, baseRss, lastRss, 100 * (lastRss - baseRss) / baseRss
    printf "file descriptors: first %d, last %d, max %d\n", firstFd, lastFd, maxFd
    printf "CPU: %.1f s over %d s (%.2f %% of one core); samples not playing: %d, replays: %d\n",
           lastCpu, lastT, (lastT > 0 ? 100 * lastCpu / lastT : 0), silent + 0, replays
    # Noise: allocator and font caches move by a few hundred kB; a leak of one
    # buffer per tick would add megabytes within minutes.
    growth = lastRss - baseRss
    flat = growth <= 2048 && growth <= 0.05 * baseRss && lastFd <= baseFd
    print "verdict: " (flat ? "flat (no growth beyond noise)" : "GROWING")
    exit (flat ? 0 : 1)
}' "$samples"
