// Access to the reference database: street-type words and their alternate
// forms, and alternate forms of addresses with their delivery form.
//
// The file is opened read-only and never written. Connections are pooled and
// reused between calls; before each call (or batch) the file's identity and
// SQLite's data version are checked, so a file that was deleted, replaced or
// edited is seen at once. Every look-up binds its key as a parameter.
#ifndef ZARN_REFDB_REFERENCE_DATABASE_H_
#define ZARN_REFDB_REFERENCE_DATABASE_H_

#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "platform/file_identity.h"

struct sqlite3;
struct sqlite3_stmt;

namespace zarn::internal {

// How the parser reaches the file.
enum class DbPolicy {
  // Pooled connections, prepared statements and look-up caches, all checked
  // against the file before every call.
  kCached,
  // Every database pass opens the file, runs plain statements and closes it
  // again, and nothing is cached. Slow; kept to measure against and to check
  // the cached path.
  kOpenPerPass,
};

// A text value read from the database: Null or text.
struct DbText {
  bool is_null = false;
  std::u16string text;
};

// The delivery columns of an alternate street address row.
struct DeliveryRow {
  DbText street;
  DbText number;
  DbText type;
};

struct TransparentU16Hash {
  using is_transparent = void;
  size_t operator()(std::u16string_view s) const noexcept {
    return std::hash<std::u16string_view>{}(s);
  }
};

// One open connection with its statements and caches. Used by one thread at
// a time.
class Connection {
 public:
  Connection(const std::string& path, const FileIdentity& identity, bool cache);
  ~Connection();
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  const FileIdentity& identity() const { return identity_; }
  // Drops every cached answer when another connection changed the file.
  void CheckDataVersion();
  // Starts a read transaction, so that every look-up until EndRead() sees
  // the same version of the file even while another process edits it, then
  // checks the data version against that snapshot.
  void BeginRead();
  // Ends the read transaction; false when that failed (the connection
  // should then be closed rather than reused).
  bool EndRead() noexcept;

  // Whether the StreetType table has a row for `token`.
  bool StreetTypeExists(std::u16string_view token);
  // The StreetTypeDesc of the first qryAlternateStreetTypes row for `token`,
  // or nullptr when there is none.
  const DbText* AlternateStreetType(std::u16string_view token);
  // The first AlternateAddress row of type 4 for `key`, or nullptr.
  const DeliveryRow* AlternateStreetAddress(std::u16string_view key);
  // The DeliveryAddress of the first AlternateAddress row of type 1 for
  // `key`, or nullptr.
  const DbText* AlternateDeliveryAddress(std::u16string_view key);

 private:
  struct Statement;
  struct StreetTypeEntry {
    int8_t in_table = -1;  // -1 not looked up yet, 0 no, 1 yes
    int8_t has_alternate = -1;
    DbText alternate;
  };
  template <typename V>
  using Memo = std::unordered_map<std::u16string, V, TransparentU16Hash, std::equal_to<>>;

  sqlite3_stmt* Prepare(int which);
  // Whether `sql` returns a row.
  bool AnyRow(const char* sql);
  // A keyed look-up of the first row, through the cache when enabled; `read`
  // fills a Row from the statement's current row.
  template <typename Row, typename Read>
  const Row* KeyedLookup(int which, const char* any_row_sql, int8_t& has_rows,
                         Memo<std::optional<Row>>& memo, Row& scratch, std::u16string_view key,
                         Read read);
  [[noreturn]] void Fail(int rc, const char* what);
  template <typename V>
  V& MemoSlot(Memo<V>& memo, std::u16string_view key);

  std::string path_;
  FileIdentity identity_;
  bool cache_;
  sqlite3* db_ = nullptr;
  sqlite3_stmt* statements_[5] = {};
  long long data_version_ = -1;
  // -1 not known yet, 0 the table has no rows of that type, 1 it has some.
  int8_t has_street_rows_ = -1;
  int8_t has_delivery_rows_ = -1;

  Memo<StreetTypeEntry> street_types_;
  Memo<std::optional<DeliveryRow>> street_addresses_;
  Memo<std::optional<DbText>> delivery_addresses_;
  // Scratch results for the uncached path.
  DbText scratch_text_;
  DeliveryRow scratch_row_;
};

// Raises the error for a file that cannot be used, or returns its identity.
FileIdentity CheckDatabaseFile(const std::string& path);

}  // namespace zarn::internal

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
  std::mutex mutex_;
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

#endif  // ZARN_REFDB_REFERENCE_DATABASE_H_
