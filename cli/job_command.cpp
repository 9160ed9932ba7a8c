#include "cli/job_command.h"

#include <cstdio>
#include <filesystem>

#include "cli/exit_codes.h"
#include "download/load_address.h"
#include "download/prepare_image.h"
#include "job/job_file.h"
#include "job/job_lock.h"
#include "job/job_lock_text.h"
#include "job/serial_journal.h"
#include "job/serial_value.h"
#include "platform/console.h"
#include "platform/file_io.h"
#include "platform/read_only_file.h"
#include "platform/utf8_path.h"
#include "station/image_digest.h"
#include "text/hex_text.h"

namespace torvane::cli {
namespace {

constexpr size_t kMaxJobFile = size_t{1} << 20;
constexpr size_t kMaxPassword = 1024;

// The job file itself cannot be read: a file error, unlike a problem in it.
bool JobFileReadable(const std::string& path) {
  platform::ReadOnlyFile file;
  std::string reason;
  platform::FileKind kind = platform::FileKind::Other;
  uint64_t size = 0;
  std::error_code ec;
  if (!std::filesystem::exists(platform::PathFromUtf8(path), ec)) {
    std::fprintf(stderr, "%s: no such job file\n", path.c_str());
  } else if (!file.Open(path, &reason) || !file.Info(&kind, &size, &reason)) {
    std::fprintf(stderr, "%s: cannot be read: %s\n", path.c_str(), reason.c_str());
  } else if (kind != platform::FileKind::Regular) {
    std::fprintf(stderr, "%s: not a regular file\n", path.c_str());
  } else {
    return true;
  }
  return false;
}

int KeyLine(const ProductionJob& job, const char* key) {
  const auto found = job.key_lines.find(key);
  return found == job.key_lines.end() ? 0 : found->second;
}

void PrintSummary(const ProductionJob& job, const PreparedImage& image, uint32_t address, uint32_t serial_offset,
                  const std::optional<uint64_t>& left) {
  const ImageDigest digest = DigestBytes(image.buffer.data(), image.buffer.size());
  std::printf("job:      %s\n", job.name.empty() ? "(no name)" : job.name.c_str());
  std::printf("image:    %s, %u bytes at %s\n", job.image_path.c_str(), image.total_length, HexText(address).c_str());
  std::printf("CRC-32:   %s\n", HexDigits(digest.crc32, 8).c_str());
  std::printf("SHA-256:  %s (as pinned)\n", digest.sha256.c_str());
  std::printf("units:    %s, attempts %d, enter boot %s\n",
              job.count > 0 ? std::to_string(job.count).c_str() : "no limit", job.attempts,
              job.enter_boot ? ("yes, wait " + std::to_string(job.enter_boot_wait_s) + " s").c_str() : "no");
  std::printf("slots:    %s\n", job.slot_map.empty() ? "none: every port" : std::to_string(job.slot_map.size()).c_str());
  for (const auto& [port, slot] : job.slot_map) std::printf("  %-14s %s\n", port.c_str(), slot.c_str());
  std::printf("record:   %s\n", job.record_path.empty() ? "none" : job.record_path.c_str());
  if (job.serial) {
    const SerialPlan& s = *job.serial;
    std::string first;
    SerialAt(s, 0, &first, nullptr);
    const std::string source =
        s.list_path.empty() ? "counter from " + first + " step " + std::to_string(s.step) : "list " + s.list_path + " from " + first;
    std::printf("serial:   %s, %u bytes at %s (image offset %s), %s, %llu in all\n", SerialFormatName(s.format), s.width,
                HexText(s.address).c_str(), HexText(serial_offset, 1).c_str(), source.c_str(),
                static_cast<unsigned long long>(SerialCount(s)));
    std::printf("journal:  %s, %s\n", s.journal_path.c_str(),
                left ? (std::to_string(*left) + " left").c_str() : "not started yet");
  } else {
    std::printf("serial:   none\n");
  }
  std::printf("lock:     %s\n", job.lock ? "locked" : "none");
}

// A job still without its pin (or with a mistyped one) whose image is
// there: the digest to pin, so a new job is mended in one step.
void PrintPinHint(const ProductionJob& job, const std::vector<JobProblem>& problems) {
  bool sha_refused = false;
  for (const JobProblem& p : problems) {
    if (p.key == "job.image") return;
    sha_refused |= p.key == "job.sha256";
  }
  if (!sha_refused || job.image_path.empty() || !job.sha256.empty()) return;
  PreparedImage image;
  if (!PrepareImage({job.image_path, ""}, CHECKSUM_CRC16, &image)) return;
  const std::string sha = PreparedImageSha256(image);
  if (!sha.empty()) std::fprintf(stderr, "the image's SHA-256, to pin it: sha256 = %s\n", sha.c_str());
}

}  // namespace

int RunJobCheck(const CliSession& session, const JobOptions& options) {
  if (!JobFileReadable(options.file)) return kExitFileError;
  ProductionJob job;
  std::vector<JobProblem> problems;
  PreparedImage image;
  uint32_t address = 0;
  uint32_t serial_offset = 0;
  std::optional<uint64_t> left;
  if (LoadJobFile(options.file, &job, &problems)) {
    std::string error;
    LoadAddressChoice choice;
    if (!job.address.empty()) ParseLoadAddressChoice(job.address, &choice);  // checked by the loader
    // As the station prepares it: no header, the CRC scheme's layout.
    if (!PrepareImage({job.image_path, ""}, CHECKSUM_CRC16, &image, &error)) {
      problems.push_back({KeyLine(job, "job.image"), "job.image", error});
    } else if (!ResolveLoadAddress(choice, session.settings().app_address, image.file_load_address,
                                   image.image_length, &address, &error)) {
      const bool set = !job.address.empty();
      problems.push_back({KeyLine(job, set ? "job.address" : "job.image"), set ? "job.address" : "job.image",
                          error + (set ? "" : " (App Address of the settings)")});
    } else {
      CheckJobImage(job, image, address, &serial_offset, &problems);
    }
    // A journal already there says how many serials are left, read without
    // writing (a station may be running on it). None yet: nothing is
    // created.
    std::error_code ec;
    uint64_t count_left = 0;
    if (job.serial && std::filesystem::exists(platform::PathFromUtf8(job.serial->journal_path), ec)) {
      const int line = KeyLine(job, "serial.journal");
      if (SerialJournal::CountLeft(*job.serial, &count_left, &error)) {
        left = count_left;
        if (job.count > 0 && *left < static_cast<uint64_t>(job.count)) {
          problems.push_back({KeyLine(job, "job.count"), "job.count",
                              std::to_string(job.count) + " units, but only " + std::to_string(*left) +
                                  (*left == 1 ? " serial is" : " serials are") + " left in " + job.serial->journal_path});
        }
      } else {
        problems.push_back({line, "serial.journal", error});
      }
    }
  }
  if (!problems.empty()) {
    for (const JobProblem& p : problems) std::fprintf(stderr, "%s\n", JobProblemText(options.file, p).c_str());
    PrintPinHint(job, problems);
    return kExitUsage;
  }
  PrintSummary(job, image, address, serial_offset, left);
  return kExitOk;
}

int RunJobLock(const JobOptions& options, bool lock) {
  const std::string& path = options.file;
  std::string text;
  int os_error = 0;
  switch (platform::ReadSmallFile(path, kMaxJobFile, &text, &os_error)) {
    case platform::SmallFileRead::Ok: break;
    case platform::SmallFileRead::Missing: std::fprintf(stderr, "%s: no such job file\n", path.c_str()); return kExitFileError;
    case platform::SmallFileRead::NotRegular: std::fprintf(stderr, "%s: not a regular file\n", path.c_str()); return kExitFileError;
    case platform::SmallFileRead::TooLarge: std::fprintf(stderr, "%s: larger than 1 MiB: not a job file\n", path.c_str()); return kExitFileError;
    case platform::SmallFileRead::Error: std::fprintf(stderr, "%s: cannot be read\n", path.c_str()); return kExitFileError;
  }
  std::optional<JobLock> current;
  JobProblem problem;
  if (!ReadJobLockText(text, &current, &problem)) {
    std::fprintf(stderr, "%s\n", JobProblemText(path, problem).c_str());
    return kExitUsage;
  }
  if (!lock && !current) {
    std::fprintf(stderr, "%s: not locked\n", path.c_str());
    return kExitUsage;
  }
  const bool terminal = platform::IsTerminal(stdin);
  auto ask = [&](const char* prompt, std::string* password) {
    if (terminal) {
      std::fprintf(stderr, "%s", prompt);
      std::fflush(stderr);
    }
    if (platform::ReadInputLine(password, /*hidden=*/true, kMaxPassword)) return true;
    std::fprintf(stderr, "%s: no password on standard input (one line, at most %zu bytes)\n", path.c_str(),
                 kMaxPassword);
    return false;
  };
  if (current) {
    std::string password;
    if (!ask("current password: ", &password)) return kExitUsage;
    if (!VerifyJobPassword(*current, password)) {
      std::fprintf(stderr, "%s: wrong password\n", path.c_str());
      return kExitUsage;
    }
  }
  std::string value;
  if (lock) {
    std::string password;
    if (!ask("new password: ", &password)) return kExitUsage;
    if (password.empty()) {
      std::fprintf(stderr, "%s: an empty password locks nothing\n", path.c_str());
      return kExitUsage;
    }
    if (terminal) {
      std::string again;
      if (!ask("new password again: ", &again)) return kExitUsage;
      if (again != password) {
        std::fprintf(stderr, "%s: the two passwords differ; nothing changed\n", path.c_str());
        return kExitUsage;
      }
    }
    value = MakeJobLockValue(password);
    if (value.empty()) {
      std::fprintf(stderr, "%s: the system cannot hash the password\n", path.c_str());
      return kExitFileError;
    }
  }
  std::string error;
  if (!platform::ReplaceFileAtomically(path, EditJobLockText(text, value), &error)) {
    std::fprintf(stderr, "%s: cannot be written: %s\n", path.c_str(), error.c_str());
    return kExitFileError;
  }
  std::printf("%s: %s\n", path.c_str(), lock ? "locked" : "unlocked");
  return kExitOk;
}

}  // namespace torvane::cli
