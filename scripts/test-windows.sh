#!/usr/bin/env bash
# Builds the Windows programs (scripts/build-windows.sh), runs their test
# suite under Wine in a Wine prefix of this run's own, then makes the zip
# and the installer and installs that silently and checks it. Arguments go
# to ctest (scripts/test-windows.sh -L device). BUILD_DIR and CMAKE_ARGS as
# for scripts/test.sh.
set -euo pipefail
cd "$(dirname "$0")/.."
build_dir=${BUILD_DIR:-build-windows}
# shellcheck disable=SC2086
BUILD_DIR="$build_dir" bash scripts/build-windows.sh ${CMAKE_ARGS:-}
source scripts/wine-env.sh
export WINE64
# The end-to-end test compares the device's verdict with the Linux build's
# when there is one.
if [[ -z "${TORVANE_LINUX_CLI:-}" && -x build/cli/torvane-cli ]]; then
  export TORVANE_LINUX_CLI=$PWD/build/cli/torvane-cli
fi
ctest --test-dir "$build_dir" --output-on-failure -j "${JOBS:-$(nproc)}" "$@"

# The zip and the installer, installed silently under Wine and checked.
BUILD_DIR="$build_dir" bash scripts/package-windows.sh >/dev/null
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build_dir/CMakeCache.txt")
bash packaging/windows/check-installer.sh "$build_dir/packages/torvane-$version-windows-x64-setup.exe" \
  "$build_dir/packages/torvane-$version-windows-x64.zip"
