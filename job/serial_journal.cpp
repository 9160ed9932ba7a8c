#include "job/serial_journal.h"

#include <cerrno>
#include <charconv>
#include <string_view>
#include <utility>

#include "job/serial_value.h"
#include "platform/file_io.h"
#include "platform/sha256.h"

namespace torvane {

namespace {

constexpr std::string_view kMagic = "torvane-serials 1 ";

std::string Hex(const uint8_t* bytes, size_t n) {
  static const char kHex[] = "0123456789abcdef";
  std::string text;
  for (size_t i = 0; i < n; ++i) {
    text += kHex[bytes[i] >> 4];
    text += kHex[bytes[i] & 0xF];
  }
  return text;
}

// The prefix as one word: bytes outside printable ASCII, blanks and '%' as %XX.
std::string Word(const std::string& text) {
  std::string word;
  for (unsigned char c : text) {
    if (c > 0x20 && c < 0x7F && c != '%') {
      word += static_cast<char>(c);
    } else {
      word += '%';
      word += Hex(&c, 1);
    }
  }
  return word;
}

bool ParseIndex(std::string_view text, uint64_t* value) {
  if (text.empty() || (text.size() > 1 && text[0] == '0')) return false;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), *value);
  return ec == std::errc() && end == text.data() + text.size();
}

// Splits off the word before the next blank.
std::string_view NextWord(std::string_view* rest) {
  const size_t blank = rest->find(' ');
  const std::string_view word = rest->substr(0, blank);
  *rest = blank == std::string_view::npos ? std::string_view() : rest->substr(blank + 1);
  return word;
}

std::string FileText(const SerialPlan& plan) { return "serial journal " + plan.journal_path; }

std::string LineText(const SerialPlan& plan, size_t line) {
  return plan.journal_path + ":" + std::to_string(line) + ": ";
}

bool Fail(std::string* error, std::string text) {
  if (error != nullptr) *error = std::move(text);
  return false;
}

}  // namespace

std::string SerialJournalPlanLine(const SerialPlan& plan) {
  std::string line(kMagic);
  if (plan.list_path.empty()) {
    line += "counter start=" + std::to_string(plan.start) + " step=" + std::to_string(plan.step) +
            " last=" + (plan.last ? std::to_string(*plan.last) : std::string("none"));
  } else {
    std::string values;
    for (const std::string& value : plan.list_values) values += value + "\n";
    const auto digest = platform::Sha256(reinterpret_cast<const uint8_t*>(values.data()), values.size());
    line += "list sha256=" + (digest ? Hex(digest->data(), digest->size()) : std::string("none")) +
            " values=" + std::to_string(plan.list_values.size());
  }
  line += std::string(" format=") + SerialFormatName(plan.format) + " width=" + std::to_string(plan.width) +
          " prefix=" + Word(plan.prefix);
  return line;
}

SerialJournal::SerialJournal(SerialPlan plan) : plan_(std::move(plan)), count_(SerialCount(plan_)) {}

SerialJournal::~SerialJournal() = default;

std::unique_ptr<SerialJournal> SerialJournal::Open(const SerialPlan& plan, std::string* error) {
  std::unique_ptr<SerialJournal> journal(new SerialJournal(plan));
  platform::AppendFile& file = journal->file_;
  const std::string& path = plan.journal_path;
  std::string reason;
  platform::FileId id;
  const bool existed = platform::IdOfPath(path, &id, &reason) == platform::FileIdResult::kOk;
  if (file.Open(path, &reason) != platform::AppendFile::OpenResult::kOk || !file.Id(&id, &reason)) {
    Fail(error, "cannot open " + FileText(plan) + ": " + reason);
    return nullptr;
  }
  if (!id.regular || !file.readable()) {
    Fail(error, "cannot use " + FileText(plan) + ": " + (id.regular ? "it cannot be read" : "not a regular file"));
    return nullptr;
  }
  switch (file.TryLock(&reason)) {
    case platform::AppendFile::TryLockResult::kOk:
      break;
    case platform::AppendFile::TryLockResult::kBusy:
      Fail(error, FileText(plan) + " is in use by another station run; one journal serves one run at a time");
      return nullptr;
    case platform::AppendFile::TryLockResult::kFailed:
      Fail(error, "cannot lock " + FileText(plan) + ": " + reason);
      return nullptr;
  }
  std::string contents;
  if (!file.ReadAll(&contents, &reason)) {
    Fail(error, "cannot read " + FileText(plan) + ": " + reason);
    return nullptr;
  }
  // A last line without its end is a write that never finished, so its
  // caller never went on: it is cut off.
  if (!contents.empty() && contents.back() != '\n') {
    const size_t whole = contents.rfind('\n') + 1;  // 0 when there is no whole line
    if (!file.CutBack(static_cast<long long>(whole)) || !file.Flush(&reason)) {
      Fail(error, "cannot cut the torn last line off " + FileText(plan) + (reason.empty() ? "" : ": " + reason));
      return nullptr;
    }
    contents.resize(whole);
  }
  if (contents.empty()) {
    std::unique_lock<std::mutex> lock(journal->mutex_);
    if (!journal->Write(lock, SerialJournalPlanLine(plan) + "\n", error)) return nullptr;
    if (!existed && !platform::FlushFolderOf(path, &reason)) {
      Fail(error, "cannot flush the folder of " + FileText(plan) + ": " + reason);
      return nullptr;
    }
    return journal;
  }
  if (!journal->Load(contents, error)) return nullptr;
  if (!journal->reserved_.empty()) {
    std::string lines;
    for (const auto& [index, unit] : journal->reserved_) {
      std::string text;
      SerialAt(plan, index, &text, nullptr);
      lines += "burn " + std::to_string(index) + " " + text + "\n";
    }
    std::unique_lock<std::mutex> lock(journal->mutex_);
    if (!journal->Write(lock, lines, error)) return nullptr;
    journal->burned_ += journal->reserved_.size();
    journal->burned_on_open_ = journal->reserved_.size();
    journal->reserved_.clear();
  }
  return journal;
}

bool SerialJournal::CountLeft(const SerialPlan& plan, uint64_t* left, std::string* error) {
  std::string contents;
  int os_error = 0;
  // A journal line is short; a billion of them would be a broken file.
  constexpr size_t kLargestJournal = size_t{1} << 30;
  switch (platform::ReadSmallFile(plan.journal_path, kLargestJournal, &contents, &os_error)) {
    case platform::SmallFileRead::Ok:
      break;
    case platform::SmallFileRead::Missing:
      *left = SerialCount(plan);  // the first run creates it
      return true;
    case platform::SmallFileRead::NotRegular:
      return Fail(error, "cannot use " + FileText(plan) + ": not a regular file");
    case platform::SmallFileRead::TooLarge:
      return Fail(error, FileText(plan) + " is larger than 1 GiB");
    case platform::SmallFileRead::Error:
      return Fail(error, "cannot read " + FileText(plan) + (os_error == EACCES ? ": access refused" : ""));
  }
  contents.resize(contents.rfind('\n') + 1);  // a torn last line never started a unit
  SerialJournal journal(plan);
  if (!journal.Load(contents, error)) return false;
  *left = journal.Left();
  return true;
}

bool SerialJournal::Load(const std::string& contents, std::string* error) {
  size_t line_number = 0;
  for (size_t at = 0; at < contents.size();) {
    const size_t end = contents.find('\n', at);  // every line has its end (torn ones were cut)
    const std::string_view line(contents.data() + at, end - at);
    at = end + 1;
    ++line_number;
    const std::string where = LineText(plan_, line_number);
    if (line_number == 1) {
      const std::string expected = SerialJournalPlanLine(plan_);
      if (line.substr(0, kMagic.size()) != kMagic) {
        return Fail(error, where + "not a serial journal (its first line must begin \"" +
                               std::string(kMagic.substr(0, kMagic.size() - 1)) + "\")");
      }
      if (line != expected) {
        return Fail(error, where + "the journal was written for another serial plan (it holds \"" +
                               std::string(line.substr(kMagic.size())) + "\", the job's plan is \"" +
                               expected.substr(kMagic.size()) + "\"); give this job a journal of its own");
      }
      continue;
    }
    std::string_view rest = line;
    const std::string_view verb = NextWord(&rest);
    uint64_t index = 0;
    if (!ParseIndex(NextWord(&rest), &index)) return Fail(error, where + "no serial index after \"" + std::string(verb) + "\"");
    uint64_t unit = 0;
    if (verb == "reserve" && (NextWord(&rest) != "unit" || !ParseIndex(NextWord(&rest), &unit))) {
      return Fail(error, where + "no unit in the reservation");
    }
    std::string text;
    if (!SerialAt(plan_, index, &text, nullptr)) {
      return Fail(error, where + "serial index " + std::to_string(index) + " is beyond the plan's " +
                             std::to_string(count_) + " serials");
    }
    if (rest != text) {
      return Fail(error, where + "serial " + std::to_string(index) + " reads \"" + std::string(rest) +
                             "\" but the plan gives \"" + text + "\"");
    }
    const std::string serial = "serial " + std::to_string(index) + " (" + text + ")";
    if (verb == "reserve") {
      if (index != next_fresh_ && released_.erase(index) == 0) {
        return Fail(error, where + serial + " reserved while it was not free");
      }
      if (index == next_fresh_) ++next_fresh_;
      reserved_[index] = unit;
    } else if (verb == "commit" || verb == "release" || verb == "burn") {
      if (reserved_.erase(index) == 0) {
        return Fail(error, where + serial + " " + std::string(verb) + " without a reservation");
      }
      if (verb == "commit") ++used_;
      if (verb == "burn") ++burned_;
      if (verb == "release") released_.insert(index);
    } else {
      return Fail(error, where + "unknown event \"" + std::string(verb) + "\"");
    }
  }
  return true;
}

// Group commit: a line joins the lines waiting for the disk; one caller at
// a time writes and flushes every waiting line outside the lock, so units
// that reserve or finish at once share a flush instead of queueing for one
// each. Lines reach the file in the order their state changed.
bool SerialJournal::Write(std::unique_lock<std::mutex>& lock, const std::string& lines, std::string* error) {
  if (!broken_.empty()) return Fail(error, broken_);
  waiting_ += lines;
  const uint64_t mine = ++queued_;
  while (durable_ < mine && broken_.empty()) {
    if (flushing_) {
      flushed_.wait(lock);
      continue;
    }
    flushing_ = true;
    const std::string batch = std::move(waiting_);
    waiting_.clear();
    const uint64_t upto = queued_;
    lock.unlock();
    std::string failure, reason;
    const long long size = file_.Size();
    if (!file_.Append(batch, &reason)) {
      const bool cut = size >= 0 && file_.CutBack(size);
      failure = "cannot write " + FileText(plan_) + ": " + reason +
                (cut ? "" : " (a torn line is left; it is cut off when the journal is opened again)");
    } else if (!file_.Flush(&reason)) {
      failure = "cannot flush " + FileText(plan_) + " to disk: " + reason;
    }
    lock.lock();
    flushing_ = false;
    if (failure.empty()) {
      durable_ = upto;
    } else {
      broken_ = failure;
    }
    flushed_.notify_all();
  }
  return durable_ >= mine || Fail(error, broken_);
}

uint64_t SerialJournal::Left() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return count_ - used_ - burned_ - reserved_.size();
}

uint64_t SerialJournal::Used() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return used_;
}

uint64_t SerialJournal::BurnedOnOpen() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return burned_on_open_;
}

bool SerialJournal::Reserve(uint64_t unit, SerialLease* lease, std::string* error) {
  std::unique_lock<std::mutex> lock(mutex_);
  if (!broken_.empty()) return Fail(error, broken_);
  const bool reuse = !released_.empty();
  const uint64_t index = reuse ? *released_.begin() : next_fresh_;
  if (!reuse && index >= count_) {
    return Fail(error, "no serial left: all " + std::to_string(count_) + " of the plan are used, burned or in use");
  }
  SerialLease next;
  next.index = index;
  if (!SerialAt(plan_, index, &next.text, &next.bytes)) {
    return Fail(error, "the plan gives no serial at index " + std::to_string(index));
  }
  // Taken now, so that a reservation made while this one waits for the
  // disk gets another; if the write fails the journal gives nothing more.
  if (reuse) {
    released_.erase(released_.begin());
  } else {
    ++next_fresh_;
  }
  reserved_[index] = unit;
  if (!Write(lock, "reserve " + std::to_string(index) + " unit " + std::to_string(unit) + " " + next.text + "\n",
             error)) {
    return false;
  }
  *lease = std::move(next);
  return true;
}

bool SerialJournal::Finish(const SerialLease& lease, bool passed, std::string* error) {
  std::unique_lock<std::mutex> lock(mutex_);
  if (!broken_.empty()) return Fail(error, broken_);
  if (reserved_.count(lease.index) == 0) {
    return Fail(error, "serial " + lease.text + " (index " + std::to_string(lease.index) + ") is not reserved");
  }
  reserved_.erase(lease.index);
  if (passed) {
    ++used_;
  } else {
    released_.insert(lease.index);
  }
  const std::string verb = passed ? "commit " : "release ";
  return Write(lock, verb + std::to_string(lease.index) + " " + lease.text + "\n", error);
}

bool SerialJournal::Commit(const SerialLease& lease, std::string* error) { return Finish(lease, true, error); }

bool SerialJournal::Release(const SerialLease& lease, std::string* error) { return Finish(lease, false, error); }

}  // namespace torvane
