// Image preparation: read (or map) into one 0xFF-filled buffer, then
// compute the start parameters over it, a piece at a time so that a
// cancel is seen at once.
#include "download/prepare_image.h"

#include "download/firmware_records.h"

#include <algorithm>
#include <new>
#include <stdexcept>

#include "platform/read_only_file.h"

namespace torvane {

namespace {

// Work between two looks at the cancel flags.
constexpr uint32_t kPiece = 4u << 20;

bool Fail(std::string* error, const std::string& message) {
  if (error != nullptr) *error = message;
  return false;
}

bool Raised(const std::atomic<int32_t>* flag) { return flag != nullptr && flag->load() != 0; }

bool Stopped(const PrepareControl& control) { return Raised(control.cancel) || Raised(control.stop); }

const char* const kTextCancelled = "已取消";

class InputFile {
 public:
  InputFile() = default;
  ~InputFile() { Close(); }
  InputFile(const InputFile&) = delete;
  InputFile& operator=(const InputFile&) = delete;

  // Opens a regular file for reading (its bytes as stored) and takes its
  // length. The open never blocks on a FIFO; such files are refused anyway.
  bool Open(const std::string& what, const std::string& path, std::string* error) {
    what_ = what;
    path_ = path;
    if (path.empty()) return Fail(error, what + ": 未指定文件");
    std::string reason;
    if (!file_.Open(path, &reason)) return Fail(error, Name() + "无法打开: " + reason);
    platform::FileKind kind = platform::FileKind::Other;
    uint64_t size = 0;
    if (!file_.Info(&kind, &size, &reason)) return Fail(error, Name() + "无法读取文件信息: " + reason);
    if (kind == platform::FileKind::Directory) return Fail(error, Name() + "不是普通文件 (是目录)");
    if (kind != platform::FileKind::Regular) return Fail(error, Name() + "不是普通文件");
    if (size == 0) return Fail(error, Name() + "文件为空");
    // The padded length, (length + 3) & ~3, must fit in 32 bits.
    if (size > 0xFFFFFFFCull) {
      return Fail(error, Name() + "文件过大 (" + std::to_string(size) + " 字节; 协议的长度为 32 位)");
    }
    length_ = static_cast<uint32_t>(size);
    return true;
  }

  const platform::ReadOnlyFile& file() const { return file_; }

  // Intel HEX, S-record or raw, by the first bytes and the name.
  ImageFormat Format() const {
    uint8_t head[128];
    std::string reason;
    const int64_t n = file_.ReadAt(head, sizeof head, 0, &reason);
    return DetectImageFormat(path_, head, n > 0 ? static_cast<size_t>(n) : 0);
  }
  // Reads the file as records, through this open file so that the reader
  // sees the very file that was checked.
  bool ReadRecords(ImageFormat format, RecordImage* records, const PrepareControl& control, std::string* error);
  uint32_t length() const { return length_; }
  uint32_t padded_length() const { return (length_ + 3u) & ~3u; }
  // "<what> '<path>': ", the front of every reason about this file.
  std::string Name() const { return what_ + " '" + path_ + "': "; }

  // Reads the whole file (its length when opened) into `dest`. A file that
  // ends early is a read error just like a failing read.
  bool ReadAll(uint8_t* dest, const PrepareControl& control, std::string* error) {
    uint32_t done = 0;
    while (done < length_) {
      if (Stopped(control)) return Fail(error, kTextCancelled);
      std::string reason;
      const int64_t n = file_.ReadAt(dest + done, std::min(length_ - done, kPiece), done, &reason);
      if (n < 0) return Fail(error, Name() + "读取错误: " + reason);
      if (n == 0) {
        return Fail(error, Name() + "文件在 " + std::to_string(done) + " 字节处提前结束 (应有 " +
                               std::to_string(length_) + " 字节)");
      }
      done += static_cast<uint32_t>(n);
    }
    Close();
    return true;
  }

  void Close() { file_.Close(); }

 private:
  platform::ReadOnlyFile file_;
  uint32_t length_ = 0;
  std::string what_;
  std::string path_;
};

// An open file's text for the record reader, read from any offset (the
// reader reads it twice) without moving the file's own position; a raised
// cancel or stop ends the read.
class FileRecordText final : public RecordText {
 public:
  FileRecordText(const platform::ReadOnlyFile& file, uint64_t length, const PrepareControl& control)
      : file_(file), length_(length), control_(control) {}
  bool Rewind(std::string*) override {
    at_ = 0;
    return true;
  }
  int64_t Read(uint8_t* dest, size_t capacity, std::string* error) override {
    if (Stopped(control_)) return Failed(error, kTextCancelled);
    std::string reason;
    const int64_t n = file_.ReadAt(dest, capacity, at_, &reason);
    if (n < 0) return Failed(error, "读取错误: " + reason);
    at_ += static_cast<uint64_t>(n);
    return n;
  }
  uint64_t SizeHint() const override { return length_; }

 private:
  static int64_t Failed(std::string* error, const std::string& message) {
    *error = message;
    return -1;
  }
  const platform::ReadOnlyFile& file_;
  uint64_t length_;
  const PrepareControl& control_;
  uint64_t at_ = 0;
};

bool InputFile::ReadRecords(ImageFormat format, RecordImage* records, const PrepareControl& control,
                            std::string* error) {
  FileRecordText text(file_, length_, control);
  RecordError why;
  if (!ReadRecordImage(text, format, records, &why)) {
    return Fail(error, Stopped(control) ? std::string(kTextCancelled) : Name() + why.message);
  }
  Close();
  return true;
}

bool Refuse(PreparedImage* out, std::string* error, const std::string& message) {
  if (out != nullptr) *out = PreparedImage{};
  if (error != nullptr && !message.empty()) *error = message;
  return false;
}

// Lays the header and the image out in `result->buffer`: read into memory
// (or the records' bytes copied), or, for a large raw image, the image
// mapped behind room for the header.
bool FillBuffer(InputFile& header, InputFile& image, RecordImage* records, PreparedImage* result,
                const PrepareControl& control, std::string* error) {
  const size_t header_length = result->header_length;
  const size_t total_length = result->total_length;
  if (records == nullptr && image.length() >= control.map_images_from) {
    std::string why;
    if (!result->buffer.map_file(image.file(), image.length(), header_length, result->image_length, &why)) {
      return Fail(error, image.Name() + "无法映射到内存 (cannot allocate address space for " +
                             std::to_string(total_length) + " bytes: " + why + ")");
    }
    image.Close();
  } else {
    // std::bad_alloc, or std::length_error past what a vector can hold.
    try {
      if (records != nullptr && header_length == 0) {
        result->buffer.assign_padded(std::move(records->bytes), result->image_length);  // no copy
        return true;
      }
      result->buffer.assign(total_length, 0xFF);
    } catch (const std::exception&) {
      return Fail(error, image.Name() + "无法分配 " + std::to_string(total_length) + " 字节的内存 (cannot allocate)");
    }
    if (records != nullptr) {
      std::copy(records->bytes.begin(), records->bytes.end(), result->buffer.data() + header_length);
    } else if (!image.ReadAll(result->buffer.data() + header_length, control, error)) {
      return false;
    }
  }
  return header_length == 0 || header.ReadAll(result->buffer.data(), control, error);
}

// The start parameters, computed a piece at a time; the pieces of a mapped
// file are given back once summed, so memory stays bounded.
bool ComputeStart(PreparedImage* result, ChecksumScheme scheme, const PrepareControl& control,
                  std::string* error) {
  const bool xor_scheme = scheme == CHECKSUM_XOR;
  const uint32_t from = xor_scheme ? 0 : kCrcUncoveredPrefix;
  const uint32_t to = xor_scheme ? result->image_length : result->total_length;
  const uint8_t* bytes = result->buffer.data();
  uint32_t xor_sum = 0;
  uint16_t crc = 0xFFFF;
  for (uint32_t at = from; at < to;) {
    if (Stopped(control)) return Fail(error, kTextCancelled);
    const uint32_t n = std::min(to - at, kPiece);  // kPiece keeps XOR words whole
    if (xor_scheme) {
      xor_sum ^= boot_xor32(bytes + at, n);
    } else {
      crc = boot_crc16_update(crc, bytes + at, n);
    }
    result->buffer.release_pages(at, at + n);
    at += n;
  }
  result->start_length = to - from;
  result->start_checksum = xor_scheme ? xor_sum : crc;
  return true;
}

}  // namespace

bool PrepareImage(const DownloadJob& job, ChecksumScheme scheme, PreparedImage* out, std::string* error,
                  const PrepareControl& control) {
  if (out == nullptr) return Refuse(out, error, "没有存放镜像的位置");
  *out = PreparedImage{};
  if (error != nullptr) error->clear();

  const bool has_header = !job.header_path.empty();
  if (scheme == CHECKSUM_XOR && has_header) {
    // The XOR scheme announces and checks the image alone; a header in
    // front would be sent but neither counted nor checked.
    return Refuse(out, error, "XOR 校验方式不能带头文件发送");
  }
  if (scheme != CHECKSUM_XOR && scheme != CHECKSUM_CRC16) return Refuse(out, error, "未知的校验方式");

  InputFile image;
  if (!image.Open("镜像文件", job.image_path, error)) return Refuse(out, error, "");
  InputFile header;
  if (has_header && !header.Open("头文件", job.header_path, error)) return Refuse(out, error, "");

  RecordImage records;
  const ImageFormat format = image.Format();
  if (format != ImageFormat::Raw && !image.ReadRecords(format, &records, control, error)) return Refuse(out, error, "");
  const bool from_records = format != ImageFormat::Raw;

  const uint64_t header_length = has_header ? header.padded_length() : 0;
  const uint64_t image_length = from_records ? (records.bytes.size() + 3) & ~size_t{3} : image.padded_length();
  const uint64_t total_length = header_length + image_length;
  if (total_length > UINT32_MAX) {
    return Refuse(out, error, "头文件与镜像合计 " + std::to_string(total_length) + " 字节, 超出 32-bit 长度");
  }
  if (scheme == CHECKSUM_CRC16 && total_length < kCrcUncoveredPrefix) {
    return Refuse(out, error, image.Name() + "只有 " + std::to_string(total_length) +
                                  " 字节, 少于 CRC 校验方式不计入的 48 字节");
  }

  PreparedImage result;
  result.header_length = static_cast<uint32_t>(header_length);
  result.image_length = static_cast<uint32_t>(image_length);
  result.total_length = static_cast<uint32_t>(total_length);
  if (from_records) result.file_load_address = records.load_address;
  if (!FillBuffer(header, image, from_records ? &records : nullptr, &result, control, error)) {
    return Refuse(out, error, "");
  }
  if (!ComputeStart(&result, scheme, control, error)) return Refuse(out, error, "");
  *out = std::move(result);
  return true;
}

}  // namespace torvane
