#!/usr/bin/env bash
# Cross-builds Torvane for 64-bit Windows with MinGW-w64 (the "windows"
# preset): installs what is missing, configures once, builds. BUILD_DIR
# picks the build folder (default build-windows); extra arguments go to the
# CMake configure step.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh --windows
build_dir=${BUILD_DIR:-build-windows}
if [[ ! -f "$build_dir/build.ninja" ]]; then
  cmake --preset windows -B "$build_dir" "$@"
elif (($# > 0)); then
  cmake "$build_dir" "$@"
fi
cmake --build "$build_dir" -j "${JOBS:-$(nproc)}"
