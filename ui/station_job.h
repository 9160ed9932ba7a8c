// A production job as a station window runs it, whatever toolkit draws the
// window: opened from its file (or its problems, one line each), the setup
// it fixes (image, address, count, attempts, enter-boot, record file), and
// its lock: a job with an admin password keeps that setup read-only until
// the password is given. The job header is declared only: Qt code includes
// this one.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "ui/station_image.h"
#include "ui/station_session.h"

namespace torvane {

struct ProductionJob;

enum class JobField { kImage, kAddress, kCount, kAttempts, kEnterBoot, kRecord };

class StationJob {
 public:
  // Reads and checks the job file. On a problem the job open before stays
  // and *problems holds each one's text (file, line, key, why).
  bool Open(const std::string& path, std::vector<std::string>* problems);
  bool Loaded() const { return job_ != nullptr; }
  const std::shared_ptr<const ProductionJob>& Job() const { return job_; }

  // "作业: 主板 A2 量产 (line3.ini)   已锁定" ("未打开作业" without one).
  std::string Text() const;
  bool HasLock() const;
  // Locked: the job has a password that has not been given.
  bool Locked() const { return HasLock() && !unlocked_; }
  // True (and unlocked) when the password is the lock's.
  bool Unlock(std::string_view password);

  // Whether the job sets the field, and so whether the operator may change it.
  bool Fixes(JobField field) const;
  bool Editable(JobField field) const { return !Locked() || !Fixes(field); }

  std::string ImagePath() const;
  std::string AddressText() const;  // "0x08004000", "自动"; empty when the job sets none
  int Count() const;
  int Attempts() const;
  bool EnterBoot() const;
  std::string RecordPath() const;

  // The job into a start: the job itself, its image, address and boot wait,
  // and, while locked, the fields it fixes whatever the window holds.
  void Apply(StationSession::RunOptions* options) const;

  // "与作业一致" or "与作业的 SHA-256 不符" for the image read; empty
  // without a job or an image.
  std::string DigestCheckText(const StationImageInfo& image) const;

 private:
  std::shared_ptr<const ProductionJob> job_;
  bool unlocked_ = false;
};

}  // namespace torvane
