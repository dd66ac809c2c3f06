#!/usr/bin/env bash
# Linearity check: converts every hostile shape of gen_hostile.cpp at two sizes,
# N and 2N, and fails when the larger one takes more than 2.5 times as long
# (a linear reader takes twice as long; a quadratic one four times).
#
#   bench/linearity.sh [N] [SHAPE...]     N defaults to 4M (K, M suffixes)
#
# Environment: MARKLODE=path (default build/dev/marklode), RUNS=n (best of n,
# default 3), LIMIT=seconds a single run may take (default 60; a run that
# takes longer fails the shape).
#
# Prints, per shape: the time at N and at 2N, their ratio, and the peak RSS at
# 2N (from /usr/bin/time -v).
set -uo pipefail
cd "$(dirname "$0")/.."
size=${1:-4M}
shift || true
runs=${RUNS:-3}
limit=${LIMIT:-60}
work=build/bench/hostile
mkdir -p "$work"

if [ -z "${MARKLODE:-}" ]; then
  MARKLODE=build/dev/marklode
  if [ ! -x "$MARKLODE" ]; then
    cmake --preset dev >/dev/null && cmake --build --preset dev --target marklode -j2 || exit 1
  fi
fi
gen=build/bench/gen_hostile
if [ ! -x "$gen" ] || [ bench/gen_hostile.cpp -nt "$gen" ]; then
  c++ -std=c++20 -O2 -Wall -Wextra -Werror -o "$gen" bench/gen_hostile.cpp || exit 1
fi

bytes() {
  local n=${1%[KkMm]}
  case $1 in *[Kk]) echo $((n << 10)) ;; *[Mm]) echo $((n << 20)) ;; *) echo "$n" ;; esac
}
n1=$(bytes "$size")
n2=$((2 * n1))

calc() { awk "BEGIN { print ($1) }"; }

# best_time FILE DIRECTION: best wall time of $runs conversions, or "timeout".
best_time() {
  local in=$1 dir=$2 best="" s i
  local TIMEFORMAT=%3R
  for ((i = 0; i < runs; i++)); do
    rm -f "${in%.*}".CSV "${in%.*}".GPX
    if [ "$dir" = csv ]; then
      s=$({ time timeout "$limit" "$MARKLODE" /r "$in" >/dev/null 2>"$work/stderr.log"; } 2>&1)
    else
      s=$({ time timeout "$limit" "$MARKLODE" "$in" >/dev/null 2>"$work/stderr.log"; } 2>&1)
    fi
    # timeout(1) exits 124 when the limit was reached; marklode's own statuses are 0 to 2
    if [ "$(calc "$s >= $limit")" = 1 ]; then
      echo timeout
      return
    fi
    if [ -z "$best" ] || [ "$(calc "$s < $best")" = 1 ]; then best=$s; fi
  done
  echo "$best"
}

peak_rss_mb() {
  local in=$1 dir=$2
  rm -f "${in%.*}".CSV "${in%.*}".GPX
  if [ "$dir" = csv ]; then
    /usr/bin/time -v -o "$work/time.log" timeout "$limit" "$MARKLODE" /r "$in" >/dev/null 2>&1
  else
    /usr/bin/time -v -o "$work/time.log" timeout "$limit" "$MARKLODE" "$in" >/dev/null 2>&1
  fi
  calc "$(awk -F': ' '/Maximum resident set size/ {print $2}' "$work/time.log") / 1024"
}

failed=0
printf '%-28s %10s %10s %7s %10s\n' shape "t(N) s" "t(2N) s" ratio "RSS(2N) MB"
while read -r shape dir; do
  if (($#)) && ! printf '%s\n' "$@" | grep -qx "$shape"; then continue; fi
  ext=$([ "$dir" = csv ] && echo csv || echo gpx)
  a="$work/$shape-1.$ext" b="$work/$shape-2.$ext"
  "$gen" "$shape" "$n1" "$a" && "$gen" "$shape" "$n2" "$b" || { failed=1; continue; }
  t1=$(best_time "$a" "$dir")
  t2=$(best_time "$b" "$dir")
  if [ "$t1" = timeout ] || [ "$t2" = timeout ]; then
    printf '%-28s %10s %10s %7s %10s  FAIL (over %s s)\n' "$shape" "$t1" "$t2" - - "$limit"
    failed=1
  else
    # Below a few milliseconds the start-up dominates: measure from a floor.
    ratio=$(calc "($t2 > 0.005 ? $t2 : 0.005) / ($t1 > 0.005 ? $t1 : 0.005)")
    rss=$(peak_rss_mb "$b" "$dir")
    verdict=ok
    if [ "$(calc "$ratio > 2.5")" = 1 ]; then verdict=FAIL; failed=1; fi
    printf '%-28s %10.3f %10.3f %7.2f %10.1f  %s\n' "$shape" "$t1" "$t2" "$ratio" "$rss" "$verdict"
  fi
  rm -f "$a" "$b" "${a%.*}".CSV "${a%.*}".GPX "${b%.*}".CSV "${b%.*}".GPX
done < <("$gen" --list)
exit $failed
