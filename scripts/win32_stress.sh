#!/usr/bin/env bash
# Many short runs of marklode-cli.exe under Wine at once, beside a busy CPU:
# every run must end with status 0, say nothing, write the same CSV as the
# others and leave no temporary behind. Two loops convert TRIP (the file
# trip.gpx, found without regard to case), each in a folder of its own.
#
#   scripts/win32_stress.sh [WIN64_BUILD_DIR] [RUNS]   (default build/win64, 1000)
#
# Wine runs in a prefix of its own with a wineserver kept running, so that its
# services start once, before the runs. Started afresh for each run, they
# sometimes fault inside Wine (winedevice.exe: ntoskrnl's IoCreateDevice called
# with no PnP manager yet, a race in Wine 8's service start), and that message
# lands on the stderr of whichever run started the server.
set -euo pipefail
cd "$(dirname "$0")/.."
build=$(realpath "${1:-build/win64}")
runs=${2:-1000}
wine=/usr/lib/wine/wine64
[ -x "$wine" ] || wine=$(command -v wine64 || command -v wine)
wineserver=/usr/lib/wine/wineserver
[ -x "$wineserver" ] || wineserver=$(command -v wineserver)
program="$build/marklode-cli.exe"
[ -f "$program" ] || { echo "FAILED: $program is not built"; exit 1; }

work=$(mktemp -d)
export WINEPREFIX="$work/prefix" WINEDEBUG=-all
hog=
cleanup() {
  if [ -n "$hog" ]; then kill "$hog" 2>/dev/null || true; fi
  "$wineserver" -k 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 1' INT TERM

mkdir -p "$WINEPREFIX"
"$wineserver" -p </dev/null >"$work/server.log" 2>&1
(cd "$work" && "$wine" wineboot -i) >"$work/start.log" 2>&1 || true
(cd "$work" && "$wine" "$program" --version) >>"$work/start.log" 2>&1 || true
if grep -qa 'Unhandled' "$work/start.log"; then
  echo "note: Wine faulted while its services started (not a run):"
  grep -a 'Unhandled' "$work/start.log"
fi

for loop in a b; do
  mkdir -p "$work/$loop"
  cp examples/club-tour.gpx "$work/$loop/trip.gpx"
done
(cd "$work/a" && "$wine" "$program" TRIP >"$work/first.log" 2>&1) ||
  { echo "FAILED: the first run: $(cat "$work/first.log")"; exit 1; }
[ -s "$work/a/TRIP.CSV" ] || { echo "FAILED: the first run wrote no CSV"; exit 1; }
cp "$work/a/TRIP.CSV" "$work/want.CSV"

# One loop: each run's status, output, CSV and folder are checked; what went
# wrong is written to the loop's log.
loop() {
  local dir="$work/$1" count=$2 log="$work/$1.failures" i status
  cd "$dir"
  for ((i = 1; i <= count; i++)); do
    status=0
    "$wine" "$program" TRIP >"$work/$1.out" 2>&1 || status=$?
    local problem=""
    [ "$status" = 0 ] || problem+=" status $status;"
    [ -s "$work/$1.out" ] && problem+=" said: $(head -c 400 "$work/$1.out" | tr '\r\n' '  ');"
    cmp -s TRIP.CSV "$work/want.CSV" || problem+=" the CSV differs;"
    local left="" f
    for f in * .*; do
      case "$f" in . | .. | trip.gpx | TRIP.CSV) ;; *) [ -e "$f" ] && left+=" $f" ;; esac
    done
    [ -n "$left" ] && problem+=" left:$left;"
    [ -n "$problem" ] && echo "run $i:$problem" >>"$log"
  done
  return 0
}

started=$(stat -c %s "$work/start.log")
timeout 3600 sh -c 'while :; do :; done' &
hog=$!
start=$(date +%s)
loop a $((runs - runs / 2)) &
a=$!
loop b $((runs / 2)) &
b=$!
wait "$a" "$b"
kill "$hog" 2>/dev/null || true
hog=

failed=0
for l in a b; do
  if [ -s "$work/$l.failures" ]; then
    failed=$((failed + $(wc -l <"$work/$l.failures")))
    head -n 20 "$work/$l.failures"
  fi
done
# Wine's services write to the stderr of the process that started them: a
# fault of theirs during the runs shows there.
if tail -c +$((started + 1)) "$work/start.log" | grep -qa 'Unhandled\|page fault'; then
  echo "FAILED: a fault in Wine's services during the runs:"
  tail -c +$((started + 1)) "$work/start.log" | grep -a 'Unhandled\|page fault'
  failed=$((failed + 1))
fi
echo "$runs runs in $(($(date +%s) - start)) s, $failed failed"
[ "$failed" = 0 ] && echo "ok     $runs runs of marklode-cli.exe TRIP under load: status 0, silent, same CSV"
[ "$failed" = 0 ]
