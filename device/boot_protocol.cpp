// Boot protocol exchanges: one output frame, one input reply, checked for
// magic and echoed command. The status goes back through the caller's
// variable only when a valid reply came, so its preset -1 means "no reply".
#include <algorithm>
#include <cstring>
#include <vector>

#include "device/boot_protocol.h"

namespace torvane {

namespace {

// Bytes of the reply that must be present for it to be checked: magic,
// echoed command and status.
constexpr size_t kReplyHeaderSize = BOOT_REPLY_OFF_STATUS + 2;

// A device record whose lengths cannot carry a frame, or exceed what an
// open accepts, is not exchanged with.
bool lengths_usable(const HidDevice& device) {
  return device.output_report_length >= BOOT_OFF_PAYLOAD && device.output_report_length <= kHidMaxReportLength &&
         device.input_report_length >= 1 && device.input_report_length <= kHidMaxReportLength;
}

// Frame and reply buffers: at least the protocol's 128 bytes, more when the
// device's reports are longer, so neither the write nor the read can
// overrun them.
size_t frame_buffer_size(const HidDevice& device) {
  return std::max<size_t>(BOOT_FRAME_BUFFER_SIZE, device.output_report_length);
}
size_t reply_buffer_size(const HidDevice& device) {
  return std::max<size_t>(BOOT_FRAME_BUFFER_SIZE, device.input_report_length);
}

// Sends the frame already built in `frame` and reads the reply into `reply`.
// On a valid reply to `command` returns the offset of the reply proper in
// `reply`; otherwise -1. The status is stored when the reply is valid.
int exchange(HidDevice* device, uint16_t command, const std::vector<uint8_t>& frame,
             std::vector<uint8_t>& reply, int* status) {
  // A report that is already waiting was sent before this request and
  // cannot be its answer (a late reply to an earlier handle's request, say).
  hid_link_discard_input(device);
  const int written = hid_link_write(device, frame.data(), device->output_report_length);
  if (written != static_cast<int>(device->output_report_length)) return -1;

  std::fill(reply.begin(), reply.end(), 0);
  const int count = hid_link_read(device, reply.data(), device->input_report_length);
  if (count <= 0) return -1;

  // A device that numbers its input reports delivers the ID byte first;
  // one without report IDs delivers the reply at once. The count says
  // nothing: each input report arrives at its own length, which may be
  // shorter than the longest one.
  const size_t offset = device->input_report_id != 0 ? 1 : 0;
  if (static_cast<size_t>(count) < offset + kReplyHeaderSize) return -1;
  const uint8_t* r = reply.data() + offset;
  if (boot_get_u16(r + BOOT_REPLY_OFF_MAGIC) != BOOT_REPLY_MAGIC) return -1;
  if (boot_get_u16(r + BOOT_REPLY_OFF_COMMAND) != command) return -1;
  if (status != nullptr) *status = static_cast<int>(boot_get_u16(r + BOOT_REPLY_OFF_STATUS));
  return static_cast<int>(offset);
}

std::vector<uint8_t> command_frame(const HidDevice& device, uint16_t command, const uint8_t* payload,
                                   size_t payload_length) {
  std::vector<uint8_t> frame(frame_buffer_size(device), 0);
  frame[BOOT_OFF_REPORT_ID] = device.output_report_id;
  boot_put_u16(&frame[BOOT_OFF_MAGIC], BOOT_FRAME_MAGIC);
  boot_put_u16(&frame[BOOT_OFF_COMMAND], command);
  if (payload != nullptr) {
    const size_t room = device.output_report_length - BOOT_OFF_PAYLOAD;
    const size_t n = std::min(payload_length, room);
    if (n > 0) std::memcpy(&frame[BOOT_OFF_PAYLOAD], payload, n);
  }
  return frame;
}

}  // namespace

int boot_send_command(HidDevice* device, uint16_t command, const uint8_t* payload, int payload_length,
                      int* status) {
  if (device == nullptr || !lengths_usable(*device) || payload_length < 0) return -1;
  const std::vector<uint8_t> frame =
      command_frame(*device, command, payload, static_cast<size_t>(payload_length));
  std::vector<uint8_t> reply(reply_buffer_size(*device), 0);
  exchange(device, command, frame, reply, status);
  // The outcome is in the status alone.
  return -1;
}

int boot_send_block(HidDevice* device, const uint8_t* frame, int frame_length, int* status) {
  if (device == nullptr || frame == nullptr || frame_length <= 0 || !lengths_usable(*device)) return -1;
  std::vector<uint8_t> out(frame_buffer_size(*device), 0);
  const size_t n = std::min<size_t>(static_cast<size_t>(frame_length), device->output_report_length);
  std::memcpy(out.data(), frame, n);
  out[BOOT_OFF_REPORT_ID] = device->output_report_id;
  std::vector<uint8_t> reply(reply_buffer_size(*device), 0);
  return exchange(device, BOOT_CMD_DATA, out, reply, status) >= 0 ? 0 : -1;
}

int boot_query_info(HidDevice* device, int* status, BootInfo* info) {
  if (device == nullptr || !lengths_usable(*device)) return -1;
  const std::vector<uint8_t> frame = command_frame(*device, BOOT_CMD_INFO, nullptr, 0);
  std::vector<uint8_t> reply(reply_buffer_size(*device), 0);
  int reply_status = BOOT_STATUS_NONE;
  const int offset = exchange(device, BOOT_CMD_INFO, frame, reply, &reply_status);
  if (offset < 0) return -1;
  if (status != nullptr) *status = reply_status;
  if (reply_status == 0 && info != nullptr) {
    // Bytes the device did not send are the reply buffer's zeros.
    std::memcpy(info->bytes.data(), reply.data() + offset + BOOT_REPLY_OFF_INFO, BOOT_INFO_SIZE);
  }
  return -1;
}

}  // namespace torvane
