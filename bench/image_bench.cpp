// Image preparation speed: a 16 MiB image with the CRC scheme (the goal is
// well under 50 ms), and the raw boot_crc16 throughput.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "device/boot_protocol.h"
#include "download/prepare_image.h"

namespace {

constexpr size_t kImageSize = 16u * 1024 * 1024;

std::vector<uint8_t> RandomBytes(size_t n) {
  std::vector<uint8_t> bytes(n);
  std::mt19937 gen(12345);
  for (auto& b : bytes) b = static_cast<uint8_t>(gen());
  return bytes;
}

// A 16 MiB image file in a temporary directory, removed at exit.
class ImageFile {
 public:
  ImageFile() {
    std::string pattern = (std::filesystem::temp_directory_path() / "torvane-bench-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) return;
    dir_ = pattern;
    path_ = dir_ + "/image.bin";
    const std::vector<uint8_t> bytes = RandomBytes(kImageSize - 3);  // padding included
    std::ofstream(path_, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  }
  ~ImageFile() {
    std::error_code ignored;
    if (!dir_.empty()) std::filesystem::remove_all(dir_, ignored);
  }
  const std::string& path() const { return path_; }

 private:
  std::string dir_;
  std::string path_;
};

void BM_PrepareImage16MiBCrc(benchmark::State& state) {
  static ImageFile file;
  const torvane::DownloadJob job{file.path(), ""};
  for (auto _ : state) {
    torvane::PreparedImage image;
    std::string error;
    if (!torvane::PrepareImage(job, torvane::CHECKSUM_CRC16, &image, &error)) {
      state.SkipWithError(error.c_str());
      break;
    }
    benchmark::DoNotOptimize(image.start_checksum);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(kImageSize));
}
BENCHMARK(BM_PrepareImage16MiBCrc)->Unit(benchmark::kMillisecond);

void BM_PrepareImage16MiBXor(benchmark::State& state) {
  static ImageFile file;
  const torvane::DownloadJob job{file.path(), ""};
  for (auto _ : state) {
    torvane::PreparedImage image;
    if (!torvane::PrepareImage(job, torvane::CHECKSUM_XOR, &image)) {
      state.SkipWithError("preparation failed");
      break;
    }
    benchmark::DoNotOptimize(image.start_checksum);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(kImageSize));
}
BENCHMARK(BM_PrepareImage16MiBXor)->Unit(benchmark::kMillisecond);

void BM_BootCrc16(benchmark::State& state) {
  const std::vector<uint8_t> data = RandomBytes(static_cast<size_t>(state.range(0)));
  for (auto _ : state) {
    benchmark::DoNotOptimize(torvane::boot_crc16(data.data(), static_cast<uint32_t>(data.size())));
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}
BENCHMARK(BM_BootCrc16)->Arg(48)->Arg(4096)->Arg(16 << 20);

}  // namespace

BENCHMARK_MAIN();
