// What identifies one version of a file on disk, so that a cached database
// connection can tell that the file was replaced, edited or deleted.
#ifndef ZARN_PLATFORM_FILE_IDENTITY_H_
#define ZARN_PLATFORM_FILE_IDENTITY_H_

#include <cstdint>
#include <string>

namespace zarn::internal {

struct FileIdentity {
  uint64_t device = 0;
  uint64_t inode = 0;
  uint64_t size = 0;
  int64_t modified_ns = 0;
  int64_t changed_ns = 0;

  friend bool operator==(const FileIdentity&, const FileIdentity&) = default;
};

enum class FileProblem { kNone, kMissing, kNotAFile, kOther };

// Reads the identity of the file at `path`. On failure returns the problem
// and sets `reason` to a short description ("no such file or directory").
FileProblem GetFileIdentity(const std::string& path, FileIdentity& identity, std::string& reason);

}  // namespace zarn::internal

#endif  // ZARN_PLATFORM_FILE_IDENTITY_H_
