#!/usr/bin/env bash
# Builds and runs the whole test suite (or one subsystem: scripts/test.sh -L device).
# BUILD_DIR and CMAKE_ARGS select another build (the CI sanitizer builds).
set -euo pipefail
cd "$(dirname "$0")/.."
build_dir=${BUILD_DIR:-build}
# shellcheck disable=SC2086
BUILD_DIR="$build_dir" bash scripts/build.sh ${CMAKE_ARGS:-}
export QT_QPA_PLATFORM=offscreen
ctest --test-dir "$build_dir" --output-on-failure -j "${JOBS:-$(nproc)}" "$@"
