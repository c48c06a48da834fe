#include <sys/stat.h>

#include <cerrno>
#include <cstring>

#include "platform/file_identity.h"

namespace zarn::internal {

FileProblem GetFileIdentity(const std::string& path, FileIdentity& identity, std::string& reason) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) {
    const int err = errno;
    reason = std::strerror(err);
    return (err == ENOENT || err == ENOTDIR) ? FileProblem::kMissing : FileProblem::kOther;
  }
  if (S_ISDIR(st.st_mode)) {
    reason = "is a directory";
    return FileProblem::kNotAFile;
  }
  identity.device = static_cast<uint64_t>(st.st_dev);
  identity.inode = static_cast<uint64_t>(st.st_ino);
  identity.size = static_cast<uint64_t>(st.st_size);
  identity.modified_ns = static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
  identity.changed_ns = static_cast<int64_t>(st.st_ctim.tv_sec) * 1000000000 + st.st_ctim.tv_nsec;
  return FileProblem::kNone;
}

}  // namespace zarn::internal
