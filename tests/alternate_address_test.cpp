// Alternate street addresses (rows of type 4) and alternate delivery
// addresses (rows of type 1), end to end on fixture databases, through the
// cached path and the plain per-pass path alike.
#include <gtest/gtest.h>

#include "component/access.h"
#include "support/test_support.h"
#include "zarn/zarn.hpp"

namespace zarn {
namespace {

using internal::DbPolicy;

class AlternateAddresses : public ::testing::Test {
 protected:
  void SetUp() override {
    testing::MakeDatabase(path_, testing::SmallReferenceSql() + R"sql(;
INSERT INTO AlternateAddress (AlternateAddressID, AlternateDeliveryAddress,
    AlternateAddressTypeID, DeliveryStreet, DeliveryNumber, DeliveryType, DeliveryAddress) VALUES
  (1, '123 Main Street', 4, 'Principale', '124', 'rue', NULL),
  (2, '10 Old Oak Avenue', 4, NULL, NULL, NULL, NULL),
  (3, 'Centre Mall', 4, 'Centre', '100', 'Mall', NULL),
  (4, 'Bay Ridge', 4, 'Bayridge', '7', 'Road', NULL),
  (5, 'Elm Grove', 1, NULL, NULL, NULL, 'Elm Grove Parkway North'),
  (6, 'Nowhere', 1, NULL, NULL, NULL, NULL),
  (7, '5 Twin Street', 4, 'First', NULL, NULL, NULL),
  (8, '5 twin street', 4, 'Second', NULL, NULL, NULL),
  (9, '1 Quote Street', 4, 'O''Brien', NULL, NULL, NULL),
  (10, 'O''Brien', 1, NULL, NULL, NULL, 'OBrien Lane'),
  (11, '9 Num Street', 4, NULL, 42, NULL, NULL),
  (12, 'Elm Grove', 4, 'Wrong', NULL, NULL, NULL),
  (13, '', 4, NULL, '0', 'Lane', NULL);
)sql");
  }

  // The five parts, identical through both database paths.
  AddressParts Parse(const char* address) {
    const AddressParts cached = detail::Access::WithPolicy(path_, DbPolicy::kCached).Parse(address);
    const AddressParts plain =
        detail::Access::WithPolicy(path_, DbPolicy::kOpenPerPass).Parse(address);
    EXPECT_EQ(cached, plain) << address;
    return cached;
  }

  std::string Dump(const char* address) {
    internal::SegmentTable table;
    detail::Access::ParseToTable(ZarnAddress(path_), address, table);
    return table.Dump();
  }

  int ErrorOf(const char* address) {
    try {
      ZarnAddress(path_).Parse(address);
    } catch (const Error& e) {
      return e.Number();
    }
    return 0;
  }

  testing::TempDir dir_;
  std::string path_ = dir_.File("ref.DAT");
};

AddressParts Parts(const char* number, const char* street, const char* type, const char* dir,
                   const char* unit) {
  return AddressParts{number, street, type, dir, unit};
}

TEST_F(AlternateAddresses, StreetAddressReplacesNumberStreetAndType) {
  EXPECT_EQ(Parse("123 Main St"), Parts("124", "Principale", "rue", "", ""));
  EXPECT_EQ(Parse("123 MAIN street"), Parts("124", "Principale", "rue", "", ""))
      << "keys compare without regard to ASCII case";
  EXPECT_EQ(Parse("123 Main St N"), Parts("124", "Principale", "rue", "N", ""));
  EXPECT_EQ(Parse("9 Num St"), Parts("42", "Num", "Street", "", "")) << "a number column as text";
}

TEST_F(AlternateAddresses, NullFieldsKeepTextAndEmptyLaterStreetWords) {
  EXPECT_EQ(Dump("10 Old Oak Ave"), R"(Number:D"10" Street:N"Old" Street:N"" Type:N"Avenue")");
  EXPECT_EQ(Parse("10 Old Oak Ave"), Parts("10", "Old", "Avenue", "", ""));
}

TEST_F(AlternateAddresses, MallRuleMakesTheCivicNumberTheUnit) {
  EXPECT_EQ(Dump("5 Centre Mall"), R"(Number:N"100" Unit:D"5" Street:N"Centre" Type:N"Mall")");
  EXPECT_EQ(Parse("5 Centre Mall"), Parts("100", "Centre", "Mall", "", "5"));
  // Other letter cases of "Mall" do not trigger the rule.
  EXPECT_EQ(Parse("5 Centre MALL"), Parts("5", "Centre", "MALL", "", ""));
  EXPECT_EQ(Parse("5 Centre mall"), Parts("5", "Centre", "mall", "", ""));
}

TEST_F(AlternateAddresses, MissingTypeAndNumberAreInsertedAtTheFront) {
  EXPECT_EQ(Dump("Bay Ridge"), R"(Type:N"Road" Number:N"7" Street:N"Bayridge" Street:N"")");
  EXPECT_EQ(Parse("Bay Ridge"), Parts("7", "Bayridge", "Road", "", ""));
}

TEST_F(AlternateAddresses, DeliveryAddressReplacesTheStreetName) {
  EXPECT_EQ(Parse("12 Elm Grove Ave"), Parts("12", "Elm Grove Parkway North", "Avenue", "", ""));
  EXPECT_EQ(Dump("12 Elm Grove Ave"),
            R"(Number:D"12" Street:N"Elm Grove Parkway North" Street:N"" Type:N"Avenue")");
  // A street name that only a row of type 4 knows ("Elm Grove" has one, but
  // its key is the whole address there) is not a delivery address.
  EXPECT_EQ(Parse("12 Bay Ridge Ave"), Parts("12", "Bay Ridge", "Avenue", "", ""));
}

TEST_F(AlternateAddresses, NullDeliveryAddressFailsWithInvalidUseOfNull) {
  EXPECT_EQ(ErrorOf("3 Nowhere Ave"), kErrorInvalidUseOfNull);
  // The next call on the same file is fine.
  EXPECT_EQ(Parse("123 Main St"), Parts("124", "Principale", "rue", "", ""));
}

TEST_F(AlternateAddresses, FirstMatchingRowWins) {
  EXPECT_EQ(Parse("5 Twin St"), Parts("5", "First", "Street", "", ""));
}

TEST_F(AlternateAddresses, KeyWithAQuoteIsBoundNotPasted) {
  // The street read from the first row holds a quote; it is the key of the
  // delivery look-up, which finds its row instead of failing.
  EXPECT_EQ(Parse("1 Quote St"), Parts("1", "OBrien Lane", "Street", "", ""));
}

TEST_F(AlternateAddresses, EmptyAddressMatchesARowKeyedByTheEmptyText) {
  EXPECT_EQ(Parse(""), Parts("0", "", "Lane", "", ""));
  EXPECT_EQ(Parse(".,"), Parts("0", "", "Lane", "", "")) << "cleans to spaces only";
}

TEST(AlternateAddressFaults, MissingTableOrColumnFailsTheCall) {
  testing::TempDir dir;
  const std::string no_table = dir.File("no_table.DAT");
  testing::MakeDatabase(no_table, testing::SmallReferenceSql() + ";DROP TABLE AlternateAddress;");
  const std::string no_column = dir.File("no_column.DAT");
  testing::MakeDatabase(no_column, testing::SmallReferenceSql() +
                                       ";ALTER TABLE AlternateAddress DROP COLUMN DeliveryType;");
  for (const std::string& path : {no_table, no_column}) {
    for (DbPolicy policy : {DbPolicy::kCached, DbPolicy::kOpenPerPass}) {
      try {
        detail::Access::WithPolicy(path, policy).Parse("1 Main St");
        ADD_FAILURE() << path;
      } catch (const Error& e) {
        EXPECT_EQ(e.Number(), 1) << e.what();  // SQLITE_ERROR
        EXPECT_NE(std::string(e.what()).find(path), std::string::npos) << e.what();
        EXPECT_NE(std::string(e.what()).find("AlternateAddress"), std::string::npos) << e.what();
      }
    }
  }
}

}  // namespace
}  // namespace zarn
