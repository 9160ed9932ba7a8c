#include "station/record_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace torvane {

RecordFile::~RecordFile() {
  if (fd_ >= 0) close(fd_);
}

bool RecordFile::Open(const std::string& path, std::string* error) {
  const int fd = open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) {
    *error = path + ": " + std::strerror(errno);
    return false;
  }
  struct stat st {};
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    *error = path + ": not a regular file";
    close(fd);
    return false;
  }
  if (fd_ >= 0) close(fd_);
  fd_ = fd;
  path_ = path;
  return true;
}

bool RecordFile::Append(const std::string& line, std::string* error) {
  const std::string whole = line + "\n";
  std::lock_guard<std::mutex> lock(mutex_);
  if (fd_ < 0) {
    *error = "no record file is open";
    return false;
  }
  ssize_t written;
  do {
    written = write(fd_, whole.data(), whole.size());
  } while (written < 0 && errno == EINTR);
  if (written < 0) {
    *error = path_ + ": " + std::strerror(errno);
    return false;
  }
  if (static_cast<size_t>(written) != whole.size()) {
    // A second write could land after another station's line; say so instead.
    *error = path_ + ": only " + std::to_string(written) + " of " + std::to_string(whole.size()) +
             " bytes written (disk full?)";
    return false;
  }
  if (fsync(fd_) != 0) {
    *error = path_ + ": fsync: " + std::strerror(errno);
    return false;
  }
  return true;
}

}  // namespace torvane
