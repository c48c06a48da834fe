// File identity on Windows: volume serial number and file index (the pair
// that names one file on one volume), size and last write time, read through
// an open handle with GetFileInformationByHandle.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <string>

#include "platform/file_identity.h"

namespace zarn::internal {

namespace {

// Paths are UTF-8 throughout the library; the wide API takes UTF-16.
bool Utf8ToWide(const std::string& path, std::wstring& out) {
  out.clear();
  if (path.empty()) return true;
  const int size = static_cast<int>(path.size());
  const int n = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, path.data(), size, nullptr, 0);
  if (n <= 0) return false;
  out.resize(static_cast<size_t>(n));
  return MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, path.data(), size, out.data(), n) == n;
}

// The same wording as the C library's strerror() for the common cases, so
// that a message reads alike on every platform.
bool IsMissing(DWORD error) {
  return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ||
         error == ERROR_INVALID_NAME || error == ERROR_BAD_NETPATH || error == ERROR_BAD_NET_NAME;
}

std::string Reason(DWORD error) {
  if (IsMissing(error)) return "No such file or directory";
  switch (error) {
    case ERROR_ACCESS_DENIED: return "Permission denied";
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION: return "the file is in use by another process";
    default: return "Windows error " + std::to_string(error);
  }
}

// Nanoseconds since 1970, as on POSIX. A FILETIME counts 100 ns steps since
// 1601; shifting to 1970 before scaling keeps the product within int64_t
// (until the year 2262).
int64_t FileTimeToNs(const FILETIME& t) {
  constexpr int64_t kSteps1601To1970 = 116444736000000000LL;
  const auto steps =
      static_cast<int64_t>((static_cast<uint64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime);
  return (steps - kSteps1601To1970) * 100;
}

}  // namespace

FileProblem GetFileIdentity(const std::string& path, FileIdentity& identity, std::string& reason) {
  std::wstring wide;
  if (!Utf8ToWide(path, wide) || wide.empty()) {
    reason = "No such file or directory";
    return FileProblem::kMissing;
  }
  // Reading attributes needs no access to the contents, and sharing
  // everything never disturbs another process that has the file open.
  // FILE_FLAG_BACKUP_SEMANTICS lets a directory be opened, to be told apart.
  const HANDLE file = CreateFileW(wide.c_str(), FILE_READ_ATTRIBUTES,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    reason = Reason(error);
    return IsMissing(error) ? FileProblem::kMissing : FileProblem::kOther;
  }
  BY_HANDLE_FILE_INFORMATION info{};
  const BOOL ok = GetFileInformationByHandle(file, &info);
  const DWORD error = ok ? ERROR_SUCCESS : GetLastError();
  CloseHandle(file);
  if (!ok) {
    reason = Reason(error);
    return FileProblem::kOther;
  }
  if ((info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    reason = "is a directory";
    return FileProblem::kNotAFile;
  }
  identity.device = info.dwVolumeSerialNumber;
  identity.inode = (static_cast<uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
  identity.size = (static_cast<uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
  identity.modified_ns = FileTimeToNs(info.ftLastWriteTime);
  // Windows keeps no inode change time; the creation time changes when the
  // file is replaced by another one of the same name.
  identity.changed_ns = FileTimeToNs(info.ftCreationTime);
  return FileProblem::kNone;
}

}  // namespace zarn::internal
