// Firmware behaviour of the simulated device: frame checks, the four
// commands, block and image checks, restarts and injected faults.
#include "sim/bootloader_model.h"

#include <algorithm>
#include <cstring>

namespace torvane::sim {

namespace {

std::string hex4(uint32_t v) {
  static const char* digits = "0123456789ABCDEF";
  std::string s = "0x0000";
  for (int i = 0; i < 4; ++i) s[5 - i] = digits[(v >> (4 * i)) & 0xF];
  return s;
}

}  // namespace

BootloaderModel::BootloaderModel(const SimKnobs& knobs)
    : knobs_(knobs),
      kind_(knobs.kind),
      busy_start_left_(knobs.busy_start),
      silent_left_(knobs.silent_blocks.begin(), knobs.silent_blocks.end()),
      late_left_(knobs.late_blocks.begin(), knobs.late_blocks.end()),
      wrong_echo_left_(knobs.wrong_echo_blocks.begin(), knobs.wrong_echo_blocks.end()),
      unplug_armed_(knobs.unplug_block.has_value()),
      hang_armed_(knobs.hang_block.has_value()) {
  for (const SimBusyBlock& b : knobs.busy_blocks) {
    busy_left_[b.index] = {b.count, b.status ? b.status : knobs.busy_block_status};
  }
  verdict_.kind = kind_;
  verdict_.scheme = kind_ == SimDeviceKind::kOldBoot ? CHECKSUM_XOR : CHECKSUM_CRC16;
}

void BootloaderModel::set_transport(SimTransport* transport) {
  std::lock_guard<std::mutex> lock(mutex_);
  transport_ = transport;
}

void BootloaderModel::power_on() {
  std::lock_guard<std::mutex> lock(mutex_);
  gone_ = false;
  hung_ = false;
  offline_until_ = {};
  ready_at_ = {};
  in_transfer_ = false;
}

SimDeviceKind BootloaderModel::kind() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return kind_;
}

SimIdentity BootloaderModel::identity() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return sim_identity_for(knobs_, kind_);
}

SimVerdict BootloaderModel::verdict() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return verdict_;
}

void BootloaderModel::violation(std::string what) {
  ++verdict_.protocol_violations;
  verdict_.last_violation = std::move(what);
}

std::vector<uint8_t> BootloaderModel::reply(uint16_t echo, uint16_t status,
                                            const std::string* info) const {
  // The reply proper: magic, echo, status, two unused bytes, the info record.
  uint8_t body[BOOT_REPLY_OFF_INFO + BOOT_INFO_SIZE] = {};
  boot_put_u16(body + BOOT_REPLY_OFF_MAGIC, BOOT_REPLY_MAGIC);
  boot_put_u16(body + BOOT_REPLY_OFF_COMMAND, echo);
  boot_put_u16(body + BOOT_REPLY_OFF_STATUS, status);
  if (info) {
    std::memcpy(body + BOOT_REPLY_OFF_INFO, info->data(), std::min(info->size(), BOOT_INFO_SIZE));
  }
  // Every input report has the full length of the reply report, zero
  // filled; a report shorter than the reply carries as much of it as fits.
  const bool ids = knobs_.report_id != 0;
  const uint32_t length = knobs_.reply_length != 0 ? knobs_.reply_length : knobs_.report_length;
  std::vector<uint8_t> report(ids ? length : length - 1, 0);
  const size_t offset = ids ? 1 : 0;
  if (ids) report[0] = knobs_.report_id;
  std::memcpy(report.data() + offset, body, std::min(sizeof body, report.size() - offset));
  return report;
}

std::chrono::microseconds BootloaderModel::send(std::vector<uint8_t> report, Clock::time_point now,
                                                std::chrono::microseconds after) {
  // One firmware loop: a reply cannot leave before the previous one has.
  const Clock::time_point due = std::max(now, ready_at_) + after;
  ready_at_ = due;
  const auto delay = std::chrono::duration_cast<std::chrono::microseconds>(due - now);
  if (!transport_) return delay;
  // The extra keyboard collection's report (no key pressed) goes out just
  // before every Nth reply, as a keyboard's reports land between replies.
  if (knobs_.composite_input_every != 0 && ++replies_sent_ % knobs_.composite_input_every == 0) {
    std::vector<uint8_t> keys(knobs_.composite_report_length, 0);
    keys[0] = knobs_.composite_report_id;
    transport_->send_input_report(std::move(keys), delay);
  }
  transport_->send_input_report(std::move(report), delay);
  return delay;
}

void BootloaderModel::restart_into(SimDeviceKind kind, Clock::time_point now,
                                   std::chrono::microseconds after) {
  kind_ = kind;
  verdict_.kind = kind;
  in_transfer_ = false;
  ++verdict_.restarts;
  // With port-lost-ms the interface stays listed that much longer after
  // its last reply while its port already reads empty.
  const auto leave = after + std::chrono::duration_cast<std::chrono::microseconds>(
                                 kSimLeaveAfterReply + std::chrono::milliseconds(knobs_.port_lost_ms));
  const std::chrono::milliseconds off(knobs_.restart_ms);
  offline_until_ = now + leave + off;
  if (transport_ && knobs_.port_lost_ms > 0) transport_->lose_port(after);
  if (transport_) transport_->restart_as(sim_identity_for(knobs_, kind), leave, off);
}

void BootloaderModel::on_output_report(const uint8_t* data, size_t length) {
  std::lock_guard<std::mutex> lock(mutex_);
  const Clock::time_point now = Clock::now();
  if (gone_ || hung_ || now < offline_until_) return;  // off the bus, hung or resetting
  ++verdict_.frames_received;

  const bool ids = knobs_.report_id != 0;
  const size_t wire_length = ids ? knobs_.report_length : knobs_.report_length - 1;
  if (!data || length != wire_length) {
    violation("frame of " + std::to_string(length) + " bytes, the output report has " +
              std::to_string(wire_length));
    return;
  }
  if (ids && data[0] != knobs_.report_id) {
    violation("frame with report ID " + std::to_string(data[0]) + ", the device's is " +
              std::to_string(knobs_.report_id));
    return;
  }
  // Frame offsets count from the report-ID byte, present on the wire or not.
  // Fields beyond a short report read as zero.
  std::vector<uint8_t> frame(
      std::max<size_t>(knobs_.report_length, BOOT_OFF_BLOCK_DATA + BOOT_BLOCK_SIZE), 0);
  frame[0] = knobs_.report_id;
  std::memcpy(frame.data() + 1, ids ? data + 1 : data, knobs_.report_length - 1);

  const uint16_t magic = boot_get_u16(frame.data() + BOOT_OFF_MAGIC);
  if (magic != BOOT_FRAME_MAGIC) {
    violation("frame with magic " + hex4(magic));
    return;
  }
  const uint16_t command = boot_get_u16(frame.data() + BOOT_OFF_COMMAND);
  if (command == BOOT_CMD_INFO) {
    on_info(now);
  } else if (!sim_kind_is_bootloader(kind_)) {
    if (command == BOOT_CMD_ENTER_BOOT) {
      on_enter_boot(now);
    } else {
      violation("command " + std::to_string(command) + " sent to the application firmware");
    }
  } else if (command == BOOT_CMD_START) {
    on_start(frame.data(), now);
  } else if (command == BOOT_CMD_DATA) {
    on_block(frame.data(), now);
  } else {
    violation("command " + std::to_string(command) + " sent to the bootloader");
  }
}

void BootloaderModel::on_info(Clock::time_point now) {
  ++verdict_.info_queries;
  const uint16_t status = knobs_.info_status;
  const std::string text = sim_info_text_for(knobs_, kind_);
  if (status != kSimStatusOk) ++verdict_.refusals;
  send(reply(BOOT_CMD_INFO, status, status == kSimStatusOk ? &text : nullptr), now,
       std::chrono::microseconds(knobs_.latency_us));
}

void BootloaderModel::on_enter_boot(Clock::time_point now) {
  ++verdict_.enter_boot_commands;
  const uint16_t status = knobs_.enter_status;
  std::chrono::microseconds after{0};
  if (!knobs_.enter_silent) {
    after = send(reply(BOOT_CMD_ENTER_BOOT, status, nullptr), now,
                 std::chrono::microseconds(knobs_.latency_us));
  }
  // The firmware resets into its bootloader only when it accepted.
  const bool accepted = status == 0 || status == 4;
  if (!accepted) ++verdict_.refusals;
  if (accepted && !knobs_.no_restart) restart_into(SimDeviceKind::kBoot, now, after);
}

void BootloaderModel::on_start(const uint8_t* frame, Clock::time_point now) {
  ++verdict_.start_commands;
  const std::chrono::microseconds latency(knobs_.latency_us);
  if (busy_start_left_ > 0) {
    --busy_start_left_;
    ++verdict_.busy_answers;
    send(reply(BOOT_CMD_START, kSimStatusBusy, nullptr), now, latency);
    return;
  }
  if (knobs_.start_status != kSimStatusOk) {
    ++verdict_.refusals;
    in_transfer_ = false;
    send(reply(BOOT_CMD_START, knobs_.start_status, nullptr), now, latency);
    return;
  }
  // A new start abandons whatever transfer ran before.
  SimVerdict& v = verdict_;
  v.transfer_started = true;
  v.scheme = kind_ == SimDeviceKind::kOldBoot ? CHECKSUM_XOR : CHECKSUM_CRC16;
  v.load_address = boot_get_u32(frame + BOOT_OFF_PAYLOAD);
  v.announced_length = boot_get_u32(frame + BOOT_OFF_PAYLOAD + 4);
  v.announced_checksum = boot_get_u32(frame + BOOT_OFF_PAYLOAD + 8);
  // With the CRC the first 48 bytes travel outside length and checksum.
  v.expected_bytes = v.scheme == CHECKSUM_CRC16 ? uint64_t{v.announced_length} + BOOT_BLOCK_SIZE
                                                : uint64_t{v.announced_length};
  v.bytes.clear();
  v.blocks_accepted = 0;
  v.image_checked = false;
  v.image_checksum_ok = false;
  v.completed = false;
  v.serial_number.clear();
  in_transfer_ = true;
  next_index_ = 0;
  send(reply(BOOT_CMD_START, kSimStatusOk, nullptr), now, latency);
}

uint16_t BootloaderModel::take_block(uint32_t index, uint16_t checksum, uint16_t length,
                                     const uint8_t* data, bool* finished_ok) {
  SimVerdict& v = verdict_;
  uint16_t refusal = kSimStatusOk;
  if (!in_transfer_) {
    refusal = kSimStatusNotStarted;
  } else if (length == 0 || length > BOOT_BLOCK_SIZE ||
             BOOT_OFF_BLOCK_DATA + length > knobs_.report_length) {
    refusal = kSimStatusBadLength;
  } else if (index != next_index_) {
    refusal = kSimStatusOutOfOrder;
  } else if (v.bytes.size() + length > v.expected_bytes) {
    refusal = kSimStatusBadLength;
  } else {
    const uint16_t expected =
        v.scheme == CHECKSUM_XOR ? boot_xor16(data, length) : boot_crc16(data, length);
    if (expected != checksum) {
      ++v.block_checksum_failures;
      refusal = kSimStatusBlockChecksum;
    }
  }
  if (refusal != kSimStatusOk) {
    ++v.refusals;
    return refusal;
  }

  v.bytes.insert(v.bytes.end(), data, data + length);
  ++next_index_;
  ++v.blocks_accepted;
  if (knobs_.serial_at && v.serial_number.empty()) {
    v.serial_number = sim_read_serial(*knobs_.serial_at, v.load_address, v.bytes);
  }
  if (v.bytes.size() < v.expected_bytes) return kSimStatusOk;

  // Every announced byte is here: check the whole image.
  in_transfer_ = false;
  v.image_checked = true;
  if (v.scheme == CHECKSUM_XOR) {
    v.image_checksum_ok =
        boot_xor32(v.bytes.data(), static_cast<uint32_t>(v.bytes.size())) == v.announced_checksum;
  } else {
    const uint32_t covered = static_cast<uint32_t>(v.bytes.size() - BOOT_BLOCK_SIZE);
    v.image_checksum_ok =
        uint32_t{boot_crc16(v.bytes.data() + BOOT_BLOCK_SIZE, covered)} == v.announced_checksum;
  }
  if (!v.image_checksum_ok) {
    ++v.image_checksum_failures;
    ++v.refusals;
    return kSimStatusImageChecksum;
  }
  v.completed = true;
  ++v.completed_downloads;
  *finished_ok = true;
  return kSimStatusOk;
}

void BootloaderModel::on_block(const uint8_t* frame, Clock::time_point now) {
  ++verdict_.data_blocks;
  const uint32_t index = boot_get_u32(frame + BOOT_OFF_BLOCK_INDEX);
  const uint16_t checksum = boot_get_u16(frame + BOOT_OFF_BLOCK_CHECKSUM);
  const uint16_t length = boot_get_u16(frame + BOOT_OFF_BLOCK_LENGTH);
  const std::chrono::microseconds latency(knobs_.latency_us);

  if (unplug_armed_ && index == *knobs_.unplug_block) {
    unplug_armed_ = false;
    gone_ = true;
    in_transfer_ = false;
    if (transport_) transport_->unplug(std::chrono::microseconds(0));
    return;
  }
  if (hang_armed_ && index == *knobs_.hang_block) {
    hang_armed_ = false;
    hung_ = true;
    if (transport_) transport_->stop_reading();
    return;
  }
  if (auto busy = busy_left_.find(index); busy != busy_left_.end() && busy->second.first > 0) {
    --busy->second.first;
    ++verdict_.busy_answers;
    send(reply(BOOT_CMD_DATA, busy->second.second, nullptr), now, latency);
    return;
  }
  if (silent_left_.erase(index)) return;  // lost: no reply, nothing kept

  bool finished_ok = false;
  const uint16_t status = take_block(index, checksum, length, frame + BOOT_OFF_BLOCK_DATA, &finished_ok);
  const uint16_t echo = wrong_echo_left_.erase(index) ? kSimWrongEcho : BOOT_CMD_DATA;
  const auto after = late_left_.erase(index)
                         ? std::chrono::duration_cast<std::chrono::microseconds>(
                               std::chrono::milliseconds(knobs_.late_ms))
                         : latency;
  const auto delay = send(reply(echo, status, nullptr), now, after);
  if (finished_ok && !knobs_.no_restart) {
    restart_into(knobs_.no_app ? SimDeviceKind::kBoot : SimDeviceKind::kApp, now, delay);
  }
}

}  // namespace torvane::sim
