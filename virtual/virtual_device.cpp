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
#include "text/hex_text.h"
#include "virtual/uhid_link.h"

namespace torvane::virt {

namespace {

std::string describe(const sim::SimIdentity& id) {
  std::string s = std::string(sim::sim_kind_name(id.kind)) + " " + HexDigits(id.vendor_id, 4) + ":" +
                  HexDigits(id.product_id, 4) + ", usage page " + HexDigits(id.usage_page, 4) + " usage " +
                  HexDigits(id.usage, 4) + ", ";
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
  Transport(ActionSchedule& schedule, const uint64_t& incarnation, uint8_t report_id, HostLink& link)
      : schedule_(schedule), incarnation_(incarnation), report_id_(report_id), link_(link) {}

  void stop_reading() override {
    link_.stop_reading();
    hung = true;
  }

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
  bool hung = false;

 private:
  ActionSchedule& schedule_;
  const uint64_t& incarnation_;
  const uint8_t report_id_;
  HostLink& link_;
};

VirtualDevice::VirtualDevice(const sim::SimKnobs& knobs, int uhid_fd, LineSink log)
    : VirtualDevice(knobs, std::make_unique<UhidLink>(uhid_fd, knobs.port.value_or(kUhidDefaultPhys)),
                    std::move(log)) {}

VirtualDevice::VirtualDevice(const sim::SimKnobs& knobs, std::unique_ptr<HostLink> link, LineSink log)
    : model_(knobs), link_(std::move(link)), log_(std::move(log)),
      transport_(std::make_unique<Transport>(schedule_, incarnation_, knobs.report_id, *link_)) {
  model_.set_transport(transport_.get());
  link_->set_log(log_, false);
}

VirtualDevice::~VirtualDevice() {
  model_.set_transport(nullptr);
  if (present_) leave();
}

void VirtualDevice::set_verbose(bool verbose) {
  verbose_ = verbose;
  link_->set_log(log_, verbose);
}

bool VirtualDevice::link_failed(const std::string& error) {
  log_(error);
  return false;
}

bool VirtualDevice::arrive(const sim::SimIdentity& identity) {
  const std::vector<uint8_t> descriptor = sim::build_sim_report_descriptor(identity);
  std::string error;
  if (!link_->arrive(identity, descriptor, &error)) return link_failed(error);
  if (verbose_) log_("created at " + monotonic_seconds() + " s");
  present_ = true;
  log_("device present: " + describe(identity) + " (" + link_->where() + ")");
  return true;
}

bool VirtualDevice::leave() {
  // Replies of this incarnation that are still due die with it.
  ++incarnation_;
  if (!present_) return true;
  present_ = false;
  std::string error;
  return link_->leave(&error) || link_failed(error);
}

void VirtualDevice::on_output(const std::vector<uint8_t>& wire) {
  const size_t command_at = (model_.knobs().report_id != 0 ? 1 : 0) + BOOT_OFF_COMMAND - 1;
  if (verbose_ && wire.size() >= command_at + 2) {
    log_("frame: command " + std::to_string(boot_get_u16(&wire[command_at])) + " at " + monotonic_seconds() + " s");
  }
  model_.on_output_report(wire.data(), wire.size());
  if (transport_->hung) {
    transport_->hung = false;
    log_("hung: takes no more output reports (hang fault)");
  }
  review_verdict();
}

void VirtualDevice::replug() {
  if (gone_for_good_) return;
  log_("re-plugged: leaving, back in " + std::to_string(model_.knobs().restart_ms) + " ms");
  // Whatever the model still had due belongs to the incarnation that left.
  const uint64_t old = incarnation_;
  if (!leave()) return;
  model_.power_on();
  DeviceAction back;
  back.kind = DeviceAction::Kind::kArrive;
  back.incarnation = old;
  back.identity = model_.identity();
  schedule_.add(Clock::now() + std::chrono::milliseconds(model_.knobs().restart_ms), std::move(back));
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
  log_(v.serial_number.empty() ? std::string(line) : line + (", serial " + v.serial_number));
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
        std::string error;
        if (!link_->send_input(action->report, &error)) return link_failed(error);
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

RunEnd VirtualDevice::run(int stop_fd, int replug_fd) {
  if (!arrive(model_.identity())) return RunEnd::kUhidError;
  const OutputSink output = [this](const std::vector<uint8_t>& wire) { on_output(wire); };
  for (;;) {
    pollfd fds[3] = {{stop_fd, POLLIN, 0}, link_->wait_for(), {replug_fd, POLLIN, 0}};
    const int ready = ::poll(fds, 3, wait_ms(schedule_.next_due()));
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
    if (ready > 0 && fds[1].revents) {
      std::string error;
      if (!link_->service(fds[1].revents, output, &error)) {
        log_(error);
        leave();
        return RunEnd::kUhidError;
      }
    }
    if (ready > 0 && fds[2].revents) {
      char record[256];
      if (::read(replug_fd, record, sizeof record) <= 0) replug_fd = -1;
      replug();
    }
    if (!run_due_actions()) {
      leave();
      return RunEnd::kUhidError;
    }
    if (gone_for_good_) return RunEnd::kUnplugged;
  }
}

}  // namespace torvane::virt
