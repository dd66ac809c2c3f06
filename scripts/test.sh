#!/usr/bin/env bash
# Sets up the machine, then builds and runs every test twice: an optimised
# build, and a build under AddressSanitizer and UndefinedBehaviorSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
export QT_QPA_PLATFORM=offscreen
jobs=$(nproc)
for preset in dev asan; do
  echo "=== $preset build"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j"$jobs"
  ctest --preset "$preset" -j"$jobs"
done
if [ -x scripts/fuzz.sh ]; then
  echo "=== fuzz smoke run"
  bash scripts/fuzz.sh 10
fi
