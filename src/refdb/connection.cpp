#include "refdb/connection.h"

#include <sqlite3.h>

#include <cstdio>
#include <new>
#include <utility>

#include "refdb/gazetteer.h"
#include "zarn/zarn.hpp"

namespace zarn::internal {

namespace {

// Bounded wait for a writer in another process to finish.
constexpr int kBusyTimeoutMs = 2000;
// Look-up caches are cleared rather than allowed to grow without bound: by
// entries and by the bytes of their keys. Keys longer than kMaxMemoKeyUnits
// (whole addresses no alternate form is likely to hold) are looked up
// without being memoised.
constexpr size_t kMaxMemoEntries = 1 << 16;
constexpr size_t kMaxMemoKeyBytes = size_t{2} << 20;
constexpr size_t kMaxMemoKeyUnits = 256;

enum StatementId {
  kStreetTypeLookup,
  kAlternateStreetTypeLookup,
  kAlternateStreetAddressLookup,
  kAlternateDeliveryAddressLookup,
  kAnyRowCheck,
};

// The look-ups, with the key bound as parameter 1 instead of pasted between
// quotes, so that no key can change what a statement means.
const char* const kStatements[] = {
    "SELECT streettypeid FROM StreetType WHERE StreetTypeDesc=?1",
    "SELECT StreetTypeDesc FROM qryAlternateStreetTypes WHERE AlternateDeliveryAddress=?1",
    "SELECT  DeliveryStreet, DeliveryNumber, DeliveryType FROM AlternateAddress WHERE "
    "AlternateDeliveryAddress=?1 AND AlternateAddressTypeid=4",
    "SELECT DeliveryAddress FROM AlternateAddress WHERE AlternateDeliveryAddress=?1 AND "
    "AlternateAddressTypeID=1",
    nullptr,
};
// Whether any row of a type exists: with none, every keyed look-up of that
// type finds nothing, and no statement needs to run per key.
const char* const kAnyStreetRow =
    "SELECT 1 FROM AlternateAddress WHERE AlternateAddressTypeid=4 LIMIT 1";
const char* const kAnyDeliveryRow =
    "SELECT 1 FROM AlternateAddress WHERE AlternateAddressTypeID=1 LIMIT 1";

const char* const kWhat[] = {
    "looking up a street type in StreetType",
    "looking up an alternate street type in qryAlternateStreetTypes",
    "looking up an alternate street address in AlternateAddress",
    "looking up an alternate delivery address in AlternateAddress",
    "reading AlternateAddress",
};

[[noreturn]] void ThrowDbError(sqlite3* db, int rc, const std::string& path, const char* what) {
  int number = rc;
  std::string detail = sqlite3_errstr(rc);
  if (db != nullptr) {
    number = sqlite3_extended_errcode(db);
    if (number == 0) number = rc;
    detail = sqlite3_errmsg(db);
  }
  if (rc == SQLITE_NOMEM) throw std::bad_alloc();
  throw Error(number, "reference database \"" + path + "\": " + what + ": " + detail);
}

void ReadText(sqlite3_stmt* stmt, int column, DbText& out) {
  out.text.clear();
  switch (sqlite3_column_type(stmt, column)) {
    case SQLITE_NULL: out.is_null = true; return;
    case SQLITE_FLOAT: {
      // A number becomes its shortest decimal text ("12", "1.5").
      char buffer[40];
      std::snprintf(buffer, sizeof buffer, "%.15g", sqlite3_column_double(stmt, column));
      for (const char* p = buffer; *p != '\0'; ++p) out.text += static_cast<char16_t>(*p);
      out.is_null = false;
      return;
    }
    default: {
      const void* data = sqlite3_column_text16(stmt, column);
      if (data == nullptr) throw std::bad_alloc();
      const int bytes = sqlite3_column_bytes16(stmt, column);
      out.text.assign(static_cast<const char16_t*>(data), static_cast<size_t>(bytes) / 2);
      out.is_null = false;
      return;
    }
  }
}

// Resets a statement when a look-up ends, however it ends.
class StepGuard {
 public:
  explicit StepGuard(sqlite3_stmt* stmt) : stmt_(stmt) {}
  ~StepGuard() {
    sqlite3_reset(stmt_);
    sqlite3_clear_bindings(stmt_);
  }
  StepGuard(const StepGuard&) = delete;
  StepGuard& operator=(const StepGuard&) = delete;

 private:
  sqlite3_stmt* stmt_;
};

// The operating system's own VFS, except that it never creates a rollback
// journal or a write-ahead log beside the file. A read-only connection to a
// file in WAL mode would otherwise create an empty "-wal" file and leave it
// there; without it, SQLite reports that it cannot open the file instead.
// Temporary files (no name of their own) are still created as usual.
sqlite3_vfs* g_base_vfs = nullptr;

int OpenWithoutCreating(sqlite3_vfs*, sqlite3_filename name, sqlite3_file* file, int flags,
                        int* out_flags) {
  constexpr int kBesideTheFile =
      SQLITE_OPEN_WAL | SQLITE_OPEN_MAIN_JOURNAL | SQLITE_OPEN_SUPER_JOURNAL;
  if ((flags & kBesideTheFile) != 0) flags &= ~SQLITE_OPEN_CREATE;
  return g_base_vfs->xOpen(g_base_vfs, name, file, flags, out_flags);
}

const char* ReadOnlyVfsName() {
  static const char* const name = [] {
    static sqlite3_vfs vfs;
    sqlite3_initialize();
    g_base_vfs = sqlite3_vfs_find(nullptr);
    if (g_base_vfs == nullptr) return static_cast<const char*>(nullptr);
    vfs = *g_base_vfs;
    vfs.zName = "zarn-no-create";
    vfs.pNext = nullptr;
    vfs.xOpen = OpenWithoutCreating;
    if (sqlite3_vfs_register(&vfs, 0) != SQLITE_OK) return static_cast<const char*>(nullptr);
    return vfs.zName;
  }();
  return name;
}

}  // namespace

FileIdentity CheckDatabaseFile(const std::string& path) {
  FileIdentity identity;
  std::string reason;
  switch (GetFileIdentity(path, identity, reason)) {
    case FileProblem::kNone: return identity;
    case FileProblem::kMissing:
    case FileProblem::kNotAFile:
    case FileProblem::kOther: break;
  }
  throw Error(SQLITE_CANTOPEN,
              "reference database \"" + path + "\": cannot open the file: " + reason);
}

Connection::Connection(const std::string& path, const FileIdentity& identity, bool cache)
    : path_(path), identity_(identity), cache_(cache) {
  const int rc = sqlite3_open_v2(path.c_str(), &db_, SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX,
                                 ReadOnlyVfsName());
  if (rc != SQLITE_OK) {
    if (db_ == nullptr) ThrowDbError(nullptr, rc, path_, "cannot open the file");
    try {
      ThrowDbError(db_, rc, path_, "cannot open the file");
    } catch (...) {
      sqlite3_close_v2(db_);
      db_ = nullptr;
      throw;
    }
  }
  sqlite3_extended_result_codes(db_, 1);
  sqlite3_busy_timeout(db_, kBusyTimeoutMs);
}

Connection::~Connection() {
  for (sqlite3_stmt* stmt : statements_) sqlite3_finalize(stmt);
  sqlite3_finalize(version_statement_);
  sqlite3_finalize(begin_statement_);
  sqlite3_finalize(commit_statement_);
  // Errors while closing are of no consequence to the caller.
  sqlite3_close_v2(db_);
  if (leased_) EndLease();
}

void Connection::Fail(int rc, const char* what) { ThrowDbError(db_, rc, path_, what); }

sqlite3_stmt* Connection::Prepare(int which) {
  if (statements_[which] != nullptr) return statements_[which];
  ReadFile();
  sqlite3_stmt* stmt = nullptr;
  const int rc = sqlite3_prepare_v3(db_, kStatements[which], -1,
                                    cache_ ? SQLITE_PREPARE_PERSISTENT : 0, &stmt, nullptr);
  if (rc != SQLITE_OK) {
    sqlite3_finalize(stmt);
    Fail(rc, kWhat[which]);
  }
  statements_[which] = stmt;
  return stmt;
}

void Connection::CheckDataVersion() {
  // Prepared once per connection: this runs before every call.
  int rc = SQLITE_OK;
  if (version_statement_ == nullptr) {
    rc = sqlite3_prepare_v3(db_, "PRAGMA data_version", -1, SQLITE_PREPARE_PERSISTENT,
                            &version_statement_, nullptr);
    if (rc != SQLITE_OK) {
      sqlite3_finalize(version_statement_);
      version_statement_ = nullptr;
      Fail(rc, "checking the file for changes");
    }
  }
  long long version = -1;
  rc = sqlite3_step(version_statement_);
  if (rc == SQLITE_ROW) {
    version = sqlite3_column_int64(version_statement_, 0);
    rc = SQLITE_OK;
  }
  sqlite3_reset(version_statement_);
  if (rc != SQLITE_OK) Fail(rc, "checking the file for changes");
  if (version != data_version_) {
    street_types_.clear();
    street_addresses_.clear();
    delivery_addresses_.clear();
    street_address_bytes_ = delivery_address_bytes_ = 0;
    symbol_rows_.reset();
    made_from_symbols_.reset();
    gazetteer_.reset();
    has_street_rows_ = has_delivery_rows_ = -1;
    data_version_ = version;
  }
}

void Connection::StartTransaction() {
  // BEGIN and COMMIT run on every call that reads the file: prepared once
  // per connection.
  int rc = SQLITE_OK;
  for (auto [stmt, sql] : {std::pair{&begin_statement_, "BEGIN"}, {&commit_statement_, "COMMIT"}}) {
    if (*stmt == nullptr) {
      rc = sqlite3_prepare_v3(db_, sql, -1, SQLITE_PREPARE_PERSISTENT, stmt, nullptr);
      if (rc != SQLITE_OK) {
        sqlite3_finalize(*stmt);
        *stmt = nullptr;
        Fail(rc, "starting a read transaction");
      }
    }
  }
  rc = sqlite3_step(begin_statement_);
  sqlite3_reset(begin_statement_);
  if (rc != SQLITE_DONE) Fail(rc, "starting a read transaction");
}

void Connection::BeginRead() {
  read_pending_ = false;
  StartTransaction();
  CheckDataVersion();
}

void Connection::BeginPendingRead() {
  read_pending_ = false;
  const long long before = data_version_;
  StartTransaction();
  CheckDataVersion();
  if (data_version_ != before) throw FileChangedDuringCall{};
}

bool Connection::EndRead() noexcept {
  read_pending_ = false;
  if (sqlite3_get_autocommit(db_) != 0) return true;
  const int rc = sqlite3_step(commit_statement_);
  sqlite3_reset(commit_statement_);
  return rc == SQLITE_DONE;
}

template <typename V>
V& Connection::NewMemoSlot(Memo<V>& memo, size_t& bytes, std::u16string_view key) {
  const size_t key_bytes = key.size() * sizeof(char16_t);
  if (memo.size() >= kMaxMemoEntries || bytes + key_bytes > kMaxMemoKeyBytes) {
    memo.clear();
    bytes = 0;
  }
  bytes += key_bytes;
  return memo.emplace(std::u16string(key), V{}).first->second;
}

namespace {

// Binds `key`, steps once, and returns true when the statement found a row.
bool StepKeyed(sqlite3_stmt* stmt, std::u16string_view key, int& rc) {
  rc = sqlite3_bind_text16(stmt, 1, key.empty() ? u"" : key.data(),
                           static_cast<int>(key.size() * sizeof(char16_t)), SQLITE_TRANSIENT);
  if (rc != SQLITE_OK) return false;
  rc = sqlite3_step(stmt);
  if (rc == SQLITE_ROW) {
    rc = SQLITE_OK;
    return true;
  }
  if (rc == SQLITE_DONE) rc = SQLITE_OK;
  return false;
}

}  // namespace

void Connection::ReserveWords(int n) {
  // Make room for every word now, so that no entry of this parse is cleared
  // away while the later words are looked up.
  if (cache_ && street_types_.Full(static_cast<size_t>(n < 0 ? 0 : n))) street_types_.clear();
}

void Connection::StartWords(int n) {
  word_entries_.assign(static_cast<size_t>(n < 0 ? 0 : n) + 1, nullptr);
  ReserveWords(n);
}

Connection::StreetTypeEntry* Connection::FindWord(std::u16string_view token) {
  if (!cache_ || !WordMemo<StreetTypeEntry>::Memoisable(token)) return nullptr;
  if (street_types_.Full()) street_types_.clear();
  return &street_types_.Find(token).value;
}

Connection::StreetTypeEntry* Connection::WordEntry(std::u16string_view token, int word) {
  if (!cache_ || !WordMemo<StreetTypeEntry>::Memoisable(token)) return nullptr;
  if (word <= 0 || static_cast<size_t>(word) >= word_entries_.size()) return FindWord(token);
  auto*& found = word_entries_[static_cast<size_t>(word)];
  if (found == nullptr || !WordMemo<StreetTypeEntry>::SameUnits(found->word, token)) {
    if (street_types_.Full()) street_types_.clear();
    found = &street_types_.Find(token);
  }
  return &found->value;
}

bool Connection::StreetTypeExists(std::u16string_view token) { return StreetTypeExists(token, 0); }

const DbText* Connection::AlternateStreetType(std::u16string_view token) {
  return AlternateStreetType(token, 0);
}

bool Connection::StreetTypeExists(std::u16string_view token, int word) {
  return StreetTypeExists(WordEntry(token, word), token);
}

const DbText* Connection::AlternateStreetType(std::u16string_view token, int word) {
  return AlternateStreetType(WordEntry(token, word), token);
}

bool Connection::StreetTypeExists(StreetTypeEntry* entry, std::u16string_view token) {
  if (entry != nullptr && entry->in_table >= 0) return entry->in_table == 1;
  ReadFile();
  sqlite3_stmt* stmt = Prepare(kStreetTypeLookup);
  StepGuard guard(stmt);
  int rc = SQLITE_OK;
  const bool found = StepKeyed(stmt, token, rc);
  if (rc != SQLITE_OK) Fail(rc, kWhat[kStreetTypeLookup]);
  if (entry != nullptr) entry->in_table = found ? 1 : 0;
  return found;
}

const DbText* Connection::AlternateStreetType(StreetTypeEntry* entry, std::u16string_view token) {
  if (entry != nullptr && entry->has_alternate >= 0) {
    return entry->has_alternate == 1 ? &entry->alternate : nullptr;
  }
  ReadFile();
  sqlite3_stmt* stmt = Prepare(kAlternateStreetTypeLookup);
  StepGuard guard(stmt);
  int rc = SQLITE_OK;
  const bool found = StepKeyed(stmt, token, rc);
  if (rc != SQLITE_OK) Fail(rc, kWhat[kAlternateStreetTypeLookup]);
  DbText& out = entry != nullptr ? entry->alternate : scratch_text_;
  if (found) ReadText(stmt, 0, out);
  if (entry != nullptr) entry->has_alternate = found ? 1 : 0;
  return found ? &out : nullptr;
}

bool Connection::AnyRow(const char* sql) {
  ReadFile();
  sqlite3_stmt* any = nullptr;
  int rc = sqlite3_prepare_v2(db_, sql, -1, &any, nullptr);
  if (rc == SQLITE_OK) rc = sqlite3_step(any);
  sqlite3_finalize(any);
  if (rc != SQLITE_ROW && rc != SQLITE_DONE) Fail(rc, kWhat[kAnyRowCheck]);
  return rc == SQLITE_ROW;
}

template <typename Row, typename Read>
const Row* Connection::KeyedLookup(int which, const char* any_row_sql, int8_t& has_rows,
                                   Memo<std::optional<Row>>& memo, size_t& memo_bytes, Row& scratch,
                                   std::u16string_view key, Read read) {
  // Prepared first so that a missing table or column fails the look-up even
  // when the shortcuts below would answer it.
  sqlite3_stmt* stmt = Prepare(which);
  const bool memoised = cache_ && key.size() <= kMaxMemoKeyUnits;
  if (cache_) {
    if (has_rows < 0) has_rows = AnyRow(any_row_sql) ? 1 : 0;
    if (has_rows == 0) return nullptr;
  }
  if (memoised) {
    auto it = memo.find(key);
    if (it != memo.end()) return it->second ? &*it->second : nullptr;
  }
  ReadFile();
  StepGuard guard(stmt);
  int rc = SQLITE_OK;
  const bool found = StepKeyed(stmt, key, rc);
  if (rc != SQLITE_OK) Fail(rc, kWhat[which]);
  Row* out = &scratch;
  if (memoised) {
    std::optional<Row>& slot = NewMemoSlot(memo, memo_bytes, key);  // not found in it above
    if (!found) return nullptr;
    out = &slot.emplace();
  } else if (!found) {
    return nullptr;
  }
  read(stmt, *out);
  return out;
}

bool Connection::MayFind(int which, const char* any_row_sql, int8_t& has_rows) {
  Prepare(which);  // as in KeyedLookup: a missing table fails here
  if (!cache_) return true;
  if (has_rows < 0) has_rows = AnyRow(any_row_sql) ? 1 : 0;
  return has_rows != 0;
}

bool Connection::MayFindAlternateStreetAddress() {
  return MayFind(kAlternateStreetAddressLookup, kAnyStreetRow, has_street_rows_);
}

bool Connection::MayFindAlternateDeliveryAddress() {
  return MayFind(kAlternateDeliveryAddressLookup, kAnyDeliveryRow, has_delivery_rows_);
}

const DeliveryRow* Connection::AlternateStreetAddress(std::u16string_view key) {
  return KeyedLookup(kAlternateStreetAddressLookup, kAnyStreetRow, has_street_rows_,
                     street_addresses_, street_address_bytes_, scratch_row_, key,
                     [](sqlite3_stmt* stmt, DeliveryRow& row) {
                       ReadText(stmt, 0, row.street);
                       ReadText(stmt, 1, row.number);
                       ReadText(stmt, 2, row.type);
                     });
}

const DbText* Connection::AlternateDeliveryAddress(std::u16string_view key) {
  return KeyedLookup(kAlternateDeliveryAddressLookup, kAnyDeliveryRow, has_delivery_rows_,
                     delivery_addresses_, delivery_address_bytes_, scratch_text_, key,
                     [](sqlite3_stmt* stmt, DbText& text) { ReadText(stmt, 0, text); });
}

}  // namespace zarn::internal
