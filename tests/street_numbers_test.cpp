// Civic numbers: the dash rule and the general rule.
#include <gtest/gtest.h>

#include "rules/rules.h"
#include "support/test_support.h"

namespace zarn::internal {
namespace {

using testing::ExpectPassTable;

TEST(MarkStreetNumber, GeneralRule) {
  ExpectPassTable(MarkStreetNumber,
                  {
                      {R"(None:D"123" Street:N"Main" Type:N"Street")",
                       R"(Number:D"123" Street:N"Main" Type:N"Street")"},
                      {R"(None:M"12A" Street:N"Main" Type:N"Street")",
                       R"(Number:M"12A" Street:N"Main" Type:N"Street")"},
                      // Two numbers, no street word: the nearer is the street.
                      {R"(None:D"123" None:D"5" Type:N"Avenue")",
                       R"(Number:D"123" Street:D"5" Type:N"Avenue")"},
                      // Two numbers and a street word: the farther is the unit.
                      {R"(None:D"5" None:D"123" Street:N"Main" Type:N"Street")",
                       R"(Unit:D"5" Number:D"123" Street:N"Main" Type:N"Street")"},
                      // Three numbers.
                      {R"(None:D"7" None:D"5" None:D"123" Type:N"Street")",
                       R"(Unit:D"7" Number:D"5" Street:D"123" Type:N"Street")"},
                      // After the street type: not scanned.
                      {R"(Street:N"Main" Type:N"Street" None:D"5")",
                       R"(Street:N"Main" Type:N"Street" None:D"5")"},
                      // No street type: the scan starts at the last segment.
                      {R"(Street:N"Main" None:D"5")", R"(Street:N"Main" Number:D"5")"},
                      // An earlier kind stays.
                      {R"(Unit:D"5" Street:N"Main" Type:N"Street")",
                       R"(Unit:D"5" Street:N"Main" Type:N"Street")"},
                      // Three with a classified farthest one: nothing changes.
                      {R"(Number:D"9" None:D"5" None:D"123" Type:N"Street")",
                       R"(Number:D"9" None:D"5" None:D"123" Type:N"Street")"},
                      {R"(Street:N"a" None:N"b")", R"(Street:N"a" None:N"b")"},
                  });
}

TEST(MarkStreetNumber, DashRule) {
  ExpectPassTable(
      MarkStreetNumber,
      {
          // Unit-dash-number.
          {R"(None:D"5" Dash:N"-" None:D"123" None:N"Main" Type:N"Street")",
           R"(Unit:D"5" Dash:N"-" Number:D"123" Street:N"Main" Type:N"Street")"},
          // Number - name, street type, direction.
          {R"(None:D"123" Dash:N"-" None:N"Main" Type:N"Street" Dir:N"N")",
           R"(Number:D"123" Dash:N"-" Street:N"Main" Type:N"Street" Dir:N"N")"},
          // Number - number, street type, no direction.
          {R"(None:D"5" Dash:N"-" None:D"12" Type:N"Street" None:N"")",
           R"(Unit:D"5" Dash:N"-" Number:D"12" Type:N"Street" None:N"")"},
          // Words on both sides: the general rule decides.
          {R"(None:D"12" Street:N"Saint" Dash:N"-" Street:N"Laurent" Type:N"Street")",
           R"(Number:D"12" Street:N"Saint" Dash:N"-" Street:N"Laurent" Type:N"Street")"},
          // Two dashes without digits beside the first.
          {R"(None:N"Saint" Dash:N"-" None:N"Jean" Dash:N"-" None:N"Baptiste")",
           R"(None:N"Saint" Dash:N"-" None:N"Jean" Dash:N"-" None:N"Baptiste")"},
          // A dash first: slot 0 is never written.
          {R"(Dash:N"-" None:D"123" None:N"Main" Type:N"Street")",
           R"(Dash:N"-" Number:D"123" Street:N"Main" Type:N"Street")"},
          // Two dashes, a number after the first.
          {R"(None:D"1" Dash:N"-" None:D"2" Dash:N"-" None:N"x")",
           R"(Unit:D"1" Dash:N"-" Number:D"2" Dash:N"-" Street:N"x")"},
          // One dash before the last segment: number-number.
          {R"(None:D"12" Dash:N"-" None:D"14")", R"(Number:D"12" Dash:N"-" Street:D"14")"},
      });
}

TEST(MarkDashedNumber, ReturnsWhetherItSettledTheAddress) {
  auto settled = [](const char* dump) {
    SegmentTable t = testing::TableFromDump(dump);
    return MarkDashedNumber(t);
  };
  EXPECT_FALSE(settled(R"(None:D"1" None:N"x")"));
  EXPECT_FALSE(settled(R"(None:N"a" Dash:N"-" None:N"b" None:N"")"));
  EXPECT_TRUE(settled(R"(None:D"5" Dash:N"-" None:D"1" None:N"x")"));
  EXPECT_FALSE(settled(R"(None:D"5" Dash:N"-" None:D"1" Type:N"Street")"));
  // Left holds digits, right does not: marked, but the general rule still runs.
  EXPECT_FALSE(settled(R"(None:D"12" Dash:N"-" None:N"x" Dash:N"-" None:N"")"));
}

}  // namespace
}  // namespace zarn::internal
