#include "refdb/pool.h"

#include <sqlite3.h>
#ifndef _WIN32
#include <pthread.h>
#endif

#include <atomic>
#include <condition_variable>
#include <iterator>
#include <new>
#include <utility>
#include <vector>

namespace zarn::internal {

namespace {

// Fork safety. A child forked while other threads used SQLite could inherit
// a mutex held by a thread that does not exist in the child (one of
// SQLite's global mutexes, the lock of the file's shared inode record, a
// pool's lock) and hang at its first call. So fork() waits until no
// connection is leased (every lease is a run of SQLite calls; new leases
// wait meanwhile), and is made with the pools' lock and SQLite's global
// mutexes held. In the child the pools leave the connections they inherited
// unused (SQLite's advice: a connection does not cross fork) and open their
// own. A thread that forks while holding a lease itself would wait for good;
// the library never does, and callers fork between calls.
std::mutex g_pool_mutex;  // every pool's idle list, and the counts below
size_t g_leased = 0;      // connections leased and not yet given back
bool g_forking = false;   // a fork waits for g_leased to reach 0
// Signalled when g_leased reaches 0 during a fork, and when the fork is
// over. Made anew in a child, whose copy may record waiters that are gone:
// built in place in static storage, so that neither copy is a lost block.
alignas(
    std::condition_variable) unsigned char g_fork_signal_storage[sizeof(std::condition_variable)];
std::condition_variable* g_fork_signal = new (g_fork_signal_storage) std::condition_variable;
std::atomic<uint64_t> g_fork_generation{0};

#ifndef _WIN32
// SQLite's global mutexes, in the order SQLite nests them (the allocator's
// last: it is taken inside the others).
constexpr int kSqliteGlobalMutexes[] = {
    SQLITE_MUTEX_STATIC_MAIN, SQLITE_MUTEX_STATIC_OPEN, SQLITE_MUTEX_STATIC_VFS1,
    SQLITE_MUTEX_STATIC_VFS2, SQLITE_MUTEX_STATIC_VFS3, SQLITE_MUTEX_STATIC_LRU,
    SQLITE_MUTEX_STATIC_PMEM, SQLITE_MUTEX_STATIC_PRNG, SQLITE_MUTEX_STATIC_MEM,
};

void BeforeFork() {
  std::unique_lock<std::mutex> lock(g_pool_mutex);
  g_forking = true;
  g_fork_signal->wait(lock, [] { return g_leased == 0; });
  lock.release();  // held through fork(), unlocked after it on both sides
  for (int id : kSqliteGlobalMutexes) sqlite3_mutex_enter(sqlite3_mutex_alloc(id));
}

void UnlockAfterFork() {
  for (size_t i = std::size(kSqliteGlobalMutexes); i-- > 0;) {
    sqlite3_mutex_leave(sqlite3_mutex_alloc(kSqliteGlobalMutexes[i]));
  }
  g_forking = false;
}

void AfterForkInParent() {
  UnlockAfterFork();
  g_pool_mutex.unlock();
  g_fork_signal->notify_all();
}

void AfterForkInChild() {
  UnlockAfterFork();
  // The parent's copy is not destroyed: its state belongs to threads the
  // child does not have.
  g_fork_signal = new (g_fork_signal_storage) std::condition_variable;
  g_fork_generation.fetch_add(1, std::memory_order_relaxed);
  g_pool_mutex.unlock();
}
#endif

void WatchForks() {
#ifndef _WIN32
  static std::once_flag once;
  std::call_once(once, [] {
    sqlite3_initialize();  // the global mutexes exist from here on
    pthread_atfork(BeforeFork, AfterForkInParent, AfterForkInChild);
  });
#endif
}

// Starts a lease (waiting while a fork is made); the caller holds the lock.
void BeginLease(std::unique_lock<std::mutex>& lock) {
  g_fork_signal->wait(lock, [] { return !g_forking; });
  ++g_leased;
}

// Ends a lease; the caller holds the lock.
void EndLeaseLocked() {
  if (--g_leased == 0 && g_forking) g_fork_signal->notify_all();
}

// Connections opened before a fork, left to the parent: they are neither
// used nor closed in the child (closing would touch state shared with the
// parent's copy); the child opens its own. A few kilobytes each, kept
// reachable from here so that a leak checker in the child sees them held,
// not lost. Called under the pools' lock.
void Abandon(std::unique_ptr<Connection> connection) {
  static auto* const kept = new std::vector<Connection*>();
  Connection* const raw = connection.release();
  try {
    kept->push_back(raw);
  } catch (const std::bad_alloc&) {
    // Not kept in sight: still never used or closed.
  }
}

}  // namespace

void EndLease() {
  const std::lock_guard<std::mutex> lock(g_pool_mutex);
  EndLeaseLocked();
}

}  // namespace zarn::internal

namespace zarn::detail {

using internal::CheckDatabaseFile;
using internal::Connection;
using internal::DbPolicy;
using internal::FileIdentity;

ReferenceDatabase::ReferenceDatabase(std::string path, DbPolicy policy)
    : path_(std::move(path)), policy_(policy), watch_(path_) {
  internal::WatchForks();
  generation_ = internal::g_fork_generation.load(std::memory_order_relaxed);
}

ReferenceDatabase::~ReferenceDatabase() {
  // Closed under the lock, so that no fork copies a close half done.
  const std::lock_guard<std::mutex> lock(internal::g_pool_mutex);
  idle_.clear();
}

std::unique_ptr<Connection> ReferenceDatabase::Acquire(bool full) {
  std::unique_ptr<Connection> connection;
  // The lease is taken first: fork() waits for leases to end, so nothing
  // below (the watch's lock included) is held across a fork.
  uint64_t generation = 0;
  {
    std::unique_lock<std::mutex> lock(internal::g_pool_mutex);
    internal::BeginLease(lock);
    generation = internal::g_fork_generation.load(std::memory_order_relaxed);
    if (generation_ != generation) {
      for (std::unique_ptr<Connection>& inherited : idle_) internal::Abandon(std::move(inherited));
      idle_.clear();
      generation_ = generation;
    }
  }
  // From here the lease ends with Release(), or when the connection is
  // destroyed (dropped after an error).
  try {
    // The watch is read before the file is checked, so that a change made
    // during the check shows as a new period at a later call.
    const uint64_t epoch = watch_.Epoch(generation);
    if (!full && epoch != 0) {
      // The quick path: a connection checked in full in this period, when
      // the file was what it still is.
      const std::lock_guard<std::mutex> lock(internal::g_pool_mutex);
      for (size_t i = idle_.size(); i-- > 0;) {
        if (idle_[i]->checked_epoch() != epoch) continue;
        connection = std::move(idle_[i]);
        idle_.erase(idle_.begin() + static_cast<std::ptrdiff_t>(i));
        break;
      }
    }
    if (connection) {
      connection->set_leased(true);
      connection->BeginReadWhenNeeded();
      return connection;
    }
    const FileIdentity identity = CheckDatabaseFile(path_);
    {
      const std::lock_guard<std::mutex> lock(internal::g_pool_mutex);
      while (!idle_.empty()) {
        std::unique_ptr<Connection> candidate = std::move(idle_.back());
        idle_.pop_back();
        if (candidate->identity() == identity) {
          connection = std::move(candidate);
          break;
        }
        // A connection to an older version of the file: close it (outside
        // the lock would be nicer, but closing is quick and rare).
      }
    }
    if (!connection) connection = std::make_unique<Connection>(path_, identity, true);
    connection->set_leased(true);
    connection->set_checked_epoch(0);
    connection->BeginRead();
    connection->set_checked_epoch(epoch);
  } catch (...) {
    if (!connection) internal::EndLease();
    throw;
  }
  return connection;
}

void ReferenceDatabase::Release(std::unique_ptr<Connection> connection) {
  if (!connection) return;
  const bool reusable = connection->EndRead();
  constexpr size_t kMaxIdle = 64;
  std::lock_guard<std::mutex> lock(internal::g_pool_mutex);
  connection->set_leased(false);
  internal::EndLeaseLocked();
  if (!reusable || idle_.size() >= kMaxIdle) {
    // Closed under the lock, like every use of a connection outside a lease.
    connection.reset();
    return;
  }
  try {
    idle_.push_back(std::move(connection));
  } catch (const std::bad_alloc&) {
    // No room to keep it: the connection is closed instead (this runs in
    // destructors, where an exception would end the program).
    connection.reset();
  }
}

}  // namespace zarn::detail

namespace zarn::internal {

DatabaseSession::~DatabaseSession() {
  if (connection_) db_.Release(std::move(connection_));
}

DatabaseSession::PassScope::PassScope(DatabaseSession& session) {
  if (session.db_.policy() == DbPolicy::kOpenPerPass) {
    const FileIdentity identity = CheckDatabaseFile(session.db_.path());
    owned_ = std::make_unique<Connection>(session.db_.path(), identity, false);
    current_ = owned_.get();
    return;
  }
  if (!session.connection_) session.connection_ = session.db_.Acquire(session.full_check_);
  current_ = session.connection_.get();
}

DatabaseSession::PassScope::~PassScope() = default;

}  // namespace zarn::internal
