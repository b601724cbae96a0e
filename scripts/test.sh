#!/usr/bin/env bash
# Installs what is missing, builds (with the window, and once without it) and
# runs every test suite through ctest; then builds the core and the suites
# again under AddressSanitizer and UndefinedBehaviorSanitizer and runs the
# unit, integration and corpus-replay suites there (RH_SANITIZE=0 skips it).
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$PWD
BUILD=${BUILD_DIR:-$ROOT/build}
JOBS=${JOBS:-$(nproc)}

scripts/deps.sh

cmake -S "$ROOT" -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=${BUILD_TYPE:-Debug} -DRH_BUILD_GUI=ON
cmake --build "$BUILD" -j "$JOBS"

# The core and the headless program must build without QtWidgets.
cmake -S "$ROOT" -B "$ROOT/build-nogui" -G Ninja -DCMAKE_BUILD_TYPE=Debug \
  -DRH_BUILD_GUI=OFF -DRH_BUILD_TESTS=OFF -DRH_BUILD_BENCH=OFF
cmake --build "$ROOT/build-nogui" -j "$JOBS" --target rollhaven2
if ldd "$ROOT/build-nogui/src/rollhaven2" | grep -q Qt6Widgets; then
  echo "rollhaven2 without the window still links QtWidgets" >&2
  exit 1
fi

export QT_QPA_PLATFORM=offscreen
(cd "$BUILD" && ctest --output-on-failure -j "$JOBS" "$@")

# The Debian package: lint, install, run the installed program, remove.
# RH_PACKAGE_CHECK=0 leaves it out (a developer's quick run of some suites).
if [[ ${RH_PACKAGE_CHECK:-1} != 0 ]]; then
  BUILD_DIR=$BUILD scripts/package-check.sh
fi

[[ ${RH_SANITIZE:-1} == 0 ]] && exit 0

# Sanitizers, no recovery: the first report ends the process. gcc's
# "undefined" leaves out float-to-integer casts that overflow, so they are
# named too. Reports also go to files, so one from a program a test started
# (the headless runner, a stand-in tool) fails the run even when that test did
# not look at its exit.
SAN=${SAN_BUILD_DIR:-$ROOT/build-asan}
cmake -S "$ROOT" -B "$SAN" -G Ninja -DCMAKE_BUILD_TYPE=Debug \
  -DRH_BUILD_GUI=OFF -DRH_BUILD_BENCH=OFF \
  -DCMAKE_CXX_FLAGS="-fsanitize=address,undefined,float-cast-overflow -fno-sanitize-recover=all -fno-omit-frame-pointer"
cmake --build "$SAN" -j "$JOBS"
REPORTS="$SAN/sanitizer-reports"
rm -rf "$REPORTS" && mkdir -p "$REPORTS"
export ASAN_OPTIONS="detect_leaks=1:log_path=$REPORTS/asan:log_exe_name=1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1:log_path=$REPORTS/ubsan:log_exe_name=1"
export LSAN_OPTIONS="suppressions=$ROOT/tests/sanitizer/lsan.supp"
status=0
(cd "$SAN" && ctest --output-on-failure -j "$JOBS") || status=1
if compgen -G "$REPORTS/*" >/dev/null; then
  echo "sanitizer reports:" >&2
  cat "$REPORTS"/* >&2
  status=1
fi
exit $status
