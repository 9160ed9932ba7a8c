// Soak: many downloads in a row through the device controller, each into a
// freshly plugged simulated bootloader with a fault drawn at random. Every
// download's result must agree with what the device says it received, and
// the process must hold as many file descriptors and threads at the end as
// at the start, with its resident memory not grown.
//
// Runs only with TORVANE_SOAK=1 (.ci/run sets it; the default run skips
// it). TORVANE_SOAK_SEED repeats a run; TORVANE_SOAK_DOWNLOADS sets the count.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <string>

#include "download/prepare_image.h"
#include "monitor/debug_trace.h"
#include "tests/support/controller_harness.h"
#include "tests/support/temp_dir.h"

namespace torvane::testing {
namespace {

struct Resources {
  size_t fds = 0;
  size_t threads = 0;
  long rss_kib = 0;
};

size_t CountEntries(const char* dir) {
  size_t n = 0;
  for (const auto& entry : std::filesystem::directory_iterator(dir)) {
    (void)entry;
    ++n;
  }
  return n;
}

Resources Measure() {
  Resources r;
  r.fds = CountEntries("/proc/self/fd");
  r.threads = CountEntries("/proc/self/task");
  long pages = 0, resident = 0;
  std::ifstream("/proc/self/statm") >> pages >> resident;
  r.rss_kib = resident * (sysconf(_SC_PAGESIZE) / 1024);
  return r;
}

unsigned long EnvNumber(const char* name, unsigned long fallback) {
  const char* text = std::getenv(name);
  return text != nullptr && *text != '\0' ? std::strtoul(text, nullptr, 10) : fallback;
}

enum class Fault { kNone, kBusyBlock, kBusyStart, kStartStatus, kWrongEcho, kUnplug, kSilent, kLate, kCancel };

const char* FaultName(Fault f) {
  static const char* names[] = {"none",        "busy-block", "busy-start", "start-status", "wrong-echo",
                                "unplug-block", "silent",     "late",       "cancel"};
  return names[static_cast<int>(f)];
}

// Drawn per download. The slow faults (a 200 ms pause per busy answer, a
// 1 s read time-out for silence and late replies) are rare so that the run
// stays near two minutes.
Fault DrawFault(std::mt19937_64& rng) {
  const int roll = static_cast<int>(rng() % 100);
  if (roll < 40) return Fault::kNone;
  if (roll < 43) return Fault::kBusyBlock;
  if (roll < 46) return Fault::kBusyStart;
  if (roll < 58) return Fault::kStartStatus;
  if (roll < 72) return Fault::kWrongEcho;
  if (roll < 86) return Fault::kUnplug;
  if (roll < 88) return Fault::kSilent;
  if (roll < 90) return Fault::kLate;
  return Fault::kCancel;
}

TEST(DownloadSoak, RandomFaultsNeverLoseAnImageOrAResource) {
  if (std::getenv("TORVANE_SOAK") == nullptr) GTEST_SKIP() << "set TORVANE_SOAK=1 to run the soak";
  const unsigned long seed = EnvNumber("TORVANE_SOAK_SEED", std::random_device{}());
  const unsigned long downloads = EnvNumber("TORVANE_SOAK_DOWNLOADS", 1000);
  std::printf("soak: %lu downloads, seed %lu (TORVANE_SOAK_SEED=%lu repeats it)\n", downloads, seed, seed);
  std::fflush(stdout);
  std::mt19937_64 rng(seed);
  SetDebugTraceEnabled(false);  // two detection traces per plug would bury the report

  // Small images, so a thousand downloads fit in about two minutes: from
  // one block to a dozen, with short last blocks and padding.
  TempDir dir;
  std::vector<std::string> images;
  for (size_t size : {48, 50, 97, 143, 200, 333, 480, 575}) {
    images.push_back(dir.Write("app" + std::to_string(size) + ".bin", PatternBytes(size, static_cast<uint8_t>(size))));
  }
  Settings settings;
  settings.boot_update_bin = dir.Write("boot_update.bin", PatternBytes(250, 3));
  ControllerHarness h(settings);

  std::map<std::string, std::map<int, int>> tally;  // fault -> result -> count
  Resources start;
  const auto began = std::chrono::steady_clock::now();
  const unsigned long warm_up = std::min<unsigned long>(20, downloads / 2);

  for (unsigned long i = 0; i < downloads; ++i) {
    if (i == warm_up) start = Measure();
    const bool old_boot = rng() % 4 == 0;
    const std::string image_path = old_boot ? settings.boot_update_bin : images[rng() % images.size()];
    PreparedImage image;
    ASSERT_TRUE(PrepareImage({image_path, ""}, old_boot ? CHECKSUM_XOR : CHECKSUM_CRC16, &image));
    const uint32_t blocks = (image.total_length + BOOT_BLOCK_SIZE - 1) / BOOT_BLOCK_SIZE;
    const uint32_t block = static_cast<uint32_t>(rng() % blocks);
    const bool last_block = block == blocks - 1;

    const Fault fault = DrawFault(rng);
    const bool five = rng() % 4 == 0;  // a busy fault that exhausts the retries
    std::string knobs = old_boot ? "oldboot" : "boot";
    knobs += rng() % 2 ? ",no-restart" : ",restart-ms=0";
    switch (fault) {
      case Fault::kNone: break;
      case Fault::kBusyBlock: knobs += ",busy-block=" + std::to_string(block) + (five ? ":5" : ":1"); break;
      case Fault::kBusyStart: knobs += five ? ",busy-start=5" : ",busy-start=1"; break;
      case Fault::kStartStatus: knobs += ",start-status=" + std::to_string(3 + rng() % 7); break;
      case Fault::kWrongEcho: knobs += ",wrong-echo-block=" + std::to_string(block); break;
      case Fault::kUnplug: knobs += ",unplug-block=" + std::to_string(block); break;
      case Fault::kSilent: knobs += ",silent-block=" + std::to_string(block); break;
      case Fault::kLate: knobs += ",late-block=" + std::to_string(block) + ",late-ms=1100"; break;
      // Slow replies, so the second press lands before the start is answered.
      case Fault::kCancel: knobs += ",latency-us=20000"; break;
    }
    const std::string context = "download " + std::to_string(i) + " (seed " + std::to_string(seed) +
                                "): " + knobs + " flashing " + image_path;

    const sim::SimDeviceId id = h.Attach(knobs);
    ASSERT_TRUE(h.WaitState(old_boot ? DS_OLDBOOT : DS_BOOT)) << context;
    const size_t before = h.ui.results.size();
    h.controller->OnFlash(image_path);
    if (fault == Fault::kCancel) h.controller->OnFlash(image_path);
    ASSERT_TRUE(h.ui.ProcessUntil([&] { return h.ui.results.size() > before; }, std::chrono::seconds(30)))
        << context;
    const int result = h.ui.results.back();
    const sim::SimVerdict verdict = h.Verdict(id);
    ++tally[FaultName(fault)][result];

    // The tool's result and the device's verdict agree.
    const bool holds_image = verdict.completed && verdict.completed_downloads == 1 && verdict.bytes == image.buffer;
    if (result == DL_OK) {
      ASSERT_TRUE(holds_image) << context << "\n" << verdict.summary();
    } else if (verdict.completed) {
      // Only a lost final acknowledgement leaves a good image reported as a
      // failure.
      ASSERT_TRUE((fault == Fault::kWrongEcho || fault == Fault::kLate) && last_block)
          << context << "\n" << verdict.summary();
    }
    int expected = DL_OK;
    switch (fault) {
      case Fault::kBusyBlock: expected = five ? DL_PROTOCOL_ERROR : DL_OK; break;
      case Fault::kBusyStart: expected = five ? DL_START_BUSY : DL_OK; break;
      case Fault::kCancel: expected = DL_CANCELLED; break;
      case Fault::kUnplug:
        // The next exchange fails, or the controller notices first and cancels.
        if (result == DL_CANCELLED) expected = DL_CANCELLED;
        else expected = DL_PROTOCOL_ERROR;
        break;
      case Fault::kNone: break;
      default: expected = DL_PROTOCOL_ERROR; break;
    }
    ASSERT_EQ(result, expected) << context << "\n" << verdict.summary();

    // Unplug, wait until the controller has settled, forget the device.
    h.bus->unplug(id);
    ASSERT_TRUE(h.ui.ProcessUntil(
        [&] {
          return h.controller->State() == DS_NONE && h.controller->EnumRequests() == 0 &&
                 h.controller->DownloadRequests() == 0;
        },
        std::chrono::seconds(10)))
        << context;
    h.bus->forget(id);
    h.ui.log.clear();
    h.ui.results.clear();
    h.ui.percents.clear();
  }

  const Resources end = Measure();
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
  std::printf("soak: %lu downloads in %.1f s\n", downloads, seconds);
  for (const auto& [fault, results] : tally) {
    std::printf("  %-13s", fault.c_str());
    for (const auto& [result, count] : results) std::printf("  result %d: %d", result, count);
    std::printf("\n");
  }
  std::printf("soak: after %lu warm-up downloads / at the end: fds %zu / %zu, threads %zu / %zu, rss %ld / %ld KiB\n",
              warm_up, start.fds, end.fds, start.threads, end.threads, start.rss_kib, end.rss_kib);
  EXPECT_EQ(end.fds, start.fds);
  EXPECT_EQ(end.threads, start.threads);
  // The allocator may keep a page or two more; anything per download
  // would show as hundreds of KiB over a thousand of them.
  EXPECT_LE(end.rss_kib, start.rss_kib + 256);
}

}  // namespace
}  // namespace torvane::testing
