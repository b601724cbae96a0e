#!/usr/bin/env bash
# What a resume costs against the release it finishes: in the demo sandbox,
# with a compiler and setup builders that take a few seconds each as real
# ones do, an uninterrupted release of group 1, then the same release with
# the last product's FTP upload refused, then its --resume. Prints both wall
# times and their ratio; exits non-zero when the resume takes 15% or more of
# the uninterrupted release, or starts a compiler, setup builder or signing.
#
#   DEMO_CHECK=$PWD/tests/bench/resume_bench.sh DEMO_NO_BUILD=1 BUILD_DIR=$PWD/build scripts/demo.sh
set -euo pipefail
: "${ROOT:?}" "${SANDBOX:?}" "${APP:?}"
compile_s=${COMPILE_SECONDS:-3} # a build of the compiler and of each setup builder
limit_pct=${RESUME_LIMIT_PCT:-15}
export RH_STANDIN_LOG=$SANDBOX/logs/standin.log

slow() { # <native tool path> <seconds>: the tool waits before it works
  local dir name
  dir=$(dirname "$1"); name=$(basename "$1")
  [[ -f $dir/.$name.real ]] && return
  mv "$1" "$dir/.$name.real"
  printf '#!/bin/sh\nsleep %s\nexec "$(dirname "$0")/.%s.real" "$@"\n' "$2" "$name" > "$1"
  chmod 0755 "$1"
}
C=$SANDBOX/drives/C
slow "$C/Program Files/Microsoft Visual Studio/VB98/vb6.exe" "$compile_s"
slow "$C/Program Files/Macrovision/IS12/System/IsCmdBld.exe" "$compile_s"
slow "$C/Program Files/Inno Setup 5/compil32.exe" "$compile_s"

mapfile -t RUN_FLAGS < <(grep -v '^$' "$SANDBOX/run_flags" || true)
FLAGS=(--headless --ini demo.ini --today 2026-12-09 --group 1 --yes "${RUN_FLAGS[@]}")
# A resume takes the run's own steps: only the password and the answers.
mapfile -t RESUME < <(grep -v '^$\|^--steps' "$SANDBOX/run_flags" || true)
RESUME=(--headless --yes "${RESUME[@]}" --resume)
FTP=$SANDBOX/ftp/public_html/download
ms() { echo $(($(date +%s%N) / 1000000)); }
next_second() { local s; s=$(date +%s); while [[ $(date +%s) == "$s" ]]; do sleep 0.05; done; }
tool_starts() {
  echo "vb6 $(grep -c '^vb6 ' "$RH_STANDIN_LOG" 2>/dev/null || true)" \
    "builders $(wc -l < "$SANDBOX/setupbuilders.log" 2>/dev/null || echo 0)" \
    "signed $(grep -c '^signed ' "$SANDBOX/logs/signstation.log" || true)"
}

t0=$(ms)
"$APP" "${FLAGS[@]}" > "$SANDBOX/logs/bench-full.txt" || { echo "the release exited $?" >&2; exit 1; }
full=$(($(ms) - t0))

# The last product's (세금계산서) upload is refused: a folder holds its name.
mkdir -p "$FTP/tax_setup_2.exe"
next_second
t0=$(ms)
rc=0; "$APP" "${FLAGS[@]}" > "$SANDBOX/logs/bench-failed.txt" 2>&1 || rc=$?
failed=$(($(ms) - t0))
(( rc != 0 )) || { echo "the release with a refused upload exited 0" >&2; exit 1; }
rmdir "$FTP/tax_setup_2.exe"
starts=$(tool_starts)

next_second
t0=$(ms)
"$APP" "${RESUME[@]}" > "$SANDBOX/logs/bench-resume.txt" 2>&1 \
  || { tail -5 "$SANDBOX/logs/bench-resume.txt" >&2; echo "the resume exited $?" >&2; exit 1; }
resume=$(($(ms) - t0))

pct=$(awk -v r="$resume" -v f="$full" 'BEGIN { printf "%.1f", 100 * r / f }')
printf 'uninterrupted release %d ms (compiler and setup builders %s s each), failed release %d ms\n' \
  "$full" "$compile_s" "$failed"
printf 'resume %d ms = %s%% of the uninterrupted release (limit %s%%)\n' "$resume" "$pct" "$limit_pct"
printf 'tools started by the resume: %s -> %s\n' "$starts" "$(tool_starts)"
[[ $(tool_starts) == "$starts" ]] || { echo "the resume started a compiler, setup builder or signing" >&2; exit 1; }
awk -v p="$pct" -v l="$limit_pct" 'BEGIN { exit !(p < l) }'
