// Emits HID report descriptor items in their short form, choosing the
// smallest data size that holds each value.
#include "sim/report_descriptor_builder.h"

namespace torvane::sim {

namespace {

// Item prefixes with the size bits cleared: tag << 4 | type << 2.
constexpr uint8_t kUsagePage = 0x04;
constexpr uint8_t kUsage = 0x08;
constexpr uint8_t kUsageMinimum = 0x18;
constexpr uint8_t kUsageMaximum = 0x28;
constexpr uint8_t kLogicalMinimum = 0x14;
constexpr uint8_t kLogicalMaximum = 0x24;
constexpr uint8_t kReportSize = 0x74;
constexpr uint8_t kReportId = 0x84;
constexpr uint8_t kReportCount = 0x94;
constexpr uint8_t kInput = 0x80;
constexpr uint8_t kOutput = 0x90;
constexpr uint8_t kCollection = 0xA0;
constexpr uint8_t kEndCollection = 0xC0;

constexpr uint8_t kDataVariableAbsolute = 0x02;
constexpr uint8_t kDataArrayAbsolute = 0x00;
constexpr uint8_t kConstant = 0x01;
constexpr uint8_t kApplicationCollection = 0x01;
constexpr uint16_t kVendorPage = 0xFF00;

class Writer {
 public:
  // Unsigned value: one byte up to 0xFF, two up to 0xFFFF, else four.
  void item(uint8_t prefix, uint32_t value) {
    if (value <= 0xFF) {
      bytes_.push_back(prefix | 1);
      put(value, 1);
    } else if (value <= 0xFFFF) {
      bytes_.push_back(prefix | 2);
      put(value, 2);
    } else {
      bytes_.push_back(prefix | 3);
      put(value, 4);
    }
  }
  // Logical minimum/maximum are signed: 255 needs two bytes (00FF) so that
  // it is not read as -1.
  void signed_item(uint8_t prefix, int32_t value) {
    if (value >= -128 && value <= 127) {
      bytes_.push_back(prefix | 1);
      put(static_cast<uint32_t>(value), 1);
    } else if (value >= -32768 && value <= 32767) {
      bytes_.push_back(prefix | 2);
      put(static_cast<uint32_t>(value), 2);
    } else {
      bytes_.push_back(prefix | 3);
      put(static_cast<uint32_t>(value), 4);
    }
  }
  void bare(uint8_t prefix) { bytes_.push_back(prefix); }
  std::vector<uint8_t> take() { return std::move(bytes_); }

 private:
  void put(uint32_t value, int size) {
    for (int i = 0; i < size; ++i) bytes_.push_back(static_cast<uint8_t>(value >> (8 * i)));
  }
  std::vector<uint8_t> bytes_;
};

}  // namespace

namespace {

// The device's own collection: input and output report of report_length - 1
// bytes under report_id; with reply_length, the input report under
// report_id is reply_length - 1 bytes and a longest input report follows
// under its own ID.
void write_vendor_collection(Writer& w, uint16_t usage_page, uint16_t usage, uint8_t report_id,
                             uint32_t report_length, uint32_t reply_length) {
  const uint32_t count = report_length - 1;
  w.item(kUsagePage, usage_page);
  w.item(kUsage, usage);
  w.item(kCollection, kApplicationCollection);
  // The data items carry vendor usages even inside a standard top-level
  // collection (the application firmware's usage page 1, usage 0).
  if (usage_page < kVendorPage) w.item(kUsagePage, kVendorPage);
  if (report_id != 0) w.item(kReportId, report_id);
  w.signed_item(kLogicalMinimum, 0);
  w.signed_item(kLogicalMaximum, 255);
  w.item(kReportSize, 8);
  w.item(kReportCount, reply_length != 0 ? reply_length - 1 : count);
  w.item(kUsage, 0x01);
  w.item(kInput, kDataVariableAbsolute);
  w.item(kReportCount, count);
  w.item(kUsage, 0x02);
  w.item(kOutput, kDataVariableAbsolute);
  if (reply_length != 0) {
    w.item(kReportId, sim_long_input_report_id(report_id));
    w.item(kUsage, 0x03);
    w.item(kInput, kDataVariableAbsolute);
  }
  w.bare(kEndCollection);
}

// A keyboard collection: key codes (an array of length - 1 bytes) in, the
// five LEDs and their padding (one byte) out.
void write_keyboard_collection(Writer& w, uint8_t report_id, uint32_t length) {
  w.item(kUsagePage, 0x01);
  w.item(kUsage, 0x06);
  w.item(kCollection, kApplicationCollection);
  w.item(kReportId, report_id);
  w.item(kUsagePage, 0x07);
  w.item(kUsageMinimum, 0);
  w.item(kUsageMaximum, 101);
  w.signed_item(kLogicalMinimum, 0);
  w.signed_item(kLogicalMaximum, 101);
  w.item(kReportSize, 8);
  w.item(kReportCount, length - 1);
  w.item(kInput, kDataArrayAbsolute);
  w.item(kUsagePage, 0x08);
  w.item(kUsageMinimum, 1);
  w.item(kUsageMaximum, 5);
  w.signed_item(kLogicalMaximum, 1);
  w.item(kReportSize, 1);
  w.item(kReportCount, 5);
  w.item(kOutput, kDataVariableAbsolute);
  w.item(kReportSize, 3);
  w.item(kReportCount, 1);
  w.item(kOutput, kConstant);
  w.bare(kEndCollection);
}

}  // namespace

std::vector<uint8_t> build_vendor_report_descriptor(uint16_t usage_page, uint16_t usage,
                                                    uint8_t report_id, uint32_t report_length) {
  if (report_length < 2 || report_length > 65536) return {};
  Writer w;
  write_vendor_collection(w, usage_page, usage, report_id, report_length, 0);
  return w.take();
}

std::vector<uint8_t> build_sim_report_descriptor(const SimIdentity& id) {
  if (id.report_length < 2 || id.report_length > 65536) return {};
  if (id.reply_length != 0 && (id.reply_length < 2 || id.reply_length > id.report_length)) return {};
  if (id.composite_report_id != 0 && (id.composite_report_length < 2 || id.composite_report_length > 65536)) {
    return {};
  }
  Writer w;
  if (id.composite_report_id != 0) write_keyboard_collection(w, id.composite_report_id, id.composite_report_length);
  write_vendor_collection(w, id.usage_page, id.usage, id.report_id, id.report_length, id.reply_length);
  return w.take();
}

std::vector<uint8_t> keyboard_report_descriptor() {
  return {
      0x05, 0x01,  // Usage Page (Generic Desktop)
      0x09, 0x06,  // Usage (Keyboard)
      0xA1, 0x01,  // Collection (Application)
      0x05, 0x07,  //   Usage Page (Keyboard/Keypad)
      0x19, 0xE0,  //   Usage Minimum (Left Control)
      0x29, 0xE7,  //   Usage Maximum (Right GUI)
      0x15, 0x00,  //   Logical Minimum (0)
      0x25, 0x01,  //   Logical Maximum (1)
      0x75, 0x01,  //   Report Size (1)
      0x95, 0x08,  //   Report Count (8)
      0x81, 0x02,  //   Input (Data, Variable, Absolute): modifiers
      0x95, 0x01,  //   Report Count (1)
      0x75, 0x08,  //   Report Size (8)
      0x81, 0x01,  //   Input (Constant): reserved byte
      0x95, 0x05,  //   Report Count (5)
      0x75, 0x01,  //   Report Size (1)
      0x05, 0x08,  //   Usage Page (LEDs)
      0x19, 0x01,  //   Usage Minimum (Num Lock)
      0x29, 0x05,  //   Usage Maximum (Kana)
      0x91, 0x02,  //   Output (Data, Variable, Absolute): LEDs
      0x95, 0x01,  //   Report Count (1)
      0x75, 0x03,  //   Report Size (3)
      0x91, 0x01,  //   Output (Constant): padding
      0x95, 0x06,  //   Report Count (6)
      0x75, 0x08,  //   Report Size (8)
      0x15, 0x00,  //   Logical Minimum (0)
      0x25, 0x65,  //   Logical Maximum (101)
      0x05, 0x07,  //   Usage Page (Keyboard/Keypad)
      0x19, 0x00,  //   Usage Minimum (0)
      0x29, 0x65,  //   Usage Maximum (101)
      0x81, 0x00,  //   Input (Data, Array): key codes
      0xC0,        // End Collection
  };
}

}  // namespace torvane::sim
