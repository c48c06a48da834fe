// The reference database file in every bad state we can think of. Each case
// asserts its documented outcome (the correct answer, or an error of the
// listed kind whose message names the file and the cause), that nothing
// crashed, that the file's bytes and its directory are unchanged afterwards,
// and that the same parser answers correctly once the file is healthy again.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sqlite3.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <functional>
#include <random>
#include <sstream>
#include <thread>

#include "reliability_support.h"

namespace zarn {
namespace {

using testing::MakeReference;
using testing::Outcome;
using testing::ReadFileBytes;
using testing::Snapshot;
using testing::TakeSnapshot;
using testing::WriteFileBytes;

namespace fs = std::filesystem;

// What a case may do to a call: answer as the healthy file does, fail with
// one of `errors` (SQLite primary result codes), or either.
struct FaultCase {
  const char* name;
  // Puts the fault in place inside `dir` and returns the path to parse with.
  std::function<std::string(const std::string& dir)> make;
  std::vector<int> errors;
  bool answer_allowed = false;
  const char* cause = "";  // text the error message must hold besides the path
  bool as_nobody = false;  // parse as an unprivileged user (file permissions)
  int hold_lock_ms = 0;    // another process holds an exclusive lock meanwhile
};

std::ostream& operator<<(std::ostream& out, const FaultCase& c) { return out << c.name; }

std::string HealthyAt(const std::string& dir) {
  const std::string path = dir + "/qordatavb.DAT";
  MakeReference(path);
  return path;
}

// A healthy file, then changed by `sql`.
std::function<std::string(const std::string&)> ChangedBy(const char* sql) {
  return [sql](const std::string& dir) {
    const std::string path = HealthyAt(dir);
    testing::ExecSql(path, sql);
    return path;
  };
}

std::string TruncatedTo(const std::string& dir, const std::function<size_t(size_t)>& keep) {
  const std::string path = HealthyAt(dir);
  const std::string bytes = ReadFileBytes(path);
  WriteFileBytes(path, std::string_view(bytes).substr(0, keep(bytes.size())));
  return path;
}

int RootPage(const std::string& path, const char* name) {
  sqlite3* db = nullptr;
  sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
  sqlite3_stmt* stmt = nullptr;
  sqlite3_prepare_v2(db, "SELECT rootpage FROM sqlite_schema WHERE name=?1", -1, &stmt, nullptr);
  sqlite3_bind_text(stmt, 1, name, -1, SQLITE_STATIC);
  const int page = sqlite3_step(stmt) == SQLITE_ROW ? sqlite3_column_int(stmt, 0) : 0;
  sqlite3_finalize(stmt);
  sqlite3_close(db);
  return page;
}

// A file whose committed content differs from the original (StreetType
// "Street" renamed), beside the rollback journal of that change: a process
// that died mid-commit. Rolling back gives the original answers; reading
// the file without rolling back would give wrong ones.
std::string WithHotJournal(const std::string& dir) {
  const std::string path = HealthyAt(dir);
  sqlite3* db = nullptr;
  EXPECT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
  EXPECT_EQ(sqlite3_exec(db,
                         "PRAGMA journal_mode=DELETE; PRAGMA synchronous=OFF; BEGIN;"
                         "UPDATE StreetType SET StreetTypeDesc='Strasse' "
                         "WHERE StreetTypeDesc='Street';",
                         nullptr, nullptr, nullptr),
            SQLITE_OK);
  const std::string journal = ReadFileBytes(path + "-journal");
  EXPECT_EQ(sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr), SQLITE_OK);
  sqlite3_close(db);
  WriteFileBytes(path + "-journal", journal);
  return path;
}

std::string InWalMode(const std::string& dir) {
  const std::string path = HealthyAt(dir);
  testing::ExecSql(path, "PRAGMA journal_mode=WAL");
  EXPECT_EQ(ReadFileBytes(path)[18], 2) << "the file is not marked as WAL";
  return path;
}

std::string Unreadable(const std::string& dir) {
  const std::string path = HealthyAt(dir);
  ::chmod(dir.c_str(), 0755);  // the directory stays open to everyone
  ::chmod(path.c_str(), 0);
  return path;
}

const FaultCase kCases[] = {
    {"MissingFile",
     [](const std::string& dir) { return dir + "/qordatavb.DAT"; },
     {SQLITE_CANTOPEN},
     false,
     "No such file"},
    {"MissingDirectory",
     [](const std::string& dir) { return dir + "/gone/qordatavb.DAT"; },
     {SQLITE_CANTOPEN},
     false,
     "No such file"},
    {"PathIsADirectory",
     [](const std::string& dir) {
       fs::create_directory(dir + "/qordatavb.DAT");
       return dir + "/qordatavb.DAT";
     },
     {SQLITE_CANTOPEN},
     false,
     "directory"},
    // A FIFO once hung the caller for good (opening it waits for a writer);
    // a socket or a FIFO is refused before anything opens it.
    {"PathIsAFifo",
     [](const std::string& dir) {
       EXPECT_EQ(::mkfifo((dir + "/qordatavb.DAT").c_str(), 0644), 0);
       return dir + "/qordatavb.DAT";
     },
     {SQLITE_CANTOPEN},
     false,
     "FIFO"},
    {"PathIsASocket",
     [](const std::string& dir) {
       const std::string path = dir + "/qordatavb.DAT";
       sockaddr_un address{};
       address.sun_family = AF_UNIX;
       EXPECT_LT(path.size(), sizeof address.sun_path);
       std::memcpy(address.sun_path, path.c_str(),
                   std::min(path.size(), sizeof address.sun_path - 1));
       const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
       EXPECT_EQ(::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
       ::close(fd);
       return path;
     },
     {SQLITE_CANTOPEN},
     false,
     "socket"},
    {"ZeroLengthFile",
     [](const std::string& dir) {
       WriteFileBytes(dir + "/qordatavb.DAT", "");
       return dir + "/qordatavb.DAT";
     },
     // An empty file is an empty database: it has no tables.
     {SQLITE_ERROR},
     false,
     "no such table"},
    {"TruncatedTo100Bytes",
     [](const std::string& dir) { return TruncatedTo(dir, [](size_t) { return 100; }); },
     {SQLITE_CORRUPT, SQLITE_NOTADB}},
    {"TruncatedToOnePage",
     [](const std::string& dir) { return TruncatedTo(dir, [](size_t) { return 4096; }); },
     {SQLITE_CORRUPT, SQLITE_NOTADB}},
    {"TruncatedToHalf",
     [](const std::string& dir) { return TruncatedTo(dir, [](size_t n) { return n / 2; }); },
     {SQLITE_CORRUPT, SQLITE_NOTADB},
     true},
    {"TextFile",
     [](const std::string& dir) {
       std::string text;
       for (int i = 0; i < 200; ++i) text += "123 Main St. N, not a database\n";
       WriteFileBytes(dir + "/qordatavb.DAT", text);
       return dir + "/qordatavb.DAT";
     },
     {SQLITE_NOTADB},
     false,
     "not a database"},
    {"RandomBytes",
     [](const std::string& dir) {
       std::mt19937 random(7);
       std::string bytes(16384, '\0');
       for (char& c : bytes) c = static_cast<char>(random());
       WriteFileBytes(dir + "/qordatavb.DAT", bytes);
       return dir + "/qordatavb.DAT";
     },
     {SQLITE_NOTADB},
     false,
     "not a database"},
    {"CorruptPage",
     [](const std::string& dir) {
       const std::string path = HealthyAt(dir);
       std::string bytes = ReadFileBytes(path);
       const int page = RootPage(path, "StreetTypeByDesc");
       EXPECT_GT(page, 1);
       const size_t page_size = 4096;
       bytes.replace((page - 1) * page_size, page_size, page_size, '\xff');
       WriteFileBytes(path, bytes);
       return path;
     },
     {SQLITE_CORRUPT},
     false,
     "malformed"},
    {"TableMissing",
     ChangedBy("DROP TABLE AlternateAddress"),
     {SQLITE_ERROR},
     false,
     "no such table: AlternateAddress"},
    {"StreetTypeTableMissing",
     ChangedBy("DROP VIEW qryAlternateStreetTypes; DROP TABLE StreetType"),
     {SQLITE_ERROR},
     false,
     "no such table: StreetType"},
    {"ViewMissing",
     ChangedBy("DROP VIEW qryAlternateStreetTypes"),
     {SQLITE_ERROR},
     false,
     "no such table: qryAlternateStreetTypes"},
    {"ColumnMissing",
     ChangedBy("DROP INDEX AlternateAddressByKey;"
               "ALTER TABLE AlternateAddress DROP COLUMN DeliveryType"),
     {SQLITE_ERROR},
     false,
     "no such column: DeliveryType"},
    // A read-only reader cannot roll the journal back, so it must refuse.
    {"HotJournal", WithHotJournal, {SQLITE_READONLY}, true},
    {"WalModeFile", InWalMode, {SQLITE_CANTOPEN, SQLITE_READONLY}, true},
    {"NoReadPermission", Unreadable, {SQLITE_CANTOPEN}, false, "unable to open", true},
    {"LockedBriefly", HealthyAt, {}, true, "", false, 400},
    {"LockedLongerThanTheWait", HealthyAt, {SQLITE_BUSY}, false, "locked", false, 3500},
};

// Holds an exclusive lock on `path` in a child process for `ms` milliseconds;
// returns once the lock is held.
pid_t HoldExclusiveLock(const std::string& path, int ms) {
  int ready[2];
  if (::pipe(ready) != 0) return -1;
  const pid_t child = ::fork();
  if (child == 0) {
    ::close(ready[0]);
    sqlite3* db = nullptr;
    int rc = sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr);
    if (rc == SQLITE_OK) rc = sqlite3_exec(db, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr);
    const char status = rc == SQLITE_OK ? 'L' : 'E';
    if (::write(ready[1], &status, 1) != 1) ::_exit(2);
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
    sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
    sqlite3_close(db);
    ::_exit(0);
  }
  ::close(ready[1]);
  char status = 0;
  const bool locked = ::read(ready[0], &status, 1) == 1 && status == 'L';
  ::close(ready[0]);
  EXPECT_TRUE(locked) << "the child could not lock " << path;
  return child;
}

// Runs the parses as user nobody in a child process and reads the outcomes
// back (error number, message and the five parts, one field per line).
std::vector<Outcome> ParseAllAsNobody(const std::string& path,
                                      const std::vector<std::string>& addresses) {
  int out[2];
  if (::pipe(out) != 0) return {};
  const pid_t child = ::fork();
  if (child == 0) {
    ::close(out[0]);
    if (::setgid(65534) != 0 || ::setuid(65534) != 0) ::_exit(3);
    std::ostringstream text;
    const ZarnAddress parser(path);
    for (const Outcome& o : testing::ParseAll(parser, addresses)) {
      text << o.error << '\n'
           << o.message << '\n'
           << o.parts.street_number << '\n'
           << o.parts.street << '\n'
           << o.parts.street_type << '\n'
           << o.parts.direction << '\n'
           << o.parts.unit << '\n';
    }
    const std::string s = text.str();
    ::_exit(::write(out[1], s.data(), s.size()) == static_cast<ssize_t>(s.size()) ? 0 : 4);
  }
  ::close(out[1]);
  std::string s;
  char buffer[4096];
  for (ssize_t n; (n = ::read(out[0], buffer, sizeof buffer)) > 0;) s.append(buffer, n);
  ::close(out[0]);
  int status = 0;
  ::waitpid(child, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "child status " << status;
  std::istringstream in(s);
  std::vector<Outcome> outcomes;
  for (std::string number; std::getline(in, number);) {
    Outcome o;
    o.error = std::stoi(number);
    AddressParts& p = o.parts;
    for (std::string* field :
         {&o.message, &p.street_number, &p.street, &p.street_type, &p.direction, &p.unit}) {
      std::getline(in, *field);
    }
    outcomes.push_back(o);
  }
  return outcomes;
}

class DatabaseFault : public ::testing::TestWithParam<FaultCase> {
 protected:
  static void SetUpTestSuite() {
    testing::TempDir dir;
    healthy_ = new std::vector<Outcome>(
        testing::FreshAnswers(HealthyAt(dir.path()), testing::SampleAddresses()));
  }
  static void TearDownTestSuite() {
    delete healthy_;
    healthy_ = nullptr;
  }
  static std::vector<Outcome>* healthy_;
};
std::vector<Outcome>* DatabaseFault::healthy_ = nullptr;

TEST_P(DatabaseFault, ClearErrorOrRightAnswerAndNothingWritten) {
  const FaultCase& c = GetParam();
  if (c.as_nobody && ::geteuid() == 0) {
    // Checked below by running the parses as user nobody.
  } else if (c.as_nobody && ::access("/", W_OK) == 0) {
    GTEST_SKIP() << "file permissions do not apply to this user";
  }
  testing::TempDir dir;
  const std::string path = c.make(dir.path());
  const std::vector<std::string>& addresses = testing::SampleAddresses();
  // A held lock makes every call wait, so one address is enough there.
  const std::vector<std::string> some(addresses.begin(),
                                      addresses.begin() + (c.hold_lock_ms > 0 ? 1 : 3));
  const std::vector<std::string>& tried = c.hold_lock_ms > 0 ? some : addresses;
  const Snapshot before = TakeSnapshot(dir.path());

  const ZarnAddress parser(path);
  std::vector<Outcome> outcomes;
  std::vector<BatchResult> batch;
  const auto started = std::chrono::steady_clock::now();
  if (c.as_nobody && ::geteuid() == 0) {
    outcomes = ParseAllAsNobody(path, tried);
    ASSERT_EQ(outcomes.size(), tried.size());
  } else {
    pid_t holder = c.hold_lock_ms > 0 ? HoldExclusiveLock(path, c.hold_lock_ms) : 0;
    outcomes = testing::ParseAll(parser, tried);
    if (c.hold_lock_ms == 0) {
      std::vector<std::string_view> views(tried.begin(), tried.end());
      batch = parser.ParseBatch(views);
    }
    if (holder > 0) ::waitpid(holder, nullptr, 0);
  }
  const auto waited = std::chrono::steady_clock::now() - started;

  for (size_t i = 0; i < outcomes.size(); ++i) {
    const Outcome& o = outcomes[i];
    SCOPED_TRACE("address \"" + tried[i] + "\": " + ::testing::PrintToString(o));
    if (o.ok()) {
      EXPECT_TRUE(c.answer_allowed) << "an answer where an error was expected";
      EXPECT_TRUE(o.SameAs((*healthy_)[i])) << "expected " << (*healthy_)[i];
    } else {
      EXPECT_NE(std::find(c.errors.begin(), c.errors.end(), o.error & 0xff), c.errors.end());
      EXPECT_NE(o.message.find(path), std::string::npos) << "the message does not name the file";
      EXPECT_NE(o.message.find(c.cause), std::string::npos) << "the cause is missing";
    }
    if (i < batch.size()) {
      EXPECT_EQ(batch[i].error_number, o.error) << batch[i].error_message;
      if (o.ok()) {
        EXPECT_EQ(batch[i].parts, o.parts);
      }
    }
  }
  if (c.hold_lock_ms > 0 && !c.answer_allowed) {
    // The wait is bounded: about the two-second busy timeout, not forever.
    EXPECT_GE(waited, std::chrono::milliseconds(1500));
    EXPECT_LT(waited, std::chrono::milliseconds(c.hold_lock_ms + 1000));
  }

  EXPECT_EQ(TakeSnapshot(dir.path()), before) << "the directory or the file changed";

  // Make the file healthy; the same parser must now answer correctly.
  ::chmod(path.c_str(), 0644);
  fs::remove_all(path);
  fs::create_directories(fs::path(path).parent_path());
  std::error_code ignored;
  fs::remove(path + "-journal", ignored);
  MakeReference(path);
  const std::vector<Outcome> after = testing::ParseAll(parser, addresses);
  for (size_t i = 0; i < after.size(); ++i) {
    EXPECT_TRUE(after[i].SameAs((*healthy_)[i]))
        << "after repair, \"" << addresses[i] << "\": " << after[i] << " expected "
        << (*healthy_)[i];
  }
}

INSTANTIATE_TEST_SUITE_P(Matrix, DatabaseFault, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<FaultCase>& p) {
                           return std::string(p.param.name);
                         });

}  // namespace
}  // namespace zarn

namespace zarn {
namespace {

// Values of the wrong kind in the columns the parser reads: Null (an error
// where the value is required, the segment's own text where it may be Null),
// numbers and blobs (their text), and rows whose key or type is Null (never
// found).
struct ValueCase {
  const char* address;
  int error;           // 0 for an answer
  const char* street;  // expected answer parts (when no error)
  const char* type;
  const char* number;  // nullptr: not checked (a street type of digits
                       // takes part in the civic-number rules)
};

// Printed by its address (gtest would otherwise dump the bytes, padding too).
std::ostream& operator<<(std::ostream& out, const ValueCase& c) { return out << c.address; }

class DatabaseValues : public ::testing::TestWithParam<ValueCase> {
 protected:
  static void SetUpTestSuite() {
    dir_ = new testing::TempDir;
    const std::string path = dir_->File("values.DAT");
    MakeReference(path);
    testing::ExecSql(
        path,
        "DROP VIEW qryAlternateStreetTypes;"
        "CREATE VIEW qryAlternateStreetTypes AS"
        "  SELECT 'St' AS AlternateDeliveryAddress, 'Street' AS StreetTypeDesc"
        "  UNION ALL SELECT 'Rd', NULL UNION ALL SELECT 'Av', 12"
        "  UNION ALL SELECT 'Fv', 1.5 UNION ALL SELECT 'Bv', x'4b696e67'"
        "  UNION ALL SELECT 'Xv', x'ff';"
        "INSERT INTO AlternateAddress (AlternateDeliveryAddress, AlternateAddressTypeID,"
        "  DeliveryStreet, DeliveryNumber, DeliveryType, DeliveryAddress) VALUES"
        "  ('5 Elm Street', 4, NULL, NULL, NULL, NULL),"
        "  ('6 Elm Street', 4, 7, x'4c6f6e67', 2.5, NULL),"
        "  ('Oak', 1, NULL, NULL, NULL, NULL),"
        "  ('Pine', 1, NULL, NULL, NULL, 42),"
        "  (NULL, 1, NULL, NULL, NULL, 'Nothing'),"
        "  ('Ash', NULL, NULL, NULL, NULL, 'Nothing');");
    parser_ = new ZarnAddress(path);
  }
  static void TearDownTestSuite() {
    delete parser_;
    delete dir_;
  }
  static testing::TempDir* dir_;
  static ZarnAddress* parser_;
};
testing::TempDir* DatabaseValues::dir_ = nullptr;
ZarnAddress* DatabaseValues::parser_ = nullptr;

TEST_P(DatabaseValues, NullNumberAndBlobColumns) {
  const ValueCase& c = GetParam();
  const Outcome o = testing::ParseOutcome(*parser_, c.address);
  if (c.error != 0) {
    EXPECT_EQ(o.error, c.error) << o;
    EXPECT_NE(o.message.find("Null"), std::string::npos) << o.message;
    // The connection stays usable: the next call answers.
    EXPECT_TRUE(testing::ParseOutcome(*parser_, "1 Main St").ok());
    return;
  }
  ASSERT_TRUE(o.ok()) << o;
  EXPECT_EQ(o.parts.street, c.street);
  EXPECT_EQ(o.parts.street_type, c.type);
  if (c.number != nullptr) {
    EXPECT_EQ(o.parts.street_number, c.number);
  }
}

TEST(DatabaseValuesBlob, InvalidUtf8InABlobComesBackAsValidUtf8) {
  testing::TempDir dir;
  const std::string path = dir.File("blob.DAT");
  MakeReference(path);
  testing::ExecSql(path,
                   "DROP VIEW qryAlternateStreetTypes;"
                   "CREATE VIEW qryAlternateStreetTypes AS"
                   "  SELECT 'Xv' AS AlternateDeliveryAddress, x'ff41ed' AS StreetTypeDesc");
  const Outcome o = testing::ParseOutcome(ZarnAddress(path), "1 Main Xv");
  ASSERT_TRUE(o.ok()) << o;
  EXPECT_FALSE(o.parts.street_type.empty());
  EXPECT_NE(o.parts.street_type.find('A'), std::string::npos) << "the valid byte is kept";
}

INSTANTIATE_TEST_SUITE_P(Columns, DatabaseValues,
                         ::testing::Values(
                             // qryAlternateStreetTypes.StreetTypeDesc is required.
                             ValueCase{"1 Main Rd", kErrorInvalidUseOfNull, "", "", ""},
                             ValueCase{"1 Main Av", 0, "Main", "12", nullptr},
                             ValueCase{"1 Main Fv", 0, "Main", "1.5", nullptr},
                             ValueCase{"1 Main Bv", 0, "Main", "King", "1"},
                             // The delivery columns of an alternate street address may be Null:
                             // the words keep their own text; numbers and blobs read as text.
                             ValueCase{"5 Elm St", 0, "Elm", "Street", "5"},
                             ValueCase{"6 Elm St", 0, "7", "2.5", "Long"},
                             // AlternateAddress.DeliveryAddress is required.
                             ValueCase{"5 Oak", kErrorInvalidUseOfNull, "", "", ""},
                             ValueCase{"5 Pine", 0, "42", "", "5"},
                             // A Null key or type is never found.
                             ValueCase{"5 Ash", 0, "Ash", "", "5"}),
                         [](const ::testing::TestParamInfo<ValueCase>& p) {
                           return "Case" + std::to_string(p.index);
                         });

}  // namespace
}  // namespace zarn
