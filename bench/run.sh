#!/usr/bin/env bash
# ./dev bench: builds what is missing, then measures the launcher under Wine against
# curl on the same work. Settings: BENCH_LARGE_MIB, BENCH_SMALL_FILES, BENCH_REPEATS
# (or the options of bench.py: bench/run.sh --help).
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
"$ROOT/dev" build
exec "$ROOT/dev" wine env PLOVATEK_BUILD="$ROOT/build" /usr/bin/python3 "$ROOT/bench/bench.py" "$@"
