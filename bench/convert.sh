#!/usr/bin/env bash
# Times the raw-to-engineering-units conversion (maru convert) against:
#   - the true floor: read the file and find its line ends with memchr (bench_memchr);
#   - for reference, cat and our own framer alone (bench_linesplit, replay reads and
#     line assembly without decoding);
#   - the same conversion done column-wise in pandas (bench/pandas_convert.py), after
#     checking on a small input that its values agree with maru's.
# Usage: bench/convert.sh [LINES]   (default one million)
#
# Figures, one million lines, on a shared two-core machine loaded 6-8 times over (the
# floor (m) itself moved between 0.03 and 0.12 s from run to run):
#   before (64 KiB output blocks, a division for every value's text): f/m 9.95 (c/m 7.92);
#   after: f/m 5.21 and 7.04 (c/m 5.29, 7.64) in two runs; side by side in six rounds the
#   old build 5.9-13.9x, the new 5.1-12.4x, 5-23 % less wall time in each round;
#   processor time of (f), best of nine: 280 ms before, 247 ms after.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/build-bench"
lines=${1:-1000000}
check_lines=10000
# Debian's Python with Debian's pandas, whatever python3 comes first on PATH.
python=/usr/bin/python3

if ! "$python" -c 'import pandas' 2>/dev/null; then
  sudo_cmd=()
  if [ "$(id -u)" -ne 0 ]; then sudo_cmd=(sudo); fi
  echo "Installing: python3-pandas" >&2
  export DEBIAN_FRONTEND=noninteractive
  "${sudo_cmd[@]}" apt-get update -qq
  "${sudo_cmd[@]}" apt-get install -y -qq python3-pandas >/dev/null
fi

cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DMARU_BUILD_BENCH=ON -DMARU_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" --target bench_linesplit bench_memchr maru -j2 >/dev/null

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
raw="$work/bench.raw"
eng="$work/maru.eng"
peng="$work/pandas.eng"
dev="$root/bench/bench.dev"

maru_convert() { "$build/src/cli/maru" convert --dev "$dev" "$1" -o "$2"; }
pandas_convert() { "$python" "$root/bench/pandas_convert.py" "$dev" "$1" "$2"; }

# The yardstick must compute what maru computes: same header, same line count, every
# value within one unit of its last printed place.
"$build/bench/bench_linesplit" --generate "$check_lines" "$work/check.raw"
maru_convert "$work/check.raw" "$work/check-maru.eng"
pandas_convert "$work/check.raw" "$work/check-pandas.eng"
printf 'pandas against maru, %d lines: ' "$check_lines"
"$python" "$root/bench/pandas_convert.py" --compare "$work/check-maru.eng" "$work/check-pandas.eng"

"$build/bench/bench_linesplit" --generate "$lines" "$raw"
echo "input: $lines lines, $(wc -c <"$raw") bytes"

# Best of three wall-clock runs, in seconds. With BEFORE_EACH set, that command runs
# before each timed run, outside the timing.
best_of_three() {
  local best="" start end t
  for _ in 1 2 3; do
    if [ -n "${BEFORE_EACH:-}" ]; then $BEFORE_EACH; fi
    start=$(date +%s%N)
    "$@" >/dev/null
    end=$(date +%s%N)
    t=$(awk -v a="$start" -v b="$end" 'BEGIN { printf "%.6f", (b - a) / 1e9 }')
    if [ -z "$best" ] || awk -v t="$t" -v b="$best" 'BEGIN { exit !(t < b) }'; then best=$t; fi
  done
  echo "$best"
}

cat_file() { cat "$raw"; }
memchr_file() { "$build/bench/bench_memchr" "$raw"; }
split_file() { "$build/bench/bench_linesplit" "$raw"; }
convert_file() { maru_convert "$raw" "$eng"; }
pandas_file() { pandas_convert "$raw" "$peng"; }
nc="$work/maru.nc"
netcdf_file() { "$build/src/cli/maru" convert --dev "$dev" --format netcdf "$raw" -o "$nc"; }
netcdf_deflate_file() { "$build/src/cli/maru" convert --dev "$dev" --format netcdf --deflate 1 "$raw" -o "$nc"; }

for counter in bench_memchr bench_linesplit; do
  counted=$("$build/bench/$counter" "$raw" | awk '{ print $1 }')
  if [ "$counted" != "$lines" ]; then
    echo "$counter counted $counted lines, expected $lines" >&2
    exit 1
  fi
done
for step in convert_file pandas_file; do
  out=$eng
  [ "$step" = pandas_file ] && out=$peng
  if ! "$step" >/dev/null; then
    echo "$step failed" >&2
    exit 1
  fi
  written=$(($(wc -l <"$out") - 1))
  if [ "$written" != "$lines" ]; then
    echo "$step wrote $written lines, expected $lines" >&2
    exit 1
  fi
done

a=$(best_of_three cat_file)
m=$(best_of_three memchr_file)
b=$(best_of_three split_file)
c=$(best_of_three convert_file)
# The same into a new file each time: replacing a file makes the file system write the
# truncated file back when it is closed (ext4), which a new file leaves to later.
f=$(BEFORE_EACH="rm -f $eng" best_of_three convert_file)
p=$(best_of_three pandas_file)
# NetCDF, as maru convert writes it by default (not compressed) and with --deflate 1.
n=$(BEFORE_EACH="rm -f $nc" best_of_three netcdf_file)
z=$(BEFORE_EACH="rm -f $nc" best_of_three netcdf_deflate_file)

awk -v n="$lines" -v a="$a" -v m="$m" -v b="$b" -v c="$c" -v f="$f" -v p="$p" -v nc="$n" -v z="$z" 'BEGIN {
  printf "%-34s %9s %14s\n", "step (best of three)", "seconds", "lines/second"
  printf "%-34s %9.3f %14.0f\n", "(a) cat", a, (a > 0 ? n / a : 0)
  printf "%-34s %9.3f %14.0f\n", "(m) read + memchr (floor)", m, (m > 0 ? n / m : 0)
  printf "%-34s %9.3f %14.0f\n", "(b) read + our framer", b, (b > 0 ? n / b : 0)
  printf "%-34s %9.3f %14.0f\n", "(c) maru convert", c, (c > 0 ? n / c : 0)
  printf "%-34s %9.3f %14.0f\n", "(f) maru convert, new output file", f, (f > 0 ? n / f : 0)
  printf "%-34s %9.3f %14.0f\n", "(p) pandas_convert.py", p, (p > 0 ? n / p : 0)
  printf "%-34s %9.3f %14.0f\n", "(n) maru convert --format netcdf", nc, (nc > 0 ? n / nc : 0)
  printf "%-34s %9.3f %14.0f\n", "(z) the same with --deflate 1", z, (z > 0 ? n / z : 0)
  printf "maru / memchr floor (c/m): %.2f\n", (m > 0 ? c / m : 0)
  printf "new file / floor    (f/m): %.2f\n", (m > 0 ? f / m : 0)
  printf "maru / framer       (c/b): %.2f\n", (b > 0 ? c / b : 0)
  printf "pandas / maru       (p/c): %.2f\n", (c > 0 ? p / c : 0)
  printf "netcdf / eng        (n/f): %.2f\n", (f > 0 ? nc / f : 0)
  printf "deflated / eng      (z/f): %.2f\n", (f > 0 ? z / f : 0)
}'
