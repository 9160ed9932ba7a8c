#!/usr/bin/env bash
# Builds the Windows programs (scripts/build-windows.sh) and runs their test
# suite under Wine, in a Wine prefix of this run's own. Arguments go to
# ctest (scripts/test-windows.sh -L device). BUILD_DIR and CMAKE_ARGS as for
# scripts/test.sh.
set -euo pipefail
cd "$(dirname "$0")/.."
build_dir=${BUILD_DIR:-build-windows}
# shellcheck disable=SC2086
BUILD_DIR="$build_dir" bash scripts/build-windows.sh ${CMAKE_ARGS:-}
source scripts/wine-env.sh
ctest --test-dir "$build_dir" --output-on-failure -j "${JOBS:-$(nproc)}" "$@"
