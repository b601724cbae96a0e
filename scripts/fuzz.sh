#!/usr/bin/env bash
# Builds the libFuzzer targets (tests/fuzz/*_fuzz.cpp) with clang in their own
# build folder and runs a campaign on each, bounded in time and executions.
#
#   scripts/fuzz.sh [seconds-per-target] [name...]     e.g. scripts/fuzz.sh 300 json_fuzz
#   MINIMISE=1 scripts/fuzz.sh 600                     also folds what the campaign
#                                                      found into tests/fuzz/corpus/<name>/
#
# The core is compiled with coverage, AddressSanitizer and UndefinedBehavior-
# Sanitizer (no recovery) so the fuzzer sees into the libraries, not only into
# the target. One process per campaign at the lowest priority (the machine is
# shared; the generous timeout keeps a starved process from passing for a
# hang); RUNS caps the executions (default two million). WORKERS=n runs n
# processes per campaign on one growing corpus, RUNS shared among them
# (libFuzzer prints their logs, kept in build-fuzz/fuzz-logs/<name>/, at the
# end). Findings are written to build-fuzz/fuzz-artifacts/; the growing
# corpus is kept in build-fuzz/fuzz-corpus/ and seeded from
# tests/fuzz/corpus/<name>/. Each campaign ends with libFuzzer's final statistics (executions, coverage).
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$PWD
BUILD=${FUZZ_BUILD_DIR:-$ROOT/build-fuzz}
SECONDS_EACH=${1:-60}
RUNS=${RUNS:-2000000}
[[ $# -gt 0 ]] && shift

if ! command -v clang++ >/dev/null; then
  echo "fuzz.sh: clang++ is needed (apt-get install clang)" >&2
  exit 1
fi

cmake -S "$ROOT" -B "$BUILD" -G Ninja \
  -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DRH_FUZZ=ON -DRH_BUILD_GUI=OFF -DRH_BUILD_BENCH=OFF \
  -DCMAKE_CXX_FLAGS="-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer" >/dev/null

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
nice -n 19 cmake --build "$BUILD" -j "${JOBS:-$(nproc)}" --target "${targets[@]}"

mkdir -p "$BUILD/fuzz-artifacts"
status=0
for n in "${names[@]}"; do
  corpus="$BUILD/fuzz-corpus/$n"
  seeds="$ROOT/tests/fuzz/corpus/$n"
  mkdir -p "$corpus" "$seeds"
  echo "== $n: ${SECONDS_EACH}s or $RUNS runs"
  start=$(date +%s)
  workers=${WORKERS:-1}
  parallel=()
  logs=.
  if (( workers > 1 )); then
    logs="$BUILD/fuzz-logs/$n"
    mkdir -p "$logs"
    parallel=(-jobs="$workers" -workers="$workers")
  fi
  if ! (cd "$logs" && nice -n 19 "$BUILD/tests/fuzz_$n" -runs=$(( RUNS / workers )) \
      -max_total_time="$SECONDS_EACH" -timeout=60 -rss_limit_mb=2048 -max_len=4096 \
      -print_final_stats=1 "${parallel[@]}" \
      -artifact_prefix="$BUILD/fuzz-artifacts/$n-" "$corpus" "$seeds"); then
    echo "== $n: FOUND A PROBLEM (see $BUILD/fuzz-artifacts/)" >&2
    status=1
    continue
  fi
  echo "== $n: $(( $(date +%s) - start ))s"
  if [[ ${MINIMISE:-0} == 1 ]]; then
    # Named inputs (findings, hand-made seeds) stay; of the fuzzer's own, only
    # those that add coverage to them are kept.
    fresh=$(mktemp -d)
    find "$seeds" -maxdepth 1 -type f ! -regex '.*/[0-9a-f]\{40\}' -exec cp {} "$fresh"/ \;
    nice -n 19 "$BUILD/tests/fuzz_$n" -merge=1 -timeout=60 -rss_limit_mb=2048 "$fresh" "$seeds" "$corpus"
    rm -f "$seeds"/*
    cp "$fresh"/* "$seeds"/
    rm -rf "$fresh"
  fi
done
exit $status
