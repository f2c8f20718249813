#!/usr/bin/env bash
# Builds the libFuzzer targets with clang into build/fuzz and runs each for
# FUZZ_SECONDS (default 60). New inputs go to build/fuzz/corpus, crashes to
# build/fuzz/artifacts; the seeds here stay as they are.
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
BUILD="$ROOT/build/fuzz"
SECONDS_EACH="${FUZZ_SECONDS:-60}"
KEY="$(tr -d ' \n' < "$ROOT/tests/keys/test_release_public.hex")"

if [ ! -f "$BUILD/build.ninja" ]; then
  cmake -S "$ROOT/tests/fuzz" -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DPLOVATEK_RELEASE_PUBLIC_KEY="$KEY" >/dev/null
fi
cmake --build "$BUILD" -j2

failed=0
for fuzzer in json_fuzzer manifest_fuzzer; do
  name="${fuzzer%_fuzzer}"
  mkdir -p "$BUILD/corpus/$name" "$BUILD/artifacts"
  printf '\033[1m==> %s for %ss\033[0m\n' "$fuzzer" "$SECONDS_EACH"
  # The progress lines (NEW, REDUCE, pulse) and the dictionary advice are left out.
  set +e
  "$BUILD/$fuzzer" -max_total_time="$SECONDS_EACH" -print_final_stats=1 -dict="$ROOT/tests/fuzz/$name.dict" \
    -artifact_prefix="$BUILD/artifacts/$name-" "$BUILD/corpus/$name" "$ROOT/tests/fuzz/corpus/$name" 2>&1 |
    grep --line-buffered -v -E '^#[0-9]+[[:space:]]+(NEW|REDUCE|pulse)|^".*" # Uses: '
  status="${PIPESTATUS[0]}"
  set -e
  [ "$status" -eq 0 ] || failed=1
done
[ "$failed" -eq 0 ] || { echo "fuzz: a fuzzer found a fault; the input is in $BUILD/artifacts" >&2; exit 1; }
