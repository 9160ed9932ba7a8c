// The uhid front end's event loop.
#include "virtual/virtual_device.h"

#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fstream>

#include "sim/report_descriptor_builder.h"

namespace torvane::virt {

namespace {

std::string hex4(uint32_t v) {
  char text[8];
  std::snprintf(text, sizeof text, "%04X", v & 0xFFFF);
  return text;
}

std::string describe(const sim::SimIdentity& id) {
  std::string s = std::string(sim::sim_kind_name(id.kind)) + " " + hex4(id.vendor_id) + ":" +
                  hex4(id.product_id) + ", usage page " + hex4(id.usage_page) + " usage " +
                  hex4(id.usage) + ", ";
  s += id.report_id ? "report ID " + std::to_string(id.report_id) : std::string("no report IDs");
  s += ", " + std::to_string(id.report_length - 1) + "-byte reports";
  if (id.reply_length != 0) s += ", " + std::to_string(id.reply_length - 1) + "-byte replies";
  if (id.composite_report_id != 0) {
    s += ", behind a keyboard collection (report ID " + std::to_string(id.composite_report_id) + ", " +
         std::to_string(id.composite_report_length - 1) + "-byte input)";
  }
  return s;
}

// Seconds of CLOCK_MONOTONIC, the clock udev dates its events by.
std::string monotonic_seconds() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  char text[32];
  std::snprintf(text, sizeof text, "%lld.%06ld", static_cast<long long>(ts.tv_sec), ts.tv_nsec / 1000);
  return text;
}

// Milliseconds from now until `due`, rounded up, for poll().
int wait_ms(std::optional<Clock::time_point> due) {
  if (!due) return -1;
  const auto left = std::chrono::ceil<std::chrono::milliseconds>(*due - Clock::now()).count();
  if (left <= 0) return 0;
  return left > 60'000 ? 60'000 : static_cast<int>(left);
}

}  // namespace

std::string check_uhid_limits(const sim::SimKnobs& knobs) {
  // Output reports reach uhid with their ID byte first, so the whole report
  // length must fit one record; input reports are one byte shorter without
  // report IDs.
  if (knobs.report_length > kUhidMaxReport) {
    return "report length " + std::to_string(knobs.report_length) +
           " is beyond what /dev/uhid carries (at most " + std::to_string(kUhidMaxReport) + ")";
  }
  return {};
}

// The model's way out: everything becomes a scheduled action, run by the
// loop when due. Called only from the loop's thread, inside the model's
// lock, so it touches nothing but the schedule.
class VirtualDevice::Transport : public sim::SimTransport {
 public:
  Transport(ActionSchedule& schedule, const uint64_t& incarnation, uint8_t report_id)
      : schedule_(schedule), incarnation_(incarnation), report_id_(report_id) {}

  void send_input_report(std::vector<uint8_t> report, std::chrono::microseconds delay) override {
    // A refusing reply may end a transfer: have the verdict looked at then
    // (not after every reply: a snapshot copies the image received so far).
    const size_t body = report_id_ ? 1 : 0;
    if (report.size() >= body + BOOT_REPLY_OFF_STATUS + 2) {
      const uint16_t status = boot_get_u16(report.data() + body + BOOT_REPLY_OFF_STATUS);
      if (status != sim::kSimStatusOk && status != 1 && status != sim::kSimStatusBusy) attention = true;
    }
    DeviceAction a;
    a.kind = DeviceAction::Kind::kInput;
    a.incarnation = incarnation_;
    a.report = std::move(report);
    schedule_.add(Clock::now() + delay, std::move(a));
  }

  void unplug(std::chrono::microseconds delay) override {
    DeviceAction a;
    a.kind = DeviceAction::Kind::kLeave;
    a.incarnation = incarnation_;
    a.for_good = true;
    schedule_.add(Clock::now() + delay, std::move(a));
  }

  void restart_as(const sim::SimIdentity& identity, std::chrono::microseconds delay,
                  std::chrono::milliseconds off_time) override {
    const Clock::time_point leave = Clock::now() + delay;
    DeviceAction gone;
    gone.kind = DeviceAction::Kind::kLeave;
    gone.incarnation = incarnation_;
    schedule_.add(leave, std::move(gone));
    DeviceAction back;
    back.kind = DeviceAction::Kind::kArrive;
    back.incarnation = incarnation_;
    back.identity = identity;
    schedule_.add(leave + off_time, std::move(back));
    attention = true;
  }

  bool attention = false;

 private:
  ActionSchedule& schedule_;
  const uint64_t& incarnation_;
  const uint8_t report_id_;
};

VirtualDevice::VirtualDevice(const sim::SimKnobs& knobs, int uhid_fd, LineSink log)
    : model_(knobs), fd_(uhid_fd), log_(std::move(log)),
      transport_(std::make_unique<Transport>(schedule_, incarnation_, knobs.report_id)) {
  model_.set_transport(transport_.get());
}

VirtualDevice::~VirtualDevice() {
  model_.set_transport(nullptr);
  if (present_) leave();
}

bool VirtualDevice::write_event(const uhid_event& event) {
  for (;;) {
    const ssize_t n = ::write(fd_, &event, sizeof event);
    if (n == static_cast<ssize_t>(sizeof event)) return true;
    if (n < 0 && errno == EINTR) continue;
    log_(std::string("/dev/uhid write failed: ") + (n < 0 ? std::strerror(errno) : "short write"));
    return false;
  }
}

bool VirtualDevice::arrive(const sim::SimIdentity& identity) {
  const std::vector<uint8_t> descriptor = sim::build_sim_report_descriptor(identity);
  uhid_event event;
  std::string error;
  // The port knob is the location the kernel reports, so that several
  // virtual devices have ports of their own.
  const std::string phys = model_.knobs().port.value_or(kUhidDefaultPhys);
  if (!uhid_make_create(identity, descriptor, &event, &error, phys)) {
    log_("cannot create the device: " + error);
    return false;
  }
  if (!write_event(event)) return false;
  if (verbose_) log_("created at " + monotonic_seconds() + " s");
  present_ = true;
  log_("device present: " + describe(identity));
  return true;
}

bool VirtualDevice::leave() {
  // Replies of this incarnation that are still due die with it.
  ++incarnation_;
  if (!present_) return true;
  present_ = false;
  return write_event(uhid_make_destroy());
}

bool VirtualDevice::handle_uhid() {
  uhid_event event;
  std::memset(&event, 0, sizeof event);
  ssize_t n;
  do {
    n = ::read(fd_, &event, sizeof event);
  } while (n < 0 && errno == EINTR);
  if (n < 0 && errno == EAGAIN) return true;
  if (n <= 0) {
    log_(std::string("/dev/uhid read failed: ") + (n < 0 ? std::strerror(errno) : "end of file"));
    return false;
  }
  if (static_cast<size_t>(n) < sizeof event.type) return true;  // nothing to act on
  if (verbose_) log_(std::string("uhid: ") + uhid_event_name(event.type));
  switch (event.type) {
    case UHID_OUTPUT: {
      std::vector<uint8_t> wire;
      if (!uhid_output_to_wire(event.u.output, &wire)) {
        log_("ignored an output record of " + std::to_string(event.u.output.size) + " bytes");
        return true;
      }
      const size_t command_at = (model_.knobs().report_id != 0 ? 1 : 0) + BOOT_OFF_COMMAND - 1;
      if (verbose_ && wire.size() >= command_at + 2) {
        log_("frame: command " + std::to_string(boot_get_u16(&wire[command_at])) + " at " + monotonic_seconds() +
             " s");
      }
      model_.on_output_report(wire.data(), wire.size());
      review_verdict();
      return true;
    }
    case UHID_GET_REPORT:
      return write_event(uhid_make_get_report_error(event.u.get_report.id));
    case UHID_SET_REPORT:
      return write_event(uhid_make_set_report_error(event.u.set_report.id));
    default:
      return true;  // START, STOP, OPEN, CLOSE: nothing to do
  }
}

void VirtualDevice::review_verdict() {
  if (!transport_->attention) return;
  transport_->attention = false;
  const sim::SimVerdict v = model_.verdict();
  if (v.protocol_violations != violations_) {
    violations_ = v.protocol_violations;
    log_("protocol violation: " + v.last_violation);
  }
  if (v.image_checksum_failures != image_failures_) {
    image_failures_ = v.image_checksum_failures;
    log_("image refused: " + std::to_string(v.bytes.size()) + " bytes, whole-image checksum wrong");
  }
  if (v.completed_downloads == confirmed_) return;
  confirmed_ = v.completed_downloads;
  char line[160];
  std::snprintf(line, sizeof line, "image confirmed: %zu bytes, %s ok, load address 0x%08X",
                v.bytes.size(), v.scheme == CHECKSUM_XOR ? "XOR-32" : "CRC-16", v.load_address);
  log_(line);
  if (image_path_.empty()) return;
  std::ofstream out(image_path_, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(v.bytes.data()), static_cast<std::streamsize>(v.bytes.size()));
  out.close();
  log_(out ? "image written to " + image_path_ : "cannot write the image to " + image_path_);
}

bool VirtualDevice::run_due_actions() {
  while (auto action = schedule_.take_due(Clock::now())) {
    switch (action->kind) {
      case DeviceAction::Kind::kInput: {
        if (action->incarnation != incarnation_ || !present_) break;
        uhid_event event;
        if (!uhid_make_input(action->report.data(), action->report.size(), &event)) break;
        if (!write_event(event)) return false;
        break;
      }
      case DeviceAction::Kind::kLeave:
        if (action->for_good) {
          if (!leave()) return false;
          gone_for_good_ = true;
          log_("device pulled out (unplug fault)");
          return true;
        }
        log_("restarting");
        if (!leave()) return false;
        break;
      case DeviceAction::Kind::kArrive:
        if (!arrive(action->identity)) return false;
        break;
    }
  }
  return true;
}

RunEnd VirtualDevice::run(int stop_fd) {
  if (!arrive(model_.identity())) return RunEnd::kUhidError;
  for (;;) {
    pollfd fds[2] = {{stop_fd, POLLIN, 0}, {fd_, POLLIN, 0}};
    const int ready = ::poll(fds, 2, wait_ms(schedule_.next_due()));
    if (ready < 0 && errno != EINTR) {
      log_(std::string("poll failed: ") + std::strerror(errno));
      leave();
      return RunEnd::kUhidError;
    }
    if (ready > 0 && fds[0].revents) {
      if (!leave()) return RunEnd::kUhidError;
      log_("device removed (stopped)");
      return RunEnd::kStopped;
    }
    if (ready > 0 && (fds[1].revents & (POLLERR | POLLHUP | POLLNVAL)) && !(fds[1].revents & POLLIN)) {
      log_("/dev/uhid closed");
      present_ = false;
      return RunEnd::kUhidError;
    }
    if (ready > 0 && (fds[1].revents & POLLIN) && !handle_uhid()) {
      leave();
      return RunEnd::kUhidError;
    }
    if (!run_due_actions()) {
      leave();
      return RunEnd::kUhidError;
    }
    if (gone_for_good_) return RunEnd::kUnplugged;
  }
}

}  // namespace torvane::virt
