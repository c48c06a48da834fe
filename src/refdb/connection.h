// One read-only connection to the reference database, with its prepared
// look-ups and their memos. Every look-up binds its key as a parameter.
#ifndef ZARN_REFDB_CONNECTION_H_
#define ZARN_REFDB_CONNECTION_H_

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "platform/file_identity.h"
#include "refdb/memo.h"

struct sqlite3;
struct sqlite3_stmt;

namespace zarn::internal {

struct Gazetteer;  // refdb/gazetteer.h

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

// One row of the StreetTypeSymbol table as stored (nullopt for Null; a
// number as its text).
struct SymbolRow {
  std::optional<std::string> street_type;
  std::optional<std::string> language;
  std::optional<std::string> symbol;
};

// The delivery columns of an alternate street address row.
struct DeliveryRow {
  DbText street;
  DbText number;
  DbText type;
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
  // Whether the connection is leased from a pool (see ReferenceDatabase):
  // its destruction then ends the lease.
  void set_leased(bool leased) { leased_ = leased; }
  // Drops every cached answer when another connection changed the file.
  void CheckDataVersion();
  // Starts a read transaction, so that every look-up until EndRead() sees
  // the same version of the file even while another process edits it, then
  // checks the data version against that snapshot.
  void BeginRead();
  // For a call made while the file is known not to have changed since this
  // connection's last full check (see ReferenceDatabase::Acquire): the read
  // transaction is begun only if a look-up has to read the file, before its
  // first statement. If the data version found then is not the one the
  // cached answers belong to, the file changed after the call began, when
  // answers of the old version may already have been used: that look-up
  // throws FileChangedDuringCall, and the call is made again from the start
  // with a full check.
  void BeginReadWhenNeeded() { read_pending_ = true; }
  // Ends the read transaction; false when that failed (the connection
  // should then be closed rather than reused).
  bool EndRead() noexcept;
  // The watch's period (FileWatch::Epoch) in which the file was last checked
  // in full through this connection; 0 for none.
  uint64_t checked_epoch() const { return checked_epoch_; }
  void set_checked_epoch(uint64_t epoch) { checked_epoch_ = epoch; }

  // Whether the StreetType table has a row for `token`.
  bool StreetTypeExists(std::u16string_view token);
  // The StreetTypeDesc of the first qryAlternateStreetTypes row for `token`,
  // or nullptr when there is none.
  const DbText* AlternateStreetType(std::u16string_view token);
  // The same two look-ups for the words 1..n of one parse: call StartWords(n)
  // first; the cache then finds each word once for both look-ups.
  void StartWords(int n);
  bool StreetTypeExists(std::u16string_view token, int word);
  const DbText* AlternateStreetType(std::u16string_view token, int word);
  // The memo entry of one word for both look-ups: found once with FindWord
  // (after ReserveWords(n) for the n words of a parse, so that no entry is
  // cleared away while the parse holds it), then asked both questions.
  // FindWord gives null without a cache, which the two look-ups accept.
  struct StreetTypeEntry {
    int8_t in_table = -1;  // -1 not looked up yet, 0 no, 1 yes
    int8_t has_alternate = -1;
    DbText alternate;
  };
  void ReserveWords(int n);
  StreetTypeEntry* FindWord(std::u16string_view token);
  bool StreetTypeExists(StreetTypeEntry* entry, std::u16string_view token);
  const DbText* AlternateStreetType(StreetTypeEntry* entry, std::u16string_view token);
  // The first AlternateAddress row of type 4 for `key`, or nullptr.
  const DeliveryRow* AlternateStreetAddress(std::u16string_view key);
  // The DeliveryAddress of the first AlternateAddress row of type 1 for
  // `key`, or nullptr.
  const DbText* AlternateDeliveryAddress(std::u16string_view key);
  // False when the look-up of that kind finds nothing whatever the key (the
  // cache knows the table holds no row of the type), so that the caller need
  // not build a key. Fails as the look-up itself would.
  bool MayFindAlternateStreetAddress();
  bool MayFindAlternateDeliveryAddress();
  // The rows of the StreetTypeSymbol table in its order, read once per
  // version of the file (with the cache; on every call without). A file
  // without the table fails with the SQLite error, naming it.
  const std::vector<SymbolRow>& StreetTypeSymbolRows();
  // What a layer above makes of those rows (the standard form's table by
  // street type), kept here until the rows are read again.
  std::shared_ptr<const void>& MadeFromSymbolRows() { return made_from_symbols_; }
  // The gazetteer of the Municipality table, read once per version of the
  // file (with the cache; on every call without). A file without the table
  // gives an empty gazetteer whose `present` is false.
  const Gazetteer& GazetteerTable();

 private:
  struct Statement;
  template <typename V>
  using Memo = std::unordered_map<std::u16string, V, TransparentU16Hash, std::equal_to<>>;

  sqlite3_stmt* Prepare(int which);
  // Whether `sql` returns a row.
  bool AnyRow(const char* sql);
  // A keyed look-up of the first row, through the cache when enabled; `read`
  // fills a Row from the statement's current row.
  template <typename Row, typename Read>
  const Row* KeyedLookup(int which, const char* any_row_sql, int8_t& has_rows,
                         Memo<std::optional<Row>>& memo, size_t& memo_bytes, Row& scratch,
                         std::u16string_view key, Read read);
  bool MayFind(int which, const char* any_row_sql, int8_t& has_rows);
  [[noreturn]] void Fail(int rc, const char* what);
  // Begins the read transaction put off by BeginReadWhenNeeded(), if any:
  // called before a statement reads the file.
  void ReadFile() {
    if (read_pending_) BeginPendingRead();
  }
  void BeginPendingRead();
  void StartTransaction();
  // A new entry for `key`, which the memo does not hold.
  template <typename V>
  V& NewMemoSlot(Memo<V>& memo, size_t& bytes, std::u16string_view key);
  StreetTypeEntry* WordEntry(std::u16string_view token, int word);

  std::string path_;
  FileIdentity identity_;
  bool cache_;
  bool leased_ = false;
  sqlite3* db_ = nullptr;
  sqlite3_stmt* statements_[5] = {};
  sqlite3_stmt* version_statement_ = nullptr;
  sqlite3_stmt* begin_statement_ = nullptr;
  sqlite3_stmt* commit_statement_ = nullptr;
  long long data_version_ = -1;
  uint64_t checked_epoch_ = 0;
  bool read_pending_ = false;
  // -1 not known yet, 0 the table has no rows of that type, 1 it has some.
  int8_t has_street_rows_ = -1;
  int8_t has_delivery_rows_ = -1;

  WordMemo<StreetTypeEntry> street_types_;
  // The memo entries of the current parse's words (StartWords), by number.
  std::vector<WordMemo<StreetTypeEntry>::Entry*> word_entries_;
  Memo<std::optional<DeliveryRow>> street_addresses_;
  Memo<std::optional<DbText>> delivery_addresses_;
  // The bytes of the keys held by the two memos above.
  size_t street_address_bytes_ = 0;
  size_t delivery_address_bytes_ = 0;
  std::optional<std::vector<SymbolRow>> symbol_rows_;
  std::shared_ptr<const void> made_from_symbols_;
  std::unique_ptr<Gazetteer> gazetteer_;
  std::unique_ptr<Gazetteer> scratch_gazetteer_;  // the uncached path's
  // Scratch results for the uncached path.
  DbText scratch_text_;
  DeliveryRow scratch_row_;
};

// Thrown by a look-up that finds the file changed since its call began, when
// that call skipped the full check (see Connection::BeginReadWhenNeeded).
// Not a zarn::Error: DatabaseSession catches it and makes the call again.
struct FileChangedDuringCall {};

// Raises the error for a file that cannot be used, or returns its identity.
FileIdentity CheckDatabaseFile(const std::string& path);

// Ends a connection's lease from its pool (see refdb/pool.cpp): called when
// a leased connection is destroyed instead of given back.
void EndLease();

}  // namespace zarn::internal

#endif  // ZARN_REFDB_CONNECTION_H_
