#!/usr/bin/env bash
# Builds Tarnveil and runs it on demo data kept inside the build folder (never
# in your own prefix): a program folder with settings "0L", and a logger drive
# L: holding finished logs plus a live one that the logger simulator records
# while the console runs. A second run reuses the finished logs.
set -euo pipefail
cd "$(dirname "$0")/.."

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  echo "No display: run this from a desktop session, or under xvfb-run: xvfb-run -a scripts/run-demo.sh" >&2
  exit 1
fi

scripts/install-deps.sh run
cmake -S . -B build
cmake --build build -j"$(nproc)"

build=$PWD/build
prefix=$build/demo-prefix
drive=$build/demo-logger
logger=$build/tarnveil-logger
program_folder="$prefix/drive_c/program files/Tarnveil"

# The prefix: C: holds the program folder, L: is the demo logger's drive.
mkdir -p "$prefix/dosdevices" "$program_folder" "$drive"
ln -sfn ../drive_c "$prefix/dosdevices/c:"
ln -sfn ../../demo-logger "$prefix/dosdevices/l:"
# Kept when present, so preferences changed in the demo survive the next run.
[ -f "$program_folder/ZeVudi.ini" ] || printf '0L' >"$program_folder/ZeVudi.ini"
if [ -f "$build/help.rtf" ]; then cp "$build/help.rtf" "$program_folder/help.rtf"; fi

# Finished logs on the day before the first demo run. The simulator keeps files
# that exist, so later runs write nothing new here.
[ -f "$drive/.demo-day" ] || date -d yesterday +%F >"$drive/.demo-day"
day=$(cat "$drive/.demo-day")
backlog() { "$logger" --root "$drive" "$@" >/dev/null; }
echo "Preparing the demo logs in $drive/logger/logs ..."
backlog --backlog 1 --backlog-length 65m --backlog-end "${day}_07-05-00" --rate 8000 --channels 1
backlog --backlog 3 --backlog-length 3m --backlog-end "${day}_08-09-00" --rate 22050 --channels 2
backlog --backlog 3 --backlog-length 10s --backlog-end "${day}_09-00-30" --rate 44100 --channels 2
backlog --backlog 1 --backlog-length 2m --backlog-end "${day}_10-02-00" --rate 8000 --channels 1 --format alaw
backlog --backlog 1 --backlog-length 1m --backlog-end "${day}_11-01-00" --rate 48000 --channels 2 --format pcm24

started_server=0
logger_pid=
cleanup() {
  if [ -n "$logger_pid" ]; then
    # SIGTERM lets the simulator give the live log its true sizes.
    kill -TERM "$logger_pid" 2>/dev/null || true
    wait "$logger_pid" 2>/dev/null || true
  fi
  if [ "$started_server" = 1 ]; then pulseaudio --kill 2>/dev/null || true; fi
}
trap cleanup EXIT

if ! pactl info >/dev/null 2>&1; then
  echo "Starting a PulseAudio server for the demo ..."
  # The user's own configuration first (real sound cards); a null sink when that fails.
  pulseaudio --start --exit-idle-time=-1 --log-target=syslog 2>/dev/null \
    || pulseaudio -n --daemonize=yes --exit-idle-time=-1 --log-target=syslog \
         -L module-null-sink -L module-native-protocol-unix 2>/dev/null || true
  for _ in $(seq 50); do pactl info >/dev/null 2>&1 && break; sleep 0.1; done
  if pactl info >/dev/null 2>&1; then
    started_server=1
  else
    echo "No PulseAudio server could be started; the console will list ALSA devices only." >&2
  fi
fi

# The live log: recorded in real time while the console runs.
"$logger" --root "$drive" --rate 22050 --channels 2 >>"$build/demo-logger.log" 2>&1 &
logger_pid=$!
curfile="$drive/logger/CurFile"
for _ in $(seq 50); do
  # Non-empty once the first live file is named (2-byte length, then the path).
  if [ -f "$curfile" ] && [ "$(head -c 1 "$curfile" | od -An -tu1 | tr -d ' ')" != 0 ]; then break; fi
  sleep 0.1
done
if ! kill -0 "$logger_pid" 2>/dev/null; then
  echo "The logger simulator stopped; see $build/demo-logger.log" >&2
  logger_pid=
  exit 1
fi

echo "Console: $build/tarnveil with TARNVEIL_PREFIX=$prefix (logger drive L: = $drive)"
status=0
TARNVEIL_PREFIX="$prefix" "$build/tarnveil" || status=$?
exit "$status"
