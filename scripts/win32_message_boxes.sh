#!/usr/bin/env bash
# The Windows program marklode.exe, given a request, shows its messages as
# real message boxes. Under Wine on a virtual X screen each case below must
# show exactly the boxes named, in order, each closed with Enter, and end with
# its exit status.
#
#   scripts/win32_message_boxes.sh [WIN64_BUILD_DIR]   (default build/win64)
#
# Needs xvfb-run and xdotool (scripts/setup.sh installs them); says so and
# succeeds without them, so a machine without X tools still builds.
set -euo pipefail
cd "$(dirname "$0")/.."
build=$(realpath "${1:-build/win64}")
exe="$build/marklode.exe"
wine=/usr/lib/wine/wine64
[ -x "$wine" ] || wine=$(command -v wine64 || command -v wine)

if [ -z "${DISPLAY:-}" ]; then
  if ! command -v xvfb-run >/dev/null || ! command -v xdotool >/dev/null; then
    echo "message boxes: skipped (xvfb-run or xdotool missing)"
    exit 0
  fi
  exec xvfb-run -a -s "-screen 0 1024x768x24" "$0" "$build"
fi

# A prefix of its own: a Wine session that an earlier run started without a
# display keeps its desktop there, and boxes would never reach this screen.
export WINEPREFIX="$build/wine-boxes" WINEDEBUG=-all
"${wine%64}server" -k 2>/dev/null || true
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp examples/club-tour.gpx "$work/"
printf '[Profile]\r\nInput=club-tour.gpx\r\nOutput=nowhere\\x.csv\r\n' >"$work/missing-folder.zvp"

failed=0
# args | the boxes' titles in order, ";" between | exit status
cases=(
  "nosuch.gpx|Can't Find File|1"
  "/p missing-folder.zvp|PutTextLine|2"
  "club-tour.gpx||0"
)
for c in "${cases[@]}"; do
  IFS='|' read -r args titles want <<<"$c"
  read -ra argv <<<"$args"
  (cd "$work" && exec timeout 60 "$wine" "$exe" "${argv[@]}") >/dev/null 2>&1 &
  pid=$!
  seen=()
  # Each box as it comes: found by its title, closed with Enter.
  while kill -0 "$pid" 2>/dev/null; do
    wid=$(xdotool search --onlyvisible --class marklode.exe 2>/dev/null | head -n 1 || true)
    if [ -z "$wid" ]; then
      sleep 0.2
      continue
    fi
    seen+=("$(xdotool getwindowname "$wid")")
    xdotool windowfocus --sync "$wid" 2>/dev/null || true
    xdotool key --window "$wid" Return 2>/dev/null
    # The same box again means Enter did not reach it; the time-out ends it.
    for _ in $(seq 50); do
      xdotool search --onlyvisible --class marklode.exe 2>/dev/null | grep -qx "$wid" || break
      sleep 0.1
    done
  done
  status=0
  wait "$pid" || status=$?
  got=$(IFS=';'; echo "${seen[*]-}")
  if [ "$got" != "$titles" ] || [ "$status" != "$want" ]; then
    echo "FAILED marklode.exe $args: boxes '$got', exit $status (expected '$titles', exit $want)"
    failed=1
  else
    echo "ok     marklode.exe $args: boxes '$got', exit $status"
  fi
done
"${wine%64}server" -k 2>/dev/null || true
exit $failed
