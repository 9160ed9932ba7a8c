// The record of every unit: one JSON line per finished unit, appended and
// flushed to disk before the unit is reported done, so that a line
// that was reported is on disk. The file only ever holds whole lines:
// - it must be a regular file, checked without blocking (a FIFO or a device
//   is refused at once, never opened for a wait), and not one of the files
//   being flashed (the same device and inode, whatever the links);
// - every line starts on a line of its own, also after a line torn by a
//   crash or a full disk;
// - a write that lands only partly is cut back to the length before it;
// - a lock on the file around each append keeps lines of stations sharing
//   the file apart (platform/append_file.h).
#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "platform/append_file.h"

namespace torvane {

// Why a record path is refused before anything is written.
enum class RecordPathProblem { kNone, kEmpty, kNotRegularFile, kInputFile, kSystem };

// The texts of the refusals (after "<path>: "), so a host can say them in
// its operator's language.
inline constexpr const char* kRecordNotRegularText = "not a regular file";
inline constexpr const char* kRecordInputFileText = "is a file being flashed; the record would be written into it";
inline constexpr const char* kRecordCutBackText = "written only partly (disk full?); the partial line was removed";
inline constexpr const char* kRecordNotCutBackText = "written only partly; cutting the partial line off failed";

// Looks at `path` without opening it: empty, an existing non-regular file,
// or the same file as one of `flashed` (after resolving links). A missing
// file is fine (it is created). kSystem only when the path cannot be
// examined at all.
RecordPathProblem CheckRecordPath(const std::string& path, const std::vector<std::string>& flashed,
                                  std::string* error);

class RecordFile {
 public:
  RecordFile() = default;
  ~RecordFile();
  RecordFile(const RecordFile&) = delete;
  RecordFile& operator=(const RecordFile&) = delete;

  // Opens (creating it when missing) for appending, never blocking. False
  // with the reason in *error when the path is refused (see CheckRecordPath;
  // `flashed` are the image and boot update files) or cannot be written.
  bool Open(const std::string& path, std::string* error, const std::vector<std::string>& flashed = {});
  bool IsOpen() const { return file_.IsOpen(); }
  const std::string& path() const { return path_; }

  // Appends `line` and a line end under the file's lock, then flushes it to
  // disk. False with the reason when the line is not (wholly) on disk; a
  // partial line is cut off again. Safe from any thread.
  bool Append(const std::string& line, std::string* error);

 private:
  std::mutex mutex_;
  platform::AppendFile file_;
  std::string path_;
};

}  // namespace torvane
