// Reading and writing the knob text of a simulated device.
#include "sim/sim_knobs.h"

#include <algorithm>
#include <functional>
#include <set>

#include "text/hex_text.h"

namespace torvane::sim {

namespace {

struct Item {
  std::string text;  // unescaped
  size_t position;   // 1-based item number, for messages
};

// Splits at commas that are not escaped; resolves "\," and "\\".
bool split_items(std::string_view text, std::vector<Item>* items, std::string* error) {
  std::string current;
  size_t number = 1;
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '\\') {
      if (i + 1 < text.size() && (text[i + 1] == ',' || text[i + 1] == '\\')) {
        current.push_back(text[++i]);
        continue;
      }
      *error = "stray backslash in item " + std::to_string(number) +
               " (write \\, for a comma and \\\\ for a backslash)";
      return false;
    }
    if (c == ',') {
      items->push_back({std::move(current), number++});
      current.clear();
      continue;
    }
    current.push_back(c);
  }
  items->push_back({std::move(current), number});
  return true;
}

std::string_view trim(std::string_view s) {
  const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
  while (!s.empty() && blank(s.front())) s.remove_prefix(1);
  while (!s.empty() && blank(s.back())) s.remove_suffix(1);
  return s;
}

bool parse_unsigned(std::string_view text, int base, uint64_t max, uint64_t* out) {
  text = trim(text);
  if (base == 16 && text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    text.remove_prefix(2);
  }
  if (text.empty()) return false;
  uint64_t value = 0;
  for (char c : text) {
    int digit;
    if (c >= '0' && c <= '9') {
      digit = c - '0';
    } else if (base == 16 && c >= 'a' && c <= 'f') {
      digit = c - 'a' + 10;
    } else if (base == 16 && c >= 'A' && c <= 'F') {
      digit = c - 'A' + 10;
    } else {
      return false;
    }
    value = value * static_cast<uint64_t>(base) + static_cast<uint64_t>(digit);
    if (value > max) return false;
  }
  *out = value;
  return true;
}

class KnobParser {
 public:
  explicit KnobParser(SimKnobs* out) : k_(*out) {}

  bool item(std::string_view raw, std::string* error);

 private:
  // The field of a bare flag; null for a key that is not one.
  bool* flag(std::string_view key) {
    if (key == "enter-silent") return &k_.enter_silent;
    if (key == "no-restart") return &k_.no_restart;
    if (key == "no-app") return &k_.no_app;
    if (key == "no-serial") return &k_.no_serial;
    return nullptr;
  }
  bool once(std::string_view key, std::string* error) {
    if (!seen_.insert(std::string(key)).second) {
      *error = "knob '" + std::string(key) + "' given twice";
      return false;
    }
    return true;
  }
  bool number(std::string_view key, std::string_view value, uint64_t min, uint64_t max,
              uint64_t* out, std::string* error) {
    if (!parse_unsigned(value, 10, max, out) || *out < min) {
      *error = "knob '" + std::string(key) + "' needs a decimal number " + std::to_string(min) +
               ".." + std::to_string(max) + ", got '" + std::string(value) + "'";
      return false;
    }
    return true;
  }
  bool hex16(std::string_view key, std::string_view value, std::optional<uint16_t>* out,
             std::string* error) {
    uint64_t v = 0;
    if (!parse_unsigned(value, 16, 0xFFFF, &v)) {
      *error = "knob '" + std::string(key) + "' needs a hexadecimal number 0..FFFF, got '" +
               std::string(value) + "'";
      return false;
    }
    *out = static_cast<uint16_t>(v);
    return true;
  }
  bool block_list(std::string_view key, std::string_view value, std::vector<uint32_t>* list,
                  std::string* error) {
    uint64_t index = 0;
    if (!number(key, value, 0, UINT32_MAX, &index, error)) return false;
    if (std::find(list->begin(), list->end(), index) != list->end()) {
      *error = "knob '" + std::string(key) + "' names block " + std::to_string(index) + " twice";
      return false;
    }
    list->push_back(static_cast<uint32_t>(index));
    return true;
  }
  bool busy_block(std::string_view value, std::string* error);
  bool composite(std::string_view value, std::string* error);

  SimKnobs& k_;
  std::set<std::string> seen_;
};

bool KnobParser::busy_block(std::string_view value, std::string* error) {
  const auto bad = [&] {
    *error = "knob 'busy-block' needs BLOCK:COUNT or BLOCK:COUNT:STATUS (status 1 or 2), got '" +
             std::string(value) + "'";
    return false;
  };
  std::vector<std::string_view> parts;
  std::string_view rest = value;
  for (;;) {
    const size_t colon = rest.find(':');
    parts.push_back(rest.substr(0, colon));
    if (colon == std::string_view::npos) break;
    rest.remove_prefix(colon + 1);
  }
  if (parts.size() < 2 || parts.size() > 3) return bad();
  uint64_t index = 0, count = 0, status = 0;
  if (!parse_unsigned(parts[0], 10, UINT32_MAX, &index)) return bad();
  if (!parse_unsigned(parts[1], 10, UINT32_MAX, &count)) return bad();
  if (parts.size() == 3 && (!parse_unsigned(parts[2], 10, 2, &status) || status == 0)) return bad();
  for (const SimBusyBlock& b : k_.busy_blocks) {
    if (b.index == index) {
      *error = "knob 'busy-block' names block " + std::to_string(index) + " twice";
      return false;
    }
  }
  k_.busy_blocks.push_back(
      {static_cast<uint32_t>(index), static_cast<uint32_t>(count), static_cast<uint16_t>(status)});
  return true;
}

bool KnobParser::composite(std::string_view value, std::string* error) {
  const size_t colon = value.find(':');
  uint64_t id = 0, length = 0;
  if (colon == std::string_view::npos || !parse_unsigned(value.substr(0, colon), 10, 255, &id) || id == 0 ||
      !parse_unsigned(value.substr(colon + 1), 10, kSimMaxCompositeLength, &length) || length < 2) {
    *error = "knob 'composite' needs ID:LENGTH (report ID 1..255, length 2.." +
             std::to_string(kSimMaxCompositeLength) + " with the ID byte), got '" + std::string(value) + "'";
    return false;
  }
  k_.composite_report_id = static_cast<uint8_t>(id);
  k_.composite_report_length = static_cast<uint32_t>(length);
  return true;
}

// Knobs that only make sense together, checked once every item is read.
bool check_combination(const SimKnobs& k, std::string* error) {
  if (k.reply_length != 0) {
    if (k.report_id == 0) {
      *error = "knob 'reply-length' needs report-id: a device without report IDs has one input report";
      return false;
    }
    if (k.reply_length >= k.report_length) {
      *error = "knob 'reply-length' must be shorter than report-length (" + std::to_string(k.report_length) + ")";
      return false;
    }
  }
  if (k.composite_report_id != 0) {
    if (k.report_id == 0) {
      *error = "knob 'composite' needs report-id: several collections must number their reports";
      return false;
    }
    if (k.composite_report_id == k.report_id ||
        (k.reply_length != 0 && k.composite_report_id == sim_long_input_report_id(k.report_id))) {
      *error = "knob 'composite' needs a report ID of its own, got " + std::to_string(k.composite_report_id);
      return false;
    }
  }
  if (k.composite_input_every != 0 && k.composite_report_id == 0) {
    *error = "knob 'composite-input' needs composite";
    return false;
  }
  return true;
}

bool KnobParser::item(std::string_view raw, std::string* error) {
  const size_t eq = raw.find('=');
  const std::string_view key = trim(raw.substr(0, eq));
  if (eq == std::string_view::npos) {
    // Bare flags.
    if (bool* field = flag(key)) {
      if (!once(key, error)) return false;
      *field = true;
      return true;
    }
    if (key.empty()) {
      *error = "empty item (two commas in a row, or a trailing comma)";
      return false;
    }
    *error = "unknown knob '" + std::string(key) + "' (a comma inside a value is written \\,)";
    return false;
  }
  const std::string_view value = raw.substr(eq + 1);
  uint64_t n = 0;
  const std::string k(key);

  static const std::set<std::string> kRepeatable = {"busy-block", "silent-block", "late-block",
                                                    "wrong-echo-block"};
  static const std::set<std::string> kKnown = {
      "info",         "vid",           "pid",         "usage-page",   "usage",
      "release",      "interface",     "serial",      "port",
      "report-id",    "report-length", "reply-length", "composite",   "composite-input",
      "busy-start",   "busy-block",    "busy-block-status",
      "silent-block", "late-block",    "late-ms",     "wrong-echo-block", "unplug-block", "hang-block",
      "latency-us",   "info-status",   "enter-status", "start-status", "restart-ms",
      "port-lost-ms", "serial-at"};
  if (!kKnown.count(k)) {
    if (flag(k) != nullptr) {
      *error = "knob '" + k + "' is a flag and takes no value";
    } else {
      *error = "unknown knob '" + k + "'";
    }
    return false;
  }
  if (!kRepeatable.count(k) && !once(k, error)) return false;

  if (k == "info") {
    if (value.size() > kSimMaxInfoLength) {
      *error = "knob 'info' holds at most " + std::to_string(kSimMaxInfoLength) + " bytes, got " +
               std::to_string(value.size());
      return false;
    }
    if (value.find('\0') != std::string_view::npos) {
      *error = "knob 'info' must not contain a NUL byte";
      return false;
    }
    k_.info = std::string(value);
    return true;
  }
  if (k == "serial" || k == "port") {
    const bool printable = std::all_of(value.begin(), value.end(), [](char c) { return c > ' ' && c < 0x7F; });
    if (value.empty() || value.size() > kSimMaxNameLength || !printable) {
      *error = "knob '" + k + "' needs 1.." + std::to_string(kSimMaxNameLength) +
               " printable ASCII characters without blanks, got '" + std::string(value) + "'";
      return false;
    }
    (k == "serial" ? k_.serial : k_.port) = std::string(value);
    return true;
  }
  if (k == "serial-at") {
    SimSerialAt at;
    if (!parse_sim_serial_at(value, &at, error)) return false;
    k_.serial_at = std::move(at);
    return true;
  }
  if (k == "vid") return hex16(k, value, &k_.vendor_id, error);
  if (k == "pid") return hex16(k, value, &k_.product_id, error);
  if (k == "usage-page") return hex16(k, value, &k_.usage_page, error);
  if (k == "usage") return hex16(k, value, &k_.usage, error);
  if (k == "release") return hex16(k, value, &k_.release_number, error);
  if (k == "interface") {
    if (!number(k, value, 0, kSimMaxInterfaceNumber, &n, error)) return false;
    k_.interface_number = static_cast<int32_t>(n);
    return true;
  }
  if (k == "report-id") {
    if (!number(k, value, 0, 255, &n, error)) return false;
    k_.report_id = static_cast<uint8_t>(n);
    return true;
  }
  if (k == "report-length") {
    if (!number(k, value, kSimMinReportLength, kSimMaxReportLength, &n, error)) return false;
    k_.report_length = static_cast<uint32_t>(n);
    return true;
  }
  if (k == "reply-length") {
    if (!number(k, value, kSimMinReportLength, kSimMaxReportLength, &n, error)) return false;
    k_.reply_length = static_cast<uint32_t>(n);
    return true;
  }
  if (k == "composite") return composite(value, error);
  if (k == "composite-input") {
    if (!number(k, value, 1, UINT32_MAX, &n, error)) return false;
    k_.composite_input_every = static_cast<uint32_t>(n);
    return true;
  }
  if (k == "busy-start") {
    if (!number(k, value, 0, UINT32_MAX, &n, error)) return false;
    k_.busy_start = static_cast<uint32_t>(n);
    return true;
  }
  if (k == "busy-block") return busy_block(value, error);
  if (k == "busy-block-status") {
    if (!number(k, value, 1, 2, &n, error)) return false;
    k_.busy_block_status = static_cast<uint16_t>(n);
    return true;
  }
  if (k == "silent-block") return block_list(k, value, &k_.silent_blocks, error);
  if (k == "late-block") return block_list(k, value, &k_.late_blocks, error);
  if (k == "wrong-echo-block") return block_list(k, value, &k_.wrong_echo_blocks, error);
  if (k == "unplug-block") {
    if (!number(k, value, 0, UINT32_MAX, &n, error)) return false;
    k_.unplug_block = static_cast<uint32_t>(n);
    return true;
  }
  if (k == "hang-block") {
    if (!number(k, value, 0, UINT32_MAX, &n, error)) return false;
    k_.hang_block = static_cast<uint32_t>(n);
    return true;
  }
  if (k == "latency-us") {
    if (!number(k, value, 0, kSimMaxLatencyUs, &n, error)) return false;
    k_.latency_us = static_cast<uint32_t>(n);
    return true;
  }
  if (k == "late-ms") {
    if (!number(k, value, 0, kSimMaxDelayMs, &n, error)) return false;
    k_.late_ms = static_cast<uint32_t>(n);
    return true;
  }
  if (k == "restart-ms" || k == "port-lost-ms") {
    if (!number(k, value, 0, kSimMaxDelayMs, &n, error)) return false;
    (k == "restart-ms" ? k_.restart_ms : k_.port_lost_ms) = static_cast<uint32_t>(n);
    return true;
  }
  uint16_t* status = k == "info-status"    ? &k_.info_status
                     : k == "enter-status" ? &k_.enter_status
                                           : &k_.start_status;
  if (!number(k, value, 0, 0xFFFF, &n, error)) return false;
  *status = static_cast<uint16_t>(n);
  return true;
}

std::string escape(std::string_view value) {
  std::string out;
  for (char c : value) {
    if (c == ',' || c == '\\') out.push_back('\\');
    out.push_back(c);
  }
  return out;
}

}  // namespace

bool parse_sim_knobs(std::string_view text, SimKnobs* knobs, std::string* error) {
  std::string scratch;
  std::string& err = error ? *error : scratch;
  if (!knobs) {
    err = "no place for the knobs";
    return false;
  }
  std::vector<Item> items;
  if (!split_items(text, &items, &err)) return false;
  const std::string_view kind_text = trim(items.front().text);
  if (kind_text.empty()) {
    err = "empty knob text: it must start with the kind (app, boot or oldboot)";
    return false;
  }
  SimKnobs parsed;
  const auto kind = sim_kind_from_name(kind_text);
  if (!kind) {
    err = "the first item must be the kind app, boot or oldboot, got '" + std::string(kind_text) + "'";
    return false;
  }
  parsed.kind = *kind;
  KnobParser parser(&parsed);
  for (size_t i = 1; i < items.size(); ++i) {
    if (!parser.item(items[i].text, &err)) {
      err = "item " + std::to_string(items[i].position) + ": " + err;
      return false;
    }
  }
  if (!check_combination(parsed, &err)) return false;
  *knobs = std::move(parsed);
  return true;
}

std::string format_sim_knobs(const SimKnobs& k) {
  const SimKnobs d;
  std::string out = sim_kind_name(k.kind);
  const auto add = [&out](const std::string& item) {
    out += ',';
    out += item;
  };
  const auto add_num = [&](const char* key, uint64_t v, uint64_t def) {
    if (v != def) add(std::string(key) + "=" + std::to_string(v));
  };
  if (k.info) add("info=" + escape(*k.info));
  if (k.vendor_id) add("vid=" + HexDigits(*k.vendor_id, 4));
  if (k.product_id) add("pid=" + HexDigits(*k.product_id, 4));
  if (k.usage_page) add("usage-page=" + HexDigits(*k.usage_page, 4));
  if (k.usage) add("usage=" + HexDigits(*k.usage, 4));
  if (k.release_number) add("release=" + HexDigits(*k.release_number, 4));
  if (k.interface_number >= 0) add("interface=" + std::to_string(k.interface_number));
  if (k.serial) add("serial=" + escape(*k.serial));
  if (k.port) add("port=" + escape(*k.port));
  add_num("report-id", k.report_id, d.report_id);
  add_num("report-length", k.report_length, d.report_length);
  add_num("reply-length", k.reply_length, d.reply_length);
  if (k.composite_report_id != 0) {
    add("composite=" + std::to_string(k.composite_report_id) + ":" + std::to_string(k.composite_report_length));
  }
  add_num("composite-input", k.composite_input_every, d.composite_input_every);
  add_num("busy-start", k.busy_start, d.busy_start);
  for (const SimBusyBlock& b : k.busy_blocks) {
    std::string item = "busy-block=" + std::to_string(b.index) + ":" + std::to_string(b.count);
    if (b.status) item += ":" + std::to_string(b.status);
    add(item);
  }
  add_num("busy-block-status", k.busy_block_status, d.busy_block_status);
  for (uint32_t i : k.silent_blocks) add("silent-block=" + std::to_string(i));
  for (uint32_t i : k.late_blocks) add("late-block=" + std::to_string(i));
  add_num("late-ms", k.late_ms, d.late_ms);
  for (uint32_t i : k.wrong_echo_blocks) add("wrong-echo-block=" + std::to_string(i));
  if (k.unplug_block) add("unplug-block=" + std::to_string(*k.unplug_block));
  if (k.hang_block) add("hang-block=" + std::to_string(*k.hang_block));
  add_num("latency-us", k.latency_us, d.latency_us);
  add_num("info-status", k.info_status, d.info_status);
  add_num("enter-status", k.enter_status, d.enter_status);
  if (k.enter_silent) add("enter-silent");
  add_num("start-status", k.start_status, d.start_status);
  add_num("restart-ms", k.restart_ms, d.restart_ms);
  if (k.no_restart) add("no-restart");
  if (k.no_app) add("no-app");
  if (k.no_serial) add("no-serial");
  add_num("port-lost-ms", k.port_lost_ms, d.port_lost_ms);
  if (k.serial_at) add("serial-at=" + escape(format_sim_serial_at(*k.serial_at)));
  return out;
}

SimIdentity sim_identity_for(const SimKnobs& knobs, SimDeviceKind kind) {
  SimIdentity id = sim_default_identity(kind);
  if (kind == knobs.kind) {
    if (knobs.vendor_id) id.vendor_id = *knobs.vendor_id;
    if (knobs.product_id) id.product_id = *knobs.product_id;
    if (knobs.usage_page) id.usage_page = *knobs.usage_page;
    if (knobs.usage) id.usage = *knobs.usage;
    if (knobs.release_number) id.release_number = *knobs.release_number;
  }
  id.interface_number = knobs.interface_number;
  if (knobs.serial) id.serial_number = std::wstring(knobs.serial->begin(), knobs.serial->end());
  id.report_id = knobs.report_id;
  id.report_length = knobs.report_length;
  id.reply_length = knobs.reply_length;
  id.composite_report_id = knobs.composite_report_id;
  id.composite_report_length = knobs.composite_report_length;
  return id;
}

std::string sim_info_text_for(const SimKnobs& knobs, SimDeviceKind kind) {
  if (kind == knobs.kind && knobs.info) return *knobs.info;
  return sim_default_info_text(kind);
}

}  // namespace torvane::sim
