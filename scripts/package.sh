#!/usr/bin/env bash
# Builds the Debian package and checks it:
#   bash scripts/package.sh            Release build in build-release (no tests)
#   BUILD_DIR=build bash scripts/package.sh
#                                      reuses an existing build folder as it
#                                      is configured (CI packages its test build;
#                                      the package's binaries are stripped)
# The package lands in <build>/packages/torvane_<version>_<arch>.deb.
set -euo pipefail
cd "$(dirname "$0")/.."
build_dir=${BUILD_DIR:-build-release}
if [[ ! -f "$build_dir/build.ninja" ]]; then
  cmake -S . -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DTORVANE_BUILD_TESTS=OFF -DTORVANE_BUILD_BENCHMARKS=OFF "$@"
elif (($# > 0)); then
  cmake "$build_dir" "$@"
fi
cmake --build "$build_dir" -j "${JOBS:-$(nproc)}"

rm -f "$build_dir"/packages/torvane_*.deb
(cd "$build_dir" && cpack -G DEB)
deb=$(ls "$build_dir"/packages/torvane_*.deb)
bash packaging/check-deb.sh "$deb"
