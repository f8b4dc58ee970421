#!/usr/bin/env bash
# The fuzz targets for millions of inputs each (the test command runs them for seconds).
# Usage: bench/fuzz.sh [RUNS]   (default 3000000 per target)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
exec "$root/scripts/fuzz" --runs "${1:-3000000}"
