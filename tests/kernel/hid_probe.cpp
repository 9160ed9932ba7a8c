// torvane-hid-probe: a small guest-side check of the device layer against
// the real kernel, independent of the command-line tool. It lists the HID
// interfaces as hid_link sees them, and opens one by identity to show the
// report lengths and IDs taken from the report descriptor and the device's
// answer to the info query.
//
//   torvane-hid-probe list
//   torvane-hid-probe info VID PID        (hex)
//   torvane-hid-probe enter-boot VID PID
//   torvane-hid-probe bench VID PID BLOCKS [GOAL]
//   torvane-hid-probe write-burst VID PID COUNT
//
// bench flashes a BLOCKS-block image into a bootloader that stays in it
// (no-restart) with the transfer engine the tools use, then repeats the
// same exchanges as a bare loop on the node (write one report, read one,
// nothing else) and prints the time per exchange of both and their ratio
// against GOAL (printed only), and the bare loop's time in the device
// layer's shape of system calls.
//
// write-burst writes COUNT INFO frames through the device layer without
// reading, and prints how long each write took and how it ended: against a
// device that takes no output reports, a USB host's writes back up.
//
// Exit status: 0 done, 1 not found or no valid reply, 2 bad arguments.
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "device/boot_protocol.h"
#include "device/hid_link.h"
#include "download/transfer_engine.h"

using namespace torvane;

namespace {

std::string narrow(const std::optional<std::wstring>& text) {
  if (!text) return "(null)";
  std::string out;
  for (wchar_t c : *text) out += (c > 0 && c < 0x80) ? static_cast<char>(c) : '?';
  return "\"" + out + "\"";
}

bool parse_hex16(const char* text, uint16_t* value) {
  char* end = nullptr;
  const unsigned long v = std::strtoul(text, &end, 16);
  if (!end || *end || end == text || v > 0xFFFF) return false;
  *value = static_cast<uint16_t>(v);
  return true;
}

int list() {
  HidDeviceInfoList devices(hid_link_enumerate());
  for (const HidDeviceInfo* d = devices.get(); d; d = d->next) {
    std::printf("%04X:%04X usage %04X:%04X interface %d release %04X manufacturer %s product %s serial %s path %s\n",
                d->vendor_id, d->product_id, d->usage_page, d->usage, d->interface_number,
                d->release_number, narrow(d->manufacturer_string).c_str(),
                narrow(d->product_string).c_str(), narrow(d->serial_number).c_str(), d->path.c_str());
  }
  return 0;
}

int exchange(uint16_t vid, uint16_t pid, bool enter_boot) {
  HidDevice* device = hid_link_open(vid, pid, nullptr, nullptr);
  if (!device) {
    std::printf("cannot open %04X:%04X: %s\n", vid, pid, hid_link_last_open_error().c_str());
    return 1;
  }
  std::printf("opened %s: output %u bytes ID %u, input %u bytes ID %u\n", device->path.c_str(),
              device->output_report_length, device->output_report_id, device->input_report_length,
              device->input_report_id);
  int status = BOOT_STATUS_NONE;
  if (enter_boot) {
    boot_send_command(device, BOOT_CMD_ENTER_BOOT, nullptr, 0, &status);
    std::printf("enter-boot status %d\n", status);
  } else {
    BootInfo info;
    boot_query_info(device, &status, &info);
    std::printf("info status %d text \"%s\"\n", status, boot_info_text(info).c_str());
  }
  if (status == BOOT_STATUS_NONE && device->last_error_text) {
    std::printf("error: %s\n", device->last_error_text->c_str());
  }
  hid_link_close(device);
  return status == BOOT_STATUS_NONE ? 1 : 0;
}

using Clock = std::chrono::steady_clock;

int write_burst(uint16_t vid, uint16_t pid, uint32_t count) {
  HidDevice* device = hid_link_open(vid, pid, nullptr, nullptr);
  if (!device) {
    std::printf("cannot open %04X:%04X: %s\n", vid, pid, hid_link_last_open_error().c_str());
    return 1;
  }
  std::vector<uint8_t> frame(device->output_report_length, 0);
  frame[0] = device->output_report_id;
  boot_put_u16(&frame[BOOT_OFF_MAGIC], BOOT_FRAME_MAGIC);
  boot_put_u16(&frame[BOOT_OFF_COMMAND], BOOT_CMD_INFO);
  for (uint32_t i = 1; i <= count; ++i) {
    const Clock::time_point t0 = Clock::now();
    const int n = hid_link_write(device, frame.data(), frame.size());
    const double ms = std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
    std::printf("write %u: %.0f ms, %s\n", i, ms,
                n == static_cast<int>(frame.size()) ? "taken" : device->last_error_text.value_or("failed").c_str());
  }
  hid_link_close(device);
  return 0;
}

double us_since(Clock::time_point t0) {
  return std::chrono::duration<double, std::micro>(Clock::now() - t0).count();
}

// The start frame and the block frames of `image`, as the protocol lays
// them out, each `length` bytes with report ID `id`.
std::vector<std::vector<uint8_t>> frames_of(const std::vector<uint8_t>& image, uint32_t checksum, uint8_t id,
                                            size_t length) {
  std::vector<std::vector<uint8_t>> frames;
  std::vector<uint8_t> f(length, 0);
  f[0] = id;
  boot_put_u16(&f[BOOT_OFF_MAGIC], BOOT_FRAME_MAGIC);
  boot_put_u16(&f[BOOT_OFF_COMMAND], BOOT_CMD_START);
  boot_put_u32(&f[BOOT_OFF_PAYLOAD], 0x1000);
  boot_put_u32(&f[BOOT_OFF_PAYLOAD + 4], static_cast<uint32_t>(image.size() - BOOT_BLOCK_SIZE));
  boot_put_u32(&f[BOOT_OFF_PAYLOAD + 8], checksum);
  frames.push_back(f);
  for (size_t off = 0; off < image.size(); off += BOOT_BLOCK_SIZE) {
    std::fill(f.begin() + 1, f.end(), 0);
    boot_put_u16(&f[BOOT_OFF_MAGIC], BOOT_FRAME_MAGIC);
    boot_put_u16(&f[BOOT_OFF_COMMAND], BOOT_CMD_DATA);
    boot_put_u32(&f[BOOT_OFF_BLOCK_INDEX], static_cast<uint32_t>(off / BOOT_BLOCK_SIZE));
    boot_put_u16(&f[BOOT_OFF_BLOCK_CHECKSUM], boot_crc16(&image[off], BOOT_BLOCK_SIZE));
    boot_put_u16(&f[BOOT_OFF_BLOCK_LENGTH], BOOT_BLOCK_SIZE);
    std::memcpy(&f[BOOT_OFF_BLOCK_DATA], &image[off], BOOT_BLOCK_SIZE);
    frames.push_back(f);
  }
  return frames;
}

enum class BareShape { kBlocking, kPollRead, kDrainPollRead };

// Microseconds per exchange of `frames` written and answered on the node at
// `path`, each reply read in the given shape; negative when the loop failed.
double bare_loop(const std::string& path, const std::vector<std::vector<uint8_t>>& frames, size_t in_length,
                 BareShape shape) {
  const int flags = O_RDWR | O_CLOEXEC | (shape == BareShape::kBlocking ? 0 : O_NONBLOCK);
  const int fd = ::open(path.c_str(), flags);
  if (fd < 0) return -1;
  std::vector<uint8_t> reply(in_length);
  std::vector<uint8_t> scratch(4096);
  const Clock::time_point t0 = Clock::now();
  for (const auto& f : frames) {
    if (shape == BareShape::kDrainPollRead && ::read(fd, scratch.data(), scratch.size()) > 0) {
      ::close(fd);
      return -1;  // nothing may be waiting in this loop
    }
    if (::write(fd, f.data(), f.size()) != static_cast<ssize_t>(f.size())) {
      ::close(fd);
      return -1;
    }
    if (shape != BareShape::kBlocking) {
      pollfd p{fd, POLLIN, 0};
      if (::poll(&p, 1, 1000) <= 0) {
        ::close(fd);
        return -1;
      }
    }
    if (::read(fd, reply.data(), reply.size()) <= 0) {
      ::close(fd);
      return -1;
    }
  }
  const double us = us_since(t0) / static_cast<double>(frames.size());
  ::close(fd);
  return us;
}

// Rounds of the bench: the guest shares a loaded host, so each figure is
// the best of several runs, the transfer and the bare loop taking turns.
constexpr int kBenchRounds = 6;

int bench(uint16_t vid, uint16_t pid, uint32_t blocks, const char* goal) {
  std::vector<uint8_t> bytes(size_t{blocks} * BOOT_BLOCK_SIZE);
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(i * 7 + 3);
  const uint32_t checksum = boot_crc16(bytes.data() + BOOT_BLOCK_SIZE, static_cast<uint32_t>(bytes.size() - BOOT_BLOCK_SIZE));
  PreparedImage image;
  image.total_length = static_cast<uint32_t>(bytes.size());
  image.start_length = image.total_length - BOOT_BLOCK_SIZE;
  image.start_checksum = checksum;
  image.buffer.assign_padded(bytes, bytes.size());

  double torvane_us = 0, bare_us = 0;
  std::vector<std::vector<uint8_t>> frames;
  std::string path;
  size_t in_length = 0;
  for (int round = 0; round < kBenchRounds; ++round) {
    // Opened anew each round: a handle left open would collect the bare
    // loop's replies too.
    HidDevice* device = hid_link_open(vid, pid, nullptr, nullptr);
    if (!device) {
      std::printf("cannot open %04X:%04X: %s\n", vid, pid, hid_link_last_open_error().c_str());
      return 1;
    }
    const Clock::time_point t0 = Clock::now();
    const DownloadResult result = RunTransfer(device, image, CHECKSUM_CRC16, 0x1000, TransferControl{});
    const double t = us_since(t0) / (blocks + 1);
    path = device->path;
    frames = frames_of(bytes, checksum, device->output_report_id, device->output_report_length);
    in_length = device->input_report_length;
    hid_link_close(device);
    if (result != DL_OK) {
      std::printf("transfer failed: %d\n", result);
      return 1;
    }
    const double b = bare_loop(path, frames, in_length, BareShape::kBlocking);
    if (b <= 0) {
      std::printf("bare loop failed\n");
      return 1;
    }
    torvane_us = round == 0 ? t : std::min(torvane_us, t);
    bare_us = round == 0 ? b : std::min(bare_us, b);
  }

  // The bare loop in the shape of the system calls the device layer makes
  // (non-blocking node: a drain read before the write, poll before the
  // read), to tell where a difference comes from.
  const double poll_us = bare_loop(path, frames, in_length, BareShape::kPollRead);
  const double drain_us = bare_loop(path, frames, in_length, BareShape::kDrainPollRead);
  if (poll_us <= 0 || drain_us <= 0) {
    std::printf("bare loop failed\n");
    return 1;
  }
  std::printf("exchanges %zu, best of %d: torvane %.1f us each, bare loop %.1f us each, ratio %.3f (goal <= %s); "
              "bare with poll+read %.1f us, with drain+poll+read %.1f us\n",
              frames.size(), kBenchRounds, torvane_us, bare_us, torvane_us / bare_us, goal, poll_us, drain_us);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string command = argc > 1 ? argv[1] : "";
  uint16_t vid = 0, pid = 0;
  const bool needs_ids = command == "info" || command == "enter-boot";
  if (command == "write-burst" && argc == 5 && parse_hex16(argv[2], &vid) && parse_hex16(argv[3], &pid)) {
    hid_link_init();
    const int rc = write_burst(vid, pid, static_cast<uint32_t>(std::strtoul(argv[4], nullptr, 10)));
    hid_link_exit();
    return rc;
  }
  const uint32_t blocks = command == "bench" && (argc == 5 || argc == 6)
                              ? static_cast<uint32_t>(std::strtoul(argv[4], nullptr, 10))
                              : 0;
  if (!(command == "list" && argc == 2) &&
      !(needs_ids && argc == 4 && parse_hex16(argv[2], &vid) && parse_hex16(argv[3], &pid)) &&
      !(blocks >= 2 && blocks <= 100000 && parse_hex16(argv[2], &vid) && parse_hex16(argv[3], &pid))) {
    std::fprintf(stderr, "usage: torvane-hid-probe list | info VID PID | enter-boot VID PID | bench VID PID BLOCKS [GOAL] | write-burst VID PID COUNT\n");
    return 2;
  }
  hid_link_init();
  const int rc = command == "list"    ? list()
                 : command == "bench" ? bench(vid, pid, blocks, argc == 6 ? argv[5] : "1.05")
                                      : exchange(vid, pid, command == "enter-boot");
  hid_link_exit();
  return rc;
}
