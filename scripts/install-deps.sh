#!/usr/bin/env bash
# Installs the Debian packages Tarnveil needs, and only those that are missing.
# Usage: scripts/install-deps.sh [build|test|run|bench|all]
set -euo pipefail

# libmpg123 decodes MPEG logs while they are recorded: libsndfile's own MPEG
# decoder ends where the file ended when it was opened.
build=(cmake g++ pkg-config qt6-base-dev libqt6sql6-sqlite libsndfile1-dev portaudio19-dev libsamplerate0-dev
       libebur128-dev libsqlite3-dev libmpg123-dev
       libgtest-dev libgmock-dev libbenchmark-dev libfuse3-dev
       dpkg-dev)
# The tests play through a real sound server with a null sink, on a headless display;
# bindfs serves the logger drive as a FUSE share that they can freeze;
# rotter records onto a JACK server on the dummy driver, as another station's
# logger, with faketime setting the hour it names its files by.
test=(pulseaudio pulseaudio-utils libasound2-plugins alsa-utils xvfb xauth
      clang libclang-rt-14-dev qt6-qpa-plugins fonts-dejavu-core
      desktop-file-utils appstream
      bindfs fuse3 rotter jackd2 faketime)
run=(xvfb xauth pulseaudio libasound2-plugins qt6-qpa-plugins fonts-dejavu-core
     pulseaudio-utils)
# Benchmarks: the players an operator would otherwise use, a display to time start-up on,
# and FUSE for the slow share the archive is timed on.
bench=(mpv ffmpeg sox libsox-fmt-pulse xvfb xdotool pulseaudio pulseaudio-utils libasound2-plugins fuse3)

case "${1:-all}" in
  build) wanted=("${build[@]}") ;;
  test)  wanted=("${build[@]}" "${test[@]}") ;;
  run)   wanted=("${build[@]}" "${run[@]}") ;;
  bench) wanted=("${build[@]}" "${bench[@]}") ;;
  all)   wanted=("${build[@]}" "${test[@]}" "${run[@]}" "${bench[@]}") ;;
  *) echo "usage: $0 [build|test|run|bench|all]" >&2; exit 2 ;;
esac

missing=()
for pkg in "${wanted[@]}"; do
  dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed" || missing+=("$pkg")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=()
[ "$(id -u)" -eq 0 ] || sudo=(sudo)
echo "Installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
"${sudo[@]}" apt-get update -qq
"${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
