// Differential tests of the fast path to the reference database: every
// look-up through a caching connection (memo tables, prepared statements)
// must give exactly what the plain statements give on a connection that
// caches nothing, as the open-per-pass policy uses. Covers every key of the
// bundled database in several letter cases, random and adversarial keys, and
// fixture databases with duplicate keys, Null and numeric values, and schemas
// without NOCASE, so that the cache assumes nothing about the data.
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <utf8.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "component/access.h"
#include "refdb/reference_database.h"
#include "support/test_support.h"
#include "zarn/zarn.hpp"

namespace zarn {
namespace {

using internal::Connection;
using internal::DbPolicy;
using internal::DbText;
using internal::DeliveryRow;

// Every value of the first column of `sql`, as UTF-16; Null values skipped.
std::vector<std::u16string> Column(const std::string& path, const char* sql) {
  sqlite3* db = nullptr;
  EXPECT_EQ(sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr), SQLITE_OK);
  sqlite3_stmt* stmt = nullptr;
  EXPECT_EQ(sqlite3_prepare_v2(db, sql, -1, &stmt, nullptr), SQLITE_OK) << sql;
  std::vector<std::u16string> out;
  while (sqlite3_step(stmt) == SQLITE_ROW) {
    const void* text = sqlite3_column_text16(stmt, 0);
    if (text == nullptr) continue;
    out.emplace_back(static_cast<const char16_t*>(text),
                     static_cast<size_t>(sqlite3_column_bytes16(stmt, 0)) / 2);
  }
  sqlite3_finalize(stmt);
  sqlite3_close(db);
  return out;
}

void Execute(const std::string& path, const std::string& sql) {
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
  char* error = nullptr;
  const int rc = sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &error);
  EXPECT_EQ(rc, SQLITE_OK) << (error != nullptr ? error : "") << "\n" << sql;
  sqlite3_free(error);
  sqlite3_close(db);
}

// Letter-case maps: ASCII only (what NOCASE folds), and Latin-1 letters too
// (what it does not fold: "MONTÉE" is not "Montée").
char16_t AsciiUpper(char16_t c) { return c >= u'a' && c <= u'z' ? c - 32 : c; }
char16_t AsciiLower(char16_t c) { return c >= u'A' && c <= u'Z' ? c + 32 : c; }
char16_t Latin1Upper(char16_t c) {
  if (c >= 0xE0 && c <= 0xFE && c != 0xF7) return c - 32;
  return AsciiUpper(c);
}
char16_t Latin1Lower(char16_t c) {
  if (c >= 0xC0 && c <= 0xDE && c != 0xD7) return c + 32;
  return AsciiLower(c);
}

template <typename Map>
std::u16string Mapped(std::u16string s, Map map) {
  for (char16_t& c : s) c = map(c);
  return s;
}

// The key in the letter cases and near misses that a cache keyed wrongly
// would answer differently from the engine.
std::vector<std::u16string> CaseVariants(const std::u16string& key) {
  std::u16string title = Mapped(key, Latin1Lower);
  if (!title.empty()) title[0] = Latin1Upper(title[0]);
  std::u16string swapped = key;
  for (char16_t& c : swapped) c = c == AsciiUpper(c) ? AsciiLower(c) : AsciiUpper(c);
  std::u16string leading(1, u' ');  // (GCC 12 warns wrongly about u" " + key)
  leading += key;
  std::vector<std::u16string> out = {key,
                                     Mapped(key, AsciiUpper),
                                     Mapped(key, AsciiLower),
                                     Mapped(key, Latin1Upper),
                                     Mapped(key, Latin1Lower),
                                     title,
                                     swapped,
                                     key + u" ",
                                     leading,
                                     key + u"s"};
  if (!key.empty()) out.push_back(key.substr(0, key.size() - 1));
  return out;
}

std::string Show(std::u16string_view text) {
  std::string out;
  for (char16_t c : text) {
    if (c >= 0x20 && c < 0x7F) {
      out += static_cast<char>(c);
    } else {
      out += "\\u" + std::to_string(static_cast<int>(c));
    }
  }
  return out;
}

std::string Show(const DbText* value) {
  if (value == nullptr) return "(no row)";
  if (value->is_null) return "(null)";
  std::string out = "\"";
  out += Show(value->text);
  out += '"';
  return out;
}

std::string Show(const DeliveryRow* row) {
  if (row == nullptr) return "(no row)";
  return Show(&row->street) + " " + Show(&row->number) + " " + Show(&row->type);
}

// A caching connection and a plain one to the same file.
class TwoPaths {
 public:
  explicit TwoPaths(const std::string& path)
      : cached_(path, internal::CheckDatabaseFile(path), true), plain_(path, {}, false) {
    cached_.CheckDataVersion();
  }

  // Every look-up of `key` through both paths, twice through the cache (a
  // miss, then a hit), as one comparable line each.
  void ExpectSame(std::u16string_view key) {
    const std::string plain = Describe(plain_, key);
    EXPECT_EQ(Describe(cached_, key), plain) << "key \"" << Show(key) << "\" (first look-up)";
    EXPECT_EQ(Describe(cached_, key), plain) << "key \"" << Show(key) << "\" (from the cache)";
    ++compared_;
  }

  Connection& cached() { return cached_; }
  int compared() const { return compared_; }

  static std::string Describe(Connection& c, std::u16string_view key) {
    std::string out = c.StreetTypeExists(key) ? "type " : "not-type ";
    out += Show(c.AlternateStreetType(key)) + " | ";
    out += Show(c.AlternateStreetAddress(key)) + " | ";
    out += Show(c.AlternateDeliveryAddress(key));
    return out;
  }

 private:
  Connection cached_;
  Connection plain_;
  int compared_ = 0;
};

std::vector<std::u16string> BundledKeys() {
  const std::string db = testing::BundledDatabase();
  std::vector<std::u16string> keys = Column(db, "SELECT StreetTypeDesc FROM StreetType");
  const std::vector<std::u16string> alternates =
      Column(db, "SELECT AlternateDeliveryAddress FROM qryAlternateStreetTypes");
  EXPECT_GT(keys.size(), 100u);
  EXPECT_GT(alternates.size(), 100u);
  keys.insert(keys.end(), alternates.begin(), alternates.end());
  return keys;
}

TEST(FastPathBundled, EveryKeyInEveryLetterCaseMatchesThePlainStatements) {
  TwoPaths paths(testing::BundledDatabase());
  int accented = 0;
  for (const std::u16string& key : BundledKeys()) {
    for (const std::u16string& variant : CaseVariants(key)) paths.ExpectSame(variant);
    for (char16_t c : key) accented += c >= 0xC0 ? 1 : 0;
  }
  EXPECT_GT(accented, 0) << "the bundled keys should include accented letters";
  EXPECT_GT(paths.compared(), 5000);
}

TEST(FastPathBundled, NonAsciiCaseIsNotFolded) {
  // NOCASE folds ASCII letters only: "MONTÉE" is a different key from
  // "Montée", while "MONTéE" is the same; the cache must agree.
  TwoPaths paths(testing::BundledDatabase());
  for (const char16_t* key : {u"Montée", u"MONTÉE", u"MONTéE", u"montée", u"montÉe", u"Allée",
                              u"ALLÉE", u"ALLéE", u"Carré", u"CARRÉ"}) {
    paths.ExpectSame(key);
  }
  EXPECT_TRUE(paths.cached().StreetTypeExists(u"MONTéE"));
  EXPECT_FALSE(paths.cached().StreetTypeExists(u"MONTÉE"));
}

std::vector<std::u16string> AdversarialKeys() {
  return {u"",
          u" ",
          u"'",
          u"''",
          u"\"",
          u"St'",
          u"' OR 1=1 --",
          u"St\" OR \"1\"=\"1",
          u"%",
          u"S%",
          u"_t",
          u"St;",
          u"St\\",
          std::u16string(u"St\0", 3),
          std::u16string(u"\0St", 3),
          u"St\t",
          u"ST",
          u"sT",
          u"s t",
          u"\u017Ft",    // long s, folded to "s" by full case folding only
          u"\u212Aing",  // Kelvin sign
          u"Ave\u0301",
          u"\uFF33\uFF54",                              // fullwidth "St"
          std::u16string(1, char16_t{0xD800}) + u"St",  // lone surrogate
          u"\U0001F600",
          std::u16string(500, u'a'),
          std::u16string(40000, u'S')};
}

TEST(FastPathBundled, AdversarialKeysMatchThePlainStatements) {
  TwoPaths paths(testing::BundledDatabase());
  for (const std::u16string& key : AdversarialKeys()) paths.ExpectSame(key);
}

TEST(FastPathBundled, RandomKeysMatchThePlainStatements) {
  const std::vector<std::u16string> real = BundledKeys();
  TwoPaths paths(testing::BundledDatabase());
  std::mt19937 random(20261208);
  const std::u16string alphabet = u"aAeEiIsStTrRvVdD éÉèÈçÇôÔ-'.%_019\u00FF\u0178";
  for (int i = 0; i < 3000; ++i) {
    std::u16string key;
    if (i % 2 == 0) {
      // A real key with one character flipped in case or replaced.
      key = real[random() % real.size()];
      if (!key.empty()) {
        char16_t& c = key[random() % key.size()];
        c = random() % 2 ? Latin1Upper(Latin1Lower(c) == c ? c : Latin1Lower(c))
                         : alphabet[random() % alphabet.size()];
      }
    } else {
      const size_t length = random() % 9;
      for (size_t j = 0; j < length; ++j) key += alphabet[random() % alphabet.size()];
    }
    paths.ExpectSame(key);
  }
}

TEST(FastPathBundled, WholeParsesMatchTheOpenPerPassPolicy) {
  const std::string db = testing::BundledDatabase();
  const ZarnAddress cached = detail::Access::WithPolicy(db, DbPolicy::kCached);
  const ZarnAddress plain = detail::Access::WithPolicy(db, DbPolicy::kOpenPerPass);
  int compared = 0;
  for (const std::u16string& key : BundledKeys()) {
    for (const std::u16string& variant : {key, Mapped(key, AsciiUpper), Mapped(key, Latin1Upper)}) {
      std::string address = "12 Grand ";
      utf8::utf16to8(variant.begin(), variant.end(), std::back_inserter(address));
      address += " N";
      EXPECT_EQ(cached.Parse(address), plain.Parse(address)) << address;
      ++compared;
    }
  }
  EXPECT_GT(compared, 1500);
}

// Fixture databases: duplicate keys in different letter cases (the first row
// in the engine's order wins), Null and numeric values.
const char* const kAlternateRows = R"sql(;
INSERT INTO AlternateAddress (AlternateAddressID, AlternateDeliveryAddress,
    AlternateAddressTypeID, DeliveryStreet, DeliveryNumber, DeliveryType, DeliveryAddress) VALUES
  (20, '5 twin street', 4, 'Second', '2', 'Road', NULL),
  (10, '5 Twin Street', 4, 'First', '1', 'Lane', NULL),
  (30, '5 TWIN STREET', 4, 'Third', '3', NULL, NULL),
  (11, 'Elm Grove', 1, NULL, NULL, NULL, 'Elm Grove Parkway'),
  (12, 'ELM GROVE', 1, NULL, NULL, NULL, 'Shouting Grove'),
  (13, 'Elm Grove', 4, 'Wrong Type', NULL, NULL, NULL),
  (14, 'Null Row', 1, NULL, NULL, NULL, NULL),
  (15, '9 Num Street', 4, NULL, 42, 1.5, NULL),
  (16, 'Real Key', 1, NULL, NULL, NULL, 2.25e10),
  (17, 'Montée Key', 1, NULL, NULL, NULL, 'Accented'),
  (18, 'MONTÉE KEY', 1, NULL, NULL, NULL, 'Accented Upper'),
  (19, '', 4, NULL, '0', 'Lane', NULL),
  (21, 'O''Brien', 1, NULL, NULL, NULL, 'OBrien Lane'),
  (22, NULL, 1, NULL, NULL, NULL, 'Null Key'),
  (23, 'Blob Key', 1, NULL, NULL, NULL, X'4100'),
  (24, 'Other Type', 2, 'Ignored', NULL, NULL, 'Ignored');
)sql";

std::vector<std::u16string> FixtureKeys(const std::string& path) {
  std::vector<std::u16string> keys =
      Column(path, "SELECT AlternateDeliveryAddress FROM AlternateAddress");
  const std::vector<std::u16string> types = Column(path, "SELECT StreetTypeDesc FROM StreetType");
  keys.insert(keys.end(), types.begin(), types.end());
  return keys;
}

TEST(FastPathFixture, AlternateAddressRowsMatchInEveryLetterCase) {
  testing::TempDir dir;
  const std::string path = dir.File("ref.DAT");
  testing::MakeDatabase(path, testing::SmallReferenceSql() + kAlternateRows);
  TwoPaths paths(path);
  for (const std::u16string& key : FixtureKeys(path)) {
    for (const std::u16string& variant : CaseVariants(key)) paths.ExpectSame(variant);
  }
  for (const std::u16string& key : AdversarialKeys()) paths.ExpectSame(key);
  // The first row in index order (key, then row id) wins, whatever the
  // letter case of the key asked for or of the rows.
  const DeliveryRow* row = paths.cached().AlternateStreetAddress(u"5 TWIN street");
  ASSERT_NE(row, nullptr);
  EXPECT_EQ(row->street.text, u"First");
  const DbText* delivery = paths.cached().AlternateDeliveryAddress(u"elm grove");
  ASSERT_NE(delivery, nullptr);
  EXPECT_EQ(delivery->text, u"Elm Grove Parkway");
  // Accented letters are not folded: two different keys.
  EXPECT_EQ(paths.cached().AlternateDeliveryAddress(u"montée key")->text, u"Accented");
  EXPECT_EQ(paths.cached().AlternateDeliveryAddress(u"MONTÉE key")->text, u"Accented Upper");
}

TEST(FastPathFixture, SchemaWithoutNocaseOrIndexesIsNotAssumedToFoldCase) {
  // Case-sensitive text columns, no unique index, the alternate types as a
  // plain table with duplicates and a Null: the cache must follow the engine
  // here too.
  testing::TempDir dir;
  const std::string path = dir.File("plain.DAT");
  testing::MakeDatabase(path, R"sql(
CREATE TABLE StreetType (streettypeid INTEGER PRIMARY KEY, StreetTypeDesc TEXT);
INSERT INTO StreetType VALUES (1, 'Avenue'), (2, 'STREET'), (3, 'Avenue'), (4, NULL), (5, 7);
CREATE TABLE qryAlternateStreetTypes (AlternateDeliveryAddress TEXT, StreetTypeDesc TEXT);
INSERT INTO qryAlternateStreetTypes VALUES ('Ave', 'Avenue'), ('ave', 'Lower'), ('Ave', 'Later'),
  ('Nul', NULL), ('7', 'Seven'), ('St', 'Street');
CREATE TABLE AlternateAddress (AlternateAddressID INTEGER PRIMARY KEY,
  AlternateDeliveryAddress TEXT, AlternateAddressTypeid INTEGER, DeliveryStreet TEXT,
  DeliveryNumber TEXT, DeliveryType TEXT, DeliveryAddress TEXT);
INSERT INTO AlternateAddress VALUES (1, 'Key', 4, 'A', '1', 'Rd', NULL),
  (2, 'KEY', 4, 'B', '2', 'Rd', NULL), (3, 'key', 1, NULL, NULL, NULL, 'Lower Key');
)sql");
  TwoPaths paths(path);
  for (const char16_t* key :
       {u"Avenue", u"AVENUE", u"avenue", u"STREET", u"Street", u"7", u"07", u"Ave", u"AVE", u"ave",
        u"Nul", u"nul", u"St", u"ST", u"Key", u"KEY", u"key", u"kEY", u""}) {
    paths.ExpectSame(key);
  }
  EXPECT_FALSE(paths.cached().StreetTypeExists(u"avenue"));
  EXPECT_EQ(paths.cached().AlternateStreetType(u"ave")->text, u"Lower");
}

TEST(FastPathFixture, CachedAnswersFollowEditsOfTheFile) {
  testing::TempDir dir;
  const std::string path = dir.File("ref.DAT");
  testing::MakeDatabase(path, testing::SmallReferenceSql() + kAlternateRows);
  TwoPaths paths(path);
  const std::vector<std::u16string> keys = {
      u"Elm Grove", u"5 Twin Street", u"Avenue", u"Lane", u"Ave", u"Rd", u"New Key"};
  for (const std::u16string& key : keys) paths.ExpectSame(key);
  Execute(path, R"sql(
DELETE FROM AlternateAddress WHERE AlternateAddressID IN (10, 11);
INSERT INTO AlternateAddress VALUES (40, 'new key', 1, NULL, NULL, NULL, 'Brand New');
INSERT INTO StreetType (streettypeid, StreetTypeDesc) VALUES (50, 'Lane');
INSERT INTO AlternateStreetType (AlternateDeliveryAddress, streettypeid) VALUES ('Rd', 50);
)sql");
  // What a new call does first: notice the edit through the data version.
  paths.cached().CheckDataVersion();
  for (const std::u16string& key : keys) paths.ExpectSame(key);
  EXPECT_TRUE(paths.cached().StreetTypeExists(u"LANE"));
  EXPECT_EQ(paths.cached().AlternateDeliveryAddress(u"NEW KEY")->text, u"Brand New");
  EXPECT_EQ(paths.cached().AlternateStreetAddress(u"5 twin street")->street.text, u"Second");
}

}  // namespace
}  // namespace zarn

namespace zarn {
namespace {

TEST(WordMemo, FindsEveryWordAgainThroughGrowthAndAfterClear) {
  internal::WordMemo<int> memo;
  std::vector<std::u16string> words;
  for (int i = 0; i < 20000; ++i) {
    std::u16string w = u"w";
    for (int v = i; v > 0; v /= 7) w += static_cast<char16_t>(u'a' + v % 7);
    words.push_back(w);
  }
  words.push_back(u"");
  words.push_back(u"W");  // differs from "w" only in letter case: its own entry
  std::vector<internal::WordMemo<int>::Entry*> first;
  for (size_t i = 0; i < words.size(); ++i) {
    internal::WordMemo<int>::Entry& e = memo.Find(words[i]);
    EXPECT_EQ(e.value, 0) << "a new word starts with the default value";
    e.value = static_cast<int>(i) + 1;
    first.push_back(&e);
  }
  EXPECT_EQ(memo.size(), words.size());
  for (size_t i = 0; i < words.size(); ++i) {
    internal::WordMemo<int>::Entry& e = memo.Find(words[i]);
    EXPECT_EQ(&e, first[i]) << "an entry stays in place while the memo grows";
    EXPECT_EQ(e.value, static_cast<int>(i) + 1);
    EXPECT_TRUE(e.word == words[i]);
  }
  EXPECT_EQ(memo.size(), words.size());
  memo.clear();
  EXPECT_EQ(memo.size(), 0u);
  EXPECT_EQ(memo.Find(words[5]).value, 0);
  EXPECT_EQ(memo.size(), 1u);
}

// Words of up to eight units are told apart by the units kept in the slot
// and the length in the tag: words that differ only in the last unit kept,
// in the first unit not kept, or only by trailing NUL units (which the zero
// padding of the slot cannot show) each have their own entry.
TEST(WordMemo, ShortKeysAtTheSlotBoundary) {
  internal::WordMemo<int> memo;
  std::vector<std::u16string> words;
  for (size_t n = 0; n <= 10; ++n) {
    std::u16string w(n, u'a');
    words.push_back(w);
    if (n == 0) continue;
    w.back() = u'b';
    words.push_back(w);
    w.back() = 0xFFFF;
    words.push_back(w);
    w.back() = u'\0';
    words.push_back(w);
    words.push_back(std::u16string(n, u'\0'));
  }
  words.push_back(u"abcdefgh");
  words.push_back(u"abcdefghi");
  words.push_back(u"abcdefgj");
  words.push_back(u"Abcdefgh");
  std::sort(words.begin(), words.end());
  words.erase(std::unique(words.begin(), words.end()), words.end());
  for (size_t i = 0; i < words.size(); ++i) memo.Find(words[i]).value = static_cast<int>(i) + 1;
  EXPECT_EQ(memo.size(), words.size());
  for (size_t i = 0; i < words.size(); ++i) {
    internal::WordMemo<int>::Entry& e = memo.Find(words[i]);
    EXPECT_EQ(e.value, static_cast<int>(i) + 1) << "word " << i << " of " << words[i].size();
    EXPECT_TRUE(e.word == words[i]);
  }
  EXPECT_EQ(memo.size(), words.size());
}

}  // namespace
}  // namespace zarn
