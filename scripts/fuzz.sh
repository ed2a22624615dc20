#!/usr/bin/env bash
# Builds the fuzz targets (clang, libFuzzer, ASan + UBSan) in build-fuzz and runs
# each for the given time from its committed seed corpus, collecting new inputs
# in a scratch corpus under build-fuzz (never committed).
# Usage: scripts/fuzz.sh [seconds-per-target] [target...]
#   scripts/fuzz.sh 15                 CI smoke run of every target
#   scripts/fuzz.sh 600 rtf_reader     ten minutes on the rich-text reader
# Exits non-zero when a target crashes; the input is kept in build-fuzz/artifacts/<target>/.
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
seconds="${1:-300}"
shift || true
all=(rtf_reader wave_header live_fixup cur_file settings registry player_open)
targets=("${@:-${all[@]}}")

"$root/scripts/install-deps.sh" test

build="$root/build-fuzz"
cmake -S "$root/tests/fuzz" -B "$build" -DCMAKE_CXX_COMPILER=clang++ >/dev/null
cmake --build "$build" -j2 --target "${targets[@]/#/fuzz_}"

dict_for() {
  case "$1" in
    rtf_reader) echo rtf.dict ;;
    wave_header|live_fixup|player_open) echo wave.dict ;;
    cur_file) echo curfile.dict ;;
    registry) echo registry.dict ;;
  esac
}

export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1}"
export LSAN_OPTIONS="suppressions=$root/scripts/lsan.supp:print_suppressions=0"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
export QT_QPA_PLATFORM=offscreen

failed=()
summary=()
for target in "${targets[@]}"; do
  scratch="$build/corpus/$target"
  artifacts="$build/artifacts/$target"
  mkdir -p "$scratch" "$artifacts"
  options=(-max_total_time="$seconds" -timeout=20 -rss_limit_mb=2048 -print_final_stats=1
           -artifact_prefix="$artifacts/")
  dict="$(dict_for "$target")"
  [ -n "$dict" ] && options+=(-dict="$root/tests/fuzz/$dict")
  log="$build/fuzz_$target.log"
  echo "== fuzz_$target: ${seconds}s"
  status=0
  "$build/fuzz_$target" "${options[@]}" "$scratch" "$root/tests/fuzz/corpus/$target" >"$log" 2>&1 || status=$?
  runs="$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)"
  if [ "$status" -ne 0 ]; then
    failed+=("$target")
    grep -E 'ERROR: |SUMMARY: |fuzz expectation failed|runtime error|Test unit written' "$log" | head -n 20 || true
    summary+=("fuzz_$target: FAILED after ${runs:-?} runs (log: $log)")
  else
    summary+=("fuzz_$target: ${runs:-?} runs, corpus $(find "$scratch" -type f | wc -l) files, no crash")
  fi
done

echo
printf '%s\n' "${summary[@]}"
if [ ${#failed[@]} -gt 0 ]; then
  echo "crashed: ${failed[*]}" >&2
  exit 1
fi
