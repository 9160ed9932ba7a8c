#include "fuzz/scripted_hid_device.h"

#include <algorithm>
#include <cstring>

#include "device/boot_protocol.h"
#include "sim/report_descriptor_builder.h"

namespace torvane::fuzz {

namespace {

constexpr const char* kPath = "fuzz:hidraw0";

// Collects what the model hands to its bus during one frame.
class CaptureTransport : public sim::SimTransport {
 public:
  void send_input_report(std::vector<uint8_t> report, std::chrono::microseconds) override {
    reports.push_back(std::move(report));
  }
  void unplug(std::chrono::microseconds) override { leaves = true; }
  void restart_as(const sim::SimIdentity&, std::chrono::microseconds, std::chrono::milliseconds) override {
    leaves = true;
  }
  std::vector<std::vector<uint8_t>> reports;
  bool leaves = false;
};

class ScriptedHandle : public HidBackendDevice {
 public:
  explicit ScriptedHandle(std::shared_ptr<ScriptedDeviceState> state) : s_(std::move(state)) {
    s_->model->set_transport(&capture_);
  }
  ~ScriptedHandle() override { s_->model->set_transport(nullptr); }

  int write(const uint8_t* data, size_t length) override {
    if (data == nullptr || length < 2 || s_->gone) return -1;
    ++s_->writes;
    // As hidraw does, a leading 0 (no report ID) is not sent.
    const uint8_t* frame = data[0] == 0 ? data + 1 : data;
    const size_t n = data[0] == 0 ? length - 1 : length;
    const uint8_t byte = s_->next_script < s_->script.size() ? s_->script[s_->next_script++] : 0;
    const FrameAction action = ActionOf(byte);
    const uint8_t parameter = byte >> 4;
    if (action != FrameAction::kDeliver) s_->fault_injected = true;

    switch (action) {
      case FrameAction::kBusy:
        s_->replies.push_back({HonestReply(frame, n, 1 + (parameter & 1)), 0});
        return static_cast<int>(length);
      case FrameAction::kRefuse:
        s_->replies.push_back({HonestReply(frame, n, parameter + 3), 0});
        return static_cast<int>(length);
      case FrameAction::kSilent:
        return static_cast<int>(length);
      case FrameAction::kUnplug:
        s_->gone = true;
        return (parameter & 1) ? -1 : static_cast<int>(length);
      default:
        break;
    }

    capture_.reports.clear();
    s_->model->on_output_report(frame, n);
    const size_t off = s_->knobs.report_id != 0 ? 1 : 0;
    for (std::vector<uint8_t>& r : capture_.reports) {
      ScriptedDeviceState::Reply reply{std::move(r), 0};
      std::vector<uint8_t>& b = reply.bytes;
      switch (action) {
        case FrameAction::kWrongMagic:
          if (b.size() > off) b[off] ^= static_cast<uint8_t>(1 + parameter);
          break;
        case FrameAction::kWrongEcho:
          if (b.size() > off + BOOT_REPLY_OFF_COMMAND) b[off + BOOT_REPLY_OFF_COMMAND] ^= static_cast<uint8_t>(1 + parameter);
          break;
        case FrameAction::kShortReply:
          b.resize(std::min(b.size(), off + parameter % 6));
          break;
        case FrameAction::kLate:
          reply.timeouts_first = 1;
          break;
        default:
          break;
      }
      s_->replies.push_back(std::move(reply));
    }
    // A device that restarts has sent its last reply; it is off the bus now.
    if (capture_.leaves) s_->gone = true;
    return static_cast<int>(length);
  }

  int read(uint8_t* buffer, size_t capacity, int) override {
    ++s_->reads;
    if (buffer == nullptr || capacity == 0) return -1;
    if (!s_->replies.empty()) {
      ScriptedDeviceState::Reply& front = s_->replies.front();
      if (front.timeouts_first > 0) {
        --front.timeouts_first;
        return 0;
      }
      const size_t count = std::min(front.bytes.size(), capacity);
      std::memcpy(buffer, front.bytes.data(), count);
      s_->replies.pop_front();
      // An empty report cannot travel; the host sees a time-out.
      return static_cast<int>(count);
    }
    return s_->gone ? -1 : 0;  // virtual time: the wait is over at once
  }

  // Before each request the host drops what has already arrived; a late
  // reply still on its way stays. No read is counted: nothing waits.
  int discard_input() override {
    int dropped = 0;
    while (!s_->replies.empty() && s_->replies.front().timeouts_first == 0) {
      s_->replies.pop_front();
      ++dropped;
    }
    return dropped == 0 && s_->gone ? -1 : dropped;
  }

  std::optional<std::vector<uint8_t>> report_descriptor() override {
    const sim::SimIdentity id = sim::sim_identity_for(s_->knobs, s_->knobs.kind);
    return sim::build_vendor_report_descriptor(id.usage_page, id.usage, id.report_id, id.report_length);
  }

  std::string error_text() override { return "the scripted device has left the bus"; }

 private:
  // A reply of the device's own: magic, the frame's command echoed, status.
  std::vector<uint8_t> HonestReply(const uint8_t* frame, size_t n, uint16_t status) const {
    const bool ids = s_->knobs.report_id != 0;
    const size_t off = ids ? 1 : 0;
    std::vector<uint8_t> report(ids ? s_->knobs.report_length : s_->knobs.report_length - 1, 0);
    if (ids) report[0] = s_->knobs.report_id;
    const uint16_t command = n >= off + 4 ? boot_get_u16(frame + off + 2) : 0;
    uint8_t body[6];
    boot_put_u16(body + BOOT_REPLY_OFF_MAGIC, BOOT_REPLY_MAGIC);
    boot_put_u16(body + BOOT_REPLY_OFF_COMMAND, command);
    boot_put_u16(body + BOOT_REPLY_OFF_STATUS, status);
    std::memcpy(report.data() + off, body, std::min(sizeof body, report.size() - off));
    return report;
  }

  std::shared_ptr<ScriptedDeviceState> s_;
  CaptureTransport capture_;
};

}  // namespace

FrameAction ActionOf(uint8_t script_byte) {
  // Low nibble 0..7 deliver; 8..15 the eight faults.
  const uint8_t low = script_byte & 0x0F;
  return low < 8 ? FrameAction::kDeliver : static_cast<FrameAction>(low - 7);
}

ScriptedDeviceState::ScriptedDeviceState(const sim::SimKnobs& k)
    : knobs(k), model(std::make_shared<sim::BootloaderModel>(k)) {}

std::vector<HidInterfaceRecord> ScriptedBus::enumerate() {
  const sim::SimIdentity id = sim::sim_identity_for(state_->knobs, state_->knobs.kind);
  HidInterfaceRecord record;
  record.path = kPath;
  record.vendor_id = id.vendor_id;
  record.product_id = id.product_id;
  record.usage_page = id.usage_page;
  record.usage = id.usage;
  return {record};
}

std::unique_ptr<HidBackendDevice> ScriptedBus::open_path(const std::string& path, std::string* error) {
  if (path != kPath || state_->gone) {
    if (error) *error = "no such device: " + path;
    return nullptr;
  }
  return std::make_unique<ScriptedHandle>(state_);
}

}  // namespace torvane::fuzz
