#include "station/record_file.h"

namespace torvane {

namespace {

using platform::FileId;

std::string SystemError(const std::string& path, const std::string& reason, const char* what = nullptr) {
  return path + ": " + (what ? std::string(what) + ": " : std::string()) + reason;
}

RecordPathProblem Refuse(RecordPathProblem problem, const std::string& path, const char* text, std::string* error) {
  *error = path + ": " + text;
  return problem;
}

// The problem of a record file that is `id`.
RecordPathProblem CheckId(const FileId& id, const std::string& path, const std::vector<std::string>& flashed,
                          std::string* error) {
  if (!id.regular) return Refuse(RecordPathProblem::kNotRegularFile, path, kRecordNotRegularText, error);
  for (const std::string& file : flashed) {
    FileId other;
    std::string ignored;
    if (!file.empty() && platform::IdOfPath(file, &other, &ignored) == platform::FileIdResult::kOk && other == id) {
      return Refuse(RecordPathProblem::kInputFile, path, kRecordInputFileText, error);
    }
  }
  return RecordPathProblem::kNone;
}

}  // namespace

RecordPathProblem CheckRecordPath(const std::string& path, const std::vector<std::string>& flashed,
                                  std::string* error) {
  if (path.empty()) {
    *error = "the record file name is empty";
    return RecordPathProblem::kEmpty;
  }
  FileId id;
  std::string reason;
  switch (platform::IdOfPath(path, &id, &reason)) {
    case platform::FileIdResult::kMissing:
      return RecordPathProblem::kNone;  // created on open (a missing folder fails there)
    case platform::FileIdResult::kFailed:
      *error = SystemError(path, reason);
      return RecordPathProblem::kSystem;
    case platform::FileIdResult::kOk:
      break;
  }
  return CheckId(id, path, flashed, error);
}

RecordFile::~RecordFile() = default;

bool RecordFile::Open(const std::string& path, std::string* error, const std::vector<std::string>& flashed) {
  // Looked at first so that a FIFO or device is never opened at all; the
  // opened file is looked at again, in case the path changed in between.
  if (CheckRecordPath(path, flashed, error) != RecordPathProblem::kNone) return false;
  platform::AppendFile file;
  std::string reason;
  switch (file.Open(path, &reason)) {
    case platform::AppendFile::OpenResult::kNoReader:
      Refuse(RecordPathProblem::kNotRegularFile, path, kRecordNotRegularText, error);
      return false;
    case platform::AppendFile::OpenResult::kFailed:
      *error = SystemError(path, reason);
      return false;
    case platform::AppendFile::OpenResult::kOk:
      break;
  }
  FileId id;
  if (!file.Id(&id, &reason)) {
    *error = SystemError(path, reason);
    return false;
  }
  if (CheckId(id, path, flashed, error) != RecordPathProblem::kNone) return false;
  std::lock_guard<std::mutex> lock(mutex_);
  file_.Swap(file);
  path_ = path;
  return true;
}

bool RecordFile::Append(const std::string& line, std::string* error) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!file_.IsOpen()) {
    *error = "no record file is open";
    return false;
  }
  std::string reason;
  if (!file_.Lock(&reason)) {
    *error = SystemError(path_, reason, "lock");
    return false;
  }
  // Under the lock no other station appends, so the size is where this line goes.
  const long long size = file_.Size();
  const bool torn = file_.readable() && size > 0 && file_.ByteAt(size - 1) != '\n';
  const std::string whole = (torn ? "\n" : "") + line + "\n";
  bool ok = file_.Append(whole, &reason);
  if (!ok) {
    const bool cut = size >= 0 && file_.CutBack(size);
    *error = path_ + ": " + (cut ? kRecordCutBackText : kRecordNotCutBackText) + " (" + reason + ")";
  } else if (!file_.Flush(&reason)) {
    *error = SystemError(path_, reason, "fsync");
    ok = false;
  }
  file_.Unlock();
  return ok;
}

}  // namespace torvane
