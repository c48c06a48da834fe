// Street-type recognition against a small fixture database.
#include <gtest/gtest.h>

#include "refdb/database_passes.h"
#include "support/test_support.h"
#include "zarn/zarn.hpp"

namespace zarn::internal {
namespace {

using testing::U16;

class StreetTypes : public ::testing::Test {
 protected:
  void SetUp() override { testing::MakeDatabase(path_, testing::SmallReferenceSql() + extra_); }

  // Tokenises `address` and marks its street types; returns the dump.
  std::string Run(const char* address) {
    for (DbPolicy policy : {DbPolicy::kCached, DbPolicy::kOpenPerPass}) {
      detail::ReferenceDatabase db(path_, policy);
      DatabaseSession session(db);
      SegmentTable table;
      std::u16string text = U16(address);
      TokeniseAndFindStreetTypes(text, table, session);
      dumps_[policy == DbPolicy::kCached ? 0 : 1] = table.Dump();
    }
    EXPECT_EQ(dumps_[0], dumps_[1]) << "cached and plain look-ups differ for " << address;
    return dumps_[0];
  }

  testing::TempDir dir_;
  std::string path_ = dir_.File("ref.DAT");
  std::string extra_;
  std::string dumps_[2];
};

TEST_F(StreetTypes, Table) {
  const struct {
    const char* address;
    const char* dump;
  } cases[] = {
      {"123 Main St", R"(None:?"123" None:?"Main" Type:?"Street")"},
      {"123 St Laurent St", R"(None:?"123" Street:?"St" None:?"Laurent" Type:?"Street")"},
      {"Avenue", R"(Type:?"Avenue")"},
      {"5 ave Foch", R"(None:?"5" Type:?"Avenue" None:?"Foch")"},  // rewritten, any case
      {"5 AVE", R"(None:?"5" Type:?"Avenue")"},
      {"5 ST", R"(None:?"5" Type:?"Street")"},  // only exactly "St" keeps its text
      {"1 rue Rue RUE", R"(None:?"1" Street:?"rue" Street:?"Rue" Type:?"RUE")"},
      {"12 Main ", R"(None:?"12" None:?"Main" None:?"")"},
      {"Ave Boul Hwy", R"(Street:?"Avenue" Street:?"Boulevard" Type:?"Highway")"},
      {"", R"(None:?"")"},
  };
  for (const auto& c : cases) EXPECT_EQ(Run(c.address), c.dump) << c.address;
}

class StreetTypesWithOverlap : public StreetTypes {
 protected:
  StreetTypesWithOverlap() {
    // "Crt" is both a street type and an alternate form.
    extra_ =
        "INSERT INTO StreetType (streettypeid, StreetTypeDesc) VALUES (20, 'Crt'), (21, 'Court');"
        "INSERT INTO AlternateStreetType (AlternateDeliveryAddress, streettypeid) VALUES "
        "('Crt', 21);";
  }
};

TEST_F(StreetTypesWithOverlap, AWordFoundByBothLookupsCountsOnce) {
  // Counted twice, the lone street-type word would end up in the street name.
  EXPECT_EQ(Run("5 Main Crt"), R"(None:?"5" None:?"Main" Type:?"Court")");
  EXPECT_EQ(Run("Crt Crt"), R"(Street:?"Court" Type:?"Court")");
}

class StreetTypesWithNull : public StreetTypes {
 protected:
  StreetTypesWithNull() {
    extra_ =
        "CREATE TABLE Broken (AlternateDeliveryAddress TEXT, StreetTypeDesc TEXT);"
        "INSERT INTO Broken VALUES ('Blvd', NULL), ('St', NULL);"
        "DROP VIEW qryAlternateStreetTypes;"
        "CREATE VIEW qryAlternateStreetTypes AS SELECT * FROM Broken;";
  }
};

TEST_F(StreetTypesWithNull, NullDescriptionFailsUnlessTheWordIsSt) {
  EXPECT_EQ(Run("5 Main St"), R"(None:?"5" None:?"Main" Type:?"Street")");
  try {
    Run("5 Main Blvd");
    ADD_FAILURE() << "expected invalid use of Null";
  } catch (const Error& e) {
    EXPECT_EQ(e.Number(), kErrorInvalidUseOfNull);
  }
}

}  // namespace
}  // namespace zarn::internal
