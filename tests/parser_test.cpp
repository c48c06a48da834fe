// The public class end to end on the bundled reference database: the five
// parts of addresses, the single-part methods against Parse, kinds, text
// limits and errors.
#include <gtest/gtest.h>

#include "support/test_support.h"
#include "zarn/zarn.hpp"

namespace zarn {
namespace {

struct Case {
  const char* address;
  AddressParts parts;  // number, street, type, direction, unit
};

const Case kCases[] = {
    {"123 Main St. N", {"123", "Main", "Street", "N", ""}},
    {"100 N Main St S", {"100", "N Main", "Street", "S", ""}},
    {"123 St Laurent St", {"123", "St Laurent", "Street", "", ""}},
    {"5-123 Main St", {"123", "Main", "Street", "", "5"}},
    {"123 - Main St N", {"123", "Main", "Street", "N", ""}},
    {"123 Saint-Laurent St", {"123", "Saint Laurent", "Street", "", ""}},
    {"123 Main St Apt 5", {"123", "Main", "Street", "", "5"}},
    {"Apt 5 123 Main St", {"123", "Main", "Street", "", "5"}},
    {"123 Main St Unit #5", {"123", "Main", "Street", "", "5"}},
    {"123 Main St Unit# 5", {"123", "Main", "Street", "", "5"}},
    {"123 Main St 3rd Floor", {"123", "Main", "Street", "", "3"}},
    {"#5 123 Main St", {"123", "Main", "Street", "", "5"}},
    {"#123 Main St", {"123", "Main", "Street", "", ""}},
    {"123 Main St #0042", {"123", "Main", "Street", "", "42"}},
    {"123Main", {"123", "Main", "", "", ""}},
    {"12B", {"12", "B", "", "", ""}},
    {"1234 2ieme Avenue", {"1234", "2", "Avenue", "", ""}},
    {"1ere Rue", {"1ere", "", "Rue", "", ""}},
    {"123 21st Ave", {"123", "21", "Avenue", "", ""}},
    {"Apt 5 21st Ave", {"", "21", "Avenue", "", "5"}},
    {"55 Main St Nord", {"55", "Main", "Street", "N", ""}},
    {"55 Main St nord", {"55", "Main nord", "Street", "", ""}},
    {"4500 boul Saint-Laurent Ouest", {"4500", "Saint Laurent", "Boulevard", "W", ""}},
    {"5-123 rue Saint-Denis Ouest", {"123", "Saint Denis", "rue", "W", "5"}},
    {"123 rue Notre Dame", {"123", "Notre Dame", "rue", "", ""}},
    {"355, avenue de la Jeunesse", {"355", "de la Jeunesse", "avenue", "", ""}},
    {"12 Main St,", {"12", "Main", "Street", "", ""}},
    {"O'Brien St", {"", "OBrien", "Street", "", ""}},
    {"", {"", "", "", "", ""}},
    {"..,,**", {"", "", "", "", ""}},
};

class Parser : public ::testing::Test {
 protected:
  const ZarnAddress parser_{testing::BundledDatabase()};
};

TEST_F(Parser, FiveParts) {
  for (const Case& c : kCases) EXPECT_EQ(parser_.Parse(c.address), c.parts) << c.address;
}

TEST_F(Parser, SinglePartMethodsAgreeWithParse) {
  for (const Case& c : kCases) {
    const std::string a = c.address;
    EXPECT_EQ(parser_.StreetNumber(a), c.parts.street_number) << a;
    EXPECT_EQ(parser_.Street(a), c.parts.street) << a;
    EXPECT_EQ(parser_.StreetType(a), c.parts.street_type) << a;
    EXPECT_EQ(parser_.Direction(a), c.parts.direction) << a;
    EXPECT_EQ(parser_.Unit(a), c.parts.unit) << a;
    EXPECT_EQ(parser_.AddressSegment(a, kStreet), c.parts.street) << a;
    EXPECT_EQ(parser_.AddressSegment(a, kUnit), c.parts.unit) << a;
  }
}

TEST_F(Parser, BatchGivesTheSameAnswers) {
  std::vector<std::string_view> addresses;
  for (const Case& c : kCases) addresses.push_back(c.address);
  addresses.push_back("\xff bad");
  const std::vector<BatchResult> results = parser_.ParseBatch(addresses);
  ASSERT_EQ(results.size(), addresses.size());
  for (size_t i = 0; i < std::size(kCases); ++i) {
    EXPECT_TRUE(results[i].ok()) << results[i].error_message;
    EXPECT_EQ(results[i].parts, kCases[i].parts) << kCases[i].address;
  }
  EXPECT_EQ(results.back().error_number, kErrorInvalidArgument);
  EXPECT_EQ(results.back().parts, AddressParts{});
}

TEST_F(Parser, CopiesAndMovedFromObjectsParseWithTheSameDatabase) {
  ZarnAddress original(testing::BundledDatabase());
  const ZarnAddress copy = original;
  ZarnAddress moved = std::move(original);
  ZarnAddress assigned(testing::BundledDatabase() + ".missing");
  assigned = std::move(moved);
  for (const ZarnAddress* p :
       std::initializer_list<const ZarnAddress*>{&original, &copy, &moved, &assigned}) {
    EXPECT_EQ(p->DatabasePath(), testing::BundledDatabase());
    EXPECT_EQ(p->Parse(kCases[0].address), kCases[0].parts);
  }
}

TEST_F(Parser, KindsOutsideThePublicRangeGiveNothing) {
  const char* address = "5-123 rue Saint-Denis Ouest Apt 7";
  EXPECT_EQ(parser_.AddressSegment(address, kNone), "");
  EXPECT_EQ(parser_.AddressSegment(address, kDash), "-");
  for (int kind : {7, -1, 100, 101, 32767}) {
    EXPECT_EQ(parser_.AddressSegment(address, kind), "") << kind;
  }
  // "Apt 7" is a unit, but the dash rule makes the 5 of "5-123" one too, and
  // it comes first.
  EXPECT_EQ(parser_.AddressSegment(address, kUnit), "5");
}

TEST_F(Parser, OnlyTheFirstSegmentOfAKindIsAnswered) {
  // Two numbers after the street type stay unclassified and join the street;
  // two units: the first one.
  EXPECT_EQ(parser_.Unit("12 Main St Apt 5 Unit 6"), "5");
}

TEST_F(Parser, InvalidUtf8IsAClearError) {
  for (std::string_view bad : {std::string_view("\xc3"), std::string_view("12 \xff Main"),
                               std::string_view("\xed\xa0\x80"), std::string_view("\xc0\xaf")}) {
    try {
      parser_.Parse(bad);
      ADD_FAILURE() << "accepted invalid UTF-8";
    } catch (const Error& e) {
      EXPECT_EQ(e.Number(), kErrorInvalidArgument);
      EXPECT_NE(std::string(e.what()).find("UTF-8"), std::string::npos) << e.what();
    }
  }
}

TEST_F(Parser, LengthLimitCountsUtf16Units) {
  auto number_of = [this](const std::string& address) -> int {
    try {
      parser_.Parse(address);
      return 0;
    } catch (const Error& e) {
      return e.Number();
    }
  };
  EXPECT_EQ(number_of(std::string(32767, 'a')), 0);
  EXPECT_EQ(number_of(std::string(32768, 'a')), kErrorOverflow);
  // U+1F600 takes two UTF-16 units (four UTF-8 bytes).
  std::string emoji;
  for (int i = 0; i < 16383; ++i) emoji += "\xf0\x9f\x98\x80";
  EXPECT_EQ(number_of(emoji + "a"), 0);
  EXPECT_EQ(number_of(emoji + "ab"), kErrorOverflow);
  // Accented letters take one unit each.
  std::string accents;
  for (int i = 0; i < 32767; ++i) accents += "\xc3\xa9";
  EXPECT_EQ(number_of(accents), 0);
  // Periods vanish before the limit applies.
  EXPECT_EQ(number_of(std::string(100000, '.')), 0);
}

TEST_F(Parser, AnswersKeepNonAsciiText) {
  const AddressParts p = parser_.Parse("12 Montée Saint-Éloi");
  EXPECT_EQ(p.street_type, "Montée");
  EXPECT_EQ(p.street, "Saint Éloi");
  EXPECT_EQ(parser_.Parse("12 rue des Érables").street, "des Érables");
  // "Côte" is a street type too; only the last street-type word keeps the
  // kind, the earlier one joins the street name.
  EXPECT_EQ(parser_.Parse("12 chemin Côte-des-Neiges"),
            (AddressParts{"12", "chemin des Neiges", "Côte", "", ""}));
}

TEST_F(Parser, CallsDoNotDependOnEarlierCalls) {
  const ZarnAddress fresh(testing::BundledDatabase());
  for (const Case& c : kCases) parser_.Parse(c.address);
  for (const Case& c : kCases) EXPECT_EQ(parser_.Parse(c.address), fresh.Parse(c.address));
}

}  // namespace
}  // namespace zarn
