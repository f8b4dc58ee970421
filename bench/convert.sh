#!/usr/bin/env bash
# Times the raw-to-engineering-units conversion against two floors: reading the file
# (cat) and reading plus framing it into lines (bench_linesplit).
# Usage: bench/convert.sh [LINES]   (default one million)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/build-bench"
lines=${1:-1000000}

cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DMARU_BUILD_BENCH=ON -DMARU_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" --target bench_linesplit maru -j2 >/dev/null

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
raw="$work/bench.raw"
eng="$work/out.eng"
"$build/bench/bench_linesplit" --generate "$lines" "$raw"
echo "input: $lines lines, $(wc -c <"$raw") bytes"

# Best of three wall-clock runs, in seconds.
best_of_three() {
  local best="" start end t
  for _ in 1 2 3; do
    start=$(date +%s%N)
    "$@" >/dev/null
    end=$(date +%s%N)
    t=$(awk -v a="$start" -v b="$end" 'BEGIN { printf "%.6f", (b - a) / 1e9 }')
    if [ -z "$best" ] || awk -v t="$t" -v b="$best" 'BEGIN { exit !(t < b) }'; then best=$t; fi
  done
  echo "$best"
}

cat_file() { cat "$raw"; }
split_file() { "$build/bench/bench_linesplit" "$raw"; }
convert_file() { "$build/src/cli/maru" convert --dev "$root/bench/bench.dev" "$raw" -o "$eng"; }

counted=$("$build/bench/bench_linesplit" "$raw" | awk '{ print $1 }')
if [ "$counted" != "$lines" ]; then
  echo "bench_linesplit counted $counted lines, expected $lines" >&2
  exit 1
fi
if ! convert_file >/dev/null; then
  echo "maru convert failed" >&2
  exit 1
fi
written=$(($(wc -l <"$eng") - 1))
if [ "$written" != "$lines" ]; then
  echo "maru convert wrote $written lines, expected $lines" >&2
  exit 1
fi

a=$(best_of_three cat_file)
b=$(best_of_three split_file)
c=$(best_of_three convert_file)

awk -v n="$lines" -v a="$a" -v b="$b" -v c="$c" 'BEGIN {
  printf "%-28s %9s %14s\n", "step", "seconds", "lines/second"
  printf "%-28s %9.3f %14.0f\n", "(a) cat", a, (a > 0 ? n / a : 0)
  printf "%-28s %9.3f %14.0f\n", "(b) bench_linesplit", b, (b > 0 ? n / b : 0)
  printf "%-28s %9.3f %14.0f\n", "(c) maru convert", c, (c > 0 ? n / c : 0)
  printf "ratio c/b: %.2f\n", (b > 0 ? c / b : 0)
  printf "ratio c/a: %.2f\n", (a > 0 ? c / a : 0)
}'
