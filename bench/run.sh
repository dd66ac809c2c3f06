#!/usr/bin/env bash
# Benchmark: Marklode beside GPSBabel on the same large files, both directions.
#
#   bench/run.sh [SIZE]        SIZE of the generated GPX, default 100M (K, M, G)
#
# Environment:
#   MARKLODE=path      the marklode binary to measure (default: build/dev/marklode,
#                      built with the dev preset when missing)
#   RUNS=n             best of n runs for Marklode and grep (default 3)
#   GB_RUNS=n          best of n runs for GPSBabel (default 2); Marklode is
#                      measured again after them, and its best counts, so that
#                      both tools are timed in the same stretch of the
#                      machine's weather
#   NO_GPSBABEL=1      measure Marklode and grep only (for sizes GPSBabel
#                      cannot hold in memory)
#   KEEP=1             keep the generated and converted files in bench/data/
#   MARKLODE_WIN=path  also time the Windows build (marklode-cli.exe) under
#                      wine64 on the same two conversions, and print its time
#                      over the Linux build's (target <= 1.5x in both
#                      directions); WINEPREFIX defaults to build/bench/wine
#
# Prints wall time and peak RSS (from /usr/bin/time -v) of each command, and
# each ratio beside the project's target for it; exits 1 when any target is
# missed:
#   GPX -> POI-CSV: Marklode <= 1.2x the time of grep -c '<wpt' on the same
#                   file, >= 100x faster than GPSBabel, peak RSS < 24 MB; the
#                   file without any </wpt> within 1.5x of the well-formed one;
#   KML -> POI-CSV: the same waypoints as KML within 2x the GPX's time, and
#                   the same points;
#   GeoJSON -> POI-CSV: the same waypoints as GeoJSON, its time over the
#                   GPX's printed (no target is set for it), and the same
#                   points;
#   POI-CSV -> GPX: Marklode <= 1.5x the time of cp copying Marklode's own
#                   output (the same bytes written, timed in the same run),
#                   both into a new file and over an existing one, >= 16x
#                   faster than GPSBabel, peak RSS < 40 MB. (GPSBabel writes
#                   GPX 1.0 with about a quarter of the bytes, so its time is
#                   no floor here.)
#   one file per category: 1,000 categories taking turns within 1.5x of the
#                   time with one category, peak RSS < 24 MB;
#   the Windows build (MARKLODE_WIN): <= 1.5x the Linux build's time.
set -euo pipefail
cd "$(dirname "$0")/.."
size=${1:-100M}
runs=${RUNS:-3}
gb_runs=${GB_RUNS:-2}
data=bench/data
mkdir -p "$data" build/bench

for tool in /usr/bin/time gpsbabel; do
  if [ "$tool" = gpsbabel ] && [ -n "${NO_GPSBABEL:-}" ]; then continue; fi
  command -v "$tool" >/dev/null || { echo "bench: $tool is missing; run scripts/setup.sh" >&2; exit 1; }
done

if [ -z "${MARKLODE:-}" ]; then
  MARKLODE=build/dev/marklode
  if [ ! -x "$MARKLODE" ]; then
    cmake --preset dev >/dev/null
    cmake --build --preset dev --target marklode -j2
  fi
fi

# The Windows build runs under a wineserver kept alive between the runs, so
# that each run pays for starting its process, not for starting Wine; a
# first untimed run sets up the prefix. Wine's own share is shown by timing
# "--version".
wine=()
if [ -n "${MARKLODE_WIN:-}" ]; then
  wine64=$(command -v wine64 || echo /usr/lib/wine/wine64)
  [ -x "$wine64" ] || { echo "bench: wine64 is missing; run scripts/setup.sh" >&2; exit 1; }
  [ -f "$MARKLODE_WIN" ] || { echo "bench: no $MARKLODE_WIN (build the win64 preset)" >&2; exit 1; }
  export WINEPREFIX=${WINEPREFIX:-$PWD/build/bench/wine} WINEDEBUG=-all
  wineserver=$(dirname "$wine64")/wineserver
  [ -x "$wineserver" ] || wineserver=wineserver
  mkdir -p "$WINEPREFIX"
  # It lives five minutes past the last run, holding none of our streams.
  "$wineserver" -p300 </dev/null >/dev/null 2>&1 || true  # one may be running already
  "$wine64" "$MARKLODE_WIN" --version >/dev/null 2>&1
  wine=("$wine64" "$MARKLODE_WIN")
fi

gen=build/bench/gen_gpx
if [ ! -x "$gen" ] || [ bench/gen_gpx.cpp -nt "$gen" ]; then
  c++ -std=c++20 -O2 -Wall -Wextra -Werror -o "$gen" bench/gen_gpx.cpp
fi

in="$data/bench-$size.gpx"
[ -f "$in" ] || "$gen" "$size" "$in"
csv="$data/bench-$size.CSV"
gpx_back="$data/bench-$size.GPX"

calc() { awk "BEGIN { print ($1) }"; }

# check LABEL VALUE OP LIMIT UNIT: prints a ratio or size beside its target,
# and remembers a target missed; the script fails at the end if any was.
missed=()
check() {
  local label=$1 value=$2 op=$3 limit=$4 unit=${5:-x} verdict=ok
  [ "$(calc "$value $op $limit")" = 1 ] || { verdict=MISSED; missed+=("$label"); }
  printf '  %-34s %8.2f%s (target %s %s%s) %s\n' "$label:" "$value" "$unit" "$op" "$limit" "$unit" "$verdict"
}

# measure NAME CMD...: best wall time of $runs runs (1 for GPSBabel) and the
# peak RSS; sets SECS and RSS_KB. Wall time comes from the shell's own `time`,
# so that no helper process (date, /usr/bin/time) starts or ends inside the
# timed stretch: every tool is timed alike. Peak RSS comes from one more run
# under /usr/bin/time -v (GPSBabel's runs are all under it: its own start-up
# is tiny beside its time).
# Output goes to a file, not to /dev/null: GNU grep stops at the first match
# when its output is /dev/null. When FRESH names a file, it is removed before
# each run, untimed: every tool then writes a new file instead of some
# replacing (and freeing) an old one.
measure() {
  local name=$1 n=$runs; shift
  SECS=""; RSS_KB=""
  local log=build/bench/time.log wall=build/bench/wall.log i s
  local TIMEFORMAT=%3R
  run_once() {
    [ -n "${FRESH:-}" ] && rm -f "$FRESH"
    [ -n "${PREP:-}" ] && eval "$PREP"
    { time "$@" >build/bench/stdout.log 2>build/bench/stderr.log; } 2>"$wall" || {
      echo "bench: '$*' failed:" >&2; cat build/bench/stderr.log >&2; exit 1; }
  }
  if [ "$name" = gpsbabel ]; then
    for ((i = 0; i < gb_runs; i++)); do
      run_once /usr/bin/time -v -o "$log" "$@"
      s=$(cat "$wall")
      if [ -z "$SECS" ] || [ "$(calc "$s < $SECS")" = 1 ]; then
        SECS=$s
        RSS_KB=$(awk -F': ' '/Maximum resident set size/ {print $2}' "$log")
      fi
    done
    printf '  %-9s %8.3f s  %8.1f MB peak RSS   %s\n' "$name" "$SECS" "$(calc "$RSS_KB / 1024")" "$*"
    return
  else
    for ((i = 0; i < n; i++)); do
      run_once "$@"
      s=$(cat "$wall")
      if [ -z "$SECS" ] || [ "$(calc "$s < $SECS")" = 1 ]; then SECS=$s; fi
    done
    run_once /usr/bin/time -v -o "$log" "$@"
  fi
  RSS_KB=$(awk -F': ' '/Maximum resident set size/ {print $2}' "$log")
  printf '  %-9s %8.3f s  %8.1f MB peak RSS   %s\n' "$name" "$SECS" "$(calc "$RSS_KB / 1024")" "$*"
}

cat "$in" >/dev/null  # into the page cache, so every command reads it alike
echo "GPX -> POI-CSV, $in ($(stat -c %s "$in") bytes, $(grep -c '<wpt' "$in") waypoints)"
measure grep grep -c '<wpt' "$in"; grep_s=$SECS
FRESH=$csv measure marklode "$MARKLODE" "$in"; ml_s=$SECS; ml_rss=$RSS_KB
if [ -z "${NO_GPSBABEL:-}" ]; then
  FRESH=$data/bench-$size.gpsbabel.csv \
    measure gpsbabel gpsbabel -i gpx -f "$in" -o garmin_poi -F "$data/bench-$size.gpsbabel.csv"
  gb_s=$SECS; gb_rss=$RSS_KB
  FRESH=$csv measure marklode "$MARKLODE" "$in"
  ml_s=$(calc "$SECS < $ml_s ? $SECS : $ml_s")
  check "GPSBabel / Marklode time" "$(calc "$gb_s / $ml_s")" ">=" 100
fi
check "Marklode / grep time" "$(calc "$ml_s / $grep_s")" "<=" 1.2
check "Marklode peak RSS" "$(calc "$ml_rss / 1024")" "<" 24 " MB"
if [ ${#wine[@]} -gt 0 ]; then
  measure wine "${wine[@]}" --version; wine_start=$SECS
  FRESH=$csv measure wine "${wine[@]}" "$in"
  check "Windows / Linux time" "$(calc "$SECS / $ml_s")" "<=" 1.5
  # For the record, not a target: the same without Wine's own start.
  printf '  %-36s %6.2fx\n' "less Wine's start (--version):" "$(calc "($SECS - $wine_start) / $ml_s")"
fi

# The pathological shape: no waypoint has its </wpt>, so each runs on to the
# next. Must take about as long as the well-formed file.
broken="$data/bench-$size-no-end-tags.gpx"
[ -f "$broken" ] || "$gen" "$size" "$broken" --no-end-tags
echo "GPX -> POI-CSV without any </wpt>, $broken"
cat "$broken" >/dev/null
FRESH=${broken%.gpx}.CSV measure marklode "$MARKLODE" "$broken"
check "time / well-formed file" "$(calc "$SECS / $ml_s")" "<=" 1.5
rm -f "$data/bench-$size-no-end-tags.CSV"

# KML: the same waypoints as the GPX, as placemarks, read ahead on a second thread.
kml="$data/bench-$size-kml.kml"  # its own stem: its output must not replace the GPX's
[ -f "$kml" ] || "$gen" "$size" "$kml" --kml
echo "KML -> POI-CSV, $kml ($(stat -c %s "$kml") bytes, $(grep -c '<Placemark' "$kml") placemarks)"
cat "$kml" >/dev/null
FRESH=${kml%.kml}.CSV measure marklode "$MARKLODE" "$kml"
check "KML / GPX time" "$(calc "$SECS / $ml_s")" "<=" 2
# The same points (the comments differ where the GPX's text looks like HTML).
cmp -s <(cut -d, -f1,2 "${kml%.kml}.CSV") <(cut -d, -f1,2 "$csv") ||
  { echo "bench: the KML's points differ from the GPX's" >&2; missed+=("KML points"); }
rm -f "${kml%.kml}.CSV"

# GeoJSON: the same waypoints again, as features. Timed and shown beside the
# GPX, with no target to meet.
geojson="$data/bench-$size-geojson.geojson"
[ -f "$geojson" ] || "$gen" "$size" "$geojson" --geojson
echo "GeoJSON -> POI-CSV, $geojson ($(stat -c %s "$geojson") bytes, $(grep -c '"Feature"' "$geojson") features)"
cat "$geojson" >/dev/null
FRESH=${geojson%.geojson}.CSV measure marklode "$MARKLODE" "$geojson"
printf '  %-34s %8.2fx (no target)\n' "GeoJSON / GPX time:" "$(calc "$SECS / $ml_s")"
cmp -s <(cut -d, -f1,2 "${geojson%.geojson}.CSV") <(cut -d, -f1,2 "$csv") ||
  { echo "bench: the GeoJSON's points differ from the GPX's" >&2; missed+=("GeoJSON points"); }
rm -f "${geojson%.geojson}.CSV"

if "$MARKLODE" /r "$csv" >/dev/null 2>&1 && [ -s "$gpx_back" ]; then
  points=$(grep -c '' "$csv" || true)
  echo "POI-CSV -> GPX, $csv ($(stat -c %s "$csv") bytes, $points points)"
  cat "$csv" >/dev/null
  FRESH=$gpx_back measure marklode "$MARKLODE" /r "$csv"; ml_s=$SECS; ml_rss=$RSS_KB
  # The floor: writing the same bytes, as cp copies Marklode's own output.
  copy="$data/bench-$size.copy.GPX"
  cat "$gpx_back" >/dev/null
  FRESH=$copy measure cp cp "$gpx_back" "$copy"; cp_s=$SECS
  # Replacing: each target is there before each run (each run leaves its
  # own), as when a conversion is run again.
  echo "  replacing the existing output:"
  [ -f "$gpx_back" ] || "$MARKLODE" /r "$csv" >/dev/null
  measure marklode "$MARKLODE" /r "$csv"; mlr_s=$SECS
  [ -f "$copy" ] || cp "$gpx_back" "$copy"
  measure cp cp "$gpx_back" "$copy"; cpr_s=$SECS
  rm -f "$copy"
  if [ -z "${NO_GPSBABEL:-}" ]; then
    FRESH=$data/bench-$size.gpsbabel.gpx \
      measure gpsbabel gpsbabel -i garmin_poi -f "$csv" -o gpx -F "$data/bench-$size.gpsbabel.gpx"
    gb_s=$SECS
    FRESH=$gpx_back measure marklode "$MARKLODE" /r "$csv"
    ml_s=$(calc "$SECS < $ml_s ? $SECS : $ml_s")
    check "GPSBabel / Marklode time" "$(calc "$gb_s / $ml_s")" ">=" 16
  fi
  check "Marklode / cp time, new file" "$(calc "$ml_s / $cp_s")" "<=" 1.5
  check "Marklode / cp time, replacing" "$(calc "$mlr_s / $cpr_s")" "<=" 1.5
  check "Marklode peak RSS ($points points)" "$(calc "$ml_rss / 1024")" "<" 40 " MB"
  if [ ${#wine[@]} -gt 0 ]; then
    # In a folder of its own: to Windows, bench-SIZE.GPX beside the input
    # bench-SIZE.gpx is that same file.
    win="$data/win"
    mkdir -p "$win"
    cp "$csv" "$win/"
    cat "$win/bench-$size.CSV" >/dev/null
    FRESH=$win/bench-$size.GPX measure wine "${wine[@]}" /r "$win/bench-$size.CSV"
    check "Windows / Linux time" "$(calc "$SECS / $ml_s")" "<=" 1.5
    printf '  %-36s %6.2fx\n' "less Wine's start (--version):" "$(calc "($SECS - $wine_start) / $ml_s")"
    rm -rf "$win"
  fi
else
  echo "POI-CSV -> GPX: skipped ('marklode /r' did not convert $csv)"
fi

# Many outputs: a profile that writes a file per category, the records taking
# turns among 1,000 of them, beside the same profile on a file with one
# category. Each run writes into a new folder (the last one is moved aside,
# untimed, and all are removed at the end): the file system's cost of
# creating files right after deleting as many would otherwise land on the
# next run.
cats="$data/categories"
rm -rf "$cats"
mkdir -p "$cats"
echo "GPX -> POI-CSV, one file per category (GenerateCSVFileName=<C>)"
for n in 1 1000; do
  cat_in="$data/bench-$size-categories-$n.gpx"
  [ -f "$cat_in" ] || "$gen" "$size" "$cat_in" --categories "$n"
  cat "$cat_in" >/dev/null
  printf '[Profile]\r\nInput=%s\r\nOutput=%s\r\nGenerateCSVFileName=<C>\r\nGenerateComment=<T>\r\n' \
    "$PWD/$cat_in" "$PWD/$cats/out/x.csv" >"$cats/p$n.zvp"
  PREP="[ -d $cats/out ] && mv $cats/out \$(mktemp -u $cats/old.XXXXXX); mkdir $cats/out" \
    measure "$n cat." "$MARKLODE" /p "$cats/p$n.zvp"
  files=$(find "$cats/out" -name '*.CSV' | wc -l)
  [ "$files" = "$n" ] || { echo "bench: $n categories gave $files files" >&2; exit 1; }
  eval "cat_s_$n=\$SECS cat_rss_$n=\$RSS_KB"
done
check "1,000 categories / one" "$(calc "$cat_s_1000 / $cat_s_1")" "<=" 1.5
check "1,000 categories peak RSS" "$(calc "$cat_rss_1000 / 1024")" "<" 24 " MB"
rm -rf "$cats"
[ -n "${KEEP:-}" ] || rm -f "$data/bench-$size-categories-1.gpx" "$data/bench-$size-categories-1000.gpx"

if [ -z "${KEEP:-}" ]; then
  rm -f "$broken" "$csv" "$gpx_back" "$data/bench-$size.gpsbabel.csv" "$data/bench-$size.gpsbabel.gpx"
fi

if [ ${#missed[@]} -gt 0 ]; then
  echo "bench: targets missed: ${missed[*]}" >&2
  exit 1
fi
echo "bench: every target met"
