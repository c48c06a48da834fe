#include "refdb/pool.h"

#include <new>
#include <utility>

namespace zarn::detail {

using internal::CheckDatabaseFile;
using internal::Connection;
using internal::DbPolicy;
using internal::FileIdentity;

ReferenceDatabase::ReferenceDatabase(std::string path, DbPolicy policy)
    : path_(std::move(path)), policy_(policy) {}

ReferenceDatabase::~ReferenceDatabase() = default;

std::unique_ptr<Connection> ReferenceDatabase::Acquire() {
  const FileIdentity identity = CheckDatabaseFile(path_);
  std::unique_ptr<Connection> connection;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    while (!idle_.empty()) {
      std::unique_ptr<Connection> candidate = std::move(idle_.back());
      idle_.pop_back();
      if (candidate->identity() == identity) {
        connection = std::move(candidate);
        break;
      }
      // A connection to an older version of the file: close it (outside the
      // lock would be nicer, but closing is quick and rare).
    }
  }
  if (!connection) connection = std::make_unique<Connection>(path_, identity, true);
  connection->BeginRead();
  return connection;
}

void ReferenceDatabase::Release(std::unique_ptr<Connection> connection) {
  if (!connection || !connection->EndRead()) return;
  constexpr size_t kMaxIdle = 64;
  std::lock_guard<std::mutex> lock(mutex_);
  if (idle_.size() >= kMaxIdle) return;
  try {
    idle_.push_back(std::move(connection));
  } catch (const std::bad_alloc&) {
    // No room to keep it: the connection is closed instead (this runs in
    // destructors, where an exception would end the program).
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
  if (!session.connection_) session.connection_ = session.db_.Acquire();
  current_ = session.connection_.get();
}

DatabaseSession::PassScope::~PassScope() = default;

}  // namespace zarn::internal
