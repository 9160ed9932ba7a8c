#include "ui/station_job.h"

#include <algorithm>
#include <chrono>
#include <cstdio>

#include "download/load_address.h"
#include "job/job_file.h"
#include "job/job_lock.h"
#include "job/production_job.h"

namespace torvane {

namespace {
std::string FileName(const std::string& path) {
  const size_t slash = path.find_last_of("/\\");
  return slash == std::string::npos ? path : path.substr(slash + 1);
}
bool KeySet(const ProductionJob& job, const char* key) {
  return std::find(job.keys_set.begin(), job.keys_set.end(), key) != job.keys_set.end();
}
}  // namespace

bool StationJob::Open(const std::string& path, std::vector<std::string>* problems) {
  auto job = std::make_shared<ProductionJob>();
  std::vector<JobProblem> found;
  problems->clear();
  if (!LoadJobFile(path, job.get(), &found)) {
    for (const JobProblem& problem : found) problems->push_back(JobProblemText(path, problem));
    if (problems->empty()) problems->push_back(path + ": cannot be read");
    return false;
  }
  job_ = std::move(job);
  unlocked_ = false;
  return true;
}

std::string StationJob::Text() const {
  if (!job_) return "未打开作业";
  std::string text = "作业: " + (job_->name.empty() ? FileName(job_->path) : job_->name + " (" + FileName(job_->path) + ")");
  if (HasLock()) text += unlocked_ ? "   已解锁" : "   已锁定";
  return text;
}

bool StationJob::HasLock() const { return job_ && job_->lock.has_value(); }

bool StationJob::Unlock(std::string_view password) {
  if (!HasLock()) return true;
  if (!VerifyJobPassword(*job_->lock, password)) return false;
  unlocked_ = true;
  return true;
}

bool StationJob::Fixes(JobField field) const {
  if (!job_) return false;
  switch (field) {
    case JobField::kImage: return true;
    case JobField::kAddress: return !job_->address.empty();
    case JobField::kCount: return KeySet(*job_, "job.count");
    case JobField::kAttempts: return KeySet(*job_, "job.attempts");
    case JobField::kEnterBoot: return KeySet(*job_, "job.enter_boot");
    case JobField::kRecord: return !job_->record_path.empty();
  }
  return false;
}

std::string StationJob::ImagePath() const { return job_ ? job_->image_path : std::string(); }

std::string StationJob::AddressText() const {
  if (!job_ || job_->address.empty()) return "";
  LoadAddressChoice choice;
  if (!ParseLoadAddressChoice(job_->address, &choice)) return job_->address;
  if (choice.kind != LoadAddressChoice::Kind::Given) return "自动 (取自镜像文件)";
  char text[16];
  std::snprintf(text, sizeof text, "0x%08x", static_cast<unsigned>(choice.given));
  return text;
}

int StationJob::Count() const { return job_ ? job_->count : 0; }
int StationJob::Attempts() const { return job_ ? job_->attempts : 1; }
bool StationJob::EnterBoot() const { return job_ && job_->enter_boot; }
std::string StationJob::RecordPath() const { return job_ ? job_->record_path : std::string(); }

void StationJob::Apply(StationSession::RunOptions* options) const {
  if (!job_) return;
  options->job = job_;
  options->image_path = job_->image_path;
  if (!job_->address.empty()) {
    LoadAddressChoice choice;
    if (ParseLoadAddressChoice(job_->address, &choice)) options->load_address = choice;
  }
  options->boot_wait = std::chrono::seconds(job_->enter_boot_wait_s);
  if (!Locked()) return;
  if (Fixes(JobField::kCount)) options->count = job_->count;
  if (Fixes(JobField::kAttempts)) options->attempts = job_->attempts;
  if (Fixes(JobField::kEnterBoot)) options->enter_boot = job_->enter_boot;
  if (Fixes(JobField::kRecord)) options->record_path = job_->record_path;
}

std::string StationJob::DigestCheckText(const StationImageInfo& image) const {
  if (!job_ || !image.ok || image.path != job_->image_path) return "";
  return image.digest.sha256 == job_->sha256 ? "与作业一致" : "与作业的 SHA-256 不符";
}

}  // namespace torvane
