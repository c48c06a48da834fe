// The split of a lone token that glues the civic number to the street name.
#include "segments/joined_number.h"

#include <gtest/gtest.h>

#include "support/test_support.h"

namespace zarn::internal {
namespace {

TEST(SplitJoinedNumber, Table) {
  const struct {
    const char* in;
    const char* out;
  } cases[] = {
      {R"(None:?"123Main")", R"(Number:N"123" Street:N"Main")"},
      {R"(None:?"12B")", R"(Number:N"12" Street:N"B")"},
      {R"(None:?"1ere")", R"(Number:N"1" Street:N"ere")"},
      {R"(Type:?"12Ave")", R"(Number:N"12" Street:N"Ave")"},  // the old kind is discarded
      {R"(None:?"A12")", R"(None:M"A12")"},                   // starts with a letter
      {R"(None:?"123")", R"(None:D"123")"},                   // all digits
      {R"(None:?"123Main" None:?"St")", R"(None:M"123Main" None:N"St")"},
      {R"(None:?"123Main" None:?"")", R"(None:M"123Main" None:N"")"},  // trailing comma
      {R"(None:?"")", R"(None:N"")"},
  };
  for (const auto& c : cases) {
    SegmentTable t = testing::TableFromDump(c.in);
    SplitJoinedNumber(t);
    EXPECT_EQ(t.Dump(), c.out) << c.in;
  }
}

TEST(SplitJoinedNumber, NewRecordsCarryNoPositions) {
  SegmentTable t = testing::TableFromDump(R"(None:?"123Main")");
  SplitJoinedNumber(t);
  EXPECT_EQ(t.DumpWithPositions(), R"(Number:N"123"@0,0,0 Street:N"Main"@0,0,0)");
}

TEST(FirstNonDigit, Positions) {
  Segment s;
  s.SetText(u"123Main");
  EXPECT_EQ(FirstNonDigit(s), 4);
  s.SetText(u"123");
  EXPECT_EQ(FirstNonDigit(s), 4);
  s.SetText(u"");
  EXPECT_EQ(FirstNonDigit(s), 1);
  s.SetText(u"x1");
  EXPECT_EQ(FirstNonDigit(s), 1);
}

}  // namespace
}  // namespace zarn::internal
