// /dev/uhid records in and out for the virtual device's loop.
#include "virtual/uhid_link.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace torvane::virt {

bool UhidLink::write_event(const uhid_event& event, std::string* error) {
  for (;;) {
    const ssize_t n = ::write(fd_, &event, sizeof event);
    if (n == static_cast<ssize_t>(sizeof event)) return true;
    if (n < 0 && errno == EINTR) continue;
    *error = std::string("/dev/uhid write failed: ") + (n < 0 ? std::strerror(errno) : "short write");
    return false;
  }
}

bool UhidLink::arrive(const sim::SimIdentity& identity, const std::vector<uint8_t>& descriptor,
                      std::string* error) {
  uhid_event event;
  std::string reason;
  if (!uhid_make_create(identity, descriptor, &event, &reason, phys_)) {
    *error = "cannot create the device: " + reason;
    return false;
  }
  if (!write_event(event, error)) return false;
  present_ = true;
  return true;
}

bool UhidLink::leave(std::string* error) {
  if (!present_) return true;
  present_ = false;
  return write_event(uhid_make_destroy(), error);
}

bool UhidLink::send_input(const std::vector<uint8_t>& report, std::string* error) {
  uhid_event event;
  if (!uhid_make_input(report.data(), report.size(), &event)) return true;  // nothing a record can carry
  return write_event(event, error);
}

bool UhidLink::service(short revents, const OutputSink& output, std::string* error) {
  if ((revents & (POLLERR | POLLHUP | POLLNVAL)) && !(revents & POLLIN)) {
    present_ = false;
    *error = "/dev/uhid closed";
    return false;
  }
  uhid_event event;
  std::memset(&event, 0, sizeof event);
  ssize_t n;
  do {
    n = ::read(fd_, &event, sizeof event);
  } while (n < 0 && errno == EINTR);
  if (n < 0 && errno == EAGAIN) return true;
  if (n <= 0) {
    *error = std::string("/dev/uhid read failed: ") + (n < 0 ? std::strerror(errno) : "end of file");
    return false;
  }
  if (static_cast<size_t>(n) < sizeof event.type) return true;  // nothing to act on
  detail(std::string("uhid: ") + uhid_event_name(event.type));
  switch (event.type) {
    case UHID_OUTPUT: {
      std::vector<uint8_t> wire;
      if (!uhid_output_to_wire(event.u.output, &wire)) {
        note("ignored an output record of " + std::to_string(event.u.output.size) + " bytes");
        return true;
      }
      output(wire);
      return true;
    }
    case UHID_GET_REPORT:
      return write_event(uhid_make_get_report_error(event.u.get_report.id), error);
    case UHID_SET_REPORT:
      return write_event(uhid_make_set_report_error(event.u.set_report.id), error);
    default:
      return true;  // START, STOP, OPEN, CLOSE: nothing to do
  }
}

}  // namespace torvane::virt
