#!/usr/bin/env bash
# Makes the Windows packages from the Windows build (BUILD_DIR, default
# build-windows, built first when missing): the zip (CPack) and the NSIS
# installer, both from the same installed folder, in <build>/packages/.
set -euo pipefail
cd "$(dirname "$0")/.."
build_dir=${BUILD_DIR:-build-windows}
[[ -f "$build_dir/build.ninja" ]] || BUILD_DIR="$build_dir" bash scripts/build-windows.sh
cmake --build "$build_dir" -j "${JOBS:-$(nproc)}"
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build_dir/CMakeCache.txt")
stage=$build_dir/package-stage
rm -rf "$stage"
cmake --install "$build_dir" --prefix "$stage" --strip >/dev/null
mkdir -p "$build_dir/packages"
(cd "$build_dir" && cpack -G ZIP >/dev/null)
installer=$build_dir/packages/torvane-$version-windows-x64-setup.exe
makensis -V2 -DVERSION="$version" -DSTAGE="$(realpath "$stage")" -DOUTFILE="$(realpath -m "$installer")" \
  packaging/windows/torvane.nsi
ls "$build_dir"/packages/torvane-"$version"-windows-x64*
