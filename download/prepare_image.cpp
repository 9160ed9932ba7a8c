// Image preparation: read straight into one 0xFF-filled buffer, then
// compute the start parameters over it.
#include "download/prepare_image.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <new>
#include <stdexcept>

namespace torvane {

namespace {

class InputFile {
 public:
  InputFile() = default;
  ~InputFile() {
    if (fd_ >= 0) ::close(fd_);
  }
  InputFile(const InputFile&) = delete;
  InputFile& operator=(const InputFile&) = delete;

  // Opens a regular file for reading and takes its length. O_NONBLOCK
  // keeps a FIFO from blocking the open; such files are refused anyway.
  bool Open(const std::string& what, const std::string& path, std::string* error) {
    if (path.empty()) return Fail(error, what + ": no file name");
    fd_ = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd_ < 0) return Fail(error, what + " '" + path + "': cannot open: " + std::strerror(errno));
    struct stat info {};
    if (::fstat(fd_, &info) != 0) {
      return Fail(error, what + " '" + path + "': cannot query: " + std::strerror(errno));
    }
    if (!S_ISREG(info.st_mode)) return Fail(error, what + " '" + path + "': not a regular file");
    if (info.st_size <= 0) return Fail(error, what + " '" + path + "': file is empty");
    // The padded length, (length + 3) & ~3, must fit in 32 bits.
    if (static_cast<uint64_t>(info.st_size) > 0xFFFFFFFCull) {
      return Fail(error, what + " '" + path + "': too large (" + std::to_string(info.st_size) +
                             " bytes; the protocol counts lengths in 32 bits)");
    }
    length_ = static_cast<uint32_t>(info.st_size);
    what_ = what;
    path_ = path;
    return true;
  }

  uint32_t length() const { return length_; }
  uint32_t padded_length() const { return (length_ + 3u) & ~3u; }

  // Reads the whole file (its length when opened) into `dest`. A file that
  // ends early is a read error just like a failing read.
  bool ReadAll(uint8_t* dest, std::string* error) {
    uint32_t done = 0;
    while (done < length_) {
      const ssize_t n = ::read(fd_, dest + done, length_ - done);
      if (n < 0) {
        if (errno == EINTR) continue;
        return Fail(error, what_ + " '" + path_ + "': read error: " + std::strerror(errno));
      }
      if (n == 0) {
        return Fail(error, what_ + " '" + path_ + "': file ended after " + std::to_string(done) + " of " +
                               std::to_string(length_) + " bytes");
      }
      done += static_cast<uint32_t>(n);
    }
    Close();
    return true;
  }

  void Close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }

 private:
  static bool Fail(std::string* error, const std::string& message) {
    if (error != nullptr) *error = message;
    return false;
  }

  int fd_ = -1;
  uint32_t length_ = 0;
  std::string what_;
  std::string path_;
};

bool Refuse(PreparedImage* out, std::string* error, const std::string& message) {
  if (out != nullptr) *out = PreparedImage{};
  if (error != nullptr && !message.empty()) *error = message;
  return false;
}

}  // namespace

bool PrepareImage(const DownloadJob& job, ChecksumScheme scheme, PreparedImage* out, std::string* error) {
  if (out == nullptr) return Refuse(out, error, "no place for the prepared image");
  *out = PreparedImage{};
  if (error != nullptr) error->clear();

  const bool has_header = !job.header_path.empty();
  if (scheme == CHECKSUM_XOR && has_header) {
    // The XOR scheme announces and checks the image alone; a header in
    // front would be sent but neither counted nor checked.
    return Refuse(out, error, "a header cannot be sent with the XOR checksum scheme");
  }
  if (scheme != CHECKSUM_XOR && scheme != CHECKSUM_CRC16) return Refuse(out, error, "unknown checksum scheme");

  InputFile image;
  if (!image.Open("image", job.image_path, error)) return Refuse(out, error, "");
  InputFile header;
  if (has_header && !header.Open("header", job.header_path, error)) return Refuse(out, error, "");

  const uint64_t header_length = has_header ? header.padded_length() : 0;
  const uint64_t image_length = image.padded_length();
  const uint64_t total_length = header_length + image_length;
  if (total_length > UINT32_MAX) {
    return Refuse(out, error, "header and image together exceed 32-bit lengths (" +
                                  std::to_string(total_length) + " bytes)");
  }
  if (scheme == CHECKSUM_CRC16 && total_length < kCrcUncoveredPrefix) {
    return Refuse(out, error, "image of " + std::to_string(total_length) +
                                  " bytes is shorter than the 48 bytes the CRC scheme leaves out");
  }

  PreparedImage result;
  try {
    result.buffer.assign(static_cast<size_t>(total_length), 0xFF);
  } catch (const std::bad_alloc&) {
    return Refuse(out, error, "cannot allocate " + std::to_string(total_length) + " bytes for the image");
  } catch (const std::length_error&) {
    return Refuse(out, error, "cannot allocate " + std::to_string(total_length) + " bytes for the image");
  }
  result.header_length = static_cast<uint32_t>(header_length);
  result.image_length = static_cast<uint32_t>(image_length);
  result.total_length = static_cast<uint32_t>(total_length);

  if (has_header && !header.ReadAll(result.buffer.data(), error)) return Refuse(out, error, "");
  if (!image.ReadAll(result.buffer.data() + header_length, error)) return Refuse(out, error, "");

  if (scheme == CHECKSUM_XOR) {
    result.start_length = result.image_length;
    result.start_checksum = boot_xor32(result.buffer.data(), result.image_length);
  } else {
    result.start_length = result.total_length - kCrcUncoveredPrefix;
    result.start_checksum = boot_crc16(result.buffer.data() + kCrcUncoveredPrefix, result.start_length);
  }
  *out = std::move(result);
  return true;
}

}  // namespace torvane
