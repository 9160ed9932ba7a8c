#!/usr/bin/env bash
# Configures and builds Torvane. BUILD_DIR picks the build folder (default
# build); extra arguments go to the CMake configure step.
set -euo pipefail
cd "$(dirname "$0")/.."
build_dir=${BUILD_DIR:-build}
if [[ ! -f "$build_dir/build.ninja" ]]; then
  cmake -S . -B "$build_dir" -G Ninja "$@"
elif (($# > 0)); then
  cmake "$build_dir" "$@"
fi
cmake --build "$build_dir" -j "${JOBS:-$(nproc)}"
