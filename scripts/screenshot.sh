#!/usr/bin/env bash
# Retakes docs/main-window.png: the dialog under Xvfb after a real flash of
# samples/app.bin into a simulated bootloader, its path box showing a
# neutral path; and docs/station-window.png: the station window on a line of
# simulated units passed, failed and flashing (relative names only). Uses the build in BUILD_DIR (default build).
set -euo pipefail
cd "$(dirname "$0")/.."
build_dir=${BUILD_DIR:-build}
shown=${SHOWN_PATH:-/home/user/firmware/app.bin}
[[ -f "$build_dir/build.ninja" ]] || BUILD_DIR="$build_dir" bash scripts/build.sh
cmake --build "$build_dir" --target torvane_images
# The dialog's own font setup picks the CJK font; LANG keeps Qt's text
# handling in UTF-8 whatever the caller's locale.
LANG=C.UTF-8 xvfb-run -a -s "-screen 0 1280x1024x24" \
  "$build_dir/ui/torvane_images" screenshot docs/main-window.png samples/app.bin "$shown"
LANG=C.UTF-8 xvfb-run -a -s "-screen 0 1280x1024x24" \
  "$build_dir/ui/torvane_images" station docs/station-window.png samples/app.bin
echo "docs/main-window.png written (path box: $shown), docs/station-window.png written"
