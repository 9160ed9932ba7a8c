// The record of every unit: one JSON line per finished unit, appended with a
// single write (O_APPEND) and flushed to disk (fsync) before the unit is
// reported done, so that stations sharing one file never interleave lines
// and a line that was reported is on disk.
#pragma once

#include <mutex>
#include <string>

namespace torvane {

class RecordFile {
 public:
  RecordFile() = default;
  ~RecordFile();
  RecordFile(const RecordFile&) = delete;
  RecordFile& operator=(const RecordFile&) = delete;

  // Opens (creating it when missing) for appending. False with the reason
  // in *error when the file cannot be written.
  bool Open(const std::string& path, std::string* error);
  bool IsOpen() const { return fd_ >= 0; }
  const std::string& path() const { return path_; }

  // Appends `line` and a line end in one write, then fsync. False with the
  // reason when the line is not (wholly) on disk. Safe from any thread.
  bool Append(const std::string& line, std::string* error);

 private:
  std::mutex mutex_;
  int fd_ = -1;
  std::string path_;
};

}  // namespace torvane
