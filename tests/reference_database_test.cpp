// The reference database file: missing, not a database, changed between
// calls, and never written.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <cstdio>
#include <filesystem>

#include "support/test_support.h"
#include "zarn/zarn.hpp"

namespace zarn {
namespace {

using testing::ReadFileBytes;

std::vector<std::string> Listing(const std::string& dir) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(dir)) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

// Calls every method on `address` and expects each to fail with `number`.
void ExpectEveryMethodFails(const ZarnAddress& parser, const char* address, int number,
                            const std::string& message_part) {
  const std::function<void()> calls[] = {
      [&] { parser.AddressSegment(address, kStreet); },
      [&] { parser.Street(address); },
      [&] { parser.StreetType(address); },
      [&] { parser.StreetNumber(address); },
      [&] { parser.Direction(address); },
      [&] { parser.Unit(address); },
      [&] { parser.Parse(address); },
  };
  for (const auto& call : calls) {
    try {
      call();
      ADD_FAILURE() << "no error for \"" << address << "\"";
    } catch (const Error& e) {
      EXPECT_EQ(e.Number(), number) << e.what();
      EXPECT_NE(std::string(e.what()).find(message_part), std::string::npos) << e.what();
    }
  }
  const std::string_view batch[] = {address, "1 Main St"};
  const std::vector<BatchResult> results = parser.ParseBatch(batch);
  EXPECT_EQ(results[0].error_number, number) << results[0].error_message;
  EXPECT_FALSE(results[1].ok()) << "the file is unusable for every address";
}

TEST(ReferenceDatabase, MissingFileFailsEveryMethodEvenForTheEmptyAddress) {
  testing::TempDir dir;
  const std::string path = dir.File("absent.DAT");
  const ZarnAddress parser(path);
  for (const char* address : {"", "123 Main St. N"}) {
    ExpectEveryMethodFails(parser, address, SQLITE_CANTOPEN, path);
  }
  EXPECT_TRUE(Listing(dir.path()).empty()) << "a missing file is never created";
  ExpectEveryMethodFails(ZarnAddress(dir.File("no/such/dir/x.DAT")), "1 Main St", SQLITE_CANTOPEN,
                         "no/such/dir");
  ExpectEveryMethodFails(ZarnAddress(dir.path()), "1 Main St", SQLITE_CANTOPEN, "directory");
}

TEST(ReferenceDatabase, AddressErrorsFoundBeforeTheFileIsOpenedComeFirst) {
  testing::TempDir dir;
  const ZarnAddress parser(dir.File("absent.DAT"));
  // The text is cleaned and cut into words before the database is opened.
  ExpectEveryMethodFails(parser, std::string(40000, 'x').c_str(), kErrorOverflow, "Overflow");
  ExpectEveryMethodFails(parser, "\xff", kErrorInvalidArgument, "UTF-8");
}

TEST(ReferenceDatabase, TextFileIsNotADatabase) {
  testing::TempDir dir;
  const std::string path = dir.File("text.DAT");
  testing::WriteFileBytes(path, std::string(4096, 'x') + "this is not a database\n");
  ExpectEveryMethodFails(ZarnAddress(path), "1 Main St", SQLITE_NOTADB, path);
  EXPECT_EQ(ReadFileBytes(path), std::string(4096, 'x') + "this is not a database\n");
}

TEST(ReferenceDatabase, BundledFileIsNeverWritten) {
  testing::TempDir dir;
  const std::string path = dir.File("copy.DAT");
  std::filesystem::copy_file(testing::BundledDatabase(), path);
  const std::string before = ReadFileBytes(path);
  {
    const ZarnAddress parser(path);
    for (int i = 0; i < 50; ++i) {
      parser.Parse("123 Main St. N");
      parser.Unit("Apt 5 21st Ave");
    }
    const std::string_view batch[] = {"1 Rue Notre Dame", "", "x"};
    parser.ParseBatch(batch);
  }
  EXPECT_EQ(ReadFileBytes(path), before);
  EXPECT_EQ(Listing(dir.path()), std::vector<std::string>{"copy.DAT"}) << "nothing left beside it";
}

class ChangingFile : public ::testing::Test {
 protected:
  // A database in which "Xyz" is a street type only when `with_xyz`.
  void Write(const std::string& path, bool with_xyz) {
    std::remove(path.c_str());
    testing::MakeDatabase(
        path, testing::SmallReferenceSql() + (with_xyz ? ";INSERT INTO StreetType (StreetTypeDesc) "
                                                         "VALUES ('Xyz');"
                                                       : ""));
  }
  testing::TempDir dir_;
  std::string path_ = dir_.File("ref.DAT");
};

TEST_F(ChangingFile, ReplacedEditedAndDeletedFilesAreSeenByTheNextCall) {
  Write(path_, false);
  const ZarnAddress parser(path_);
  EXPECT_EQ(parser.StreetType("1 Main Xyz"), "");

  // Replaced by rename.
  const std::string other = dir_.File("other.DAT");
  Write(other, true);
  std::filesystem::rename(other, path_);
  EXPECT_EQ(parser.StreetType("1 Main Xyz"), "Xyz");

  // Edited in place through SQLite.
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(path_.c_str(), &db), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(db, "DELETE FROM StreetType WHERE StreetTypeDesc='Xyz'", nullptr, nullptr,
                         nullptr),
            SQLITE_OK);
  sqlite3_close(db);
  EXPECT_EQ(parser.StreetType("1 Main Xyz"), "");

  // Deleted.
  std::filesystem::remove(path_);
  try {
    parser.StreetType("1 Main Xyz");
    ADD_FAILURE() << "a deleted file must fail the call";
  } catch (const Error& e) {
    EXPECT_EQ(e.Number(), SQLITE_CANTOPEN);
  }

  // Back again, copied over with the same bytes as a different version.
  Write(other, true);
  std::filesystem::copy_file(other, path_);
  EXPECT_EQ(parser.StreetType("1 Main Xyz"), "Xyz");
}

TEST_F(ChangingFile, CopiesOfAParserShareTheFileButNotTheParse) {
  Write(path_, true);
  const ZarnAddress a(path_);
  const ZarnAddress b = a;
  EXPECT_EQ(a.Parse("1 Main Xyz").street_type, "Xyz");
  EXPECT_EQ(b.Parse("2 Oak Ave").street, "Oak");
  EXPECT_EQ(a.Parse("1 Main Xyz").street, "Main");
}

TEST(ReferenceDatabasePath, IsTheInstalledBundledFile) {
  const std::string path = ReferenceDatabasePath();
  EXPECT_NE(path.find("qordatavb.DAT"), std::string::npos) << path;
  EXPECT_EQ(ZarnAddress().DatabasePath(), path);
}

}  // namespace
}  // namespace zarn
