// Bounded read and atomic replacement of small files on Windows: the name
// goes to the wide-character calls as UTF-16, files are read and written as
// bytes (no text-mode translation), and the replacement is a temporary file
// flushed with FlushFileBuffers and moved over the old one with
// MoveFileExW(MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH).
#include "platform/file_io.h"

#include <windows.h>

#include <atomic>
#include <cerrno>

#include "platform/wide_text_win32.h"

namespace torvane::platform {

namespace {

class Handle {
 public:
  explicit Handle(HANDLE h) : h_(h) {}
  ~Handle() { Close(); }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  HANDLE get() const { return h_; }
  bool valid() const { return h_ != INVALID_HANDLE_VALUE; }
  bool Close() {
    if (!valid()) return true;
    const BOOL ok = ::CloseHandle(h_);
    h_ = INVALID_HANDLE_VALUE;
    return ok != FALSE;
  }

 private:
  HANDLE h_;
};

int ErrnoFor(DWORD code) {
  switch (code) {
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
      return EACCES;
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
      return ENOENT;
    default:
      return EIO;
  }
}

void SetError(std::string* error, const std::string& what, DWORD code) {
  if (error != nullptr) *error = what + ": " + SystemErrorText(code);
}

bool WriteAll(HANDLE h, const char* data, size_t size) {
  while (size > 0) {
    const DWORD chunk = size > (1u << 30) ? (1u << 30) : static_cast<DWORD>(size);
    DWORD written = 0;
    if (!::WriteFile(h, data, chunk, &written, nullptr) || written == 0) return false;
    data += written;
    size -= written;
  }
  return true;
}

std::wstring TemporaryBeside(const std::wstring& target, unsigned serial) {
  const size_t slash = target.find_last_of(L"\\/");
  const std::wstring dir = slash == std::wstring::npos ? std::wstring() : target.substr(0, slash + 1);
  const std::wstring base = slash == std::wstring::npos ? target : target.substr(slash + 1);
  return dir + L"." + base + L".tmp" + std::to_wstring(::GetCurrentProcessId()) + L"." + std::to_wstring(serial);
}

}  // namespace

SmallFileRead ReadSmallFile(const std::string& path, size_t max_size, std::string* contents, int* os_error) {
  contents->clear();
  if (path.empty()) return SmallFileRead::Missing;
  auto failed = [os_error](DWORD code) {
    if (os_error != nullptr) *os_error = ErrnoFor(code);
    return SmallFileRead::Error;
  };
  // FILE_FLAG_BACKUP_SEMANTICS opens a directory too, so it is told apart
  // from a file that cannot be read.
  Handle file(::CreateFileW(Utf8ToWide(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                            nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (!file.valid()) {
    const DWORD code = ::GetLastError();
    if (code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND || code == ERROR_INVALID_NAME) {
      return SmallFileRead::Missing;
    }
    return failed(code);
  }
  BY_HANDLE_FILE_INFORMATION info{};
  if (::GetFileType(file.get()) != FILE_TYPE_DISK) return SmallFileRead::NotRegular;
  if (!::GetFileInformationByHandle(file.get(), &info)) return failed(::GetLastError());
  if ((info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) return SmallFileRead::NotRegular;
  const unsigned long long size = (static_cast<unsigned long long>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
  if (size > max_size) return SmallFileRead::TooLarge;

  // Read to the end rather than trusting the size: the bound must hold for
  // what is actually read.
  char chunk[4096];
  for (;;) {
    DWORD n = 0;
    if (!::ReadFile(file.get(), chunk, sizeof chunk, &n, nullptr)) {
      contents->clear();
      return failed(::GetLastError());
    }
    if (n == 0) break;
    if (contents->size() + n > max_size) {
      contents->clear();
      return SmallFileRead::TooLarge;
    }
    contents->append(chunk, n);
  }
  return SmallFileRead::Ok;
}

bool ReplaceFileAtomically(const std::string& path, const std::string& contents, std::string* error) {
  if (path.empty()) {
    if (error != nullptr) *error = "empty file name";
    return false;
  }
  const std::wstring target = Utf8ToWide(path);
  const DWORD attributes = ::GetFileAttributesW(target.c_str());
  const bool has_existing = attributes != INVALID_FILE_ATTRIBUTES;
  if (has_existing && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    if (error != nullptr) *error = path + ": not a regular file";
    return false;
  }
  if (has_existing && (attributes & FILE_ATTRIBUTE_READONLY) != 0) {
    if (error != nullptr) *error = path + ": the file is read-only";
    return false;
  }

  static std::atomic<unsigned> counter{0};
  std::wstring temp;
  HANDLE created = INVALID_HANDLE_VALUE;
  for (int attempt = 0; attempt < 100 && created == INVALID_HANDLE_VALUE; ++attempt) {
    temp = TemporaryBeside(target, counter.fetch_add(1));
    created = ::CreateFileW(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (created == INVALID_HANDLE_VALUE && ::GetLastError() != ERROR_FILE_EXISTS) break;
  }
  Handle file(created);
  if (!file.valid()) {
    SetError(error, "cannot create a temporary file beside " + path, ::GetLastError());
    return false;
  }

  bool ok = WriteAll(file.get(), contents.data(), contents.size()) && ::FlushFileBuffers(file.get());
  DWORD code = ok ? 0 : ::GetLastError();
  if (!file.Close() && ok) {
    ok = false;
    code = ::GetLastError();
  }
  if (ok && !::MoveFileExW(temp.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    ok = false;
    code = ::GetLastError();
  }
  if (!ok) {
    ::DeleteFileW(temp.c_str());
    SetError(error, "cannot write " + path, code);
    return false;
  }
  return true;
}

}  // namespace torvane::platform
