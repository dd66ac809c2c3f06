#!/usr/bin/env bash
# Ctrl-C typed at the console of marklode-cli.exe, under Wine on a pseudo
# terminal: the run stops with status 130, says so, removes its unfinished
# output and leaves the old file of that name as it was.
#
#   scripts/win32_ctrl_c.sh [WIN64_BUILD_DIR]   (default build/win64)
set -euo pipefail
cd "$(dirname "$0")/.."
build=$(realpath "${1:-build/win64}")
wine=/usr/lib/wine/wine64
[ -x "$wine" ] || wine=$(command -v wine64 || command -v wine)
export WINEPREFIX="$build/wine" WINEDEBUG=-all

work=$(mktemp -d)
cleanup() {
  exec 3>&- 2>/dev/null || true
  [ -n "${pid:-}" ] && kill "$pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

# Long enough to be caught mid-run: some 300 MB of waypoints.
{
  echo '<?xml version="1.0" encoding="UTF-8"?>'
  echo '<gpx version="1.1" creator="test" xmlns="http://www.topografix.com/GPX/1/1">'
  yes '<wpt lat="47.3769" lon="8.5417"><name>Point</name><desc>Stop</desc></wpt>' | head -n 4000000 || true
  echo '</gpx>'
} >"$work/big.gpx"
printf 'old output\r\n' >"$work/big.CSV"

# The keys go through a FIFO held open by this shell, so that the terminal
# sees no end of input before the program ends.
mkfifo "$work/keys"
(cd "$work" && exec timeout 120 script -qec "$wine '$build/marklode-cli.exe' big.gpx" /dev/null \
  <"$work/keys" >"$work/log" 2>&1) &
pid=$!
exec 3>"$work/keys"

# Ctrl-C once the run is writing its output.
started=0
for _ in $(seq 600); do
  if ls -a "$work" | grep -q 'marklode-'; then
    started=1
    break
  fi
  sleep 0.05
done
printf '\003' >&3
status=0
wait "$pid" || status=$?
pid=
exec 3>&-

failed=0
if [ "$started" != 1 ]; then
  echo "FAILED: the run never started writing its output"
  failed=1
fi
[ "$status" = 130 ] || { echo "FAILED: exit status $status, expected 130"; failed=1; }
[ "$(cat "$work/big.CSV")" = "$(printf 'old output\r\n')" ] ||
  { echo "FAILED: the old output was changed"; failed=1; }
if ls -a "$work" | grep -q 'marklode-'; then
  echo "FAILED: an unfinished output was left: $(ls -a "$work" | grep 'marklode-')"
  failed=1
fi
grep -q 'nterrupt' "$work/log" || { echo "FAILED: no word of the interruption:"; failed=1; }
tr -d '\033' <"$work/log" | sed 's/\[?25[lh]//g' | tr '\r' '\n' | grep -v '^$' | tail -n 3
[ "$failed" = 0 ] && echo "ok     Ctrl-C stopped marklode-cli.exe with status 130 and changed nothing"
exit $failed
