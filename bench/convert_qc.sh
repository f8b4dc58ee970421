#!/usr/bin/env bash
# Times `maru convert --qc` with the four QARTOD tests on every value column of the
# benchmark meter's CSV (and, with --counts, on every raw-counts stream too), against the
# same conversion without --qc, for each format (.eng only counts the flags; csv and
# netcdf write them). Best of three.
# Usage: bench/convert_qc.sh [--counts] [LINES]   (default one million)
#
# Measured (1 M lines, 14 streams, two cores shared with five other builds, load 5-12, so
# each ratio is from one run and runs differ by about 0.3):
#   before the block-wise checks (one run):  eng 1.70  csv 1.98  netcdf 2.86
#   after (three runs):  eng 1.64 1.60 1.74  csv 1.67 1.33 1.69  netcdf 3.35 2.80 3.45
# NetCDF's cost was mostly its 70 flag variables going through HDF5, not the checks.
# With NetCDF checked block-wise and its flags put a 64 KiB chunk at a time, side by side
# with the tree before it on a quiet machine (load 1-2.5), three runs each:
#   before:  eng 1.66 1.64 1.63  csv 1.75 1.68 1.70  netcdf 3.14 2.55 2.67
#   after:   eng 1.79 1.64 1.52  csv 1.21 1.63 1.65  netcdf 1.92 1.57 1.84
#   (NetCDF with --qc 1.00-1.13 s before, 0.71-0.74 s after; plain 0.36-0.45 s)
# With gross range, rate of change and spike vectorised, side by side with the tree before
# (load 1.9-2.6), three runs each:
#   before:  eng 1.70 1.74 1.66  csv 1.66 1.77 1.72  netcdf 1.99 1.56 2.97
#   after:   eng 1.58 1.59 1.51  csv 1.66 1.69 1.59  netcdf 1.94 1.87 1.96
#   (--qc: eng 0.45-0.48 s before, 0.43-0.44 s after; csv 0.86-0.92, 0.80-0.87;
#   netcdf 0.77-1.15, 0.72-0.77). Again at load 3.0-3.2 (the machine busier from round 2):
#   before:  eng 1.80 1.70 1.70  csv 1.96 1.86 1.67  netcdf 2.99 2.05 1.90
#   after:   eng 1.47 1.68 1.59  csv 1.86 1.59 1.70  netcdf 1.98 2.06 1.81
# With flag columns, the aggregate and the flat line's short way in vector code, AVX2 builds
# of the loops and no in-memory define without user attributes, this script (load 1-2):
#   eng 1.28 1.38 1.29  csv 1.44 1.29 1.39  netcdf 1.40 1.47 1.57
#   (NetCDF with --qc 0.52-0.57 s; plain 0.33-0.41 s, its time varying the most)
# With the checks of each block on a thread of their own while the next is read, when
# the machine's second core was free (two processes of a spinning loop each as fast as
# one alone):  eng 1.17 1.21  csv 1.28 1.34  netcdf 1.56 1.64 1.71 (the flag variables'
# define and writes, on the main thread, are most of NetCDF's extra). When it was not
# (the second of two such processes took twice as long): eng 1.42 1.47, csv 1.46 1.51,
# netcdf 1.65 1.69, as fast as with the program held to one core (taskset -c 0).
# With the NetCDF records and flags written by that thread too (second core free, best of
# five, three rounds): netcdf 1.78 1.38 1.41 (the first while the machine settled after a
# build), against 1.55-1.71 the round before. Ten minutes later, with two spinning
# processes as fast as one, this script gave eng 1.43 1.50, csv 1.45 1.44, netcdf 1.80
# 1.88 (NetCDF with --qc 0.63-0.65 s, 0.81 s of processor time): the check thread, which
# then does all of HDF5's writing, is the longer path, and its time follows the page
# cache's speed, which varies a lot on this machine.
# Timing each side then showed the two threads taking turns (the main thread waited at
# 260 of 490 blocks, the check thread as long) and each hand-over costing 50-200 us. With
# 2048-sample blocks, four in turn for NetCDF, a padded stride between streams and data
# lines that no longer stall on their date and time, side by side with the tree before
# (best of five, two rounds):  before: eng 1.40 1.50  csv 1.48 1.65  netcdf 2.26 2.08
#                              after:  eng 1.25 1.19  csv 1.33 1.34  netcdf 1.60 1.26
# Held to one core (taskset -c 0): eng 1.32, csv 1.47, netcdf 1.74.
# With the NetCDF records handed to the writer column by column, this script on a quiet
# machine, twice: eng 1.22 1.23  csv 1.32 1.27  netcdf 1.19 1.18 (NetCDF with --qc 0.41 s,
# plain 0.35 s); with --counts (22 streams): eng 1.26, csv 1.38, netcdf 1.53.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/build-bench"
counts=0
if [ "${1:-}" = "--counts" ]; then counts=1; shift; fi
lines=${1:-1000000}

cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DMARU_BUILD_BENCH=ON -DMARU_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" --target bench_linesplit maru -j2 >/dev/null

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
raw="$work/bench.raw"
dev="$root/bench/bench.dev"
maru="$build/src/cli/maru"
"$build/bench/bench_linesplit" --generate "$lines" "$raw"

# The CSV's value columns (from its header), and with --counts the raw counts (counts_<label>
# for each channel label of a short conversion's NetCDF "counts").
head -c 2000 "$raw" | head -n 5 >"$work/short.raw"
"$maru" convert --dev "$dev" --format csv "$work/short.raw" -o "$work/short.csv"
"$maru" convert --dev "$dev" --format netcdf "$work/short.raw" -o "$work/short.nc"
streams=$(head -n 1 "$work/short.csv" | tr -d '\r' | tr ',' '\n' | tail -n +4)
if [ "$counts" = 1 ]; then
  streams+=$'\n'$(ncdump -v counts_channel "$work/short.nc" | sed -n '/^ counts_channel =/,/;/p' |
    grep -o '"[^"]*"' | tr -d '"' | sed 's/^/counts_/')
fi
{
  echo "streams:"
  for s in $streams; do
    cat <<YML
  $s:
    qartod:
      gross_range_test: {suspect_span: [0, 1000], fail_span: [-1, 5000]}
      spike_test: {suspect_threshold: 100, fail_threshold: 500}
      rate_of_change_test: {threshold: 50}
      flat_line_test: {tolerance: 1.0e-9, suspect_threshold: 60, fail_threshold: 300}
YML
  done
} >"$work/qc.yml"
echo "input: $lines lines; $(echo "$streams" | wc -w) streams with four tests each"

best_of_three() {
  local best="" start end t
  for _ in 1 2 3; do
    rm -f "$work/out"
    start=$(date +%s%N)
    "$@" >/dev/null 2>&1
    end=$(date +%s%N)
    t=$(awk -v a="$start" -v b="$end" 'BEGIN { printf "%.3f", (b - a) / 1e9 }')
    if [ -z "$best" ] || awk -v t="$t" -v b="$best" 'BEGIN { exit !(t < b) }'; then best=$t; fi
  done
  echo "$best"
}

printf '%-8s %12s %12s %8s\n' format "plain (s)" "--qc (s)" ratio
for format in eng csv netcdf; do
  plain=$(best_of_three "$maru" convert --dev "$dev" --format "$format" "$raw" -o "$work/out")
  qc=$(best_of_three "$maru" convert --dev "$dev" --format "$format" --qc "$work/qc.yml" "$raw" -o "$work/out")
  printf '%-8s %12s %12s %8s\n' "$format" "$plain" "$qc" "$(awk -v a="$plain" -v b="$qc" 'BEGIN { printf "%.2f", b / a }')"
done
