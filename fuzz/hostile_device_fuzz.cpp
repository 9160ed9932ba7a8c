// libFuzzer target: a hostile bootloader against the tool's download path.
// The input scripts the device (see scripted_hid_device.h); the tool runs
// the real image preparation, transfer engine, boot protocol and HID layer
// against it. Invariants: no crash, a bounded number of exchanges, and
// DL_OK only when every block was acknowledged with status 0 by a device
// whose own verdict holds the whole image, never when a cancel came before
// the last acknowledgement.
// A script without faults must end in DL_OK.
//
// Input: byte 0 picks the scheme (bit 0: old bootloader), the image (bits
// 1..3) and the report layout (bits 4..5); bit 6 arms a cancel raised when
// the host writes frame number byte 1; the rest is one byte per frame.
#include <unistd.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "device/hid_link.h"
#include "download/prepare_image.h"
#include "download/transfer_engine.h"
#include "fuzz/scripted_hid_device.h"

namespace {

using torvane::fuzz::ScriptedDeviceState;

// Image sizes: one block, a short last block, exact blocks, odd lengths, and
// enough blocks for long fault sequences.
constexpr size_t kImageSizes[8] = {48, 50, 96, 99, 145, 480, 1001, 2400};

struct Layout {
  uint8_t report_id;
  uint32_t report_length;
};
// The usual layout, report IDs, a long report, and one too short for a
// whole block (refused before anything is sent).
constexpr Layout kLayouts[4] = {{0, 65}, {7, 65}, {0, 200}, {0, 40}};

std::string g_dir;
std::string g_images[8];

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  std::string dir = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
  dir += "/torvane-hostile-fuzz-XXXXXX";
  if (mkdtemp(dir.data()) == nullptr) std::abort();
  g_dir = dir;
  for (size_t i = 0; i < 8; ++i) {
    g_images[i] = dir + "/image" + std::to_string(i) + ".bin";
    std::ofstream out(g_images[i], std::ios::binary);
    for (size_t b = 0; b < kImageSizes[i]; ++b) out.put(static_cast<char>((b * 131 + i * 17) ^ (b >> 3)));
  }
  std::atexit([] {
    for (const std::string& image : g_images) unlink(image.c_str());
    rmdir(g_dir.c_str());
  });
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const uint8_t setup = size > 0 ? data[0] : 0;
  const bool cancel_armed = (setup & 0x40) != 0;
  const uint32_t cancel_at = size > 1 ? data[1] : 0;
  const Layout layout = kLayouts[(setup >> 4) & 3];

  torvane::sim::SimKnobs knobs;
  knobs.kind = (setup & 1) ? torvane::sim::SimDeviceKind::kOldBoot : torvane::sim::SimDeviceKind::kBoot;
  knobs.report_id = layout.report_id;
  knobs.report_length = layout.report_length;
  knobs.restart_ms = 0;
  auto state = std::make_shared<ScriptedDeviceState>(knobs);
  if (size > 2) state->script.assign(data + 2, data + size);

  const torvane::ChecksumScheme scheme = (setup & 1) ? torvane::CHECKSUM_XOR : torvane::CHECKSUM_CRC16;
  torvane::PreparedImage image;
  torvane::DownloadJob job;
  job.image_path = g_images[(setup >> 1) & 7];
  if (!torvane::PrepareImage(job, scheme, &image)) std::abort();

  torvane::hid_link_set_backend(std::make_shared<torvane::fuzz::ScriptedBus>(state));
  torvane::hid_link_init();
  torvane::HidDevice* device = torvane::hid_link_open_path("fuzz:hidraw0");
  if (device == nullptr) std::abort();

  std::atomic<int32_t> stop{0};
  std::atomic<int32_t> cancel{0};
  std::vector<int> percents;
  torvane::TransferControl control;
  control.stop = &stop;
  control.cancel = &cancel;
  // Whether a cancel was raised before the last block was acknowledged;
  // one that comes later finds the whole image in the device.
  bool cancel_before_end = false;
  // The busy pause is where a cancel from the UI thread would land.
  control.sleep = [&](int) {
    if (cancel_armed && state->writes >= cancel_at && cancel.exchange(1) == 0) cancel_before_end = true;
  };
  // A cancel also lands between blocks: raise it from the progress report.
  control.on_percent = [&](int percent) {
    percents.push_back(percent);
    if (cancel_armed && state->writes >= cancel_at && cancel.exchange(1) == 0) cancel_before_end = percent < 100;
  };
  const torvane::DownloadResult result = torvane::RunTransfer(device, image, scheme, 0x1000, control);
  torvane::hid_link_close(device);
  torvane::hid_link_exit();
  torvane::hid_link_set_backend(nullptr);

  const torvane::sim::SimVerdict verdict = state->model->verdict();
  const uint32_t blocks = (image.total_length + torvane::BOOT_BLOCK_SIZE - 1) / torvane::BOOT_BLOCK_SIZE;
  // Bounded: at most five sends of the start command and of each block,
  // and one read per send.
  if (state->writes > torvane::kMaxSendsPerFrame * (1 + blocks)) std::abort();
  if (state->reads > state->writes) std::abort();
  switch (result) {
    case torvane::DL_OK:
    case torvane::DL_PROTOCOL_ERROR:
    case torvane::DL_CANCELLED:
    case torvane::DL_START_BUSY:
      break;
    default:
      std::abort();
  }
  for (size_t i = 1; i < percents.size(); ++i) {
    if (percents[i] < percents[i - 1] || percents[i] > 100) std::abort();
  }
  if (result == torvane::DL_OK) {
    if (cancel_before_end) std::abort();
    if (!verdict.completed || verdict.completed_downloads != 1 || verdict.bytes != image.buffer ||
        verdict.load_address != 0x1000 || verdict.blocks_accepted != blocks) {
      std::abort();
    }
    if (percents.empty() || percents.back() != 100) std::abort();
  }
  const bool usable_layout = layout.report_length >= torvane::kMinBlockReportLength;
  if (!state->fault_injected && !cancel_before_end && usable_layout && result != torvane::DL_OK) std::abort();
  return 0;
}
