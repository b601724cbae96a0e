#!/usr/bin/env bash
# What the end-of-run verification and the run report cost a release: the
# demo release is run N times (default 3) in the demo sandbox and each run's
# wall time is set against the verification time and the report's writing
# time the run itself measured (the last lines of its log).
#
#   DEMO_CHECK=$PWD/scripts/bench/release_overhead.sh scripts/demo.sh
set -euo pipefail
: "${SANDBOX:?}" "${APP:?}"
runs=${RELEASE_RUNS:-3}
mapfile -t RUN_FLAGS < <(grep -v '^$' "$SANDBOX/run_flags" || true)

total_wall=0 total_checks=0
for ((i = 1; i <= runs; i++)); do
  t0=$(date +%s%N)
  out=$("$APP" --headless --ini demo.ini --today 2026-12-09 --group 1 --yes "${RUN_FLAGS[@]}")
  t1=$(date +%s%N)
  wall=$(((t1 - t0) / 1000000))
  verify=$(sed -n 's/^  검증: \([0-9.]*\)초.*/\1/p' <<<"$out")
  report=$(sed -n 's/^실행 보고서: .* (\([0-9]*\)ms)$/\1/p' <<<"$out")
  [[ -n $verify && -n $report ]] || { echo "no verification or report figures in run $i" >&2; exit 1; }
  checks=$(awk -v v="$verify" -v r="$report" 'BEGIN { printf "%d", v * 1000 + r }')
  printf 'run %d: wall %6d ms, verification %4.0f ms, report %3d ms\n' "$i" "$wall" \
    "$(awk -v v="$verify" 'BEGIN { print v * 1000 }')" "$report"
  total_wall=$((total_wall + wall))
  total_checks=$((total_checks + checks))
done
awk -v c="$total_checks" -v w="$total_wall" -v n="$runs" 'BEGIN {
  printf "release wall time %.0f ms (mean of %d), verification and report %.0f ms: %.2f%% of the release\n",
    w / n, n, c / n, 100 * c / w }'
