// The reference database shared by copies of one parser: its pool of idle
// connections, and the session through which one parse or batch uses it.
// Before each call (or batch) the file's identity and SQLite's data version
// are checked, so a file that was deleted, replaced or edited is seen at once.
#ifndef ZARN_REFDB_POOL_H_
#define ZARN_REFDB_POOL_H_

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

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
  // ends the transaction.
  std::unique_ptr<internal::Connection> Acquire();
  void Release(std::unique_ptr<internal::Connection> connection);

 private:
  std::string path_;
  internal::DbPolicy policy_;
  // The fork the idle connections were opened in; guarded, like idle_, by
  // the pools' lock (see pool.cpp).
  uint64_t generation_ = 0;
  std::vector<std::unique_ptr<internal::Connection>> idle_;
};

}  // namespace zarn::detail

namespace zarn::internal {

// What the database passes of one parse (or one batch of parses) talk to.
// With kCached it leases one checked connection from the pool at the first
// pass and holds it until it ends, giving it back unless a database error
// made it suspect. With kOpenPerPass every pass opens and closes its own.
class DatabaseSession {
 public:
  explicit DatabaseSession(detail::ReferenceDatabase& db) : db_(db) {}
  ~DatabaseSession();
  DatabaseSession(const DatabaseSession&) = delete;
  DatabaseSession& operator=(const DatabaseSession&) = delete;

  // Drops the leased connection; the next pass leases a fresh one.
  void DropConnection() { connection_.reset(); }

  // Runs `work` and returns what it returns. If it throws, the leased
  // connection is dropped before the exception goes on, unless the error is
  // the address's own, which leaves the connection good for the next call.
  template <class Work>
  decltype(auto) DropConnectionOnError(Work&& work) {
    try {
      return work();
    } catch (const Error& e) {
      if (!IsAddressError(e.Number())) DropConnection();
      throw;
    } catch (...) {
      DropConnection();
      throw;
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
};

}  // namespace zarn::internal

#endif  // ZARN_REFDB_POOL_H_
