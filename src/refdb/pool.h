// The reference database shared by copies of one parser: its pool of idle
// connections, and the session through which one parse or batch uses it.
// Before each call (or batch) the file's identity and SQLite's data version
// are checked, so a file that was deleted, replaced or edited is seen at once;
// while a watch on the file (platform/file_watch.h) has seen nothing happen
// to it since a connection's last full check, a single call skips that check.
#ifndef ZARN_REFDB_POOL_H_
#define ZARN_REFDB_POOL_H_

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/file_watch.h"
#include "refdb/connection.h"
#include "zarn/zarn.hpp"

namespace zarn::detail {

// The database shared by copies of one ZarnAddress: its path, policy and
// pool of idle connections.
class ReferenceDatabase {
 public:
  explicit ReferenceDatabase(std::string path,
                             internal::DbPolicy policy = internal::DbPolicy::kCached);
  ~ReferenceDatabase();

  const std::string& path() const { return path_; }
  internal::DbPolicy policy() const { return policy_; }

  // A connection checked against the file as it is now, inside a read
  // transaction for one parse or batch; give it back with Release(), which
  // ends the transaction. With `full` false (one call, which can be made
  // again) an idle connection checked in full since the last change the
  // watch saw is taken as it is, its transaction begun only if the call
  // reads the file (Connection::BeginReadWhenNeeded).
  std::unique_ptr<internal::Connection> Acquire(bool full = true);
  void Release(std::unique_ptr<internal::Connection> connection);

 private:
  std::string path_;
  internal::DbPolicy policy_;
  // The fork the idle connections were opened in; guarded, like idle_, by
  // the pools' lock (see pool.cpp).
  uint64_t generation_ = 0;
  std::vector<std::unique_ptr<internal::Connection>> idle_;
  internal::FileWatch watch_;
};

}  // namespace zarn::detail

namespace zarn::internal {

// What the database passes of one parse (or one batch of parses) talk to.
// With kCached it leases one checked connection from the pool at the first
// pass and holds it until it ends, giving it back unless a database error
// made it suspect. With kOpenPerPass every pass opens and closes its own.
class DatabaseSession {
 public:
  // kOneCall: a single parse or standardisation, which may skip the full
  // check of the file while its watch has seen no change (the work passed
  // to DropConnectionOnError is then made again, with the full check, if
  // the file turns out to have changed during it). kBatch: many calls
  // through one connection and one read transaction, checked in full.
  enum class Use { kOneCall, kBatch };
  explicit DatabaseSession(detail::ReferenceDatabase& db, Use use = Use::kOneCall)
      : db_(db), full_check_(use == Use::kBatch) {}
  ~DatabaseSession();
  DatabaseSession(const DatabaseSession&) = delete;
  DatabaseSession& operator=(const DatabaseSession&) = delete;

  // Drops the leased connection; the next pass leases a fresh one.
  void DropConnection() { connection_.reset(); }

  // Runs `work` and returns what it returns. If it throws, the leased
  // connection is dropped before the exception goes on, unless the error is
  // the address's own, which leaves the connection good for the next call.
  // If the file changed while `work` ran without the full check, `work` is
  // run again from the start with it: it must leave nothing behind that a
  // second run would not overwrite.
  template <class Work>
  decltype(auto) DropConnectionOnError(Work&& work) {
    for (;;) {
      try {
        return work();
      } catch (const FileChangedDuringCall&) {
        DropConnection();
        full_check_ = true;
      } catch (const Error& e) {
        if (!IsAddressError(e.Number())) DropConnection();
        throw;
      } catch (...) {
        DropConnection();
        throw;
      }
    }
  }

  // The database for one pass: opened (kOpenPerPass) or leased (kCached)
  // when the scope starts; closed when it ends, whether the pass succeeded
  // or not.
  class PassScope {
   public:
    explicit PassScope(DatabaseSession& session);
    ~PassScope();
    PassScope(const PassScope&) = delete;
    PassScope& operator=(const PassScope&) = delete;
    Connection& connection() { return *current_; }

   private:
    std::unique_ptr<Connection> owned_;
    Connection* current_ = nullptr;
  };

 private:
  detail::ReferenceDatabase& db_;
  std::unique_ptr<Connection> connection_;
  bool full_check_;
};

}  // namespace zarn::internal

#endif  // ZARN_REFDB_POOL_H_
