#include "cli/station_job.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>

#include "download/load_address.h"
#include "platform/utf8_path.h"

namespace torvane::cli {

namespace {

// Whether two paths name one file (or, when either is not there yet, the
// same place).
bool SamePath(const std::string& a, const std::string& b) {
  const std::filesystem::path pa = platform::PathFromUtf8(a);
  const std::filesystem::path pb = platform::PathFromUtf8(b);
  std::error_code ec;
  if (std::filesystem::equivalent(pa, pb, ec)) return true;
  const auto ca = std::filesystem::weakly_canonical(std::filesystem::absolute(pa, ec), ec);
  const auto cb = std::filesystem::weakly_canonical(std::filesystem::absolute(pb, ec), ec);
  return !ec && ca == cb;
}

bool SameAddress(const std::string& a, const std::string& b) {
  LoadAddressChoice ca;
  LoadAddressChoice cb;
  return ParseLoadAddressChoice(a, &ca) && ParseLoadAddressChoice(b, &cb) && ca.kind == cb.kind &&
         (ca.kind != LoadAddressChoice::Kind::Given || ca.given == cb.given);
}

std::string WaitText(const WaitTime& wait) {
  if (wait.forever) return "forever";
  char text[32];
  std::snprintf(text, sizeof(text), "%g", static_cast<double>(wait.duration.count()) / 1000.0);
  return text;
}

}  // namespace

bool ApplyJobToStationOptions(const ProductionJob& job, StationOptions* options, std::vector<std::string>* refusals) {
  const size_t before = refusals->size();
  auto set_by_job = [&](const std::string& key) {
    return std::find(job.keys_set.begin(), job.keys_set.end(), key) != job.keys_set.end();
  };
  auto line_of = [&](const std::string& key) {
    const auto found = job.key_lines.find(key);
    return found == job.key_lines.end() ? 0 : found->second;
  };
  // One job key and its option: given and locked, or given and differing
  // from what the job set, is refused; else the job's value (or its
  // default) stands unless the option was given.
  auto settle = [&](bool given, const std::string& option, const std::string& key, const std::string& option_value,
                    const std::string& job_value, bool same, auto take_job_value) {
    if (given && job.lock) {
      const int line = set_by_job(key) ? line_of(key) : line_of("lock.password");
      refusals->push_back(JobProblemText(job.path, {line, key, "the job is locked: " + option + " cannot be given"}));
      return;
    }
    if (given && set_by_job(key) && !same) {
      const std::string given_text = option + (option_value.empty() ? "" : " " + option_value);
      refusals->push_back(
          JobProblemText(job.path, {line_of(key), key, given_text + " differs from the job's " + job_value}));
      return;
    }
    if (!given) take_job_value();
  };
  const StationOptionsGiven& given = options->given;
  settle(given.image, "IMAGE", "job.image", options->image, job.image_path, SamePath(options->image, job.image_path),
         [&] { options->image = job.image_path; });
  // Given and not refused: the paths name one file; the job's absolute one stands.
  if (given.image && refusals->size() == before) options->image = job.image_path;
  settle(given.address, "--address", "job.address", options->address, job.address,
         SameAddress(options->address, job.address), [&] { options->address = job.address; });
  settle(given.count, "--count", "job.count", std::to_string(options->count), std::to_string(job.count),
         options->count == job.count, [&] { options->count = job.count; });
  settle(given.attempts, "--attempts", "job.attempts", std::to_string(options->attempts),
         std::to_string(job.attempts), options->attempts == job.attempts, [&] { options->attempts = job.attempts; });
  settle(given.enter_boot, "--enter-boot", "job.enter_boot", "", job.enter_boot ? "yes" : "no",
         options->enter_boot == job.enter_boot, [&] { options->enter_boot = job.enter_boot; });
  const WaitTime job_wait{false, std::chrono::seconds(job.enter_boot_wait_s)};
  settle(given.boot_wait, "--enter-boot-wait", "job.enter_boot_wait", WaitText(options->boot_wait),
         WaitText(job_wait), !options->boot_wait.forever && options->boot_wait.duration == job_wait.duration,
         [&] { options->boot_wait = job_wait; });
  settle(given.record, "--record", "job.record", options->record, job.record_path,
         !job.record_path.empty() && SamePath(options->record, job.record_path),
         [&] { options->record = job.record_path; });
  return refusals->size() == before;
}

}  // namespace torvane::cli
