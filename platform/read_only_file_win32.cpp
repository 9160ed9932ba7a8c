// Read-only files on Windows: CreateFileW with the UTF-16 name (bytes, never
// text mode), GetFileInformationByHandle, ReadFile at an offset.
#include "platform/read_only_file.h"

#include <windows.h>

#include "platform/wide_text_win32.h"

namespace torvane::platform {

namespace {
HANDLE AsHandle(intptr_t h) { return reinterpret_cast<HANDLE>(h); }
}  // namespace

bool ReadOnlyFile::Open(const std::string& path, std::string* reason) {
  Close();
  // FILE_FLAG_BACKUP_SEMANTICS opens a directory too, so that it is named
  // as one rather than refused with "access denied".
  const HANDLE h = ::CreateFileW(Utf8ToWide(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                 nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    *reason = SystemErrorText(::GetLastError());
    return false;
  }
  handle_ = reinterpret_cast<intptr_t>(h);
  return true;
}

bool ReadOnlyFile::Info(FileKind* kind, uint64_t* size, std::string* reason) const {
  *size = 0;
  if (::GetFileType(AsHandle(handle_)) != FILE_TYPE_DISK) {
    *kind = FileKind::Other;
    return true;
  }
  BY_HANDLE_FILE_INFORMATION info{};
  if (!::GetFileInformationByHandle(AsHandle(handle_), &info)) {
    *reason = SystemErrorText(::GetLastError());
    return false;
  }
  *kind = (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? FileKind::Directory : FileKind::Regular;
  *size = (static_cast<uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
  return true;
}

int64_t ReadOnlyFile::ReadAt(void* dest, size_t capacity, uint64_t offset, std::string* reason) const {
  OVERLAPPED at{};
  at.Offset = static_cast<DWORD>(offset);
  at.OffsetHigh = static_cast<DWORD>(offset >> 32);
  const DWORD chunk = capacity > (1u << 30) ? (1u << 30) : static_cast<DWORD>(capacity);
  DWORD n = 0;
  if (!::ReadFile(AsHandle(handle_), dest, chunk, &n, &at)) {
    const DWORD code = ::GetLastError();
    if (code == ERROR_HANDLE_EOF) return 0;
    *reason = SystemErrorText(code);
    return -1;
  }
  return n;
}

void ReadOnlyFile::Close() {
  if (handle_ != kClosed) ::CloseHandle(AsHandle(handle_));
  handle_ = kClosed;
}

}  // namespace torvane::platform
