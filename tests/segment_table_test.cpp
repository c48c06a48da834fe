// The segment table: its queries, checked access, and the operations that
// change its size.
#include "segments/segment_table.h"

#include <gtest/gtest.h>

#include "support/test_support.h"
#include "zarn/zarn.hpp"

namespace zarn::internal {
namespace {

using testing::TableFromDump;

TEST(SegmentTable, Queries) {
  const SegmentTable t = TableFromDump(
      R"(Number:D"12" None:N"-" Street:N"Main" Dash:N"-" Type:N"St" None:N"-" None:N"")");
  EXPECT_EQ(t.CountUnclassified(), 3);
  EXPECT_EQ(t.FindFirstDash(), 2) << "found by text whatever the kind";
  EXPECT_EQ(t.FindSecondDash(), 4) << "the second of three";
  EXPECT_EQ(t.FindSegmentOfKind(kKindStreetType, 0), 5);
  EXPECT_EQ(t.FindSegmentOfKind(kKindStreetType, 5), 5);
  EXPECT_EQ(t.FindSegmentOfKind(kKindStreetType, 6), 0);
  EXPECT_EQ(t.FindSegmentOfKind(kKindStreet, 8), 0) << "one past the end";
  EXPECT_EQ(t.FindSegmentOfKind(kKindNone, 0), 0) << "record 0 matches None and reads as none";
  EXPECT_EQ(t.FindSegmentOfKind(kKindStreetNumber, 0), 1);
}

TEST(SegmentTable, DashQueriesOnFewDashes) {
  EXPECT_EQ(TableFromDump(R"(None:N"a" None:N"-" None:N"")").FindSecondDash(), 0);
  EXPECT_EQ(TableFromDump(R"(None:N"a")").FindFirstDash(), 0);
  // A dash whose text changed is no longer found.
  EXPECT_EQ(TableFromDump(R"(Dash:N"x" None:N"")").FindFirstDash(), 0);
  EXPECT_EQ(TableFromDump(R"(Street:N"a" Type:N"b")").CountUnclassified(), 0);
}

TEST(SegmentTable, CheckedAccessRaisesSubscriptOutOfRange) {
  SegmentTable t = TableFromDump(R"(None:N"a" None:N"b")");
  EXPECT_NO_THROW(t.At(0));
  EXPECT_NO_THROW(t.At(2));
  for (int bad : {-1, 3, 1000}) {
    try {
      t.At(bad);
      ADD_FAILURE() << "index " << bad;
    } catch (const Error& e) {
      EXPECT_EQ(e.Number(), kErrorSubscriptOutOfRange);
    }
  }
}

TEST(SegmentTable, InsertAndDeleteMoveLaterRecords) {
  SegmentTable t = TableFromDump(R"(Number:D"12" Street:N"Main" Type:N"St")");
  t.InsertSegment(1);
  EXPECT_EQ(t.Dump(), R"(None:?"" Number:D"12" Street:N"Main" Type:N"St")");
  t.InsertSegment(5);
  EXPECT_EQ(t.Count(), 5);
  EXPECT_EQ(t.Dump(), R"(None:?"" Number:D"12" Street:N"Main" Type:N"St" None:?"")");
  t.DeleteSegment(3);
  EXPECT_EQ(t.Dump(), R"(None:?"" Number:D"12" Type:N"St" None:?"")");
  EXPECT_EQ(t[2].len, 2) << "moved records keep every field";
  EXPECT_EQ(t[0].text(), u"");
}

TEST(SegmentTable, RebuildResetsRecordsAndReusesThem) {
  SegmentTable t = TableFromDump(R"(Street:M"a1" Type:N"b")");
  t.Rebuild(3);
  EXPECT_EQ(t.Dump(), R"(None:?"" None:?"" None:?"")");
  t.Rebuild(1);
  EXPECT_EQ(t.Count(), 1);
  EXPECT_EQ(t.Dump(), R"(None:?"")");
}

TEST(SegmentTable, DumpQuotesTextAndNamesPrivateKinds) {
  const SegmentTable t = TableFromDump(R"(Designator:N"Apt" Suffix:N"th" Street:N"a \"q\" b")");
  EXPECT_EQ(t.Dump(), R"(Designator:N"Apt" Suffix:N"th" Street:N"a \"q\" b")");
}

}  // namespace
}  // namespace zarn::internal
