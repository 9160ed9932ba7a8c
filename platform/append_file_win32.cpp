// Windows: a handle opened for reading and writing (else writing only),
// every append written at the end found under a LockFileEx lock on the
// whole file (two FILE_APPEND_DATA handles tear each other's lines without
// one), FlushFileBuffers to flush. A file's identity is its volume serial
// number and file index.
#include "platform/append_file.h"

#include <windows.h>

#include "platform/wide_text_win32.h"

namespace torvane::platform {

namespace {

HANDLE H(intptr_t handle) { return reinterpret_cast<HANDLE>(handle); }

bool IdOfHandle(HANDLE h, FileId* id, std::string* reason) {
  BY_HANDLE_FILE_INFORMATION info{};
  const bool disk = ::GetFileType(h) == FILE_TYPE_DISK;
  if (disk && !::GetFileInformationByHandle(h, &info)) {
    *reason = SystemErrorText(::GetLastError());
    return false;
  }
  id->regular = disk && (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
  id->device = info.dwVolumeSerialNumber;
  id->inode = (static_cast<unsigned long long>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
  return true;
}

OVERLAPPED At(long long offset) {
  OVERLAPPED at{};
  at.Offset = static_cast<DWORD>(offset);
  at.OffsetHigh = static_cast<DWORD>(static_cast<unsigned long long>(offset) >> 32);
  return at;
}

}  // namespace

FileIdResult IdOfPath(const std::string& path, FileId* id, std::string* reason) {
  const HANDLE h = ::CreateFileW(Utf8ToWide(path).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                 nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    const DWORD code = ::GetLastError();
    if (code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND) return FileIdResult::kMissing;
    *reason = SystemErrorText(code);
    return FileIdResult::kFailed;
  }
  const bool ok = IdOfHandle(h, id, reason);
  ::CloseHandle(h);
  return ok ? FileIdResult::kOk : FileIdResult::kFailed;
}

bool FlushFolderOf(const std::string&, std::string*) { return true; }

AppendFile::OpenResult AppendFile::Open(const std::string& path, std::string* reason) {
  Close();
  const std::wstring name = Utf8ToWide(path);
  const DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
  HANDLE h = ::CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE, share, nullptr, OPEN_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
  readable_ = h != INVALID_HANDLE_VALUE;
  if (h == INVALID_HANDLE_VALUE && ::GetLastError() == ERROR_ACCESS_DENIED) {
    h = ::CreateFileW(name.c_str(), GENERIC_WRITE, share, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  }
  if (h == INVALID_HANDLE_VALUE) {
    const DWORD code = ::GetLastError();
    *reason = SystemErrorText(code);
    return code == ERROR_PIPE_NOT_CONNECTED || code == ERROR_PIPE_BUSY ? OpenResult::kNoReader : OpenResult::kFailed;
  }
  handle_ = reinterpret_cast<intptr_t>(h);
  return OpenResult::kOk;
}

bool AppendFile::Id(FileId* id, std::string* reason) const { return IdOfHandle(H(handle_), id, reason); }

bool AppendFile::Lock(std::string* reason) {
  OVERLAPPED whole{};
  if (::LockFileEx(H(handle_), LOCKFILE_EXCLUSIVE_LOCK, 0, MAXDWORD, MAXDWORD, &whole)) return true;
  *reason = SystemErrorText(::GetLastError());
  return false;
}

AppendFile::TryLockResult AppendFile::TryLock(std::string* reason) {
  OVERLAPPED whole{};
  if (::LockFileEx(H(handle_), LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, MAXDWORD, MAXDWORD, &whole)) {
    return TryLockResult::kOk;
  }
  const DWORD code = ::GetLastError();
  if (code == ERROR_LOCK_VIOLATION || code == ERROR_IO_PENDING) return TryLockResult::kBusy;
  *reason = SystemErrorText(code);
  return TryLockResult::kFailed;
}

void AppendFile::Unlock() {
  OVERLAPPED whole{};
  ::UnlockFileEx(H(handle_), 0, MAXDWORD, MAXDWORD, &whole);
}

long long AppendFile::Size() const {
  LARGE_INTEGER size{};
  return ::GetFileSizeEx(H(handle_), &size) ? static_cast<long long>(size.QuadPart) : -1;
}

int AppendFile::ByteAt(long long offset) const {
  if (offset < 0 || !readable_) return -1;
  unsigned char c = 0;
  DWORD n = 0;
  OVERLAPPED at = At(offset);
  if (!::ReadFile(H(handle_), &c, 1, &n, &at) || n != 1) return -1;
  return c;
}

bool AppendFile::ReadAll(std::string* contents, std::string* reason) const {
  contents->clear();
  char chunk[1 << 16];
  for (long long at = 0;;) {
    OVERLAPPED where = At(at);
    DWORD n = 0;
    if (!::ReadFile(H(handle_), chunk, sizeof chunk, &n, &where)) {
      const DWORD code = ::GetLastError();
      if (code == ERROR_HANDLE_EOF) return true;
      *reason = SystemErrorText(code);
      return false;
    }
    if (n == 0) return true;
    contents->append(chunk, n);
    at += n;
  }
}

bool AppendFile::Append(const std::string& text, std::string* reason) {
  long long end = Size();
  if (end < 0) {
    *reason = SystemErrorText(::GetLastError());
    return false;
  }
  size_t done = 0;
  while (done < text.size()) {
    OVERLAPPED at = At(end);
    DWORD n = 0;
    const DWORD chunk = static_cast<DWORD>(text.size() - done > (1u << 20) ? (1u << 20) : text.size() - done);
    if (!::WriteFile(H(handle_), text.data() + done, chunk, &n, &at) || n == 0) {
      *reason = SystemErrorText(n == 0 && ::GetLastError() == 0 ? ERROR_DISK_FULL : ::GetLastError());
      return false;
    }
    done += n;
    end += n;
  }
  return true;
}

bool AppendFile::CutBack(long long size) {
  FILE_END_OF_FILE_INFO info{};
  info.EndOfFile.QuadPart = size;
  return ::SetFileInformationByHandle(H(handle_), FileEndOfFileInfo, &info, sizeof info) != FALSE;
}

bool AppendFile::Flush(std::string* reason) {
  if (::FlushFileBuffers(H(handle_))) return true;
  *reason = SystemErrorText(::GetLastError());
  return false;
}

void AppendFile::Close() {
  if (handle_ != kClosed) ::CloseHandle(H(handle_));
  handle_ = kClosed;
  readable_ = false;
}

}  // namespace torvane::platform
