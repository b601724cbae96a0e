#!/usr/bin/env bash
# Builds the libFuzzer targets (tests/fuzz/*_fuzz.cpp) with clang in their own
# build folder and runs each for a bounded time.
#
#   scripts/fuzz.sh [seconds-per-target] [name...]     e.g. scripts/fuzz.sh 300 json_fuzz
#
# The whole core is compiled with coverage and AddressSanitizer so the fuzzer
# sees into the libraries, not only into the target. Findings are written to
# build-fuzz/fuzz-artifacts/; the growing corpus is kept in build-fuzz/fuzz-corpus/
# and seeded from tests/fuzz/corpus/<name>/.
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$PWD
BUILD=${FUZZ_BUILD_DIR:-$ROOT/build-fuzz}
SECONDS_EACH=${1:-60}
[[ $# -gt 0 ]] && shift

if ! command -v clang++ >/dev/null; then
  echo "fuzz.sh: clang++ is needed (apt-get install clang)" >&2
  exit 1
fi

cmake -S "$ROOT" -B "$BUILD" -G Ninja \
  -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DRH_FUZZ=ON -DRH_BUILD_GUI=OFF -DRH_BUILD_BENCH=OFF \
  -DCMAKE_CXX_FLAGS="-fsanitize=fuzzer-no-link,address -fno-omit-frame-pointer" >/dev/null

if [[ $# -gt 0 ]]; then
  names=("$@")
else
  names=()
  for f in "$ROOT"/tests/fuzz/*_fuzz.cpp; do
    names+=("$(basename "$f" .cpp)")
  done
fi

targets=()
for n in "${names[@]}"; do targets+=("fuzz_$n"); done
cmake --build "$BUILD" -j "${JOBS:-$(nproc)}" --target "${targets[@]}"

mkdir -p "$BUILD/fuzz-artifacts"
status=0
for n in "${names[@]}"; do
  corpus="$BUILD/fuzz-corpus/$n"
  mkdir -p "$corpus"
  seeds=()
  [[ -d "$ROOT/tests/fuzz/corpus/$n" ]] && seeds+=("$ROOT/tests/fuzz/corpus/$n")
  echo "== $n: ${SECONDS_EACH}s"
  if ! "$BUILD/tests/fuzz_$n" -max_total_time="$SECONDS_EACH" -timeout=10 -rss_limit_mb=2048 \
      -max_len=65536 -print_final_stats=1 \
      -artifact_prefix="$BUILD/fuzz-artifacts/$n-" "$corpus" "${seeds[@]}"; then
    echo "== $n: FOUND A PROBLEM (see $BUILD/fuzz-artifacts/)" >&2
    status=1
  fi
done
exit $status
