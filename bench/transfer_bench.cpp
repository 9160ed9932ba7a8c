// Speed of the transfer engine (RunTransfer) against the simulated
// bootloader, with a 1 MiB image throughout: 21 846 blocks of 48 bytes plus
// the start command, 21 847 exchanges.
//
// The flashes against the simulated device (zero latency, and the
// simulator's own 1000 µs latency) are each paired with a bare pass: the same frames, prepared beforehand, written straight to a
// simulated handle of a second device and each reply read back. The bare
// pass is the simulator's own cost, so the difference is what the engine,
// the boot protocol and the HID layer add. The two alternate, so both meet
// the same load from the rest of the machine.
//
//  - Zero latency (the device answers inside the write): software cost per
//    block exchange, wall clock and the flashing thread's CPU time, best of
//    many passes.
//  - 1000 µs latency: a flash as a ratio to the stop-and-wait bound
//    (exchanges x latency), next to the bare pass's ratio, with the
//    thread's default timer slack and with 1 ns (the simulator's timer
//    thread inherits the slack of the thread that creates the bus); and the
//    overshoot of a plain 1 ms timed wait, the wait the simulator's timer
//    thread makes for every delayed reply. Last, a flash against a device
//    whose 1000 µs are exact (spin-waited on the flashing thread): the
//    engine's own distance from the bound, with no timer in the way.
//
// A summary with the derived figures follows the table.
#include <benchmark/benchmark.h>

#include <time.h>
#include <unistd.h>

#ifdef __linux__
#include <sys/prctl.h>
#endif

#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "device/boot_protocol.h"
#include "device/hid_link.h"
#include "download/prepare_image.h"
#include "download/transfer_engine.h"
#include "sim/sim_bus.h"

namespace {

using torvane::sim::SimBus;
using torvane::sim::SimDeviceId;
using torvane::sim::SimKnobs;
using Clock = std::chrono::steady_clock;

constexpr uint32_t kImageBytes = 1u << 20;
constexpr uint32_t kBlocks = (kImageBytes + torvane::BOOT_BLOCK_SIZE - 1) / torvane::BOOT_BLOCK_SIZE;
constexpr uint32_t kExchanges = kBlocks + 1;  // the start command, then every block
constexpr uint32_t kLoadAddress = 0x08004000;
constexpr int kLatencyUs = 1000;
// Timed waits behind the latency diagnosis: about 2 s, enough for a steady
// mean.
constexpr int kTimedWaits = 2000;

// Figures the summary derives its lines from; NaN until measured.
struct Figures {
  double engine_us_per_block = NAN;      // wall clock
  double engine_cpu_us_per_block = NAN;  // the flashing thread's CPU time
  double engine_flash_ms = NAN;
  double engine_mean_flash_ms = NAN;
  double bare_us_per_block = NAN;
  double bare_cpu_us_per_block = NAN;
  double latency_ratio[2] = {NAN, NAN};  // [default slack, 1 ns slack]
  double bare_latency_ratio[2] = {NAN, NAN};
  double wait_overshoot_us[2] = {NAN, NAN};
  double precise_latency_ratio = NAN;
  double precise_excess_us = NAN;  // per exchange
  double precise_late_us = NAN;    // of that, replies held up by the machine
};
Figures g_figures;

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

const char* const kSlackNames[2] = {"default timer slack", "1 ns timer slack"};

// Sets the calling thread's timer slack to 1 ns for `minimal`, and puts the
// previous value back when it goes. Threads started meanwhile keep 1 ns.
class ScopedTimerSlack {
 public:
  explicit ScopedTimerSlack(bool minimal) {
#ifdef __linux__
    if (minimal) {
      previous_ = prctl(PR_GET_TIMERSLACK, 0, 0, 0, 0);
      prctl(PR_SET_TIMERSLACK, 1UL, 0, 0, 0);
    }
#else
    (void)minimal;
#endif
  }
  ~ScopedTimerSlack() {
#ifdef __linux__
    if (previous_ > 0) prctl(PR_SET_TIMERSLACK, static_cast<unsigned long>(previous_), 0, 0, 0);
#endif
  }
  ScopedTimerSlack(const ScopedTimerSlack&) = delete;
  ScopedTimerSlack& operator=(const ScopedTimerSlack&) = delete;

 private:
  long previous_ = -1;
};

// A 1 MiB image of pseudo-random bytes, written to a scratch file and
// prepared exactly as a download prepares it (current bootloader, CRC-16).
class PreparedScratchImage {
 public:
  PreparedScratchImage() {
    std::vector<uint8_t> bytes(kImageBytes);
    std::mt19937 random(20161309);
    for (uint8_t& b : bytes) b = static_cast<uint8_t>(random());
    std::string path = (std::filesystem::temp_directory_path() / "torvane-bench-XXXXXX").string();
    const int fd = mkstemp(path.data());
    if (fd < 0) {
      error_ = "cannot create a scratch image file";
      return;
    }
    close(fd);
    path_ = path;
    std::ofstream(path_, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                                static_cast<std::streamsize>(bytes.size()));
    torvane::DownloadJob job;
    job.image_path = path_;
    if (!torvane::PrepareImage(job, torvane::CHECKSUM_CRC16, &image_, &error_)) image_ = {};
  }
  ~PreparedScratchImage() {
    if (!path_.empty()) std::filesystem::remove(path_);
  }
  PreparedScratchImage(const PreparedScratchImage&) = delete;
  PreparedScratchImage& operator=(const PreparedScratchImage&) = delete;

  bool ok() const { return image_.total_length == kImageBytes; }
  const std::string& error() const { return error_; }
  const torvane::PreparedImage& image() const { return image_; }

 private:
  std::string path_;
  std::string error_;
  torvane::PreparedImage image_;
};

const PreparedScratchImage& SharedImage() {
  static const PreparedScratchImage image;
  return image;
}

SimKnobs Knobs(const std::string& text) {
  SimKnobs knobs;
  torvane::sim::parse_sim_knobs(text, &knobs, nullptr);
  return knobs;
}

// "boot,no-restart" (the device stays in its bootloader after a good flash
// and takes the next start command) with the given reply latency.
std::string BootKnobText(int latency_us) {
  std::string text = "boot,no-restart";
  if (latency_us > 0) text += ",latency-us=" + std::to_string(latency_us);
  return text;
}

// A device whose replies leave exactly `latency` after the frame arrived:
// a zero-latency simulated device behind a handle whose read hands the
// (already queued) reply over only once that time has passed. The reading
// thread sleeps until shortly before and spins the rest (sleeping most of
// the time keeps the scheduler's favour on a busy machine; a thread that
// only spins is preempted for whole time slices). No other thread is
// involved, so a flash against it shows what the engine itself adds to the
// stop-and-wait bound. How late the reply still came (a sleep or a spin
// that the machine held up past the due time) is counted, so that share
// can be told apart from the engine's.
struct ReplyLateness {
  Clock::duration total{};
  int64_t replies = 0;
};

class PreciseLatencyDevice : public torvane::HidBackendDevice {
 public:
  PreciseLatencyDevice(std::unique_ptr<torvane::HidBackendDevice> inner, std::chrono::microseconds latency,
                       std::shared_ptr<ReplyLateness> lateness)
      : inner_(std::move(inner)), latency_(latency), lateness_(std::move(lateness)) {}
  int write(const uint8_t* data, size_t length) override {
    due_ = Clock::now() + latency_;
    return inner_->write(data, length);
  }
  int read(uint8_t* buffer, size_t capacity, int timeout_ms) override {
    std::this_thread::sleep_until(due_ - kSpinMargin);
    Clock::time_point now;
    do {
      now = Clock::now();
    } while (now < due_);
    lateness_->total += now - due_;
    ++lateness_->replies;
    return inner_->read(buffer, capacity, timeout_ms);
  }
  std::optional<std::vector<uint8_t>> report_descriptor() override { return inner_->report_descriptor(); }
  std::string error_text() override { return inner_->error_text(); }

 private:
  // Longer than a sleep usually overshoots on a busy machine.
  static constexpr std::chrono::microseconds kSpinMargin{250};
  std::unique_ptr<torvane::HidBackendDevice> inner_;
  std::chrono::microseconds latency_;
  std::shared_ptr<ReplyLateness> lateness_;
  Clock::time_point due_{};
};

class PreciseLatencyBackend : public torvane::HidBackend {
 public:
  PreciseLatencyBackend(std::shared_ptr<SimBus> bus, std::chrono::microseconds latency)
      : bus_(std::move(bus)), latency_(latency) {}
  std::vector<torvane::HidInterfaceRecord> enumerate() override { return bus_->enumerate(); }
  std::unique_ptr<torvane::HidBackendDevice> open_path(const std::string& path, std::string* error) override {
    auto inner = bus_->open_path(path, error);
    if (!inner) return nullptr;
    return std::make_unique<PreciseLatencyDevice>(std::move(inner), latency_, lateness_);
  }
  const ReplyLateness& lateness() const { return *lateness_; }

 private:
  std::shared_ptr<SimBus> bus_;
  std::chrono::microseconds latency_;
  std::shared_ptr<ReplyLateness> lateness_ = std::make_shared<ReplyLateness>();
};

// A simulated bootloader on its own bus, opened through the HID layer the
// way the download worker opens it. Only one rig at a time: the HID layer's
// backend is process-wide.
class SimFlashRig {
 public:
  // precise_latency_us > 0: the device runs without latency of its own
  // behind a PreciseLatencyBackend.
  explicit SimFlashRig(int latency_us, int precise_latency_us = 0) : bus_(std::make_shared<SimBus>()) {
    id_ = bus_->attach_model(Knobs(BootKnobText(latency_us)));
    if (precise_latency_us > 0) {
      precise_ = std::make_shared<PreciseLatencyBackend>(bus_, std::chrono::microseconds(precise_latency_us));
      torvane::hid_link_set_backend(precise_);
    } else {
      torvane::hid_link_set_backend(bus_);
    }
    torvane::hid_link_init();
    device_ = torvane::hid_link_open(0x484F, 0x5048, nullptr, nullptr);
  }
  ~SimFlashRig() {
    if (device_ != nullptr) torvane::hid_link_close(device_);
    torvane::hid_link_exit();
    torvane::hid_link_set_backend(nullptr);
  }
  SimFlashRig(const SimFlashRig&) = delete;
  SimFlashRig& operator=(const SimFlashRig&) = delete;

  torvane::HidDevice* device() const { return device_; }
  // Mean lateness of the exact-latency device's replies, in µs.
  double MeanReplyLatenessUs() const {
    if (!precise_ || precise_->lateness().replies == 0) return NAN;
    return Seconds(precise_->lateness().total) * 1e6 / static_cast<double>(precise_->lateness().replies);
  }

  // The device's own word on the latest transfer.
  bool DeviceKeptImage(const torvane::PreparedImage& image) const {
    const auto verdict = bus_->model(id_)->verdict();
    return verdict.completed && verdict.bytes == image.buffer;
  }

 private:
  std::shared_ptr<SimBus> bus_;
  std::shared_ptr<PreciseLatencyBackend> precise_;
  SimDeviceId id_ = 0;
  torvane::HidDevice* device_ = nullptr;
};

torvane::TransferControl QuietControl(std::atomic<int>* last_percent) {
  torvane::TransferControl control;
  // Progress goes where a worker's poster would take it: one store per block.
  control.on_percent = [last_percent](int percent) { last_percent->store(percent, std::memory_order_relaxed); };
  control.sleep = [](int) {};
  return control;
}

// Every frame of the transfer as it goes to the simulated handle (report-ID
// byte 0 first, 64 bytes of report): the start command, then the blocks.
std::vector<std::vector<uint8_t>> BareFrames(const torvane::PreparedImage& image, uint32_t count) {
  std::vector<std::vector<uint8_t>> frames;
  frames.reserve(count);
  std::vector<uint8_t> frame(65, 0);
  torvane::boot_put_u16(&frame[torvane::BOOT_OFF_MAGIC], torvane::BOOT_FRAME_MAGIC);
  torvane::boot_put_u16(&frame[torvane::BOOT_OFF_COMMAND], torvane::BOOT_CMD_START);
  const auto params = torvane::boot_pack_start_params({kLoadAddress, image.start_length, image.start_checksum});
  std::memcpy(&frame[torvane::BOOT_OFF_PAYLOAD], params.data(), params.size());
  frames.push_back(frame);
  for (uint32_t done = 0, index = 0; done < image.total_length && frames.size() < count; ++index) {
    const uint32_t n = std::min(torvane::BOOT_BLOCK_SIZE, image.total_length - done);
    std::fill(frame.begin(), frame.end(), 0);
    torvane::boot_put_u16(&frame[torvane::BOOT_OFF_MAGIC], torvane::BOOT_FRAME_MAGIC);
    torvane::boot_put_u16(&frame[torvane::BOOT_OFF_COMMAND], torvane::BOOT_CMD_DATA);
    torvane::boot_put_u32(&frame[torvane::BOOT_OFF_BLOCK_INDEX], index);
    torvane::boot_put_u16(&frame[torvane::BOOT_OFF_BLOCK_CHECKSUM], torvane::boot_crc16(&image.buffer[done], n));
    torvane::boot_put_u16(&frame[torvane::BOOT_OFF_BLOCK_LENGTH], static_cast<uint16_t>(n));
    std::memcpy(&frame[torvane::BOOT_OFF_BLOCK_DATA], &image.buffer[done], n);
    frames.push_back(frame);
    done += n;
  }
  return frames;
}

// Writes each frame to the handle and reads its reply; false on a write
// that fails, a reply that does not come or a refusing status.
bool BareExchanges(torvane::HidBackendDevice& handle, const std::vector<std::vector<uint8_t>>& frames) {
  uint8_t reply[128];
  for (const auto& frame : frames) {
    if (handle.write(frame.data(), frame.size()) != static_cast<int>(frame.size())) return false;
    const int count = handle.read(reply, sizeof reply, torvane::kHidReadTimeoutMs);
    if (count < 6 || torvane::boot_get_u16(&reply[4]) != 0) return false;
  }
  return true;
}

// CPU time of the calling thread. With a zero-latency device every exchange
// runs on that thread, so this is the software cost without the time other
// processes on a busy machine take away from it.
double ThreadCpuSeconds() {
  timespec now{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

// One pass of the whole 1 MiB: its wall-clock and thread CPU seconds.
struct PassTime {
  double wall = 0;
  double cpu = 0;
};

template <typename Pass>
PassTime TimePass(const Pass& pass, bool* ok) {
  const auto begin = Clock::now();
  const double cpu_begin = ThreadCpuSeconds();
  *ok = pass();
  return {Seconds(Clock::now() - begin), ThreadCpuSeconds() - cpu_begin};
}

// Best (lowest) and summed pass times.
struct PassStats {
  PassTime best{INFINITY, INFINITY};
  PassTime sum;
  int passes = 0;
  void Add(PassTime t) {
    best.wall = std::min(best.wall, t.wall);
    best.cpu = std::min(best.cpu, t.cpu);
    sum.wall += t.wall;
    sum.cpu += t.cpu;
    ++passes;
  }
  double MeanWall() const { return sum.wall / passes; }
};

// The engine's flash on one simulated device and the bare pass of the same
// frames on a second one, alternated so that both meet the same load from
// the rest of the machine.
class FlashPair {
 public:
  explicit FlashPair(int latency_us)
      : rig_(latency_us),
        bare_id_(bare_bus_.attach_model(Knobs(BootKnobText(latency_us)))),
        bare_handle_(bare_bus_.open_path(bare_bus_.interface_paths(bare_id_).at(0), nullptr)),
        frames_(BareFrames(SharedImage().image(), kExchanges)),
        control_(QuietControl(&percent_)) {}

  const char* Problem() const {
    if (!SharedImage().ok()) return SharedImage().error().c_str();
    if (rig_.device() == nullptr || !bare_handle_) return "simulated bootloader not found";
    return nullptr;
  }

  bool EngineFlash() {
    return torvane::RunTransfer(rig_.device(), SharedImage().image(), torvane::CHECKSUM_CRC16, kLoadAddress,
                                control_) == torvane::DL_OK;
  }
  bool BarePass() { return BareExchanges(*bare_handle_, frames_); }

  // The devices' own word on the latest passes.
  bool BothKeptImage() const {
    return rig_.DeviceKeptImage(SharedImage().image()) && bare_bus_.model(bare_id_)->verdict().completed;
  }

 private:
  SimFlashRig rig_;
  SimBus bare_bus_;
  SimDeviceId bare_id_;
  std::unique_ptr<torvane::HidBackendDevice> bare_handle_;
  std::vector<std::vector<uint8_t>> frames_;
  std::atomic<int> percent_{0};
  torvane::TransferControl control_;
};

// --- Zero latency -----------------------------------------------------------

// Each iteration is one engine flash and one bare pass (the Time column
// covers both). Figures are the best passes: on a shared machine the
// lowest time is the one least disturbed by other processes.
void BM_FlashZeroLatency(benchmark::State& state) {
  FlashPair pair(0);
  if (const char* problem = pair.Problem()) return state.SkipWithError(problem);
  PassStats engine;
  PassStats bare;
  for (auto _ : state) {
    bool ok = false;
    engine.Add(TimePass([&] { return pair.EngineFlash(); }, &ok));
    if (!ok) return state.SkipWithError("transfer did not end with DL_OK");
    bare.Add(TimePass([&] { return pair.BarePass(); }, &ok));
    if (!ok) return state.SkipWithError("bare exchange failed");
  }
  if (!pair.BothKeptImage()) return state.SkipWithError("a device did not keep the image");
  Figures& f = g_figures;
  f.engine_us_per_block = engine.best.wall * 1e6 / kExchanges;
  f.engine_cpu_us_per_block = engine.best.cpu * 1e6 / kExchanges;
  f.engine_flash_ms = engine.best.wall * 1e3;
  f.engine_mean_flash_ms = engine.MeanWall() * 1e3;
  f.bare_us_per_block = bare.best.wall * 1e6 / kExchanges;
  f.bare_cpu_us_per_block = bare.best.cpu * 1e6 / kExchanges;
  state.counters["us_per_block"] = f.engine_us_per_block;
  state.counters["cpu_us_per_block"] = f.engine_cpu_us_per_block;
  state.counters["ms_per_MiB"] = f.engine_flash_ms;
  state.counters["sim_us_per_block"] = f.bare_us_per_block;
  // From CPU time: the wall-clock difference drowns in the machine's noise.
  state.counters["engine_share_cpu_us_per_block"] = f.engine_cpu_us_per_block - f.bare_cpu_us_per_block;
}
BENCHMARK(BM_FlashZeroLatency)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(4.0);

// --- 1000 µs latency ----------------------------------------------------------

// One engine flash and one bare pass (about 22 s each); argument 0: the
// default timer slack, 1: 1 ns. The Time column covers both passes.
void BM_FlashLatency1000us(benchmark::State& state) {
  const int slack = static_cast<int>(state.range(0));
  state.SetLabel(kSlackNames[slack]);
  ScopedTimerSlack scoped_slack(slack == 1);  // before the buses start their timer threads
  FlashPair pair(kLatencyUs);
  if (const char* problem = pair.Problem()) return state.SkipWithError(problem);
  PassStats engine;
  PassStats bare;
  for (auto _ : state) {
    bool ok = false;
    engine.Add(TimePass([&] { return pair.EngineFlash(); }, &ok));
    if (!ok) return state.SkipWithError("transfer did not end with DL_OK");
    bare.Add(TimePass([&] { return pair.BarePass(); }, &ok));
    if (!ok) return state.SkipWithError("bare exchange failed");
  }
  if (!pair.BothKeptImage()) return state.SkipWithError("a device did not keep the image");
  const double bound = kExchanges * kLatencyUs * 1e-6;
  Figures& f = g_figures;
  f.latency_ratio[slack] = engine.best.wall / bound;
  f.bare_latency_ratio[slack] = bare.best.wall / bound;
  state.counters["ratio_to_bound"] = f.latency_ratio[slack];
  state.counters["excess_us_per_exchange"] = (engine.best.wall - bound) * 1e6 / kExchanges;
  state.counters["sim_ratio_to_bound"] = f.bare_latency_ratio[slack];
  state.counters["engine_vs_sim"] = engine.best.wall / bare.best.wall;
}
BENCHMARK(BM_FlashLatency1000us)->Arg(0)->Arg(1)->Iterations(1)->UseRealTime()->Unit(benchmark::kSecond);

// One flash against a device whose latency is exact (PreciseLatencyBackend):
// the engine's own distance from the bound, without the simulator's timer.
void BM_FlashPreciseLatency1000us(benchmark::State& state) {
  const auto& scratch = SharedImage();
  if (!scratch.ok()) return state.SkipWithError(scratch.error().c_str());
  ScopedTimerSlack scoped_slack(true);  // the flashing thread's sleeps
  SimFlashRig rig(0, kLatencyUs);
  if (rig.device() == nullptr) return state.SkipWithError("simulated bootloader not found");
  std::atomic<int> percent{0};
  const torvane::TransferControl control = QuietControl(&percent);
  PassStats engine;
  for (auto _ : state) {
    bool ok = false;
    engine.Add(TimePass(
        [&] {
          return torvane::RunTransfer(rig.device(), scratch.image(), torvane::CHECKSUM_CRC16, kLoadAddress,
                                      control) == torvane::DL_OK;
        },
        &ok));
    if (!ok) return state.SkipWithError("transfer did not end with DL_OK");
  }
  if (!rig.DeviceKeptImage(scratch.image())) return state.SkipWithError("device did not keep the image");
  const double bound = kExchanges * kLatencyUs * 1e-6;
  const double excess_us = (engine.best.wall - bound) * 1e6 / kExchanges;
  g_figures.precise_latency_ratio = engine.best.wall / bound;
  g_figures.precise_excess_us = excess_us;
  g_figures.precise_late_us = rig.MeanReplyLatenessUs();
  state.counters["ratio_to_bound"] = engine.best.wall / bound;
  state.counters["excess_us_per_exchange"] = excess_us;
  state.counters["late_reply_us"] = rig.MeanReplyLatenessUs();
}
BENCHMARK(BM_FlashPreciseLatency1000us)->Iterations(1)->UseRealTime()->Unit(benchmark::kSecond);

// How late a 1 ms timed wait on a condition variable wakes, the wait the
// simulator's timer thread makes for every delayed reply; argument as above.
void BM_TimedWaitOvershoot1ms(benchmark::State& state) {
  const int slack = static_cast<int>(state.range(0));
  state.SetLabel(kSlackNames[slack]);
  ScopedTimerSlack scoped_slack(slack == 1);
  std::mutex mutex;
  std::condition_variable never;
  Clock::duration late{};
  int64_t waits = 0;
  for (auto _ : state) {
    std::unique_lock<std::mutex> lock(mutex);
    const auto due = Clock::now() + std::chrono::microseconds(kLatencyUs);
    while (Clock::now() < due) never.wait_until(lock, due);
    late += Clock::now() - due;
    ++waits;
  }
  const double overshoot_us = Seconds(late) * 1e6 / static_cast<double>(waits);
  state.counters["overshoot_us"] = overshoot_us;
  g_figures.wait_overshoot_us[slack] = overshoot_us;
}
BENCHMARK(BM_TimedWaitOvershoot1ms)
    ->Arg(0)
    ->Arg(1)
    ->Iterations(kTimedWaits)
    ->UseRealTime()
    ->Unit(benchmark::kMicrosecond);

void PrintSummary() {
  const Figures& f = g_figures;
  std::printf("\nSummary (1 MiB image, %u exchanges)\n", kExchanges);
  if (!std::isnan(f.engine_us_per_block)) {
    std::printf("  zero latency, best flash: %.3f us per block exchange (%.3f us CPU), %.1f ms per 1 MiB"
                " (mean %.1f ms)\n",
                f.engine_us_per_block, f.engine_cpu_us_per_block, f.engine_flash_ms, f.engine_mean_flash_ms);
  }
  if (!std::isnan(f.bare_us_per_block)) {
    std::printf("  zero latency, simulator's bare round trip: %.3f us per exchange (%.3f us CPU)\n",
                f.bare_us_per_block,
                f.bare_cpu_us_per_block);
  }
  if (!std::isnan(f.engine_us_per_block) && !std::isnan(f.bare_us_per_block)) {
    std::printf("  zero latency, engine + boot protocol + HID layer: %.3f us per block (%.3f us CPU; goal < 2)\n",
                f.engine_us_per_block - f.bare_us_per_block, f.engine_cpu_us_per_block - f.bare_cpu_us_per_block);
  }
  if (!std::isnan(f.precise_latency_ratio)) {
    std::printf("  %d us exact latency (spin-waited, no simulator timer): flash %.4f x the bound (goal <= 1.01);"
                " %.2f us over per exchange, of which replies came %.2f us late\n",
                kLatencyUs, f.precise_latency_ratio, f.precise_excess_us, f.precise_late_us);
  }
  for (int s = 0; s < 2; ++s) {
    if (!std::isnan(f.latency_ratio[s])) {
      std::printf("  %d us latency, %s: flash %.4f x the stop-and-wait bound (goal <= 1.01)\n", kLatencyUs,
                  kSlackNames[s], f.latency_ratio[s]);
    }
    if (!std::isnan(f.bare_latency_ratio[s])) {
      std::printf("  %d us latency, %s: simulator's bare round trip %.4f x the latency\n", kLatencyUs,
                  kSlackNames[s], f.bare_latency_ratio[s]);
    }
    if (!std::isnan(f.latency_ratio[s]) && !std::isnan(f.bare_latency_ratio[s])) {
      std::printf("  %d us latency, %s: flash %.4f x the simulator's bare round trip (the engine's share)\n",
                  kLatencyUs, kSlackNames[s], f.latency_ratio[s] / f.bare_latency_ratio[s]);
    }
    if (!std::isnan(f.wait_overshoot_us[s])) {
      std::printf("  %s: a 1 ms timed wait wakes %.1f us late\n", kSlackNames[s], f.wait_overshoot_us[s]);
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  PrintSummary();
  benchmark::Shutdown();
  return 0;
}
