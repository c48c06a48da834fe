// Text never becomes SQL: keys and database values holding quotes,
// semicolons, comment markers, LIKE wildcards, backslashes and an injection
// attempt find exactly the rows that a plain key finds. Decoy rows come first
// in every table, so a key that leaked into the statement text (or was taken
// as a pattern) would pick a decoy and give a different answer.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include "reliability_support.h"

namespace zarn {
namespace {

using testing::TempDir;

struct Row {
  const char* sql;
  std::vector<std::string> values;
};

void Insert(const std::string& path, const std::vector<Row>& rows) {
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
  for (const Row& row : rows) {
    sqlite3_stmt* stmt = nullptr;
    ASSERT_EQ(sqlite3_prepare_v2(db, row.sql, -1, &stmt, nullptr), SQLITE_OK) << row.sql;
    for (size_t i = 0; i < row.values.size(); ++i) {
      sqlite3_bind_text(stmt, static_cast<int>(i) + 1, row.values[i].c_str(), -1, SQLITE_TRANSIENT);
    }
    EXPECT_EQ(sqlite3_step(stmt), SQLITE_DONE) << sqlite3_errmsg(db);
    sqlite3_finalize(stmt);
  }
  sqlite3_close(db);
}

constexpr const char* kStreetType = "INSERT INTO StreetType (StreetTypeDesc) VALUES (?1)";
constexpr const char* kAlternateType =
    "INSERT INTO AlternateStreetType (AlternateDeliveryAddress, streettypeid) "
    "SELECT ?1, streettypeid FROM StreetType WHERE StreetTypeDesc=?2";
constexpr const char* kStreetAddress =
    "INSERT INTO AlternateAddress (AlternateDeliveryAddress, AlternateAddressTypeID, "
    "DeliveryStreet, DeliveryNumber, DeliveryType) VALUES (?1, 4, ?2, ?3, ?4)";
constexpr const char* kDeliveryAddress =
    "INSERT INTO AlternateAddress (AlternateDeliveryAddress, AlternateAddressTypeID, "
    "DeliveryAddress) VALUES (?1, 1, ?2)";

// A database whose words all hold `h`: the alternate type "Rd" stands for
// "Ro<h>ad", the address "5 Main Ro<h>ad" is delivered as 7 "Ma<h>in2"
// "Ro<h>ad", and the street "Ma<h>in2" as "Final<h>". Also "5 Ma<h>in
// Street" is delivered as 8 "Found<h>" Street.
void BuildDatabase(const std::string& path, const std::string& h) {
  testing::MakeDatabase(path, testing::ReadFileBytes(testing::TestFile("../data/schema.sql")));
  const std::string road = "Ro" + h + "ad";
  const std::string street = "Ma" + h + "in2";
  Insert(path, {
                   // Decoys first: what a pasted key or a pattern ("%", "_") would also
                   // match, spelled with "y" where the real rows hold the text.
                   {kStreetType, {"Decoy"}},
                   {kStreetType, {"Royad"}},
                   {kStreetType, {"Street"}},
                   {kAlternateType, {"Rx", "Decoy"}},
                   {kStreetAddress, {"5 Main Royad", "Decoy", "99", "Decoy"}},
                   {kStreetAddress, {"5 Mayin Street", "Decoy", "99", "Decoy"}},
                   {kDeliveryAddress, {"Mayin2", "Decoy"}},
                   // The rows the keys must find.
                   {kStreetType, {road}},
                   {kAlternateType, {"Rd", road}},
                   {kAlternateType, {"St", "Street"}},
                   {kStreetAddress, {"5 Main " + road, street, "7", road}},
                   {kDeliveryAddress, {street, "Final" + h}},
                   {kStreetAddress, {"5 Ma" + h + "in Street", "Found" + h, "8", "Street"}},
               });
}

class HostileText : public ::testing::TestWithParam<const char*> {};

TEST_P(HostileText, FindsExactlyTheRowsAPlainKeyFinds) {
  const std::string h = GetParam();
  TempDir dir;
  BuildDatabase(dir.File("hostile.DAT"), h);
  BuildDatabase(dir.File("plain.DAT"), "z");
  const ZarnAddress hostile(dir.File("hostile.DAT"));
  const ZarnAddress plain(dir.File("plain.DAT"));

  // Database values that hold the text, used as keys of later look-ups.
  const AddressParts got = hostile.Parse("5 Main Rd");
  EXPECT_EQ(got.street_number, "7");
  EXPECT_EQ(got.street, "Final" + h);
  EXPECT_EQ(got.street_type, "Ro" + h + "ad");
  const AddressParts baseline = plain.Parse("5 Main Rd");
  EXPECT_EQ(baseline.street, "Finalz");
  EXPECT_EQ(got.street_number, baseline.street_number);

  // The text inside the address itself, where the clean-up leaves it alone.
  if (h.find_first_of("'.,*- ") == std::string::npos) {
    const AddressParts direct = hostile.Parse("5 Ma" + h + "in St");
    EXPECT_EQ(direct.street_number, "8");
    EXPECT_EQ(direct.street, "Found" + h);
    EXPECT_EQ(direct.street_type, "Street");
    // A word holding the text that has no row finds nothing, as a plain one.
    const AddressParts none = hostile.Parse("6 Ma" + h + "in St");
    EXPECT_EQ(none.street_number, "6");
    EXPECT_EQ(none.street, "Ma" + h + "in");
    const AddressParts plain_none = plain.Parse("6 Mazin St");
    EXPECT_EQ(plain_none.street, "Mazin");
    EXPECT_EQ(none.street_type, plain_none.street_type);
  }
}

INSTANTIATE_TEST_SUITE_P(Texts, HostileText,
                         ::testing::Values("'", "''", "\"", ";", "--", "%", "_", "\\",
                                           "' OR '1'='1", "%_%", "\"; DROP TABLE StreetType; --"));

}  // namespace
}  // namespace zarn
