#!/usr/bin/env bash
# Draws the main window over the demo setup offscreen and writes it to
# docs/screenshot.png (the README's picture). SMALL=1 also writes
# build/screenshots/frmmain_small.png at 1024 x 700.
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD=${BUILD_DIR:-$PWD/build}
cmake -S . -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=${BUILD_TYPE:-Debug} >/dev/null
cmake --build "$BUILD" --target frmmain_screenshot
small=()
if [[ -n ${SMALL:-} ]]; then small=("$BUILD/screenshots/frmmain_small.png"); mkdir -p "$BUILD/screenshots"; fi
QT_QPA_PLATFORM=offscreen "$BUILD/tests/frmmain_screenshot" docs/screenshot.png "${small[@]}"
echo "docs/screenshot.png written"
