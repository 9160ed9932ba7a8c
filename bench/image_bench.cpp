// Image preparation speed: a 16 MiB image with the CRC scheme (the goal is
// well under 50 ms), the same image as an Intel HEX file (goal under
// 500 ms), and the raw boot_crc16 throughput.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <algorithm>
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

// The image as Intel HEX: 32 data bytes a line from 0x08000000, an
// extended linear address record at every 64 KiB.
std::string IntelHex(const std::vector<uint8_t>& bytes) {
  std::string text;
  text.reserve(bytes.size() * 23 / 8);
  char line[96];
  auto record = [&](unsigned type, unsigned address, const uint8_t* data, size_t n) {
    unsigned sum = static_cast<unsigned>(n) + (address >> 8) + (address & 0xFF) + type;
    int at = std::snprintf(line, sizeof line, ":%02zX%04X%02X", n, address & 0xFFFF, type);
    for (size_t i = 0; i < n; ++i) {
      at += std::snprintf(line + at, sizeof line - static_cast<size_t>(at), "%02X", data[i]);
      sum += data[i];
    }
    std::snprintf(line + at, sizeof line - static_cast<size_t>(at), "%02X\n", (0x100 - (sum & 0xFF)) & 0xFF);
    text += line;
  };
  const uint32_t base = 0x08000000;
  for (size_t offset = 0; offset < bytes.size(); offset += 32) {
    const uint32_t address = base + static_cast<uint32_t>(offset);
    if (offset % 0x10000 == 0) {
      const uint8_t upper[2] = {static_cast<uint8_t>(address >> 24), static_cast<uint8_t>(address >> 16)};
      record(4, 0, upper, 2);
    }
    record(0, address, bytes.data() + offset, std::min<size_t>(32, bytes.size() - offset));
  }
  record(1, 0, nullptr, 0);
  return text;
}

// A 16 MiB image file (raw or Intel HEX) in a temporary directory, removed
// at exit.
class ImageFile {
 public:
  explicit ImageFile(bool hex = false) {
    std::string pattern = (std::filesystem::temp_directory_path() / "torvane-bench-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) return;
    dir_ = pattern;
    path_ = dir_ + (hex ? "/image.hex" : "/image.bin");
    const std::vector<uint8_t> bytes = RandomBytes(kImageSize - 3);  // padding included
    std::ofstream out(path_, std::ios::binary);
    if (hex) {
      out << IntelHex(bytes);
    } else {
      out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    }
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

// Prepares the file over and over; figures per 16 MiB of image.
void PrepareRepeatedly(benchmark::State& state, const ImageFile& file, torvane::ChecksumScheme scheme) {
  const torvane::DownloadJob job{file.path(), ""};
  for (auto _ : state) {
    torvane::PreparedImage image;
    std::string error;
    if (!torvane::PrepareImage(job, scheme, &image, &error)) {
      state.SkipWithError(error.c_str());
      break;
    }
    benchmark::DoNotOptimize(image.start_checksum);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(kImageSize));
}

void BM_PrepareImage16MiBCrc(benchmark::State& state) {
  static ImageFile file;
  PrepareRepeatedly(state, file, torvane::CHECKSUM_CRC16);
}
BENCHMARK(BM_PrepareImage16MiBCrc)->Unit(benchmark::kMillisecond);

void BM_PrepareImage16MiBXor(benchmark::State& state) {
  static ImageFile file;
  PrepareRepeatedly(state, file, torvane::CHECKSUM_XOR);
}
BENCHMARK(BM_PrepareImage16MiBXor)->Unit(benchmark::kMillisecond);

void BM_PrepareImage16MiBHex(benchmark::State& state) {
  static ImageFile file(true);
  PrepareRepeatedly(state, file, torvane::CHECKSUM_CRC16);
}
BENCHMARK(BM_PrepareImage16MiBHex)->Unit(benchmark::kMillisecond);

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
