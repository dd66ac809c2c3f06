#!/usr/bin/env bash
# The command line without Qt, and how it starts the window program.
#   window_program.sh MARKLODE WINDOW   (WINDOW: ON when built with the window)
#
# marklode has no Qt library among the ones it needs. Given no request (or
# only /r) and a display, it becomes the marklode-window beside it (a
# stand-in here, beside a copy of the program): the same process, the switch
# passed on, its exit status the program's; never a marklode-window found on
# PATH. Without that program, or in a build without the window, it says so
# with the usage and ends with status 2; without a display it starts nothing.
set -uo pipefail
program=$(realpath "${1:?usage: window_program.sh MARKLODE WINDOW}")
window=${2:?usage: window_program.sh MARKLODE WINDOW}
failures=0
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}

needed() { readelf -d "$1" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p'; }
if ! command -v readelf >/dev/null; then
  fail "readelf is missing (binutils)"
else
  qt=$(needed "$program" | grep -i '^libQt' | tr '\n' ' ')
  [ -z "$qt" ] || fail "marklode needs Qt: $qt"
  if [ "$window" = ON ]; then
    beside="$(dirname "$program")/marklode-window"
    [ -x "$beside" ] || fail "no marklode-window beside $program"
    needed "$beside" | grep -q '^libQt6Widgets' || fail "marklode-window needs no Qt Widgets"
  fi
fi

mkdir -p "$work/bin" "$work/decoy" "$work/run"
cp "$program" "$work/bin/marklode"
# The stand-in tells its process id, its name and its arguments, and ends
# with status 7; the decoy on PATH must never run.
stand_in() {  # stand_in PATH LOG
  printf '#!/bin/sh\necho "$$ $0" "$@" >"%s"\nexit 7\n' "$2" >"$1"
  chmod +x "$1"
}
stand_in "$work/bin/marklode-window" "$work/started.txt"
stand_in "$work/decoy/marklode-window" "$work/decoy.txt"

# run ENV... -- ARGS...: the copy, as a user's shell finds it on PATH, from a
# folder of its own; sets status, err and pid.
run() {
  local envs=()
  while [ "$1" != -- ]; do
    envs+=("$1")
    shift
  done
  shift
  rm -f "$work/started.txt" "$work/decoy.txt"
  (cd "$work/run" && exec env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "${envs[@]}" \
    XDG_CONFIG_HOME="$work/config" PATH="$work/decoy:$work/bin:$PATH" \
    timeout 30 marklode "$@" </dev/null >"$work/out" 2>"$work/err") &
  pid=$!
  wait "$pid"
  status=$?
  err=$(cat "$work/err")
  [ ! -e "$work/decoy.txt" ] || fail "the marklode-window on PATH was run: $(cat "$work/decoy.txt")"
}

run -- # no display
[ "$status" = 2 ] || fail "without a display: status $status"
grep -q 'no display' <<<"$err" && grep -q '^Usage:' <<<"$err" ||
  fail "without a display it said: $err"
[ ! -e "$work/started.txt" ] || fail "without a display the window program was started"

if [ "$window" = ON ]; then
  for args in "" "/r" "/R"; do
    # shellcheck disable=SC2086
    run QT_QPA_PLATFORM=offscreen -- $args
    [ "$status" = 7 ] || fail "'marklode $args' with a display: status $status ($err)"
    got=$(cat "$work/started.txt" 2>/dev/null)
    [ "${got#* }" = "$work/bin/marklode-window${args:+ $args}" ] ||
      fail "'marklode $args' started: '${got#* }'"
  done
  # The process id: the stand-in took the program's own place.
  (cd "$work/run" && QT_QPA_PLATFORM=offscreen XDG_CONFIG_HOME="$work/config" \
    exec "$work/bin/marklode" </dev/null >/dev/null 2>&1) &
  pid=$!
  wait "$pid"
  got=$(cat "$work/started.txt" 2>/dev/null)
  [ "${got%% *}" = "$pid" ] || fail "the window program ran as process ${got%% *}, not $pid"

  rm "$work/bin/marklode-window"
  run QT_QPA_PLATFORM=offscreen --
  [ "$status" = 2 ] || fail "without marklode-window: status $status"
  grep -q "cannot start the window ($work/bin/marklode-window: " <<<"$err" &&
    grep -q '^Usage:' <<<"$err" || fail "without marklode-window it said: $err"
else
  run QT_QPA_PLATFORM=offscreen --
  [ "$status" = 2 ] || fail "a build without the window, with a display: status $status"
  grep -q 'has no window' <<<"$err" && grep -q '^Usage:' <<<"$err" ||
    fail "a build without the window said: $err"
  [ ! -e "$work/started.txt" ] || fail "a build without the window started a window program"
fi

# A request is the command line's, display or not.
cp "$(dirname "$0")/../examples/club-tour.gpx" "$work/run/trip.gpx"
run QT_QPA_PLATFORM=offscreen -- trip.gpx
[ "$status" = 0 ] && [ -s "$work/run/trip.CSV" ] || fail "a conversion with a display: status $status ($err)"
[ ! -e "$work/started.txt" ] || fail "a conversion started the window program"

((failures)) && exit 1
echo "window program: all checks passed"
