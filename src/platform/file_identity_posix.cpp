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
  // Opening a FIFO blocks until a writer comes, and a device or socket is no
  // database either: only a regular file (or a link to one) is opened.
  if (!S_ISREG(st.st_mode)) {
    reason = S_ISFIFO(st.st_mode)   ? "is a FIFO (named pipe), not a regular file"
             : S_ISSOCK(st.st_mode) ? "is a socket, not a regular file"
             : S_ISCHR(st.st_mode) || S_ISBLK(st.st_mode) ? "is a device, not a regular file"
                                                          : "is not a regular file";
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
