#!/usr/bin/env bash
# Renders the main window offscreen into docs/window.png for the README.
# Usage: scripts/render_window.sh [BUILD_DIR]   (default: build/win)
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${1:-$root/build/win}"
[ -f "$build/CMakeCache.txt" ] || cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release
cmake --build "$build" --target marklode_render_window -j2
mkdir -p "$root/docs"
QT_QPA_PLATFORM=offscreen "$build/window/marklode_render_window" "$root/docs/window.png"
echo "wrote $root/docs/window.png"
