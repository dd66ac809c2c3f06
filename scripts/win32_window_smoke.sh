#!/usr/bin/env bash
# The Windows window, driven like a user under Wine on a virtual X screen:
# first the window's cycle cancelled in its progress window
# (tests/test_win32_window_cycle.cpp); then marklode.exe opens its window, the input and output are typed into the
# fields, Enter converts, the result box is answered, the window comes back,
# Esc ends the program, and the store holds the window's place; then, under
# the openbox window manager, sizes that break the window's size rule are
# undone. The output
# must equal the Linux program's for the same input (the console program's
# when no Linux build is at hand).
# Usage: scripts/win32_window_smoke.sh [WIN64_BUILD] [LINUX_BUILD]
#        (defaults: build/win64 and build/dev)
# Skips (status 0, saying so) where xvfb-run, xdotool or Wine is missing.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"

if [ "${1:-}" != --on-screen ]; then
  build="$(cd "${1:-$root/build/win64}" && pwd)"
  linux="${2:-$root/build/dev}"
  [ -d "$linux" ] && linux="$(cd "$linux" && pwd)"
  wine="$(sed -n 's/^MARKLODE_WINE64:FILEPATH=//p' "$build/CMakeCache.txt" 2>/dev/null || true)"
  [ -x "$wine" ] || wine="$(command -v wine64 || echo /usr/lib/wine/wine64)"
  for tool in xvfb-run xdotool "$wine"; do
    if ! command -v "$tool" >/dev/null; then
      echo "win32 window smoke test skipped: $tool is not installed"
      exit 0
    fi
  done
  [ -f "$build/marklode.exe" ] || { echo "no $build/marklode.exe"; exit 1; }
  # A screen of its own; the script comes back below, on it.
  exec timeout 300 xvfb-run -a -s "-screen 0 1024x768x24" \
    bash "$0" --on-screen "$build" "$linux" "$wine"
fi
build="$2" linux="$3" wine="$4"
wineserver="$(dirname "$wine")/wineserver"
[ -x "$wineserver" ] || wineserver=wineserver

work="$(mktemp -d "$build/window-smoke.XXXXXX")"
app="" wm=""
cleanup() {
  [ -n "$app" ] && kill "$app" 2>/dev/null || true
  [ -n "$wm" ] && kill "$wm" 2>/dev/null || true
  timeout 20 "$wineserver" -k 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
# A Wine prefix of the window's own in the build tree; no installer dialogs.
export WINEPREFIX="$build/wine-window" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
key='HKCU\Software\Orvel\Marklode'
# Nothing left of an earlier run on a screen that is gone.
timeout 20 "$wineserver" -k 2>/dev/null || true
timeout 120 "$wine" reg delete "$key" /f >/dev/null 2>&1 || true

fail() {
  echo "win32 window smoke test FAILED: $*"
  import -window root "$work/screen.png" 2>/dev/null && cp "$work/screen.png" "$build/window-smoke-failure.png" &&
    echo "the screen is in $build/window-smoke-failure.png"
  exit 1
}
# wait_for SECONDS COMMAND...: until the command succeeds.
wait_for() {
  local limit=$(($(date +%s) + $1))
  shift
  until "$@"; do
    [ "$(date +%s)" -lt "$limit" ] || return 1
    sleep 0.3
  done
}
visible() { xdotool search --onlyvisible --name '^Marklode$' 2>/dev/null | head -n 1; }
has_window() { [ -n "$(visible)" ]; }
main_window() { # the main window by its size, not the boxes of the same title
  local w
  for w in $(xdotool search --onlyvisible --name '^Marklode$' 2>/dev/null); do
    [ "$(xdotool getwindowgeometry "$w" | sed -n 's/.*Geometry: \([0-9]*\)x.*/\1/p')" = "$width" ] &&
      echo "$w" && return 0
  done
  return 1
}
box_window() {
  local w
  for w in $(xdotool search --onlyvisible --name '^Marklode$' 2>/dev/null); do
    [ "$(xdotool getwindowgeometry "$w" | sed -n 's/.*Geometry: \([0-9]*\)x.*/\1/p')" != "$width" ] &&
      echo "$w" && return 0
  done
  return 1
}
to_wine() { echo "Z:${1//\//\\}"; }

# The window's cycle with the progress window on this screen: a Cancel during
# a list's second item, and the box that names what the first one wrote;
# the result box with the run report below its text.
if [ -f "$build/tests/win32_window_cycle_tests.exe" ]; then
  timeout 200 "$wine" "$build/tests/win32_window_cycle_tests.exe" >"$work/cycle.log" 2>&1 ||
    { cat "$work/cycle.log"; fail "the window cycle tests failed"; }
fi

cp "$root/examples/club-tour.gpx" "$work/tour.gpx"
output="$work/tour-window.csv"

cd "$work"
timeout 200 "$wine" "$build/marklode.exe" >/dev/null 2>&1 &
app=$!
wait_for 90 has_window || fail "no window titled Marklode"
window="$(visible)"
width="$(xdotool getwindowgeometry "$window" | sed -n 's/.*Geometry: \([0-9]*\)x.*/\1/p')"

# Focus starts on the first direction button; Tab leads to the input field,
# the caption's letter (Alt+T) to the output field.
xdotool windowfocus "$window"
sleep 0.5
xdotool key Tab
xdotool type --delay 15 "$(to_wine "$work/tour.gpx")"
xdotool key alt+t
xdotool type --delay 15 "$(to_wine "$output")"
xdotool key Return
wait_for 60 test -s "$output" || fail "Enter wrote no $output"

# The result box, over the closed window; OK brings the window back.
wait_for 30 box_window >/dev/null || fail "no result box"
box="$(box_window)"
xdotool windowfocus "$box"
sleep 0.3
xdotool key Return
wait_for 30 main_window >/dev/null || fail "the window did not come back after the conversion"
window="$(main_window)"
xdotool windowfocus "$window"
sleep 0.5
xdotool key Escape
wait_for 60 bash -c "! kill -0 $app 2>/dev/null" || fail "Esc did not end the program"
wait "$app" || fail "the program ended with status $?"
app=""

stored="$(timeout 60 "$wine" reg query "$key" 2>/dev/null | tr -d '\r')"
grep -q 'WindowX' <<<"$stored" && grep -q 'WindowY' <<<"$stored" ||
  fail "no WindowX and WindowY under $key: $stored"

# The size rule under a window manager, which sizes the window without
# asking it: a drag to 162 pixels wide or to 507 tall, a stretch over the
# whole screen and a maximise each end at the designed height and at least
# the designed width.
if command -v openbox >/dev/null; then
  openbox >/dev/null 2>&1 &
  wm=$!
  sleep 1
  timeout 200 "$wine" "$build/marklode.exe" >/dev/null 2>&1 &
  app=$!
  wait_for 90 has_window || fail "no window titled Marklode under a window manager"
  sleep 1
  window="$(visible)"
  size() { xdotool getwindowgeometry "$window" | sed -n 's/.*Geometry: \([0-9]*x[0-9]*\).*/\1/p'; }
  designed="$(size)"
  dw="${designed%x*}" dh="${designed#*x}"
  holds_rule() {
    local now
    now="$(size)"
    [ "${now#*x}" = "$dh" ] && [ "${now%x*}" -ge "$dw" ]
  }
  for wanted in "162 $dh" "$dw 507" "100% 100%"; do
    xdotool windowsize "$window" $wanted
    sleep 1
    wait_for 10 holds_rule || fail "sized to $wanted, the window stays $(size), not ${dh} tall and ${dw}+ wide"
  done
  # A double click on the title bar maximises in openbox; with its default
  # theme the bar's middle is 31 pixels above the window's X origin (the menu
  # bar lies between).
  eval "$(xdotool getwindowgeometry --shell "$window")"
  xdotool mousemove $((X + 60)) $((Y - 31)) click --repeat 2 --delay 80 1
  sleep 1
  wait_for 10 holds_rule || fail "maximised, the window stays $(size), not ${dh} tall and ${dw}+ wide"
  xdotool windowfocus "$window"
  sleep 0.5
  xdotool key Escape
  wait_for 60 bash -c "! kill -0 $app 2>/dev/null" || fail "Esc did not end the program"
  app=""
  kill "$wm" 2>/dev/null || true
  sizes=", size rule kept under a window manager"
fi

# The same request on the command line.
mkdir "$work/ref"
cp "$work/tour.gpx" "$work/ref/tour.gpx"
if [ -x "$linux/marklode" ]; then
  (cd "$work/ref" && "$linux/marklode" tour.gpx >/dev/null 2>&1) || true
  made_by="the Linux program"
else
  (cd "$work/ref" && timeout 60 "$wine" "$build/marklode-cli.exe" tour.gpx >/dev/null 2>&1) || true
  made_by="marklode-cli.exe"
fi
reference="$(ls "$work"/ref/tour.[cC][sS][vV] 2>/dev/null | head -n 1)"
[ -n "$reference" ] || fail "$made_by wrote no reference output"
cmp -s "$reference" "$output" || fail "the window's output differs from that of $made_by"
echo "win32 window smoke test passed: a Cancel in a list is told truly; typed request converted as $made_by does, window back, Esc ends, place stored${sizes:-}"
