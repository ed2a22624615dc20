#!/usr/bin/env bash
# Builds Tarnveil and runs every test headless: Qt's offscreen platform, a real
# PulseAudio server with a null sink, a second run under AddressSanitizer and
# UndefinedBehaviorSanitizer, a run of the threaded suites under
# ThreadSanitizer, then a short run of each fuzzer. TARNVEIL_QUICK=1 skips the
# sanitizer and fuzzing runs.
set -euo pipefail
cd "$(dirname "$0")/.."

jobs=$(nproc)

total=0
failed=0
skipped=0
retried=""
finished=0
started_server=0
# Whatever ends the run, the summary is its last line: a step that breaks off
# early counts as one more failure.
finish() {
  if [ "$started_server" = 1 ]; then pulseaudio --kill 2>/dev/null || true; fi
  if [ "$finished" = 0 ]; then
    echo "The test command ended early." >&2
    total=$((total + 1))
    failed=$((failed + 1))
  fi
  retried=$(tr ' ' '\n' <<<"$retried" | sort -u | xargs)
  [ -z "$retried" ] || echo "Passed only on a retry: ${retried// /, }"
  echo "Summary: $((total - failed - skipped)) passed, $failed failed, $skipped skipped"
  [ "$failed" -eq 0 ] && exit 0 || exit 1
}
trap finish EXIT

scripts/install-deps.sh test
if ! pactl info >/dev/null 2>&1; then
  pulseaudio -n --daemonize=yes --exit-idle-time=-1 --log-target=syslog \
    -L module-null-sink -L module-native-protocol-unix 2>/dev/null
  for _ in $(seq 50); do pactl info >/dev/null 2>&1 && break; sleep 0.1; done
  pactl info >/dev/null 2>&1 || { echo "The PulseAudio test server did not start." >&2; exit 1; }
  started_server=1
fi

run_suite() {
  local folder=$1; shift
  # A build that fails is one failure on the closing line, and the run goes on.
  if ! { cmake -S . -B "$folder" -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null &&
         cmake --build "$folder" -j "$jobs"; }; then
    echo "The build in $folder failed." >&2
    total=$((total + 1))
    failed=$((failed + 1))
    return
  fi
  # Playback tests run at the sound server's real pace; on a loaded two-core
  # machine a scheduling stall can starve one, so a failing test gets two more tries.
  # Tests named in $skip_tests (a CTest pattern) are left out of this build's run.
  (cd "$folder" && ctest --output-on-failure -j "$jobs" --timeout 600 --repeat until-pass:3 \
    ${skip_tests:+-E "$skip_tests"}) | tee "$folder/ctest.log" || true
  # "N% tests passed, F tests failed out of T" -> running totals for the closing line.
  local line
  line=$(grep -E 'tests passed, [0-9]+ tests failed out of [0-9]+' "$folder/ctest.log" | tail -1 || true)
  if [ -z "$line" ]; then
    echo "ctest in $folder gave no totals." >&2
    total=$((total + 1))
    failed=$((failed + 1))
    return
  fi
  total=$((total + $(sed -E 's/.* out of ([0-9]+).*/\1/' <<<"$line")))
  failed=$((failed + $(sed -E 's/.*passed, ([0-9]+) tests failed.*/\1/' <<<"$line")))
  skipped=$((skipped + $(grep -c '(Skipped)$' "$folder/ctest.log" || true)))
  # A test that failed and then passed on a retry is named on the closing line,
  # so that a flaky test stays visible. A sanitizer's report is no flake of
  # timing: a test that gave one in any try counts as failed, retried or not.
  local outcomes
  outcomes=$(awk '
    /Test +#[0-9]+: / {
      name = $0
      sub(/.*Test +#[0-9]+: /, "", name)
      sub(/ \.+.*/, "", name)
      # A parameterised test carries its parameter after the name: "  # GetParam() = ...".
      sub(/ +#.*/, "", name)
      if ($0 ~ /\*\*\*/ && $0 !~ /\*\*\*(Skipped|Not Run)/) failedOnce[name] = 1
      else if ($0 ~ / Passed /) passed[name] = 1
      next
    }
    /^(WARNING: ThreadSanitizer|==[0-9]+==ERROR: AddressSanitizer)/ { reported[name] = 1 }
    END {
      for (name in passed) {
        if (name in reported) print "reported", name
        else if (name in failedOnce) print "retried", name
      }
    }' "$folder/ctest.log" | sort)
  retried+=" $(sed -n 's/^retried //p' <<<"$outcomes" | tr '\n' ' ')"
  local reported
  reported=$(sed -n 's/^reported //p' <<<"$outcomes" | tr '\n' ' ')
  if [ -n "$reported" ]; then
    echo "A sanitizer reported in a try of: $reported" >&2
    failed=$((failed + $(wc -w <<<"$reported")))
  fi
}
run_suite build
if [ "${TARNVEIL_QUICK:-0}" != 1 ]; then
  # Leak checking stays off: ALSA unloads its plug-ins before the process ends,
  # and what they keep for the process's life then shows up as leaks in an
  # unknown module, which no suppression can name.
  export ASAN_OPTIONS=detect_leaks=0:abort_on_error=1:detect_stack_use_after_return=1
  export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
  run_suite build-asan -DTARNVEIL_SANITIZE=ON -DTARNVEIL_BENCH=OFF
  # The suites whose work runs on threads of their own, under ThreadSanitizer:
  # a report fails its test (status 66) without ending it. Two tests wait for
  # playback at the sound server's pace within bounds that the checker's
  # slowdown overruns (following a live MPEG log into the next, Go To Time
  # playing a log through); the other two builds run them.
  skip_tests='OtherLoggerLiveLog.*DatedMp3|GoToTimePlaysTheLogHoldingTheMomentFromItsSample' \
    TSAN_OPTIONS="suppressions=$PWD/scripts/tsan.supp:halt_on_error=0:exitcode=66" \
    run_suite build-tsan -DTARNVEIL_TSAN=ON -DTARNVEIL_BENCH=OFF \
    -DTARNVEIL_TEST_FOLDERS="components;share;console;tools;faults;timeline"
  # A short fuzzing smoke run of every target from its seed corpus; each target
  # counts as one test, a crash as a failure.
  fuzz_log=$(mktemp)
  env -u ASAN_OPTIONS scripts/fuzz.sh "${TARNVEIL_FUZZ_SECONDS:-15}" | tee "$fuzz_log" || true
  fuzz_total=$(grep -cE '^fuzz_[a-z_]+: ' "$fuzz_log" || true)
  fuzz_failed=$(grep -cE '^fuzz_[a-z_]+: FAILED' "$fuzz_log" || true)
  # No per-target line at all: the fuzz targets did not build.
  [ "$fuzz_total" -gt 0 ] || { fuzz_total=1; fuzz_failed=1; }
  rm -f "$fuzz_log"
  total=$((total + fuzz_total))
  failed=$((failed + fuzz_failed))
fi
finished=1
