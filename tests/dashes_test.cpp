// Dash segments, and their removal beside street types.
#include <gtest/gtest.h>

#include "rules/rules.h"
#include "support/test_support.h"

namespace zarn::internal {
namespace {

using testing::ExpectPassTable;

TEST(MarkDashes, EveryLoneDashWhateverItsKind) {
  ExpectPassTable(MarkDashes, {
                                  {R"(None:N"a" None:N"-" Type:N"-" None:N"--")",
                                   R"(None:N"a" Dash:N"-" Dash:N"-" None:N"--")"},
                              });
}

TEST(DropDashesBesideStreetType, Table) {
  ExpectPassTable(
      DropDashesBesideStreetType,
      {
          // After the street type.
          {R"(Street:N"Main" Type:N"St" Dash:N"-" None:D"5")",
           R"(Street:N"Main" Type:N"St" None:D"5")"},
          // Between number and name: stays.
          {R"(None:D"123" Dash:N"-" None:N"Main" Type:N"St")",
           R"(None:D"123" Dash:N"-" None:N"Main" Type:N"St")"},
          // Before the street type.
          {R"(None:N"Main" Dash:N"-" Type:N"St" None:N"")", R"(None:N"Main" Type:N"St" None:N"")"},
          // A run of dashes beside a street type goes one by one.
          {R"(None:N"Main" Type:N"St" Dash:N"-" Dash:N"-" None:D"5")",
           R"(None:N"Main" Type:N"St" None:D"5")"},
          {R"(Dash:N"-" Dash:N"-" Type:N"St" Dash:N"-" None:N"")", R"(Type:N"St" None:N"")"},
          // No street type, no dash: unchanged.
          {R"(None:N"a" Dash:N"-" None:N"b")", R"(None:N"a" Dash:N"-" None:N"b")"},
          {R"(None:N"a" Type:N"St")", R"(None:N"a" Type:N"St")"},
          // A dash first: the placeholder before it is no street type.
          {R"(Dash:N"-" None:D"12" Type:N"St")", R"(Dash:N"-" None:D"12" Type:N"St")"},
          // Two runs: one beside the street type, one not.
          {R"(None:D"1" Dash:N"-" None:D"2" Type:N"St" Dash:N"-" None:N"")",
           R"(None:D"1" Dash:N"-" None:D"2" Type:N"St" None:N"")"},
      });
}

}  // namespace
}  // namespace zarn::internal
