#!/usr/bin/env bash
# Builds the libFuzzer targets (preset "fuzz", clang) and runs each for a set
# time, one after another. Fails on the first crash, hang, leak or sanitizer
# report; the input that caused it is left in tests/fuzz/artifacts/.
#
#   scripts/fuzz.sh [SECONDS] [TARGET...]     default: 10 seconds, every target
#
# Targets: gpx_reader poi_reader template profile command_line kml_reader geojson_reader. Each starts from
# its seed corpus in tests/fuzz/corpus/TARGET and the inputs that once failed in
# tests/fuzz/regressions/TARGET; inputs it finds go to build/fuzz/corpus/TARGET
# and are kept for the next run.
set -euo pipefail
cd "$(dirname "$0")/.."
secs=${1:-10}
shift || true
targets=("$@")
((${#targets[@]})) || targets=(gpx_reader poi_reader template profile command_line kml_reader geojson_reader)

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j"$(nproc)" --target "${targets[@]/#/fuzz_}"

root=$PWD
mkdir -p tests/fuzz/artifacts
for t in "${targets[@]}"; do
  work="build/fuzz/corpus/$t"
  mkdir -p "$work"
  # Inputs that once failed are run first, every time.
  dirs=("$root/$work" "$root/tests/fuzz/corpus/$t")
  [ -d "tests/fuzz/regressions/$t" ] && dirs+=("$root/tests/fuzz/regressions/$t")
  echo "=== fuzz_$t for ${secs}s"
  # Run inside the build folder: the command-line target looks names up in the
  # current directory.
  (cd build/fuzz && ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 \
     UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
     "./tests/fuzz/fuzz_$t" -max_total_time="$secs" -timeout=10 -rss_limit_mb=2048 \
       -max_len=65536 -print_final_stats=1 \
       -artifact_prefix="$root/tests/fuzz/artifacts/$t-" \
       "${dirs[@]}" 2>&1 | tail -n 25) || {
    echo "fuzz_$t failed: see tests/fuzz/artifacts/ (replay: build/fuzz/tests/fuzz/fuzz_$t FILE)" >&2
    exit 1
  }
done
