// A cheap way to tell that a file has not changed since it was last looked
// at, so that the per-call check of the reference database can skip the
// file system and SQLite while nothing happens to the file.
//
// On Linux this is an inotify watch on the file's directory and on the file
// itself, read without blocking. The kernel queues an event in the system call that changes the
// file (write, truncate, rename, unlink, chmod...), before that call
// returns, so a change finished before Epoch() starts is in the queue that
// Epoch() reads. Where that does not hold or cannot be set up (another
// system, a network or FUSE file system, a relative path, no inotify
// instance or watch left), Epoch() returns 0 and callers check the file in
// full every time.
#ifndef ZARN_PLATFORM_FILE_WATCH_H_
#define ZARN_PLATFORM_FILE_WATCH_H_

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

namespace zarn::internal {

class FileWatch {
 public:
  explicit FileWatch(std::string path);
  ~FileWatch();
  FileWatch(const FileWatch&) = delete;
  FileWatch& operator=(const FileWatch&) = delete;

  // Reads the events queued so far. Returns 0 when the watch cannot vouch for
  // the file; otherwise a number that stays the same for as long as no
  // change to the file (or to the SQLite journal files beside it) is seen: a
  // check of the file made after a call that returned N still holds at a
  // later call that returns N. `fork_generation` counts the forks of the
  // process: a child makes its own watch (an inotify descriptor shared with
  // the parent would hand each side only part of the events).
  // Thread-safe; must not be called across fork() (the caller holds a lease,
  // which fork() waits for).
  uint64_t Epoch(uint64_t fork_generation);

 private:
  enum class State { kNotOpen, kOpen, kOff };
  struct Watched {
    int descriptor;
    std::vector<std::string> names;  // the file and its journal files
  };
  bool Open();
  void Close();
  // Reads every queued event; false when the watch no longer stands for the
  // path (its directory gone or moved) and must be made again.
  bool Drain();

  const std::string path_;
  std::mutex mutex_;
  State state_ = State::kNotOpen;
  int fd_ = -1;
  uint64_t generation_ = 0;
  bool generation_known_ = false;
  bool used_ = false;  // Epoch() has been called (the first call opens nothing)
  uint64_t epoch_ = 1;
  std::vector<Watched> watched_;
};

}  // namespace zarn::internal

#endif  // ZARN_PLATFORM_FILE_WATCH_H_
