// Street name completion: around the street type, the first unclassified run,
// and the final fallback.
#include <gtest/gtest.h>

#include "rules/rules.h"
#include "support/test_support.h"

namespace zarn::internal {
namespace {

using testing::ExpectPassTable;

TEST(ExtendStreetAroundType, Table) {
  ExpectPassTable(
      [](SegmentTable& t) { ExtendStreetAroundType(t); },
      {
          {R"(None:D"123" None:N"Main" Type:N"Street")",
           R"(None:D"123" Street:N"Main" Type:N"Street")"},
          {R"(None:D"12" None:N"Old" None:N"Mill" Type:N"Street")",
           R"(None:D"12" Street:N"Old" Street:N"Mill" Type:N"Street")"},
          // Nothing before: the words after the street type.
          {R"(None:D"123" Type:N"Street" None:N"Laurent" None:D"5" None:N"x")",
           R"(None:D"123" Type:N"Street" Street:N"Laurent" None:D"5" None:N"x")"},
          {R"(None:D"100" None:N"N" None:N"Main" Type:N"Street" Dir:N"S")",
           R"(None:D"100" Street:N"N" Street:N"Main" Type:N"Street" Dir:N"S")"},
          // A direction stops both walks.
          {R"(None:D"123" Dir:N"N" Type:N"Street")", R"(None:D"123" Dir:N"N" Type:N"Street")"},
          // A word with digits stops the walk.
          {R"(None:D"123" None:M"21st" Type:N"Avenue")",
           R"(None:D"123" None:M"21st" Type:N"Avenue")"},
          // No street type: the leading run of bare words.
          {R"(None:N"Main" None:N"Road" None:D"5" None:N"x")",
           R"(Street:N"Main" Street:N"Road" None:D"5" None:N"x")"},
          // An empty word is a bare word too.
          {R"(None:D"1" Type:N"Street" None:N"")", R"(None:D"1" Type:N"Street" Street:N"")"},
      });
}

TEST(MarkFirstUnclassifiedRun, StopsAfterTheFirstRun) {
  ExpectPassTable(MarkFirstUnclassifiedRun,
                  {
                      {R"(Number:D"1" None:N"a" None:D"2" Unit:D"3" None:N"b")",
                       R"(Number:D"1" Street:N"a" Street:D"2" Unit:D"3" None:N"b")"},
                      {R"(Number:D"1" Unit:D"3")", R"(Number:D"1" Unit:D"3")"},
                  });
}

TEST(MarkRemainingAsStreet, TakesEveryUnclassifiedSegment) {
  ExpectPassTable(MarkRemainingAsStreet,
                  {
                      {R"(None:N"a" Unit:D"3" None:N"b" Designator:N"Apt")",
                       R"(Street:N"a" Unit:D"3" Street:N"b" Designator:N"Apt")"},
                  });
}

}  // namespace
}  // namespace zarn::internal
