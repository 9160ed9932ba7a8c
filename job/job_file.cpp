#include "job/job_file.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <filesystem>
#include <map>

#include "download/load_address.h"
#include "job/job_lock.h"
#include "job/serial_value.h"
#include "platform/file_io.h"
#include "platform/path_syntax.h"
#include "platform/read_only_file.h"
#include "platform/sha256.h"
#include "platform/utf8_path.h"
#include "text/hex_text.h"
#include "text/ini_lines.h"

namespace torvane {
namespace {

// A job file is a page of text; anything far larger is a wrong path.
constexpr size_t kMaxJobFile = size_t{1} << 20;
constexpr size_t kMaxListFile = size_t{64} << 20;
// ASCII serials are short labels; a wider one is a typing mistake.
constexpr uint32_t kMaxAsciiWidth = 64;
constexpr uint64_t kMaxCount = 1000000000;
constexpr int kMaxAttempts = 1000;      // as --attempts
constexpr int kMaxBootWait = 86400;     // seconds

const std::map<std::string, std::vector<std::string>>& KnownKeys() {
  static const std::map<std::string, std::vector<std::string>> keys = {
      {"job", {"name", "image", "sha256", "address", "count", "attempts", "enter_boot", "enter_boot_wait", "record"}},
      {"slots", {}},  // any port path
      {"serial", {"address", "width", "format", "prefix", "start", "step", "last", "list", "journal"}},
      {"lock", {"password"}},
  };
  return keys;
}

std::string Lower(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return out;
}

bool ParseDecimal(const std::string& text, uint64_t max, uint64_t* value) {
  if (text.empty() || text.size() > 19) return false;
  uint64_t result = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return false;
    result = result * 10 + static_cast<uint64_t>(c - '0');
  }
  if (result > max) return false;
  *value = result;
  return true;
}

// A device address: hexadecimal with or without 0x, as --address.
bool ParseAddress(const std::string& text, uint32_t* value) {
  LoadAddressChoice choice;
  if (!ParseLoadAddressChoice(text, &choice) || choice.kind != LoadAddressChoice::Kind::Given) return false;
  *value = choice.given;
  return true;
}

bool SamePath(const std::string& a, const std::string& b) {
  return a.size() == b.size() && platform::PathStartsWith(a, b);
}

std::string ToHex(const std::array<uint8_t, 32>& bytes) {
  std::string text;
  for (const uint8_t b : bytes) text += HexDigits(b, 2);
  return Lower(text);
}

// Reads the job: one instance per LoadJobFile call.
class JobReader {
 public:
  JobReader(ProductionJob* job, std::vector<JobProblem>* problems) : job_(job), problems_(problems) {}

  bool Read(const std::string& path);

 private:
  void Problem(int line, std::string key, std::string reason) {
    problems_->push_back({line, std::move(key), std::move(reason)});
  }
  void Index(const IniLines& ini);
  const IniLines::Entry* Get(const std::string& key) const {
    const auto found = entries_.find(key);
    return found == entries_.end() ? nullptr : &found->second;
  }
  int SectionLine(const std::string& section) const {
    const auto found = section_lines_.find(section);
    return found == section_lines_.end() ? 0 : found->second;
  }
  // The value of a required key, or null with the problem said.
  const IniLines::Entry* Require(const std::string& key, const char* what) {
    const IniLines::Entry* entry = Get(key);
    if (!entry) Problem(SectionLine(key.substr(0, key.find('.'))), key, std::string("missing: ") + what);
    return entry;
  }
  bool Number(const std::string& key, uint64_t min, uint64_t max, uint64_t* value);
  std::string Path(const IniLines::Entry& entry);
  void CheckWritableFolder(const IniLines::Entry* entry, const std::string& key, const std::string& path);
  void ReadJobSection();
  void ReadSlots();
  void ReadSerial();
  void ReadSerialSource(SerialPlan* plan, uint64_t limit, const IniLines::Entry* width_entry);
  void ReadList(const IniLines::Entry& entry, SerialPlan* plan);
  void ReadLock();

  ProductionJob* job_;
  std::vector<JobProblem>* problems_;
  std::filesystem::path folder_;
  std::map<std::string, IniLines::Entry> entries_;  // "section.key", names in lower case
  std::map<std::string, int> section_lines_;
  std::vector<IniLines::Entry> slot_entries_;
  bool count_bad_ = false;  // job.count given but refused
  bool plan_refused_ = false;  // a serial key refused without stopping the plan's other checks
};

void JobReader::Index(const IniLines& ini) {
  for (const auto& error : ini.errors) Problem(error.line, "", error.reason);
  std::map<std::string, bool> known_section;
  for (const auto& section : ini.sections) {
    const std::string name = Lower(section.name);
    if (KnownKeys().count(name) == 0) {
      Problem(section.line, "", "unknown section [" + section.name + "] (known: job, slots, serial, lock)");
    } else if (section_lines_.count(name) == 0) {
      section_lines_[name] = section.line;
    }
  }
  for (const auto& entry : ini.entries) {
    const std::string section = Lower(entry.section);
    const auto known = KnownKeys().find(section);
    if (entry.section.empty()) {
      Problem(entry.line, entry.key, "outside any section");
      continue;
    }
    if (known == KnownKeys().end()) continue;  // the section is refused already
    if (section == "slots") {
      slot_entries_.push_back(entry);
      continue;
    }
    const std::string key = section + "." + Lower(entry.key);
    if (std::find(known->second.begin(), known->second.end(), Lower(entry.key)) == known->second.end()) {
      std::string list;
      for (const auto& k : known->second) list += (list.empty() ? "" : ", ") + k;
      Problem(entry.line, key, "unknown key (known in [" + section + "]: " + list + ")");
      continue;
    }
    const auto [first, inserted] = entries_.emplace(key, entry);
    if (!inserted) {
      Problem(entry.line, key, "given again (first on line " + std::to_string(first->second.line) + ")");
      continue;
    }
    job_->keys_set.push_back(key);
    job_->key_lines[key] = entry.line;
  }
}

bool JobReader::Number(const std::string& key, uint64_t min, uint64_t max, uint64_t* value) {
  const IniLines::Entry* entry = Get(key);
  if (!entry) return false;
  if (!ParseDecimal(entry->value, max, value) || *value < min) {
    Problem(entry->line, key,
            "\"" + entry->value + "\" is not a whole number from " + std::to_string(min) + " to " + std::to_string(max));
    return false;
  }
  return true;
}

std::string JobReader::Path(const IniLines::Entry& entry) {
  std::filesystem::path path = platform::PathFromUtf8(entry.value);
  if (!path.is_absolute()) path = folder_ / path;
  return platform::PathToUtf8(path.lexically_normal());
}

// A file the station writes (record, journal): its folder must be there and
// the name must not be a folder or the job file itself.
void JobReader::CheckWritableFolder(const IniLines::Entry* entry, const std::string& key, const std::string& path) {
  const int line = entry ? entry->line : SectionLine(key.substr(0, key.find('.')));
  std::error_code ec;
  const std::filesystem::path native = platform::PathFromUtf8(path);
  if (SamePath(path, job_->path)) {
    Problem(line, key, "would overwrite the job file");
  } else if (std::filesystem::is_directory(native, ec)) {
    Problem(line, key, path + " is a folder");
  } else if (!std::filesystem::is_directory(native.parent_path(), ec)) {
    Problem(line, key, "no folder " + platform::PathToUtf8(native.parent_path()));
  }
}

void JobReader::ReadJobSection() {
  if (const auto* name = Get("job.name")) job_->name = name->value;

  if (const auto* image = Require("job.image", "the image file to flash")) {
    job_->image_path = Path(*image);
    platform::ReadOnlyFile file;
    std::string reason;
    platform::FileKind kind = platform::FileKind::Other;
    uint64_t size = 0;
    std::error_code ec;
    if (image->value.empty()) {
      Problem(image->line, "job.image", "empty: the image file to flash");
    } else if (!std::filesystem::exists(platform::PathFromUtf8(job_->image_path), ec)) {
      Problem(image->line, "job.image", "no such file: " + job_->image_path);
    } else if (!file.Open(job_->image_path, &reason) || !file.Info(&kind, &size, &reason)) {
      Problem(image->line, "job.image", job_->image_path + " cannot be read: " + reason);
    } else if (kind != platform::FileKind::Regular) {
      Problem(image->line, "job.image", job_->image_path + " is not a regular file");
    } else if (size == 0) {
      Problem(image->line, "job.image", job_->image_path + " is empty");
    }
  }

  if (const auto* sha = Require("job.sha256", "the image's SHA-256 (torvane-cli job check prints it)")) {
    const std::string digits = Lower(sha->value);
    if (digits.size() != 64 || digits.find_first_not_of("0123456789abcdef") != std::string::npos) {
      Problem(sha->line, "job.sha256", "\"" + sha->value + "\" is not 64 hex digits");
    } else {
      job_->sha256 = digits;
    }
  }

  if (const auto* address = Get("job.address")) {
    LoadAddressChoice choice;
    if (!ParseLoadAddressChoice(address->value, &choice)) {
      Problem(address->line, "job.address", "\"" + address->value + "\": expected auto or a hexadecimal address");
    } else {
      job_->address = address->value;
    }
  }

  uint64_t value = 0;
  if (Number("job.count", 0, kMaxCount, &value)) job_->count = static_cast<int>(value);
  else count_bad_ = Get("job.count") != nullptr;
  if (Number("job.attempts", 1, kMaxAttempts, &value)) job_->attempts = static_cast<int>(value);
  if (Number("job.enter_boot_wait", 0, kMaxBootWait, &value)) job_->enter_boot_wait_s = static_cast<int>(value);

  if (const auto* enter = Get("job.enter_boot")) {
    const std::string v = Lower(enter->value);
    if (v == "yes" || v == "true" || v == "1") {
      job_->enter_boot = true;
    } else if (v != "no" && v != "false" && v != "0") {
      Problem(enter->line, "job.enter_boot", "\"" + enter->value + "\": expected yes or no");
    }
  }

  if (const auto* record = Get("job.record")) {
    if (record->value.empty()) {
      Problem(record->line, "job.record", "empty: give a file name or leave the key out");
    } else {
      job_->record_path = Path(*record);
      CheckWritableFolder(record, "job.record", job_->record_path);
      if (!job_->image_path.empty() && SamePath(job_->record_path, job_->image_path))
        Problem(record->line, "job.record", "would write into the image file");
    }
  }
}

void JobReader::ReadSlots() {
  std::map<std::string, int> ports;
  std::map<std::string, int> names;
  for (const auto& entry : slot_entries_) {
    const std::string key = "slots." + entry.key;
    if (entry.value.empty()) {
      Problem(entry.line, key, "no slot name");
      continue;
    }
    const auto [port, new_port] = ports.emplace(entry.key, entry.line);
    if (!new_port) {
      Problem(entry.line, key, "port given again (first on line " + std::to_string(port->second) + ")");
      continue;
    }
    const auto [name, new_name] = names.emplace(entry.value, entry.line);
    if (!new_name) {
      Problem(entry.line, key, "slot name \"" + entry.value + "\" given again (first on line " +
                                   std::to_string(name->second) + ")");
      continue;
    }
    job_->slot_map[entry.key] = entry.value;
    job_->keys_set.push_back(key);
    job_->key_lines[key] = entry.line;
  }
}

void JobReader::ReadList(const IniLines::Entry& entry, SerialPlan* plan) {
  plan->list_path = Path(entry);
  if (entry.value.empty()) {
    Problem(entry.line, "serial.list", "empty: the list file of serial numbers");
    return;
  }
  std::string text;
  int os_error = 0;
  switch (platform::ReadSmallFile(plan->list_path, kMaxListFile, &text, &os_error)) {
    case platform::SmallFileRead::Ok: break;
    case platform::SmallFileRead::Missing: Problem(entry.line, "serial.list", "no such file: " + plan->list_path); return;
    case platform::SmallFileRead::NotRegular:
      Problem(entry.line, "serial.list", plan->list_path + " is not a regular file");
      return;
    case platform::SmallFileRead::TooLarge:
      Problem(entry.line, "serial.list", plan->list_path + " is larger than 64 MiB");
      return;
    case platform::SmallFileRead::Error:
      Problem(entry.line, "serial.list", plan->list_path + " cannot be read");
      return;
  }
  // One value per line; blank lines and lines starting with '#' are passed
  // over. A binary format's values are numbers, so "16" and "0x10" are the
  // same serial; an ASCII one's compare by text (hex digits in any case).
  const std::string name = platform::PathToUtf8(platform::PathFromUtf8(plan->list_path).filename());
  std::map<std::string, int> seen;
  int number = 0;
  size_t bad = 0;
  for (size_t at = 0; at < text.size();) {
    size_t end = text.find('\n', at);
    if (end == std::string::npos) end = text.size();
    std::string value = text.substr(at, end - at);
    at = end + 1;
    ++number;
    while (!value.empty() && (value.back() == '\r' || value.back() == ' ' || value.back() == '\t')) value.pop_back();
    value.erase(0, value.find_first_not_of(" \t"));
    if (value.empty() || value[0] == '#') continue;
    std::string why;
    if (!SerialListValueFits(*plan, value, &why)) {
      if (bad++ < 10) Problem(entry.line, "serial.list", name + ":" + std::to_string(number) + ": " + why);
      continue;
    }
    std::string same = value;
    uint64_t n = 0;
    if (IsBinarySerialFormat(plan->format) && ParseSerialNumber(value, &n)) same = std::to_string(n);
    if (plan->format == SerialFormat::kAsciiHex) {
      for (char& c : same) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    const auto [first, inserted] = seen.emplace(same, number);
    if (!inserted) {
      if (bad++ < 10) {
        Problem(entry.line, "serial.list", name + ":" + std::to_string(number) + ": \"" + value +
                                               "\" is there already (line " + std::to_string(first->second) + ")");
      }
      continue;
    }
    plan->list_values.push_back(std::move(value));
  }
  if (bad > 10) Problem(entry.line, "serial.list", name + ": " + std::to_string(bad - 10) + " more bad lines");
  if (bad == 0 && plan->list_values.empty()) Problem(entry.line, "serial.list", name + " holds no serial numbers");
}

void JobReader::ReadSerialSource(SerialPlan* plan, uint64_t limit, const IniLines::Entry* width_entry) {
  const IniLines::Entry* list = Get("serial.list");
  const IniLines::Entry* start = Get("serial.start");
  if (list) {
    for (const char* counter_key : {"serial.start", "serial.step", "serial.last"}) {
      if (const auto* e = Get(counter_key)) Problem(e->line, counter_key, "a counter key beside serial.list: keep one source");
    }
    ReadList(*list, plan);
    return;
  }
  if (!start) {
    Problem(SectionLine("serial"), "serial.start", "missing: a counter's first value (serial.start) or a list file (serial.list)");
    return;
  }
  bool ok = true;
  auto number = [&](const IniLines::Entry* e, const char* key, uint64_t* value) {
    if (!e) return;
    if (!ParseSerialNumber(e->value, value)) {
      Problem(e->line, key, "\"" + e->value + "\" is not a number (decimal, or hex after 0x)");
      ok = false;
    }
  };
  number(start, "serial.start", &plan->start);
  number(Get("serial.step"), "serial.step", &plan->step);
  uint64_t last = 0;
  const IniLines::Entry* last_entry = Get("serial.last");
  number(last_entry, "serial.last", &last);
  if (!ok) return;
  if (plan->step == 0) Problem(Get("serial.step")->line, "serial.step", "0: every unit would get the same serial");
  if (last_entry) {
    plan->last = last;
    if (last < plan->start) Problem(last_entry->line, "serial.last", "below serial.start");
  }
  // The format must hold every value the counter reaches.
  const uint64_t highest = last_entry ? std::max(last, plan->start) : plan->start;
  if (highest > limit && width_entry) {
    const std::string room = IsBinarySerialFormat(plan->format)
                                 ? std::to_string(plan->width) + " bytes"
                                 : std::to_string(plan->width - plan->prefix.size()) + " digits";
    Problem(width_entry->line, "serial.width",
            room + " cannot hold " + (highest == plan->start ? "serial.start " : "serial.last ") +
                (plan->format == SerialFormat::kAsciiHex ? HexText(highest, 1) : std::to_string(highest)) + " in " +
                SerialFormatName(plan->format));
  }
}

void JobReader::ReadSerial() {
  const bool any = section_lines_.count("serial") != 0 ||
                   std::any_of(entries_.begin(), entries_.end(),
                               [](const auto& e) { return e.first.rfind("serial.", 0) == 0; });
  if (!any) return;
  SerialPlan plan;
  bool ok = true;
  const IniLines::Entry* address = Require("serial.address", "the device address of the serial's first byte");
  if (address && !ParseAddress(address->value, &plan.address)) {
    Problem(address->line, "serial.address", "\"" + address->value + "\" is not a hexadecimal address");
  }
  const IniLines::Entry* format = Require("serial.format", "le, be, dec or hex");
  if (format) {
    const std::string f = Lower(format->value);
    if (f == "le") plan.format = SerialFormat::kBinaryLittle;
    else if (f == "be") plan.format = SerialFormat::kBinaryBig;
    else if (f == "dec") plan.format = SerialFormat::kAsciiDecimal;
    else if (f == "hex") plan.format = SerialFormat::kAsciiHex;
    else {
      Problem(format->line, "serial.format", "\"" + format->value + "\": expected le, be, dec or hex");
      ok = false;
    }
  }
  if (const auto* prefix = Get("serial.prefix")) {
    if (format && ok && IsBinarySerialFormat(plan.format)) {
      // Said, and left out, so the rest of the plan is still judged.
      Problem(prefix->line, "serial.prefix", "only dec and hex serials have a prefix");
      plan_refused_ = true;
    } else if (std::any_of(prefix->value.begin(), prefix->value.end(), [](char c) { return c < 0x20 || c > 0x7E; })) {
      Problem(prefix->line, "serial.prefix", "\"" + prefix->value + "\" is not printable ASCII");
      ok = false;
    } else {
      plan.prefix = prefix->value;
    }
  }
  const IniLines::Entry* width = Require("serial.width", "the serial's length in bytes");
  uint64_t width_value = 0;
  if (width && format && ok) {
    const bool binary = IsBinarySerialFormat(plan.format);
    const uint64_t min = binary ? 1 : plan.prefix.size() + 1;
    const uint64_t max = binary ? 8 : kMaxAsciiWidth;
    if (!ParseDecimal(width->value, UINT64_MAX, &width_value) || width_value < min || width_value > max) {
      Problem(width->line, "serial.width",
              "\"" + width->value + "\": " + SerialFormatName(plan.format) + " takes " + std::to_string(min) + " to " +
                  std::to_string(max) + " bytes" + (binary || plan.prefix.empty() ? "" : " (the prefix counts)"));
      ok = false;
    }
    plan.width = static_cast<uint32_t>(width_value);
  }
  uint64_t limit = 0;
  if (!address || !width || !format || !ok || !SerialFormatLimit(plan.format, plan.width, plan.prefix.size(), &limit)) {
    // The source cannot be judged without a format, but its keys still are.
    for (const char* key : {"serial.start", "serial.step", "serial.last"}) {
      uint64_t v = 0;
      const auto* e = Get(key);
      if (e && !ParseSerialNumber(e->value, &v)) {
        Problem(e->line, key, "\"" + e->value + "\" is not a number (decimal, or hex after 0x)");
      }
    }
    ok = false;
  } else {
    const size_t before = problems_->size();
    ReadSerialSource(&plan, limit, width);
    ok = problems_->size() == before && !plan_refused_;
  }

  const IniLines::Entry* journal = Get("serial.journal");
  if (journal && journal->value.empty()) {
    Problem(journal->line, "serial.journal", "empty: give a file name or leave the key out");
  } else {
    plan.journal_path = journal ? Path(*journal) : job_->path + ".serials";
    CheckWritableFolder(journal, "serial.journal", plan.journal_path);
    for (const std::string* other : {&job_->image_path, &job_->record_path, &plan.list_path}) {
      if (!other->empty() && SamePath(plan.journal_path, *other)) {
        Problem(journal ? journal->line : SectionLine("serial"), "serial.journal", "the same file as " + *other);
      }
    }
  }

  // A job that writes serial numbers ends: each is used once.
  const IniLines::Entry* count = Get("job.count");
  if (count_bad_) {
    // said already
  } else if (job_->count < 1) {
    Problem(count ? count->line : SectionLine("serial"), "job.count",
            "a job that writes serial numbers needs count = 1 or more");
  } else if (ok && SerialCount(plan) < static_cast<uint64_t>(job_->count)) {
    Problem(count->line, "job.count",
            std::to_string(job_->count) + " units, but the serial source holds " + std::to_string(SerialCount(plan)));
  }
  job_->serial = std::move(plan);
}

void JobReader::ReadLock() {
  const IniLines::Entry* password = Get("lock.password");
  if (!password) {
    if (section_lines_.count("lock")) Problem(SectionLine("lock"), "lock.password", "missing (or leave [lock] out)");
    return;
  }
  JobLock lock;
  std::string why;
  if (!ParseJobLockValue(password->value, &lock, &why)) {
    Problem(password->line, "lock.password", why);
  } else {
    job_->lock = std::move(lock);
  }
}

bool JobReader::Read(const std::string& path) {
  std::error_code ec;
  std::filesystem::path absolute = std::filesystem::absolute(platform::PathFromUtf8(path), ec);
  if (ec) absolute = platform::PathFromUtf8(path);
  job_->path = platform::PathToUtf8(absolute.lexically_normal());
  folder_ = absolute.lexically_normal().parent_path();
  std::string text;
  int os_error = 0;
  switch (platform::ReadSmallFile(job_->path, kMaxJobFile, &text, &os_error)) {
    case platform::SmallFileRead::Ok: break;
    case platform::SmallFileRead::Missing: Problem(0, "", "no such job file"); return false;
    case platform::SmallFileRead::NotRegular: Problem(0, "", "not a regular file"); return false;
    case platform::SmallFileRead::TooLarge: Problem(0, "", "larger than 1 MiB: not a job file"); return false;
    case platform::SmallFileRead::Error: Problem(0, "", "cannot be read"); return false;
  }
  Index(ReadIniLines(text));
  if (section_lines_.count("job") == 0 && std::none_of(entries_.begin(), entries_.end(), [](const auto& e) {
        return e.first.rfind("job.", 0) == 0;
      })) {
    Problem(0, "", "no [job] section");
  }
  ReadJobSection();
  ReadSlots();
  ReadSerial();
  ReadLock();
  std::stable_sort(problems_->begin(), problems_->end(),
                   [](const JobProblem& a, const JobProblem& b) { return a.line < b.line; });
  return problems_->empty();
}

}  // namespace

std::string JobProblemText(const std::string& job_path, const JobProblem& problem) {
  std::string text = job_path;
  if (problem.line > 0) text += ":" + std::to_string(problem.line);
  text += ": ";
  if (!problem.key.empty()) text += problem.key + ": ";
  return text + problem.reason;
}

bool LoadJobFile(const std::string& path, ProductionJob* job, std::vector<JobProblem>* problems) {
  *job = ProductionJob{};
  problems->clear();
  JobReader reader(job, problems);
  return reader.Read(path);
}

std::string PreparedImageSha256(const PreparedImage& image) {
  const auto sha = platform::Sha256(image.buffer.data(), image.buffer.size());
  return sha ? ToHex(*sha) : std::string();
}

bool CheckJobImage(const ProductionJob& job, const PreparedImage& image, uint32_t load_address,
                   uint32_t* serial_offset, std::vector<JobProblem>* problems) {
  const size_t before = problems->size();
  auto line = [&](const char* key) {
    const auto found = job.key_lines.find(key);
    return found == job.key_lines.end() ? 0 : found->second;
  };
  const std::string actual = PreparedImageSha256(image);
  if (actual.empty()) {
    problems->push_back({line("job.sha256"), "job.sha256", "the image's SHA-256 cannot be computed"});
  } else if (actual != job.sha256) {
    problems->push_back({line("job.sha256"), "job.sha256", "the image is not the pinned one: its SHA-256 is " + actual + ", the job pins " +
                                              job.sha256});
  }
  if (job.serial) {
    const SerialPlan& s = *job.serial;
    const uint64_t begin = load_address;
    const uint64_t end = begin + image.image_length;
    if (s.address < begin || uint64_t{s.address} + s.width > end) {
      problems->push_back({line("serial.address"), "serial.address",
                           HexText(s.address) + "..." + HexText(uint64_t{s.address} + s.width - 1) +
                               " is not inside the image at " + HexText(begin) + "..." + HexText(end - 1)});
    } else {
      *serial_offset = image.header_length + (s.address - load_address);
    }
  }
  return problems->size() == before;
}

}  // namespace torvane
