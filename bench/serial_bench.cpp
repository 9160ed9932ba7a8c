// Per-unit cost of a serial number in a 1 MiB image: the unit's patched
// copy alone, and the copy with the record's digest of the bytes the unit
// receives (CRC-32 and SHA-256), summed whole (DigestBytes) or from the
// parts every unit shares (SharedImageDigest), for a serial near the
// image's start and near its end, each scheme. Goal: under 1 ms per unit
// with the digest. A summary follows the table.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "job/serial_patch.h"
#include "station/image_digest.h"

namespace {

constexpr size_t kImageSize = size_t{1} << 20;

const torvane::PreparedImage& Base(torvane::ChecksumScheme scheme) {
  static const auto prepare = [](torvane::ChecksumScheme s) {
    std::vector<uint8_t> bytes(kImageSize);
    std::mt19937 gen(12345);
    for (auto& b : bytes) b = static_cast<uint8_t>(gen());
    const std::filesystem::path path =
        std::filesystem::temp_directory_path() / ("torvane-serial-bench-" + std::to_string(::getpid()) + ".bin");
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), kImageSize);
    torvane::PreparedImage image;
    std::string error;
    if (!torvane::PrepareImage({path.string(), ""}, s, &image, &error)) std::fprintf(stderr, "%s\n", error.c_str());
    std::filesystem::remove(path);
    return image;
  };
  static const torvane::PreparedImage crc = prepare(torvane::CHECKSUM_CRC16);
  static const torvane::PreparedImage xor_image = prepare(torvane::CHECKSUM_XOR);
  return scheme == torvane::CHECKSUM_XOR ? xor_image : crc;
}

const std::vector<uint8_t> kSerial = {'S', 'N', '0', '0', '1', '0', '0', '7'};
// Near the start (first block covered by the CRC) and near the end.
constexpr uint32_t kOffsets[] = {64, static_cast<uint32_t>(kImageSize) - 256};

enum class Digest { kNone, kWhole, kShared };

const torvane::SharedImageDigest& Shared(torvane::ChecksumScheme scheme, uint32_t offset) {
  static const auto make = [](torvane::ChecksumScheme s, uint32_t at) {
    return torvane::SharedImageDigest(Base(s).buffer.data(), Base(s).buffer.size(), at, kSerial.size());
  };
  static const torvane::SharedImageDigest shared[2][2] = {
      {make(torvane::CHECKSUM_XOR, kOffsets[0]), make(torvane::CHECKSUM_XOR, kOffsets[1])},
      {make(torvane::CHECKSUM_CRC16, kOffsets[0]), make(torvane::CHECKSUM_CRC16, kOffsets[1])}};
  return shared[scheme == torvane::CHECKSUM_CRC16][offset == kOffsets[1]];
}

void Patch(torvane::ChecksumScheme scheme, uint32_t offset, Digest digest) {
  torvane::PreparedImage unit;
  std::string error;
  torvane::PatchSerial(Base(scheme), offset, kSerial, scheme, &unit, &error);
  benchmark::DoNotOptimize(unit.start_checksum);
  if (digest == Digest::kWhole) {
    benchmark::DoNotOptimize(torvane::DigestBytes(unit.buffer.data(), unit.buffer.size()));
  } else if (digest == Digest::kShared) {
    benchmark::DoNotOptimize(Shared(scheme, offset).Of(unit.buffer.data(), unit.buffer.size()));
  }
}

void BM_PatchSerial(benchmark::State& state) {
  const auto scheme = static_cast<torvane::ChecksumScheme>(state.range(0));
  for (auto _ : state) Patch(scheme, kOffsets[state.range(1)], Digest::kNone);
}
BENCHMARK(BM_PatchSerial)->ArgNames({"xor", "end"})->Args({0, 0})->Args({0, 1})->Args({1, 0})->Args({1, 1})
    ->Unit(benchmark::kMicrosecond);

void BM_PatchSerialAndDigest(benchmark::State& state) {
  const auto scheme = static_cast<torvane::ChecksumScheme>(state.range(0));
  for (auto _ : state) Patch(scheme, kOffsets[state.range(1)], Digest::kWhole);
}
BENCHMARK(BM_PatchSerialAndDigest)->ArgNames({"xor", "end"})->Args({0, 1})->Args({1, 1})
    ->Unit(benchmark::kMicrosecond);

void BM_PatchSerialAndSharedDigest(benchmark::State& state) {
  const auto scheme = static_cast<torvane::ChecksumScheme>(state.range(0));
  for (auto _ : state) Patch(scheme, kOffsets[state.range(1)], Digest::kShared);
}
BENCHMARK(BM_PatchSerialAndSharedDigest)->ArgNames({"xor", "end"})->Args({0, 0})->Args({0, 1})->Args({1, 0})
    ->Args({1, 1})->Unit(benchmark::kMicrosecond);

void BM_DigestOnly(benchmark::State& state) {
  const torvane::PreparedImage& base = Base(torvane::CHECKSUM_CRC16);
  for (auto _ : state) benchmark::DoNotOptimize(torvane::DigestBytes(base.buffer.data(), base.buffer.size()));
}
BENCHMARK(BM_DigestOnly)->Unit(benchmark::kMicrosecond);

// Median and 95th percentile of `runs` timed calls, in milliseconds.
template <typename F>
std::pair<double, double> Times(int runs, F&& f) {
  std::vector<double> ms;
  for (int i = 0; i < runs; ++i) {
    const auto start = std::chrono::steady_clock::now();
    f();
    ms.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
  }
  std::sort(ms.begin(), ms.end());
  return {ms[ms.size() / 2], ms[ms.size() * 95 / 100]};
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  for (const auto scheme : {torvane::CHECKSUM_CRC16, torvane::CHECKSUM_XOR}) {
    const char* name = scheme == torvane::CHECKSUM_XOR ? "XOR" : "CRC-16";
    const auto patch = Times(300, [&] { Patch(scheme, kOffsets[1], Digest::kNone); });
    const auto whole = Times(300, [&] { Patch(scheme, kOffsets[1], Digest::kWhole); });
    std::printf("1 MiB image, %s: serial patch %.3f ms median, %.3f ms p95; with the digest summed whole "
                "(CRC-32 + SHA-256 of 1 MiB): %.3f ms median, %.3f ms p95\n",
                name, patch.first, patch.second, whole.first, whole.second);
    for (const uint32_t offset : kOffsets) {
      const auto shared = Times(300, [&] { Patch(scheme, offset, Digest::kShared); });
      std::printf("  serial at offset %u: patch + shared digest %.3f ms median, %.3f ms p95 (goal < 1 ms: %s)\n",
                  offset, shared.first, shared.second, shared.first < 1.0 ? "met" : "NOT MET");
    }
  }
  return 0;
}
