#!/usr/bin/env bash
# Sets up the machine, then builds and runs every test four times: an optimised
# build, a build under AddressSanitizer and UndefinedBehaviorSanitizer, a
# plain Release build as a user makes it (warnings are not errors there), and
# an optimised build without vector code (the plain loops only, no window).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
export QT_QPA_PLATFORM=offscreen
jobs=$(nproc)
for preset in dev asan release nosimd; do
  echo "=== $preset build"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j"$jobs"
  ctest --preset "$preset" -j"$jobs" | tee "build/ctest-$preset.log"
done
if [ -x scripts/fuzz.sh ]; then
  echo "=== fuzz smoke run"
  bash scripts/fuzz.sh 10
fi

# One closing line for every build: "tests: N passed, N failed, N skipped".
total=0; failed=0; skipped=0
for preset in dev asan release nosimd; do
  line=$(grep -E '[0-9]+ tests failed out of [0-9]+' "build/ctest-$preset.log" | tail -n 1)
  f=$(sed -E 's/.* ([0-9]+) tests failed out of ([0-9]+).*/\1/' <<<"$line")
  n=$(sed -E 's/.* ([0-9]+) tests failed out of ([0-9]+).*/\2/' <<<"$line")
  s=$(grep -c '(Skipped)$' "build/ctest-$preset.log" || true)
  total=$((total + n)); failed=$((failed + f)); skipped=$((skipped + s))
done
echo "tests: $((total - failed - skipped)) passed, $failed failed, $skipped skipped"
