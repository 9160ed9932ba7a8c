#!/usr/bin/env bash
# Renders the README's screenshots into docs/ under a private X server, on
# simulated devices: the main window after a flash, and the production
# station window with units passed, failed and flashing. Rerun after a
# change to either window. Needs xvfb (scripts/install-deps.sh installs it).
set -euo pipefail
cd "$(dirname "$0")/.."
build_dir=${BUILD_DIR:-build}
[[ -f "$build_dir/build.ninja" ]] || bash scripts/build.sh
cmake --build "$build_dir" --target torvane_images
tool="$build_dir/ui/torvane_images"
xvfb-run -a -s "-screen 0 1280x1024x24" "$tool" screenshot docs/main-window.png samples/app.bin
xvfb-run -a -s "-screen 0 1280x1024x24" "$tool" station docs/station-window.png samples/app.bin
echo "docs/main-window.png docs/station-window.png"
