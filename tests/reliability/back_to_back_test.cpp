// The file changes between two calls made one right after the other, with
// no pause: the call after the change must see it. A parser that skips its
// full check of the file while a watch on it reports nothing is only right
// if the watch hears of every change before the change's own system call
// returns; these rounds would show a watch that lags.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "reliability_support.h"

namespace zarn {
namespace {

using testing::Outcome;
using testing::ReadFileBytes;

namespace fs = std::filesystem;

constexpr int kRounds = 200;

const char* const kToSecond =
    "UPDATE StreetType SET StreetTypeDesc='Strass' WHERE StreetTypeDesc='Street';"
    "UPDATE AlternateAddress SET DeliveryNumber='14' WHERE DeliveryNumber='12'";
const char* const kToFirst =
    "UPDATE StreetType SET StreetTypeDesc='Street' WHERE StreetTypeDesc='Strass';"
    "UPDATE AlternateAddress SET DeliveryNumber='12' WHERE DeliveryNumber='14'";

// Two versions of the database of the same size that answer differently,
// with the answers of a parser that caches nothing for each.
struct Versions {
  testing::TempDir work;
  std::string images[2];
  std::vector<Outcome> answers[2];
  std::vector<std::string> addresses = {"123 Main St. N", "10 Spadina Ave", "44 Kng St W"};

  Versions() {
    for (int v = 0; v < 2; ++v) {
      const std::string file = work.File(v == 0 ? "first.DAT" : "second.DAT");
      testing::MakeReference(file);
      if (v == 1) testing::ExecSql(file, kToSecond);
      images[v] = ReadFileBytes(file);
      answers[v] = testing::FreshAnswers(file, addresses);
    }
  }
};

// Puts the file at `path` into `version` (0 or 1).
using ChangeFn = std::function<void(const std::string& path, int version, Versions& v)>;

void RenameOver(const std::string& path, int version, Versions& v) {
  const std::string temporary = v.work.File("next.DAT");
  testing::WriteFileBytes(temporary, v.images[version]);
  fs::rename(temporary, path);
}

void RenameInSameDirectory(const std::string& path, int version, Versions& v) {
  const std::string temporary = path + ".new";
  testing::WriteFileBytes(temporary, v.images[version]);
  fs::rename(temporary, path);
}

void EditThroughSqlite(const std::string& path, int version, Versions&) {
  testing::ExecSql(path, version == 1 ? kToSecond : kToFirst);
}

void OverwriteInPlace(const std::string& path, int version, Versions& v) {
  const int fd = ::open(path.c_str(), O_WRONLY);
  ASSERT_GE(fd, 0);
  const std::string& bytes = v.images[version];
  ASSERT_EQ(::pwrite(fd, bytes.data(), bytes.size(), 0), static_cast<ssize_t>(bytes.size()));
  ::close(fd);
}

// Through a hard link in another directory, made before the first round:
// the writes name another directory than the database's.
void EditThroughAHardLink(const std::string&, int version, Versions& v) {
  const std::string link = v.work.File("link.DAT");
  ASSERT_TRUE(fs::exists(link)) << "the link is made before the rounds";
  testing::ExecSql(link, version == 1 ? kToSecond : kToFirst);
}

void EditInAnotherProcess(const std::string& path, int version, Versions&) {
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    sqlite3* db = nullptr;
    int rc = sqlite3_open(path.c_str(), &db);
    if (rc == SQLITE_OK)
      rc = sqlite3_exec(db, version == 1 ? kToSecond : kToFirst, nullptr, nullptr, nullptr);
    sqlite3_close(db);
    ::_exit(rc == SQLITE_OK ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the editing process failed";
}

struct ChangeCase {
  const char* name;
  ChangeFn change;
};

void PrintTo(const ChangeCase& c, std::ostream* out) { *out << c.name; }

class BackToBack : public ::testing::TestWithParam<ChangeCase> {};

TEST_P(BackToBack, TheCallRightAfterAChangeSeesIt) {
  Versions v;
  testing::TempDir dir;
  const std::string path = dir.File("qordatavb.DAT");
  testing::WriteFileBytes(path, v.images[0]);
  fs::create_hard_link(path, v.work.File("link.DAT"));
  const ZarnAddress parser(path);
  int version = 0;
  for (int round = 0; round < kRounds; ++round) {
    // Twice, so that the second call finds the file checked and unchanged.
    for (int call = 0; call < 2; ++call) {
      const std::vector<Outcome> got = testing::ParseAll(parser, v.addresses);
      for (size_t a = 0; a < got.size(); ++a) {
        ASSERT_TRUE(got[a].SameAs(v.answers[version][a]))
            << "round " << round << " call " << call << ", \"" << v.addresses[a] << "\": " << got[a]
            << " but version " << version << " gives " << v.answers[version][a];
      }
    }
    version = 1 - version;
    GetParam().change(path, version, v);
    const std::vector<Outcome> got = testing::ParseAll(parser, v.addresses);
    for (size_t a = 0; a < got.size(); ++a) {
      ASSERT_TRUE(got[a].SameAs(v.answers[version][a]))
          << "round " << round << ", right after the change, \"" << v.addresses[a]
          << "\": " << got[a] << " but version " << version << " gives " << v.answers[version][a];
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    Changes, BackToBack,
    ::testing::Values(ChangeCase{"RenamedOverFromAnotherDirectory", RenameOver},
                      ChangeCase{"RenamedOverFromTheSameDirectory", RenameInSameDirectory},
                      ChangeCase{"EditedThroughSqlite", EditThroughSqlite},
                      ChangeCase{"OverwrittenInPlace", OverwriteInPlace},
                      ChangeCase{"EditedByAnotherProcess", EditInAnotherProcess},
                      ChangeCase{"EditedThroughAHardLinkElsewhere", EditThroughAHardLink}),
    [](const ::testing::TestParamInfo<ChangeCase>& p) { return std::string(p.param.name); });

// Deleted, then put back: the call after the deletion fails with the
// missing-file error, the call after the restore answers for the file put
// back.
TEST(BackToBackChanges, DeletedAndRestored) {
  Versions v;
  testing::TempDir dir;
  const std::string path = dir.File("qordatavb.DAT");
  testing::WriteFileBytes(path, v.images[0]);
  const ZarnAddress parser(path);
  for (int round = 0; round < kRounds; ++round) {
    const int version = round % 2;
    for (int call = 0; call < 2; ++call) {
      const std::vector<Outcome> got = testing::ParseAll(parser, v.addresses);
      ASSERT_TRUE(got[0].SameAs(v.answers[version][0])) << "round " << round << ": " << got[0];
    }
    fs::remove(path);
    const Outcome gone = testing::ParseOutcome(parser, v.addresses[0]);
    ASSERT_EQ(gone.error, SQLITE_CANTOPEN) << "round " << round << ", file deleted: " << gone;
    const Outcome still_gone = testing::ParseOutcome(parser, v.addresses[0]);
    ASSERT_EQ(still_gone.error, SQLITE_CANTOPEN) << "round " << round << ": " << still_gone;
    testing::WriteFileBytes(path, v.images[1 - version]);
    const std::vector<Outcome> back = testing::ParseAll(parser, v.addresses);
    for (size_t a = 0; a < back.size(); ++a) {
      ASSERT_TRUE(back[a].SameAs(v.answers[1 - version][a]))
          << "round " << round << ", file restored, \"" << v.addresses[a] << "\": " << back[a];
    }
  }
}

// A writer switches the file to WAL mode and commits an edit there, which
// writes only the -wal file. While the writer is open (its -wal and -shm
// files are there) the parser reads the file; right after the commit it must
// give the edited answers, as a parser that caches nothing does. Each round
// starts from a new copy renamed over.
TEST(BackToBackChanges, SwitchedToWalModeAndEdited) {
  Versions v;
  testing::TempDir dir;
  const std::string path = dir.File("qordatavb.DAT");
  const ZarnAddress parser(path);
  for (int round = 0; round < kRounds; ++round) {
    const int version = round % 2;
    RenameOver(path, version, v);
    for (int call = 0; call < 2; ++call) {
      const std::vector<Outcome> got = testing::ParseAll(parser, v.addresses);
      for (size_t a = 0; a < got.size(); ++a) {
        ASSERT_TRUE(got[a].SameAs(v.answers[version][a])) << "round " << round << ": " << got[a];
      }
    }
    sqlite3* writer = nullptr;
    ASSERT_EQ(sqlite3_open(path.c_str(), &writer), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(writer, "PRAGMA journal_mode=WAL", nullptr, nullptr, nullptr),
              SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(writer, version == 0 ? kToSecond : kToFirst, nullptr, nullptr, nullptr),
              SQLITE_OK);
    const std::vector<Outcome> in_wal = testing::ParseAll(parser, v.addresses);
    const std::vector<Outcome> fresh = testing::FreshAnswers(path, v.addresses);
    for (size_t a = 0; a < in_wal.size(); ++a) {
      ASSERT_TRUE(in_wal[a].SameAs(fresh[a]))
          << "round " << round << ", right after the commit in WAL mode, \"" << v.addresses[a]
          << "\": " << in_wal[a] << " but a fresh parser gives " << fresh[a];
      ASSERT_TRUE(in_wal[a].SameAs(v.answers[1 - version][a]))
          << "round " << round << ", right after the commit in WAL mode: " << in_wal[a];
    }
    sqlite3_close(writer);
  }
}

// A child process must watch the file for itself: a watch shared with the
// parent would hand the child events the parent then never sees.
TEST(BackToBackChanges, ParentAndForkedChildEachSeeAnEditTheChildMakes) {
  Versions v;
  testing::TempDir dir;
  const std::string path = dir.File("qordatavb.DAT");
  testing::WriteFileBytes(path, v.images[0]);
  const ZarnAddress parser(path);
  int version = 0;
  for (int round = 0; round < 40; ++round) {
    const std::vector<Outcome> before = testing::ParseAll(parser, v.addresses);
    ASSERT_TRUE(before[0].SameAs(v.answers[version][0])) << "round " << round;
    const int next = 1 - version;
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      bool ok = testing::ParseAll(parser, v.addresses)[0].SameAs(v.answers[version][0]);
      testing::ExecSql(path, next == 1 ? kToSecond : kToFirst);
      const std::vector<Outcome> got = testing::ParseAll(parser, v.addresses);
      for (size_t a = 0; a < got.size(); ++a) ok = ok && got[a].SameAs(v.answers[next][a]);
      ::_exit(ok ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0)
        << "round " << round << ": the child did not see its own edit";
    version = next;
    const std::vector<Outcome> got = testing::ParseAll(parser, v.addresses);
    for (size_t a = 0; a < got.size(); ++a) {
      ASSERT_TRUE(got[a].SameAs(v.answers[version][a]))
          << "round " << round << ", the parent after the child's edit: " << got[a];
    }
  }
}

}  // namespace
}  // namespace zarn
