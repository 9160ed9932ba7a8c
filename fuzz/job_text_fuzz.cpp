// libFuzzer target for job file text: arbitrary bytes are read as INI lines
// and, when they are a job file, locked and unlocked again. Whatever the
// text: no crash; a lock set reads back as that lock, every line before it
// is kept, and removing it leaves a file without a lock.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "job/job_lock_text.h"
#include "text/ini_lines.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const torvane::IniLines ini = torvane::ReadIniLines(text);
  for (const auto& entry : ini.entries) {
    if (entry.line < 1 || entry.key.empty()) std::abort();
  }
  std::optional<torvane::JobLock> lock;
  torvane::JobProblem problem;
  if (!torvane::ReadJobLockText(text, &lock, &problem)) return 0;
  const std::string value = "pbkdf2-sha256$1000$0011223344556677$" + std::string(64, 'a');
  const std::string locked = torvane::EditJobLockText(text, value);
  if (!torvane::ReadJobLockText(locked, &lock, &problem) || !lock || lock->iterations != 1000) std::abort();
  const std::string unlocked = torvane::EditJobLockText(locked, "");
  if (!torvane::ReadJobLockText(unlocked, &lock, &problem) || lock) std::abort();
  return 0;
}
