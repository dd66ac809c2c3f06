#!/usr/bin/env bash
# Sets up the machine and checks the layout of the C++ files, then builds and
# runs every test five times: an optimised build, a build under
# AddressSanitizer and UndefinedBehaviorSanitizer, a plain Release build as a
# user makes it (warnings are not errors there), an optimised build without
# vector code (the plain loops only, no window), and the 64-bit Windows build,
# cross-compiled and run under Wine, whose window is then driven on a virtual
# screen. Then the Windows and Linux programs convert the examples and the
# real-world fixtures and their outputs are compared byte for byte. Last, the
# Debian package, the Windows installer and the portable zip are built,
# installed and removed again (scripts/test_packages.sh).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
export QT_QPA_PLATFORM=offscreen
jobs=$(nproc)
status=0

# Every tracked C++ file laid out as .clang-format says (the fuzz corpus is
# data, and generated sources live in the build folders).
echo "=== clang-format"
format=0 unformatted=()
while IFS= read -r -d '' file; do
  clang-format --dry-run -Werror "$file" >/dev/null 2>&1 || unformatted+=("$file")
done < <(git ls-files -z -- '*.cpp' '*.h' ':(exclude)tests/fuzz/corpus/**')
if ((${#unformatted[@]})); then
  format=1 status=1
  echo "Not formatted (clang-format -i FILE...):"
  printf '  %s\n' "${unformatted[@]}"
fi

for preset in dev asan release nosimd win64; do
  echo "=== $preset build"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j"$jobs"
  # A failing test does not stop the other builds; the status says it at the end.
  ctest --preset "$preset" -j"$jobs" | tee "build/ctest-$preset.log" || status=1
done
if [ -x scripts/fuzz.sh ]; then
  echo "=== fuzz smoke run"
  bash scripts/fuzz.sh 10
fi

# The Windows window driven under Wine on a virtual screen.
smoke=0 smoked=0
if command -v xvfb-run >/dev/null; then
  echo "=== Windows window under Wine"
  smoked=1
  bash scripts/win32_window_smoke.sh build/win64 build/dev || smoke=1 status=1
fi

echo "=== Windows and Linux outputs compared"
compare=0
bash scripts/compare_windows.sh build/win64 build/dev || compare=1 status=1

echo "=== Windows message boxes, under Wine on a virtual screen"
boxes=0
bash scripts/win32_message_boxes.sh build/win64 || boxes=1 status=1

echo "=== Ctrl-C at the console of the Windows program, under Wine"
ctrlc=0
bash scripts/win32_ctrl_c.sh build/win64 || ctrlc=1 status=1

echo "=== Packages"
packages=0
bash scripts/test_packages.sh build/release build/win64 || packages=1 status=1

# One closing line for every build: "tests: N passed, N failed, N skipped",
# the layout check, the comparison, the message boxes, Ctrl-C, the window's
# smoke test and the packages counting as one test each.
total=$((5 + smoked)); failed=$((format + compare + boxes + ctrlc + smoke + packages)); skipped=0
for preset in dev asan release nosimd win64; do
  line=$(grep -E '[0-9]+ tests failed out of [0-9]+' "build/ctest-$preset.log" | tail -n 1)
  f=$(sed -E 's/.* ([0-9]+) tests failed out of ([0-9]+).*/\1/' <<<"$line")
  n=$(sed -E 's/.* ([0-9]+) tests failed out of ([0-9]+).*/\2/' <<<"$line")
  s=$(grep -c '(Skipped)$' "build/ctest-$preset.log" || true)
  total=$((total + n)); failed=$((failed + f)); skipped=$((skipped + s))
done
echo "tests: $((total - failed - skipped)) passed, $failed failed, $skipped skipped"
exit $status
