#!/usr/bin/env bash
# Installs what is missing, builds (with the window, and once without it) and
# runs every test suite through ctest.
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
