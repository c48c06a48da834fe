#include "support/test_support.h"

#include <gtest/gtest.h>
#include <sqlite3.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "base/text.h"

namespace zarn::testing {

std::string BundledDatabase() { return ZARN_TEST_DATABASE; }

std::string TestFile(std::string_view relative) {
  return std::string(ZARN_TEST_SOURCE_DIR) + "/" + std::string(relative);
}

std::string ReadFileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

void WriteFileBytes(const std::string& path, std::string_view bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + path);
}

TempDir::TempDir() {
  const char* base = std::getenv("TMPDIR");
  std::string pattern = std::string(base != nullptr ? base : "/tmp") + "/zarn-test-XXXXXX";
  if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = pattern;
}

TempDir::~TempDir() {
  std::error_code ignored;
  std::filesystem::permissions(path_, std::filesystem::perms::owner_all,
                               std::filesystem::perm_options::add, ignored);
  std::filesystem::remove_all(path_, ignored);
}

namespace {

void RunSql(const std::string& path, std::string_view sql, int open_flags) {
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open_v2(path.c_str(), &db, open_flags, nullptr), SQLITE_OK);
  sqlite3_busy_timeout(db, 10000);  // parsers may be reading meanwhile
  char* error = nullptr;
  const std::string text(sql);
  const int rc = sqlite3_exec(db, text.c_str(), nullptr, nullptr, &error);
  const std::string message = error != nullptr ? error : "";
  sqlite3_free(error);
  sqlite3_close(db);
  ASSERT_EQ(rc, SQLITE_OK) << message;
}

}  // namespace

void MakeDatabase(const std::string& path, std::string_view sql) {
  RunSql(path, sql, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
}

void ExecSql(const std::string& path, std::string_view sql) {
  RunSql(path, sql, SQLITE_OPEN_READWRITE);
}

std::string SmallReferenceSql() {
  return ReadFileBytes(TestFile("../data/schema.sql")) + R"sql(;
INSERT INTO StreetType (streettypeid, StreetTypeDesc) VALUES
  (1, 'Avenue'), (2, 'Street'), (3, 'rue'), (4, 'Boulevard'), (5, 'Mall'),
  (6, 'Highway'), (7, 'Drive');
INSERT INTO AlternateStreetType (AlternateDeliveryAddress, streettypeid) VALUES
  ('St', 2), ('Ave', 1), ('Av', 1), ('Boul', 4), ('Hwy', 6), ('Dr', 7);
)sql";
}

namespace {

int16_t KindFromName(std::string_view name) {
  using namespace internal;
  if (name == "None") return kKindNone;
  if (name == "Type") return kKindStreetType;
  if (name == "Street") return kKindStreet;
  if (name == "Number") return kKindStreetNumber;
  if (name == "Unit") return kKindUnit;
  if (name == "Dir") return kKindDirection;
  if (name == "Dash") return kKindDash;
  if (name == "Designator") return kKindDesignator;
  if (name == "Suffix") return kKindSuffixWord;
  throw std::invalid_argument("unknown kind " + std::string(name));
}

int16_t ClassFromName(char c) {
  using namespace internal;
  switch (c) {
    case 'D': return kClassAllDigits;
    case 'N': return kClassNoDigits;
    case 'M': return kClassMixed;
    case '?': return kClassUnknown;
    default: throw std::invalid_argument(std::string("unknown class ") + c);
  }
}

}  // namespace

internal::SegmentTable TableFromDump(std::string_view dump) {
  struct Record {
    int16_t kind;
    int16_t char_class;
    std::string text;
  };
  std::vector<Record> records;
  size_t at = 0;
  while (at < dump.size()) {
    if (dump[at] == ' ') {
      ++at;
      continue;
    }
    const size_t colon = dump.find(':', at);
    if (colon == std::string_view::npos || colon + 2 >= dump.size() || dump[colon + 2] != '"') {
      throw std::invalid_argument("bad dump near: " + std::string(dump.substr(at)));
    }
    Record r{KindFromName(dump.substr(at, colon - at)), ClassFromName(dump[colon + 1]), {}};
    at = colon + 3;
    while (at < dump.size() && dump[at] != '"') {
      if (dump[at] == '\\' && at + 1 < dump.size()) ++at;
      r.text += dump[at++];
    }
    if (at >= dump.size()) throw std::invalid_argument("unterminated text in dump");
    ++at;
    records.push_back(std::move(r));
  }
  internal::SegmentTable table;
  table.Rebuild(static_cast<int>(records.size()));
  for (size_t i = 0; i < records.size(); ++i) {
    internal::Segment& s = table[static_cast<int>(i) + 1];
    s.SetText(U16(records[i].text));
    s.type = records[i].kind;
    s.char_class = records[i].char_class;
    s.len = static_cast<int16_t>(s.text().size());
  }
  return table;
}

std::u16string U16(std::string_view utf8) {
  std::u16string out;
  internal::Utf8ToUtf16(utf8, out);
  return out;
}

}  // namespace zarn::testing
