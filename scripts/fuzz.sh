#!/usr/bin/env bash
# Builds the libFuzzer targets with clang in build-fuzz and runs each for
# FUZZ_SECONDS (default 30) from its seed corpus. New inputs and crash
# reproducers go to build-fuzz/fuzz-work/<target>, never into the source
# tree. Without clang the targets cannot be built: says so and succeeds.
# Arguments name targets to run (default: all).
set -euo pipefail
cd "$(dirname "$0")/.."
build_dir=${BUILD_DIR:-build-fuzz}
seconds=${FUZZ_SECONDS:-30}
targets=("$@")
((${#targets[@]})) || targets=(hostile_device_fuzz settings_fuzz sim_knobs_fuzz report_descriptor_fuzz)

if ! command -v clang++ >/dev/null; then
  echo "fuzz: clang++ not found, fuzz targets skipped" >&2
  exit 0
fi
if [[ ! -f "$build_dir/build.ninja" ]]; then
  CC=clang CXX=clang++ cmake -S . -B "$build_dir" -G Ninja -DTORVANE_BUILD_FUZZERS=ON \
    -DTORVANE_BUILD_UI=OFF -DTORVANE_BUILD_TESTS=OFF -DTORVANE_BUILD_BENCHMARKS=OFF ${CMAKE_ARGS:-}
fi
cmake --build "$build_dir" -j "${JOBS:-$(nproc)}" --target "${targets[@]}"

for target in "${targets[@]}"; do
  corpus=fuzz/corpus/${target%_fuzz}
  work=$build_dir/fuzz-work/$target
  mkdir -p "$work"
  echo "== $target: ${seconds}s from $corpus"
  # -timeout catches an input that hangs; the exit status fails the run on
  # any crash, leak, sanitizer report or broken invariant.
  if ! "$build_dir/fuzz/$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
      -print_final_stats=1 -artifact_prefix="$work/" "$work" "$corpus" >"$work.log" 2>&1; then
    tail -n 60 "$work.log"
    echo "fuzz: $target failed; reproducer in $work/, log in $work.log" >&2
    exit 1
  fi
  grep -e '^Done' -e 'stat::' "$work.log" || true
done
