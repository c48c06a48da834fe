// Ordinal suffixes on street and unit words.
#include <gtest/gtest.h>

#include "rules/rules.h"
#include "support/test_support.h"

namespace zarn::internal {
namespace {

TEST(StripOrdinalSuffixes, Table) {
  testing::ExpectPassTable(
      StripOrdinalSuffixes,
      {
          {R"(Street:?"21st")", R"(Street:D"21")"},
          {R"(Street:?"22nd")", R"(Street:D"22")"},
          {R"(Street:?"3rd")", R"(Street:D"3")"},
          {R"(Street:?"4th")", R"(Street:D"4")"},
          {R"(Street:?"4TH")", R"(Street:D"4")"},
          {R"(Street:?"2ieme")", R"(Street:D"2")"},
          {R"(Street:?"5eme")", R"(Street:D"5")"},
          {R"(Street:?"2IEME")", R"(Street:D"2")"},
          {R"(Street:?"1ere")", R"(Street:D"1")"},
          {R"(Street:?"21ere")", R"(Street:D"21")"},
          {R"(Street:?"2ere")", R"(Street:M"2ere")"},
          {R"(Street:?"4Th")", R"(Street:M"4Th")"},
          {R"(Street:?"2Nd")", R"(Street:M"2Nd")"},
          {R"(Unit:?"3rd")", R"(Unit:D"3")"},
          {R"(Street:?"A1A")", R"(Street:M"A1A")"},
          {R"(Street:?"B2nd5")", R"(Street:M"B25")"},
          {R"(Number:?"21st" Type:?"3rd" Dir:?"1st")", R"(Number:M"21st" Type:M"3rd" Dir:M"1st")"},
          {R"(Street:?"first")", R"(Street:N"first")"},
          // Lone suffix words.
          {R"(Number:?"5" Street:?"21" Street:?"th" Type:?"Avenue")",
           R"(Number:D"5" Street:D"21" Suffix:N"th" Type:N"Avenue")"},
          {R"(Type:?"nd" Street:?"st" Street:?"rd")", R"(Suffix:N"nd" Street:N"st" Street:N"rd")"},
      });
}

}  // namespace
}  // namespace zarn::internal
