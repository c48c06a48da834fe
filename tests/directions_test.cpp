// Direction words.
#include <gtest/gtest.h>

#include "rules/rules.h"
#include "support/test_support.h"

namespace zarn::internal {
namespace {

using testing::ExpectPassTable;

TEST(MarkDirection, Table) {
  ExpectPassTable(
      [](SegmentTable& t) { MarkDirection(t); },
      {
          {R"(None:D"123" None:N"Main" Type:N"Street" None:N"N")",
           R"(None:D"123" None:N"Main" Type:N"Street" Dir:N"N")"},
          {R"(None:D"123" None:N"North" Type:N"Street")", R"(None:D"123" Dir:N"N" Type:N"Street")"},
          // Only the word nearest the end.
          {R"(None:D"100" None:N"N" None:N"Main" Type:N"Street" None:N"S")",
           R"(None:D"100" None:N"N" None:N"Main" Type:N"Street" Dir:N"S")"},
          {R"(None:N"x" None:N"Ouest")", R"(None:N"x" Dir:N"W")"},
          {R"(None:N"x" None:N"Est")", R"(None:N"x" Dir:N"E")"},
          {R"(None:N"x" None:N"Nord")", R"(None:N"x" Dir:N"N")"},
          {R"(None:N"x" None:N"Sud")", R"(None:N"x" Dir:N"S")"},
          {R"(None:N"x" None:N"West")", R"(None:N"x" Dir:N"W")"},
          {R"(None:N"x" None:N"East")", R"(None:N"x" Dir:N"E")"},
          {R"(None:N"x" None:N"South")", R"(None:N"x" Dir:N"S")"},
          {R"(None:N"NE" None:N"NW" None:N"SE" None:N"SW" None:N"E" None:N"W")",
           R"(None:N"NE" None:N"NW" None:N"SE" None:N"SW" None:N"E" Dir:N"W")"},
          // Any kind is taken, a street type included.
          {R"(None:N"a" Type:N"E")", R"(None:N"a" Dir:N"E")"},
          // Exact, case-sensitive words only.
          {R"(None:N"nord" None:N"NORTH" None:N"n" None:N"OUEST" None:N"Northeast")",
           R"(None:N"nord" None:N"NORTH" None:N"n" None:N"OUEST" None:N"Northeast")"},
      });
}

TEST(MarkDirection, ReturnsIndexAndKeepsPositions) {
  SegmentTable t = testing::TableFromDump(R"(None:N"a" None:N"North" None:N"b")");
  EXPECT_EQ(MarkDirection(t), 2);
  EXPECT_EQ(t[2].len, 5) << "keeps describing the word as typed";
  SegmentTable none = testing::TableFromDump(R"(None:N"a")");
  EXPECT_EQ(MarkDirection(none), 0);
  SegmentTable empty;
  EXPECT_EQ(MarkDirection(empty), 0);
}

}  // namespace
}  // namespace zarn::internal
