// Access to the reference database: street-type words and their alternate
// forms, and alternate forms of addresses with their delivery form.
//
// The file is opened read-only and never written. Connections are pooled and
// reused between calls; before each call (or batch) the file's identity and
// SQLite's data version are checked, so a file that was deleted, replaced or
// edited is seen at once. Every look-up binds its key as a parameter.
#ifndef ZARN_REFDB_REFERENCE_DATABASE_H_
#define ZARN_REFDB_REFERENCE_DATABASE_H_

#include <bit>
#include <cstdint>
#include <cstring>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "platform/file_identity.h"
#include "zarn/zarn.hpp"

struct sqlite3;
struct sqlite3_stmt;

namespace zarn::internal {

struct StreetTypeSymbols;  // format/standard_form.h

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

// FNV-1a over the UTF-16 units: the keys are mostly short words, for which
// this inlines to a few instructions per character.
struct TransparentU16Hash {
  using is_transparent = void;
  size_t operator()(std::u16string_view s) const noexcept {
    uint64_t h = 14695981039346656037ull;
    for (char16_t c : s) {
      h ^= c;
      h *= 1099511628211ull;
    }
    return static_cast<size_t>(h);
  }
};

// The memo by word of the street-type look-ups, which run for every word of
// every address: open addressing over a power-of-two slot array kept at most
// half full (a mask instead of a division). A slot holds the word's hash
// tagged with its length and, for a word of at most kShortUnits units, the
// word itself zero-padded, so that a probe for a short word compares two
// 64-bit pairs and reads no entry but the one it returns; longer words are
// compared in their entry. Entries live in a deque, so an entry stays where
// it is while the memo grows.
//
// The memo is bounded by the bytes it holds as well as by its entries: the
// owner clears it when Full(), and words longer than kMaxWordUnits (longer
// than any street-type word) are never memoised, so that a caller sending
// long distinct words cannot make it hold their text.
template <typename V>
class WordMemo {
 public:
  static constexpr size_t kShortUnits = 8;
  static constexpr size_t kMaxWordUnits = 64;
  static constexpr size_t kMaxEntries = size_t{1} << 16;
  static constexpr size_t kMaxBytes = size_t{4} << 20;

  struct Entry {
    std::u16string word;
    V value;
  };

  size_t size() const { return count_; }
  // The bytes held by the entries (and their words), without the slots,
  // whose number follows the entries'.
  size_t bytes() const { return bytes_; }
  static bool Memoisable(std::u16string_view word) { return word.size() <= kMaxWordUnits; }
  // Whether `more` further entries would take the memo over its bounds.
  bool Full(size_t more = 1) const {
    return count_ + more > kMaxEntries || bytes_ + more * kMostEntryBytes > kMaxBytes;
  }
  void clear() {
    entries_.clear();
    count_ = 0;
    bytes_ = 0;
    slots_.assign(slots_.size(), Slot{});
  }
  // The entry of `word`, added with a default value when absent.
  Entry& Find(std::u16string_view word) {
    Slot probe;
    probe.tag = Tag(word, probe.key);
    if (!slots_.empty()) {
      const size_t mask = slots_.size() - 1;
      const bool is_short = word.size() <= kShortUnits;
      for (size_t i = probe.tag & mask; slots_[i].entry != nullptr; i = (i + 1) & mask) {
        const Slot& s = slots_[i];
        if (s.tag != probe.tag) continue;
        if (is_short ? (s.key[0] == probe.key[0] && s.key[1] == probe.key[1])
                     : SameUnits(s.entry->word, word)) {
          return *s.entry;
        }
      }
    }
    if (2 * (count_ + 1) > slots_.size()) Grow();
    Entry& added = entries_.emplace_back(Entry{std::u16string(word), V{}});
    ++count_;
    bytes_ += sizeof(Entry) + word.size() * sizeof(char16_t);
    probe.entry = &added;
    Place(probe);
    return added;
  }

  // Whether two texts hold the same units (a byte comparison, which for
  // equality is the same as comparing unit by unit).
  static bool SameUnits(std::u16string_view a, std::u16string_view b) {
    return a.size() == b.size() &&
           (a.empty() || std::memcmp(a.data(), b.data(), a.size() * sizeof(char16_t)) == 0);
  }

 private:
  struct Slot {
    uint64_t tag = 0;
    uint64_t key[2] = {0, 0};  // a short word's units, zero-padded
    Entry* entry = nullptr;    // null for an empty slot
  };

  // A hash of `word` with its length in the top 16 bits; `key` receives a
  // short word's units. Short words of different lengths never share a tag,
  // so equal tags and equal keys mean equal short words.
  static uint64_t Tag(std::u16string_view word, uint64_t (&key)[2]) {
    uint64_t h;
    if (word.size() <= kShortUnits) {
      // The units zero-padded into two 64-bit words (unit i at bits 16 * (i
      // % 4) of word i / 4), read with loads that stay within the word:
      // overlapping ones for five to eight units.
      const char16_t* d = word.data();
      const size_t n = word.size();
      uint64_t k0 = 0;
      uint64_t k1 = 0;
      if constexpr (std::endian::native != std::endian::little) {
        for (size_t i = 0; i < n; ++i) {
          (i < 4 ? k0 : k1) |= static_cast<uint64_t>(d[i]) << (16 * (i % 4));
        }
      } else if (n >= 4) {
        std::memcpy(&k0, d, 8);
        if (n > 4) {
          std::memcpy(&k1, d + n - 4, 8);
          k1 >>= 16 * (8 - n);
        }
      } else if (n >= 2) {
        uint32_t two = 0;
        std::memcpy(&two, d, 4);
        k0 = two;
        if (n == 3) k0 |= static_cast<uint64_t>(d[2]) << 32;
      } else if (n == 1) {
        k0 = d[0];
      }
      key[0] = k0;
      key[1] = k1;
      h = (key[0] * 0x9E3779B97F4A7C15ull) ^ ((key[1] + word.size()) * 0xC2B2AE3D27D4EB4Full);
      h ^= h >> 29;
      h *= 0xBF58476D1CE4E5B9ull;
      h ^= h >> 32;
    } else {
      h = TransparentU16Hash{}(word);
    }
    return (h & 0x0000FFFFFFFFFFFFull) | (static_cast<uint64_t>(word.size() & 0xFFFF) << 48);
  }

  void Grow() {
    std::vector<Slot> old(slots_.empty() ? 256 : 2 * slots_.size());
    old.swap(slots_);
    for (const Slot& s : old) {
      if (s.entry != nullptr) Place(s);
    }
  }
  void Place(const Slot& slot) {
    const size_t mask = slots_.size() - 1;
    size_t i = slot.tag & mask;
    while (slots_[i].entry != nullptr) i = (i + 1) & mask;
    slots_[i] = slot;
  }

  static constexpr size_t kMostEntryBytes = sizeof(Entry) + kMaxWordUnits * sizeof(char16_t);

  std::vector<Slot> slots_;
  std::deque<Entry> entries_;
  size_t count_ = 0;  // entries_.size(), which a deque computes with divisions
  size_t bytes_ = 0;
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
  // Ends the read transaction; false when that failed (the connection
  // should then be closed rather than reused).
  bool EndRead() noexcept;

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
  // The whole StreetTypeSymbol table, read once per version of the file
  // (with the cache; on every call without). A file without the table fails
  // with the SQLite error, naming it.
  const StreetTypeSymbols& StreetTypeSymbolTable();

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
  std::unique_ptr<StreetTypeSymbols> symbols_;
  std::unique_ptr<StreetTypeSymbols> scratch_symbols_;  // the uncached path's
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
  // The fork the idle connections were opened in; guarded, like idle_, by
  // the pools' lock (see reference_database.cpp).
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

#endif  // ZARN_REFDB_REFERENCE_DATABASE_H_
