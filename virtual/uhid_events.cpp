// Encoding and decoding of /dev/uhid event records.
#include "virtual/uhid_events.h"

#include <cerrno>
#include <cstring>

namespace torvane::virt {

namespace {

// Narrow copy of a wide string for the kernel's fixed-size text fields,
// always NUL-terminated; characters outside ASCII become '?'.
void put_text(uint8_t* field, size_t size, const std::wstring& text) {
  size_t n = 0;
  for (wchar_t c : text) {
    if (n + 1 >= size) break;
    field[n++] = (c > 0 && c < 0x80) ? static_cast<uint8_t>(c) : static_cast<uint8_t>('?');
  }
  field[n] = 0;
}

}  // namespace

bool uhid_make_create(const sim::SimIdentity& identity, const std::vector<uint8_t>& descriptor,
                      uhid_event* event, std::string* error, const std::string& phys) {
  if (descriptor.empty() || descriptor.size() > HID_MAX_DESCRIPTOR_SIZE) {
    if (error) {
      *error = "report descriptor of " + std::to_string(descriptor.size()) +
               " bytes (the kernel takes 1 to " + std::to_string(HID_MAX_DESCRIPTOR_SIZE) + ")";
    }
    return false;
  }
  std::memset(event, 0, sizeof *event);
  event->type = UHID_CREATE2;
  uhid_create2_req& req = event->u.create2;
  put_text(req.name, sizeof req.name, identity.product);
  put_text(req.phys, sizeof req.phys, std::wstring(phys.begin(), phys.end()));
  put_text(req.uniq, sizeof req.uniq, identity.serial_number);
  req.rd_size = static_cast<uint16_t>(descriptor.size());
  req.bus = BUS_USB;
  req.vendor = identity.vendor_id;
  req.product = identity.product_id;
  req.version = identity.release_number;
  req.country = 0;
  std::memcpy(req.rd_data, descriptor.data(), descriptor.size());
  return true;
}

bool uhid_make_input(const uint8_t* report, size_t length, uhid_event* event) {
  if (!report || length == 0 || length > kUhidMaxReport) return false;
  std::memset(event, 0, sizeof *event);
  event->type = UHID_INPUT2;
  event->u.input2.size = static_cast<uint16_t>(length);
  std::memcpy(event->u.input2.data, report, length);
  return true;
}

uhid_event uhid_make_destroy() {
  uhid_event event{};
  event.type = UHID_DESTROY;
  return event;
}

uhid_event uhid_make_get_report_error(uint32_t id) {
  uhid_event event{};
  event.type = UHID_GET_REPORT_REPLY;
  event.u.get_report_reply.id = id;
  event.u.get_report_reply.err = EIO;
  return event;
}

uhid_event uhid_make_set_report_error(uint32_t id) {
  uhid_event event{};
  event.type = UHID_SET_REPORT_REPLY;
  event.u.set_report_reply.id = id;
  event.u.set_report_reply.err = EIO;
  return event;
}

bool uhid_output_to_wire(const uhid_output_req& output, std::vector<uint8_t>* wire) {
  if (output.size == 0 || output.size > kUhidMaxReport) return false;
  const uint8_t* data = output.data;
  size_t size = output.size;
  if (data[0] == 0) {
    ++data;
    --size;
  }
  wire->assign(data, data + size);
  return true;
}

const char* uhid_event_name(uint32_t type) {
  switch (type) {
    case UHID_START:
      return "START";
    case UHID_STOP:
      return "STOP";
    case UHID_OPEN:
      return "OPEN";
    case UHID_CLOSE:
      return "CLOSE";
    case UHID_OUTPUT:
      return "OUTPUT";
    case UHID_GET_REPORT:
      return "GET_REPORT";
    case UHID_SET_REPORT:
      return "SET_REPORT";
    default:
      return "UNKNOWN";
  }
}

}  // namespace torvane::virt
