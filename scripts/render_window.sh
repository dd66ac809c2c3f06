#!/usr/bin/env bash
# Renders the main window for the README: the Qt window offscreen into
# docs/window.png, and the Windows window under Wine on a virtual X screen
# into docs/window-windows.png (when the Windows build, Wine, Xvfb, xdotool
# and ImageMagick are at hand).
# Usage: scripts/render_window.sh [BUILD_DIR] [WIN64_BUILD_DIR]
#        (defaults: build/win and build/win64)
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"

if [ "${1:-}" = --windows-on-screen ]; then
  # On the virtual screen: the window in a Wine desktop of its own, so that
  # Wine draws the frame, at a known place with the fields as on a first start.
  win64="$2" wine="$3"
  export WINEPREFIX="$win64/wine-window" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
  key='HKCU\Software\Orvel\Marklode'
  # Nothing left of an earlier run on a screen that is gone.
  timeout 20 "$(dirname "$wine")/wineserver" -k 2>/dev/null || true
  timeout 120 "$wine" reg delete "$key" /f >/dev/null 2>&1 || true
  for place in WindowX WindowY; do
    timeout 60 "$wine" reg add "$key" /v "$place" /d 300 /f >/dev/null
  done
  # The desktop starts the program by its Windows name: from its folder.
  (cd "$win64" && exec timeout 120 "$wine" explorer /desktop=marklode,640x420 marklode.exe) \
    >/dev/null 2>&1 &
  app=$!
  desktop=""
  for _ in $(seq 1 200); do
    desktop="$(xdotool search --onlyvisible --name '^marklode - Wine desktop$' 2>/dev/null | head -n 1 || true)"
    [ -n "$desktop" ] && xdotool search --onlyvisible --name '^Marklode$' >/dev/null 2>&1 && break
    sleep 0.3
  done
  [ -n "$desktop" ] || { echo "the Windows window did not come up"; kill "$app"; exit 1; }
  sleep 2  # drawn
  # The desktop's plain background around the window is cut away.
  import -window "$desktop" "$win64/window-desktop.png"
  convert "$win64/window-desktop.png" -trim +repage "$root/docs/window-windows.png"
  rm -f "$win64/window-desktop.png"
  kill "$app" 2>/dev/null || true
  timeout 20 "$(dirname "$wine")/wineserver" -k 2>/dev/null || true
  exit 0
fi

build="${1:-$root/build/win}"
[ -f "$build/CMakeCache.txt" ] || cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release
cmake --build "$build" --target marklode_render_window -j2
mkdir -p "$root/docs"
QT_QPA_PLATFORM=offscreen "$build/window/qt/marklode_render_window" "$root/docs/window.png"
echo "wrote $root/docs/window.png"

win64="${2:-$root/build/win64}"
if [ ! -f "$win64/marklode.exe" ]; then
  echo "no $win64/marklode.exe: docs/window-windows.png left as it is"
  exit 0
fi
win64="$(cd "$win64" && pwd)"
wine="$(sed -n 's/^MARKLODE_WINE64:FILEPATH=//p' "$win64/CMakeCache.txt" 2>/dev/null || true)"
[ -x "$wine" ] || wine="$(command -v wine64 || echo /usr/lib/wine/wine64)"
for tool in xvfb-run xdotool import convert "$wine"; do
  command -v "$tool" >/dev/null || { echo "no $tool: docs/window-windows.png left as it is"; exit 0; }
done
timeout 300 xvfb-run -a -s "-screen 0 1024x768x24" \
  bash "$0" --windows-on-screen "$win64" "$wine"
echo "wrote $root/docs/window-windows.png"
