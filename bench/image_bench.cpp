// Image preparation speed: a raw 16 MiB image with each checksum scheme
// (goal well under 50 ms); the same image as a 46 MB Intel HEX file and as
// an S37 file (goal at most 150 ms each, and below `objcopy -O binary` on
// the same file, timed in the same run); the peak memory of preparing a
// 100 MB Intel HEX file that holds 42 MiB, in a process of its own (goal at
// most 1.3 x the image + 16 MiB); and the raw boot_crc16 throughput. A
// summary of the goals follows the table.
#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "device/boot_protocol.h"
#include "download/prepare_image.h"

namespace {

constexpr size_t kImageSize = 16u * 1024 * 1024;
constexpr uint32_t kBase = 0x08000000;

std::vector<uint8_t> RandomBytes(size_t n) {
  std::vector<uint8_t> bytes(n);
  std::mt19937 gen(12345);
  for (auto& b : bytes) b = static_cast<uint8_t>(gen());
  return bytes;
}

enum class Kind { Raw, IntelHex, S37 };

// Writes `bytes` from kBase as records of `per_record` data bytes: Intel HEX
// with an extended linear address record at every 64 KiB, or S37 with a
// header and a termination record, as objcopy and srec_cat write them.
void WriteRecords(std::ofstream& out, Kind kind, const std::vector<uint8_t>& bytes, size_t per_record) {
  std::string text;
  char line[640];
  auto record = [&](const char* lead, unsigned head, const uint8_t* fields, size_t n, bool srec) {
    int at = std::snprintf(line, sizeof line, "%s%02X", lead, head);
    unsigned sum = head;
    for (size_t i = 0; i < n; ++i) {
      at += std::snprintf(line + at, sizeof line - static_cast<size_t>(at), "%02X", fields[i]);
      sum += fields[i];
    }
    std::snprintf(line + at, sizeof line - static_cast<size_t>(at), "%02X\n", (srec ? ~sum : 0x100 - sum) & 0xFF);
    text += line;
    if (text.size() > (1u << 20)) {
      out << text;
      text.clear();
    }
  };
  uint8_t fields[260] = {};
  if (kind == Kind::S37) record("S0", 3, fields, 2, true);  // header: address 0, no text
  for (size_t offset = 0; offset < bytes.size(); offset += per_record) {
    const uint32_t address = kBase + static_cast<uint32_t>(offset);
    const size_t n = std::min(per_record, bytes.size() - offset);
    if (kind == Kind::IntelHex) {
      if (offset == 0 || address % 0x10000 == 0) {
        fields[0] = 0;
        fields[1] = 0;
        fields[2] = 4;
        fields[3] = static_cast<uint8_t>(address >> 24);
        fields[4] = static_cast<uint8_t>(address >> 16);
        record(":", 2, fields, 5, false);
      }
      fields[0] = static_cast<uint8_t>(address >> 8);
      fields[1] = static_cast<uint8_t>(address);
      fields[2] = 0;
      std::memcpy(fields + 3, bytes.data() + offset, n);
      record(":", static_cast<unsigned>(n), fields, n + 3, false);
    } else {
      for (int i = 0; i < 4; ++i) fields[i] = static_cast<uint8_t>(address >> (24 - 8 * i));
      std::memcpy(fields + 4, bytes.data() + offset, n);
      record("S3", static_cast<unsigned>(n + 5), fields, n + 4, true);
    }
  }
  std::memset(fields, 0, 4);
  if (kind == Kind::IntelHex) {
    fields[2] = 1;
    record(":", 0, fields, 3, false);  // end
  } else {
    record("S7", 5, fields, 4, true);  // termination
  }
  out << text;
}

// An image file in a temporary directory, removed at exit.
class ImageFile {
 public:
  explicit ImageFile(Kind kind, size_t image_size = kImageSize - 3, size_t per_record = 16) {
    std::string pattern = (std::filesystem::temp_directory_path() / "torvane-bench-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) return;
    dir_ = pattern;
    path_ = dir_ + (kind == Kind::Raw ? "/image.bin" : kind == Kind::IntelHex ? "/image.hex" : "/image.s37");
    const std::vector<uint8_t> bytes = RandomBytes(image_size);
    std::ofstream out(path_, std::ios::binary);
    if (kind == Kind::Raw) {
      out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    } else {
      WriteRecords(out, kind, bytes, per_record);
    }
  }
  ~ImageFile() {
    std::error_code ignored;
    if (!dir_.empty()) std::filesystem::remove_all(dir_, ignored);
  }
  const std::string& path() const { return path_; }
  std::string dir() const { return dir_; }
  double megabytes() const {
    std::error_code ignored;
    return static_cast<double>(std::filesystem::file_size(path_, ignored)) / 1e6;
  }

 private:
  std::string dir_;
  std::string path_;
};

// Wall and CPU time of the timed parts; the CPU time of this process, or
// of its children (objcopy), which tells the work from waiting for a CPU on
// a busy machine.
struct Times {
  double wall_ms = 0;
  double cpu_ms = 0;
};
// Mean times per iteration of the benchmarks the summary compares.
std::map<std::string, Times> g_mean;

double CpuMs(int who) {
  struct rusage usage {};
  ::getrusage(who, &usage);
  return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1e3 +
         static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e3;
}

class Stopwatch {
 public:
  explicit Stopwatch(int who) : who_(who) {}
  void Start() {
    wall_ = std::chrono::steady_clock::now();
    cpu_ = CpuMs(who_);
  }
  void Stop() {
    total_.wall_ms += std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - wall_).count();
    total_.cpu_ms += CpuMs(who_) - cpu_;
  }
  void Keep(const std::string& name, const benchmark::State& state) const {
    const auto n = static_cast<double>(state.iterations());
    if (n > 0) g_mean[name] = Times{total_.wall_ms / n, total_.cpu_ms / n};
  }

 private:
  int who_;
  std::chrono::steady_clock::time_point wall_;
  double cpu_ = 0;
  Times total_;
};

// Prepares the file over and over; figures per 16 MiB of image.
void PrepareRepeatedly(benchmark::State& state, const ImageFile& file, torvane::ChecksumScheme scheme,
                       const char* name = nullptr) {
  const torvane::DownloadJob job{file.path(), ""};
  Stopwatch watch(RUSAGE_SELF);
  for (auto _ : state) {
    watch.Start();
    torvane::PreparedImage image;
    std::string error;
    if (!torvane::PrepareImage(job, scheme, &image, &error)) {
      state.SkipWithError(error.c_str());
      break;
    }
    benchmark::DoNotOptimize(image.start_checksum);
    watch.Stop();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(kImageSize));
  if (name != nullptr) watch.Keep(name, state);
}

void BM_PrepareImage16MiBCrc(benchmark::State& state) {
  static ImageFile file(Kind::Raw);
  PrepareRepeatedly(state, file, torvane::CHECKSUM_CRC16);
}
BENCHMARK(BM_PrepareImage16MiBCrc)->Unit(benchmark::kMillisecond);

void BM_PrepareImage16MiBXor(benchmark::State& state) {
  static ImageFile file(Kind::Raw);
  PrepareRepeatedly(state, file, torvane::CHECKSUM_XOR);
}
BENCHMARK(BM_PrepareImage16MiBXor)->Unit(benchmark::kMillisecond);

ImageFile& HexFile() {
  static ImageFile file(Kind::IntelHex);
  return file;
}
ImageFile& S37File() {
  static ImageFile file(Kind::S37);
  return file;
}

void BM_PrepareImage16MiBHex(benchmark::State& state) {
  PrepareRepeatedly(state, HexFile(), torvane::CHECKSUM_CRC16, "hex");
}
BENCHMARK(BM_PrepareImage16MiBHex)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_PrepareImage16MiBS37(benchmark::State& state) {
  PrepareRepeatedly(state, S37File(), torvane::CHECKSUM_CRC16, "s37");
}
BENCHMARK(BM_PrepareImage16MiBS37)->Unit(benchmark::kMillisecond)->UseRealTime();

// objcopy converting the same file to a binary, as a separate process.
void Objcopy(benchmark::State& state, const ImageFile& file, const char* input_format, const char* name) {
  const std::string command = "objcopy -I " + std::string(input_format) + " -O binary '" + file.path() + "' '" +
                              file.dir() + "/objcopy.bin'";
  Stopwatch watch(RUSAGE_CHILDREN);
  for (auto _ : state) {
    watch.Start();
    if (std::system(command.c_str()) != 0) {
      state.SkipWithError(("failed: " + command).c_str());
      return;
    }
    watch.Stop();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(kImageSize));
  watch.Keep(name, state);
}

void BM_Objcopy16MiBHex(benchmark::State& state) { Objcopy(state, HexFile(), "ihex", "objcopy hex"); }
BENCHMARK(BM_Objcopy16MiBHex)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_Objcopy16MiBS37(benchmark::State& state) { Objcopy(state, S37File(), "srec", "objcopy s37"); }
BENCHMARK(BM_Objcopy16MiBS37)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_BootCrc16(benchmark::State& state) {
  const std::vector<uint8_t> data = RandomBytes(static_cast<size_t>(state.range(0)));
  for (auto _ : state) {
    benchmark::DoNotOptimize(torvane::boot_crc16(data.data(), static_cast<uint32_t>(data.size())));
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}
BENCHMARK(BM_BootCrc16)->Arg(48)->Arg(4096)->Arg(16 << 20);

const char* Verdict(bool met) { return met ? "met" : "NOT MET"; }

void PrintSpeedGoal(const char* what, const char* ours, const char* objcopy, ImageFile& (*file)()) {
  if (g_mean.count(ours) == 0 || g_mean.count(objcopy) == 0) return;
  const double megabytes = file().megabytes();
  const Times mine = g_mean[ours];
  const Times theirs = g_mean[objcopy];
  std::printf("16 MiB image from %s (%.0f MB): %.1f ms (CPU %.1f ms); objcopy -O binary on the same file: %.1f ms "
              "(CPU %.1f ms) (goal <= 150 ms and below objcopy: %s)\n",
              what, megabytes, mine.wall_ms, mine.cpu_ms, theirs.wall_ms, theirs.cpu_ms,
              Verdict(mine.wall_ms <= 150 && mine.wall_ms < theirs.wall_ms));
}

// The peak resident memory of a process of its own that prepares a 100 MB
// Intel HEX file holding 42 MiB.
void PrintPeakMemory(const char* self) {
  constexpr size_t kData = size_t{42} << 20;
  const ImageFile file(Kind::IntelHex, kData, 32);
  std::string command = "'";
  command.append(self).append("' --peak-rss '").append(file.path()).append("'");
  FILE* child = ::popen(command.c_str(), "r");
  long kib = 0;
  if (child == nullptr || std::fscanf(child, "%ld", &kib) != 1) kib = 0;
  if (child != nullptr) ::pclose(child);
  if (kib <= 0) {
    std::printf("peak memory: the measuring process failed\n");
    return;
  }
  const double mib = static_cast<double>(kib) / 1024;
  const double goal = 1.3 * 42 + 16;
  std::printf("peak memory preparing a %.0f MB Intel HEX file with 42 MiB of data: %.1f MiB "
              "(goal <= 1.3 x 42 MiB + 16 MiB = %.1f MiB: %s)\n",
              file.megabytes(), mib, goal, Verdict(mib <= goal));
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 && std::strcmp(argv[1], "--peak-rss") == 0) {
    torvane::PreparedImage image;
    std::string error;
    if (!torvane::PrepareImage({argv[2], ""}, torvane::CHECKSUM_CRC16, &image, &error)) {
      std::fprintf(stderr, "%s\n", error.c_str());
      return 1;
    }
    struct rusage usage {};
    ::getrusage(RUSAGE_SELF, &usage);
    std::printf("%ld\n", usage.ru_maxrss);  // KiB
    return 0;
  }
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  double load = 0;
  if (::getloadavg(&load, 1) == 1 && load > std::thread::hardware_concurrency()) {
    std::printf("load average %.1f on %u CPUs: wall times include waiting for a CPU\n", load,
                std::thread::hardware_concurrency());
  }
  PrintSpeedGoal("Intel HEX", "hex", "objcopy hex", HexFile);
  PrintSpeedGoal("S37", "s37", "objcopy s37", S37File);
  const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe");
  PrintPeakMemory(self.c_str());
  return 0;
}
