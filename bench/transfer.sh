#!/usr/bin/env bash
# Times a memory transfer from the virtual meter through the main form against the
# serial line's own time for the same bytes (10 bits a byte).
# Usage: bench/transfer.sh [--bytes N] [--baud B] [--seed S]
#   default: the full 1,081,080-byte memory at 38400 baud (about five minutes);
#   e.g. --bytes 100000 for a run of about half a minute.
# MARU_BENCH_BUILD chooses the build folder (default build-bench, a Release build).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build="${MARU_BENCH_BUILD:-$root/build-bench}"

cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DMARU_BUILD_BENCH=ON -DMARU_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" --target bench_transfer maru -j2 >/dev/null

"$build/bench/bench_transfer" "$@"
