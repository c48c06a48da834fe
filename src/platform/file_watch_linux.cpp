// The inotify watch behind FileWatch (see file_watch.h).
#include <fcntl.h>
#include <limits.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <utility>

#include "platform/file_watch.h"

namespace zarn::internal {

namespace {

// File systems whose changes may come from another machine or from a user
// space server, which inotify does not hear about: the file is checked in
// full there.
bool Remote(const std::string& directory) {
  struct statfs fs {};
  if (::statfs(directory.c_str(), &fs) != 0) return true;
  switch (static_cast<unsigned long>(fs.f_type)) {
    case 0x6969UL:      // NFS
    case 0x517BUL:      // SMB
    case 0xFF534D42UL:  // CIFS
    case 0xFE534D42UL:  // SMB2
    case 0x65735546UL:  // FUSE
    case 0x00C36400UL:  // Ceph
    case 0x5346414FUL:  // AFS
    case 0x6B414653UL:  // kAFS
    case 0x01021997UL:  // 9P
    case 0x01161970UL:  // GFS2
    case 0x7461636FUL:  // OCFS2
    case 0x0BD00BD0UL:  // Lustre
    case 0x73757245UL:  // Coda
    case 0x564CUL:      // NCP
    case 0x47504653UL:  // GPFS
      return true;
    default: return false;
  }
}

std::string DirectoryOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == 0 ? std::string("/") : path.substr(0, slash);
}

std::string NameOf(const std::string& path) { return path.substr(path.rfind('/') + 1); }

constexpr uint32_t kDirectoryEvents = IN_MODIFY | IN_ATTRIB | IN_CLOSE_WRITE | IN_CREATE |
                                      IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO | IN_DELETE_SELF |
                                      IN_MOVE_SELF | IN_ONLYDIR;
constexpr uint32_t kFileEvents =
    IN_MODIFY | IN_ATTRIB | IN_CLOSE_WRITE | IN_DELETE_SELF | IN_MOVE_SELF;

}  // namespace

FileWatch::FileWatch(std::string path) : path_(std::move(path)) {}

FileWatch::~FileWatch() { Close(); }

void FileWatch::Close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  watched_.clear();
}

bool FileWatch::Open() {
  // A relative path names another file once the working directory changes,
  // which no watch would notice.
  if (path_.empty() || path_[0] != '/' || path_.back() == '/') return false;
  std::vector<std::string> files{path_};
  // A link to the file: its target is watched too (the link itself, in its
  // own directory). A chain of links is not followed.
  struct stat st {};
  if (::lstat(path_.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
    char target[PATH_MAX];
    const ssize_t n = ::readlink(path_.c_str(), target, sizeof target - 1);
    if (n <= 0) return false;
    std::string resolved(target, static_cast<size_t>(n));
    if (resolved[0] != '/') resolved = DirectoryOf(path_) + "/" + resolved;
    if (resolved.back() == '/') return false;
    if (::lstat(resolved.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) return false;
    files.push_back(std::move(resolved));
  }
  fd_ = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  if (fd_ < 0) return false;
  for (const std::string& file : files) {
    const std::string directory = DirectoryOf(file);
    if (Remote(directory)) {
      Close();
      return false;
    }
    const int wd = ::inotify_add_watch(fd_, directory.c_str(), kDirectoryEvents);
    if (wd < 0) {
      Close();
      return false;
    }
    const std::string name = NameOf(file);
    Watched* entry = nullptr;
    for (Watched& w : watched_) {
      if (w.descriptor == wd) entry = &w;
    }
    if (entry == nullptr) entry = &watched_.emplace_back(Watched{wd, {}});
    // The journal files: in WAL mode a commit writes only the -wal file.
    // The -shm file is left out: it is written through a memory map, which
    // raises no events, and readers touch it too.
    for (const char* suffix : {"", "-wal", "-journal"}) entry->names.push_back(name + suffix);
  }
  // The file itself too, when it is there: a write through another name of
  // it (a hard link elsewhere, a bind mount) raises no event in the watched
  // directory, but does on the file. Any event of this watch counts.
  for (const std::string& file : files) {
    const int wd = ::inotify_add_watch(fd_, file.c_str(), kFileEvents);
    if (wd < 0) {
      if (errno == ENOENT || errno == ENOTDIR) continue;  // the directories' events cover it
      Close();
      return false;
    }
    bool known = false;
    for (const Watched& w : watched_) known = known || w.descriptor == wd;
    if (!known) watched_.push_back(Watched{wd, {}});
  }
  return true;
}

bool FileWatch::Drain() {
  alignas(inotify_event) char buffer[4096];
  bool changed = false;
  for (;;) {
    const ssize_t n = ::read(fd_, buffer, sizeof buffer);
    if (n < 0) {
      if (errno == EINTR) continue;
      // EAGAIN: the queue is empty. Anything else: the watch is not to be
      // trusted.
      return errno == EAGAIN && !changed;
    }
    if (n == 0) return false;
    for (ssize_t at = 0; at < n;) {
      inotify_event event;
      std::memcpy(&event, buffer + at, sizeof event);
      const char* name = buffer + at + sizeof event;
      at += static_cast<ssize_t>(sizeof event + event.len);
      if ((event.mask &
           (IN_Q_OVERFLOW | IN_DELETE_SELF | IN_MOVE_SELF | IN_IGNORED | IN_UNMOUNT)) != 0) {
        changed = true;
        continue;
      }
      const size_t length = event.len == 0 ? 0 : strnlen(name, event.len);
      for (const Watched& w : watched_) {
        if (w.descriptor != event.wd) continue;
        if (w.names.empty()) changed = true;  // the file's own watch
        for (const std::string& watched : w.names) {
          if (watched.size() == length && std::memcmp(watched.data(), name, length) == 0) {
            changed = true;
          }
        }
      }
    }
  }
}

uint64_t FileWatch::Epoch(uint64_t fork_generation) {
  const std::lock_guard<std::mutex> lock(mutex_);
  if (!generation_known_ || generation_ != fork_generation) {
    // First use, or a child of the process that opened the watch: the
    // descriptor inherited is closed in the child only.
    if (generation_known_ && state_ != State::kOff) {
      Close();
      state_ = State::kNotOpen;
    }
    generation_known_ = true;
    generation_ = fork_generation;
  }
  // A parser used for one call never opens a watch: an inotify instance is
  // a scarce resource (128 per user by default), and closing one waits for
  // the kernel's grace period (milliseconds). The watch pays from the
  // second call on.
  if (!used_) {
    used_ = true;
    return 0;
  }
  switch (state_) {
    case State::kOff: return 0;
    case State::kOpen:
      if (Drain()) return epoch_;
      // The file (or its directory) changed, or the queue overflowed: a new
      // period begins, with a new watch (the path may now lead elsewhere,
      // through a link made anew).
      Close();
      state_ = State::kNotOpen;
      [[fallthrough]];
    case State::kNotOpen:
      ++epoch_;
      if (!Open()) {
        Close();
        state_ = State::kOff;
        return 0;
      }
      state_ = State::kOpen;
      return epoch_;
  }
  return 0;
}

}  // namespace zarn::internal
