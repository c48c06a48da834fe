// Units: designator words, "#" words, unit text clean-up and unit numbers.
#include <gtest/gtest.h>

#include "rules/rules.h"
#include "support/test_support.h"

namespace zarn::internal {
namespace {

using testing::ExpectPassTable;
using testing::TableFromDump;

TEST(MarkUnits, DesignatorWords) {
  ExpectPassTable([](SegmentTable& t) { MarkUnits(t); },
                  {
                      {R"(None:D"123" Street:N"Main" Type:N"Street" None:N"Apt" None:D"5")",
                       R"(None:D"123" Street:N"Main" Type:N"Street" Designator:N"Apt" Unit:D"5")"},
                      {R"(None:N"Apt" None:D"5" None:D"123" Street:N"Main" Type:N"Street")",
                       R"(Designator:N"Apt" Unit:D"5" None:D"123" Street:N"Main" Type:N"Street")"},
                      {R"(Street:N"Main" Type:N"Street" None:N"Unit" None:M"#5")",
                       R"(Street:N"Main" Type:N"Street" Designator:N"Unit" Unit:M"#5")"},
                      {R"(Street:N"Main" Type:N"Street" None:N"Unit#" None:D"5")",
                       R"(Street:N"Main" Type:N"Street" Designator:N"Unit#" Unit:D"5")"},
                      {R"(Street:N"Main" Type:N"Street" None:M"3rd" None:N"Floor")",
                       R"(Street:N"Main" Type:N"Street" Unit:M"3rd" Designator:N"Floor")"},
                      // The word before "Floor" becomes the unit whatever its kind.
                      {R"(Street:N"Main" Type:N"Street" None:N"Flr" None:D"2")",
                       R"(Street:N"Main" Unit:N"Street" Designator:N"Flr" None:D"2")"},
                      // "Floor" first: nothing to mark.
                      {R"(None:N"Floor" None:D"3")", R"(None:N"Floor" None:D"3")"},
                      // Later rules overwrite earlier ones.
                      {R"(None:N"Unit" None:N"Apt" None:D"5")",
                       R"(Designator:N"Unit" Designator:N"Apt" Unit:D"5")"},
                      // A designator last has nothing to mark; it still is no street word.
                      {R"(Street:N"Main" Type:N"Street" None:N"Apt")",
                       R"(Street:N"Main" Type:N"Street" Designator:N"Apt")"},
                      // Case-sensitive.
                      {R"(None:N"apt" None:D"5")", R"(None:N"apt" None:D"5")"},
                  });
}

TEST(MarkUnits, HashWords) {
  ExpectPassTable(
      [](SegmentTable& t) { MarkUnits(t); },
      {
          // Last, with a digit, street type no highway word.
          {R"(None:D"123" Street:N"Main" Type:N"Street" None:M"#5")",
           R"(None:D"123" Street:N"Main" Type:N"Street" Unit:M"#5")"},
          // First, a number and then no street type: unit.
          {R"(None:M"#5" None:D"123" Street:N"Main" Type:N"Street")",
           R"(Unit:M"#5" None:D"123" Street:N"Main" Type:N"Street")"},
          // Next word has no digit: civic number.
          {R"(None:M"#123" Street:N"Main" Type:N"Street")",
           R"(Number:M"#123" Street:N"Main" Type:N"Street")"},
          // Second to last and not first: street.
          {R"(None:D"123" Street:N"Main" None:M"#5" Type:N"Street")",
           R"(None:D"123" Street:N"Main" Street:M"#5" Type:N"Street")"},
          // No digit.
          {R"(Street:N"Main" Type:N"Street" None:N"#A")",
           R"(Street:N"Main" Type:N"Street" Street:N"#A")"},
          // A dash anywhere: no "#" word is decided.
          {R"(None:D"1" Dash:N"-" None:D"2" None:M"#5")",
           R"(None:D"1" Dash:N"-" None:D"2" None:M"#5")"},
          // Number then a street type: unit only when the street type comes
          // before the first street word.
          {R"(None:M"#4" None:D"12" Type:N"Avenue" Street:N"x" None:N"")",
           R"(Unit:M"#4" None:D"12" Type:N"Avenue" Street:N"x" None:N"")"},
          {R"(Street:N"x" None:M"#4" None:D"12" Type:N"Avenue" None:N"")",
           R"(Street:N"x" Number:M"#4" None:D"12" Type:N"Avenue" None:N"")"},
          {R"(None:M"#4" None:D"12" Type:N"Avenue")", R"(Number:M"#4" None:D"12" Type:N"Avenue")"},
          // Already classified: not a candidate.
          {R"(Street:M"#4" None:N"x")", R"(Street:M"#4" None:N"x")"},
      });
}

TEST(HashTokenIsUnit, HighwayWordsAreCaseSensitive) {
  const struct {
    const char* table;
    bool unit;
  } cases[] = {
      {R"(None:D"1" Type:N"highway" None:M"#7")", false},
      {R"(None:D"1" Type:N"hwy" None:M"#7")", false},
      // "Highway" holds "hw" in its middle: the pattern matches it.
      {R"(None:D"1" Type:N"Highway" None:M"#7")", false},
      {R"(None:D"1" Type:N"HIGHWAY" None:M"#7")", true},
      {R"(None:D"1" Type:N"Hwy" None:M"#7")", true},
      {R"(None:D"1" None:N"x" None:M"#7")", true},  // no street type: empty text
  };
  for (const auto& c : cases) {
    const SegmentTable t = TableFromDump(c.table);
    EXPECT_EQ(HashTokenIsUnit(t, 3), c.unit) << c.table;
  }
  const SegmentTable first = TableFromDump(R"(None:M"#7" None:N"x")");
  EXPECT_TRUE(HashTokenIsUnit(first, 1));
  const SegmentTable middle = TableFromDump(R"(None:N"y" None:M"#7" None:N"x")");
  EXPECT_FALSE(HashTokenIsUnit(middle, 2));
}

TEST(CleanUnitText, Table) {
  ExpectPassTable(
      CleanUnitText,
      {
          {R"(Unit:M"Unit#5")", R"(Unit:M"5")"},
          {R"(Unit:M"Apt12")", R"(Unit:M"12")"},
          {R"(Number:M"#123" Street:N"Main")", R"(Number:M"123" Street:N"Main")"},
          // Stops after the first unit.
          {R"(Unit:M"#5" Street:N"#x" Unit:M"#6")", R"(Unit:M"5" Street:N"#x" Unit:M"#6")"},
          // No unit: every segment loses one "#".
          {R"(Street:N"##a" None:N"b#")", R"(Street:N"#a" None:N"b")"},
          {R"(Unit:N"unit")", R"(Unit:N"unit")"},
      });
}

TEST(NormaliseUnitNumber, DropsLeadingZerosOfAllDigitUnits) {
  ExpectPassTable(NormaliseUnitNumber,
                  {
                      {R"(Unit:D"007")", R"(Unit:D"7")"},
                      {R"(Unit:D"000")", R"(Unit:D"0")"},
                      {R"(Unit:D"0042")", R"(Unit:D"42")"},
                      {R"(Unit:M"4B")", R"(Unit:M"4B")"},
                      {R"(Street:D"007")", R"(Street:D"007")"},
                      {R"(Unit:D"0000123456789012345678901234567890123456789")",
                       R"(Unit:D"123456789012345678901234567890123456789")"},
                  });
}

}  // namespace
}  // namespace zarn::internal
