#!/usr/bin/env bash
# Checks the Windows build against the Linux one, running the Windows
# programs under Wine.
#
#   compare_windows.sh --programs WIN_BUILD
#       both programs are there, linked statically (no DLL but the
#       system's) and carry the version information; marklode-cli.exe tells
#       its version, takes a quoted name with a space, and ends with 0, 1 and
#       2 for a good conversion, a missing input and a file with a bad record;
#       marklode.exe ends with 2 when it has nothing to do (no display for
#       its window).
#   compare_windows.sh WIN_BUILD LINUX_BUILD
#       converts the bundled examples and every tests/realworld fixture in
#       both directions (GPX to POI-CSV, /r POI-CSV to GPX) with both builds
#       and compares the outputs byte for byte, with the exit statuses and
#       the messages.
set -uo pipefail
src=$(cd "$(dirname "$0")/.." && pwd)

mode=compare
if [ "${1:-}" = --programs ]; then mode=programs; shift; fi
win=$(cd "${1:?usage: compare_windows.sh [--programs] WIN_BUILD [LINUX_BUILD]}" && pwd)
wine64=/usr/lib/wine/wine64
[ -x "$wine64" ] || wine64=$(command -v wine64 || command -v wine)
export WINEPREFIX="$win/wine" WINEDEBUG=-all
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}

# Runs a Windows program in the current folder: stderr to err, status printed.
run_win() {
  "$wine64" "$@" 2>err </dev/null
}

check_programs() {
  local objdump=x86_64-w64-mingw32-objdump
  command -v "$objdump" >/dev/null || objdump=objdump
  # Windows' own DLLs; anything else would have to ship beside the exe.
  local system='^(kernel32|user32|shell32|advapi32|gdi32|comdlg32|ole32|oleaut32|shlwapi|comctl32|ws2_32|msvcrt|ucrtbase|api-ms-win-.*)\.dll$'
  for exe in marklode.exe marklode-cli.exe; do
    if [ ! -f "$win/$exe" ]; then
      fail "$exe was not built"
      continue
    fi
    local dlls
    dlls=$("$objdump" -p "$win/$exe" | sed -n 's/^[[:space:]]*DLL Name: //p' | tr 'A-Z' 'a-z')
    [ -n "$dlls" ] || fail "$exe: objdump shows no imports"
    local others
    others=$(grep -Ev "$system" <<<"$dlls" || true)
    [ -z "$others" ] || fail "$exe needs DLLs beside it: $others"
  done
  [ -f "$win/marklode-cli.exe" ] || return

  local version
  version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$win/CMakeCache.txt")
  # The version information resource (UTF-16 strings) carries the version.
  for exe in marklode.exe marklode-cli.exe; do
    strings -el "$win/$exe" | grep -qx "$version" || fail "$exe has no version information $version"
  done
  cd "$work"
  # The first start of a new prefix sets it up and says so on stderr.
  "$wine64" "$win/marklode-cli.exe" --version >/dev/null 2>&1 </dev/null
  local out
  out=$("$wine64" "$win/marklode-cli.exe" --version 2>&1 </dev/null)
  [ "$out" = "Marklode version $version" ] || fail "marklode-cli.exe --version said '$out'"

  cp "$src/examples/club-tour.gpx" good.gpx
  printf '8.5,47.3,"Good"\r\nnot a number,47.3,"Bad"\r\n' >bad.csv
  local status
  for case in "0 good.gpx" "1 missing.gpx" "2 /r bad.csv"; do
    read -r want args <<<"$case"
    # shellcheck disable=SC2086  # args is words
    run_win "$win/marklode-cli.exe" $args >/dev/null
    status=$?
    [ "$status" = "$want" ] || fail "marklode-cli.exe $args ended with $status, not $want: $(cat err)"
  done
  [ -s good.CSV ] || fail "marklode-cli.exe good.gpx wrote no good.CSV"
  # One quoted argument with a space and a letter outside the ANSI code page.
  cp good.gpx "trip ŵ.gpx"
  run_win "$win/marklode-cli.exe" "trip ŵ.gpx" >/dev/null
  status=$?
  [ "$status" = 0 ] && [ -s "trip ŵ.CSV" ] ||
    fail "marklode-cli.exe \"trip ŵ.gpx\" ended with $status: $(cat err)"

  # marklode.exe shows its messages in boxes, which Wine without a display
  # closes at once (so none waits for a click): only the statuses are seen.
  # Without arguments it would open its window, which it cannot show there;
  # a window that waited all the same would be stopped by the time limit.
  [ -f "$win/marklode.exe" ] || return
  for case in "0 --version" "2" "1 missing.gpx"; do
    read -r want args <<<"$case"
    # shellcheck disable=SC2086  # args is words
    (unset DISPLAY WAYLAND_DISPLAY &&
      timeout 120 "$wine64" "$win/marklode.exe" $args >/dev/null 2>err </dev/null)
    status=$?
    [ "$status" = "$want" ] || fail "marklode.exe $args ended with $status, not $want"
  done
}

# Converts one fixture with both builds, each in a folder of its own, given
# by its bare name so that messages do not differ in their paths.
compare_one() {
  local file=$1 reverse=$2 name
  name=$(basename "$file")
  local tag=$name${reverse:+-r}
  mkdir -p "$work/linux/$tag" "$work/win/$tag"
  cp "$file" "$work/linux/$tag/"
  cp "$file" "$work/win/$tag/"
  local ls ws
  (cd "$work/linux/$tag" && "$linux/marklode" $reverse "$name" >/dev/null 2>../"$tag".err </dev/null)
  ls=$?
  (cd "$work/win/$tag" && "$wine64" "$win/marklode-cli.exe" $reverse "$name" >/dev/null \
    2>../"$tag".err </dev/null)
  ws=$?
  [ "$ls" = "$ws" ] || fail "$tag: exit status $ls on Linux, $ws on Windows"
  cmp -s "$work/linux/$tag.err" "$work/win/$tag.err" ||
    fail "$tag: messages differ: $(diff "$work/linux/$tag.err" "$work/win/$tag.err" | head -4)"
  local diffs
  diffs=$(diff -rq "$work/linux/$tag" "$work/win/$tag" 2>&1) || fail "$tag: outputs differ: $diffs"
  compared=$((compared + 1))
}

if [ "$mode" = programs ]; then
  check_programs
else
  linux=$(cd "${2:?usage: compare_windows.sh WIN_BUILD LINUX_BUILD}" && pwd)
  compared=0
  for f in "$src"/examples/*.gpx "$src"/tests/realworld/*.gpx; do compare_one "$f" ""; done
  for f in "$src"/examples/*.csv "$src"/tests/realworld/*.csv; do compare_one "$f" /r; done
  echo "compare_windows: $compared conversions compared, $failures differ"
fi
if ((failures)); then
  exit 1
fi
echo "compare_windows: OK"
