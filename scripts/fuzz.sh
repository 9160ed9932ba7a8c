#!/usr/bin/env bash
# Builds the libFuzzer targets with clang in build-fuzz and runs each from
# its seed corpus for a fixed number of inputs drawn with a fixed seed
# (FUZZ_SEED, default 1), about 30 s each, so a CI run is repeatable: it
# explores the same inputs on every machine, and a finding there is found
# again here. FUZZ_SECONDS=N runs each for N seconds with a random seed
# instead, for longer exploration. New inputs and crash
# reproducers go to build-fuzz/fuzz-work/<target>, never into the source
# tree. Without clang the targets cannot be built: says so and succeeds.
# Arguments name targets to run (default: all).
set -euo pipefail
cd "$(dirname "$0")/.."
build_dir=${BUILD_DIR:-build-fuzz}
seconds=${FUZZ_SECONDS:-}
seed=${FUZZ_SEED:-1}
# Inputs per target in a repeatable run (about 30 s each on a 2-core machine).
declare -A runs=([hostile_device_fuzz]=150000 [settings_fuzz]=15000 [sim_knobs_fuzz]=1500000
                 [report_descriptor_fuzz]=800000 [record_reader_fuzz]=80000 [job_text_fuzz]=500000)
targets=("$@")
((${#targets[@]})) || targets=(hostile_device_fuzz settings_fuzz sim_knobs_fuzz report_descriptor_fuzz record_reader_fuzz job_text_fuzz)

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
  if [[ -n "$seconds" ]]; then
    budget=(-max_total_time="$seconds")
    echo "== $target: ${seconds}s from $corpus"
  else
    # The time cap only guards a very slow machine; it then runs a prefix
    # of the same inputs.
    budget=(-runs="${runs[$target]:-100000}" -seed="$seed" -max_total_time=120)
    echo "== $target: ${runs[$target]:-100000} inputs, seed $seed, from $corpus"
  fi
  # -timeout catches an input that hangs; the exit status fails the run on
  # any crash, leak, sanitizer report or broken invariant.
  if ! "$build_dir/fuzz/$target" "${budget[@]}" -timeout=10 -rss_limit_mb=2048 \
      -print_final_stats=1 -artifact_prefix="$work/" "$work" "$corpus" >"$work.log" 2>&1; then
    tail -n 60 "$work.log"
    echo "fuzz: $target failed; reproducer in $work/, log in $work.log" >&2
    exit 1
  fi
  grep -e '^Done' -e 'stat::' "$work.log" || true
done
