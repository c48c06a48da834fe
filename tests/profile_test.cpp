// Rule profiles at the public interface: names, the options a parser keeps
// through copies and moves, and diagnostics (empty for the specified rules,
// emptied before every parse and every reused batch slot).
#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

#include "support/test_support.h"
#include "zarn/zarn.hpp"

namespace zarn {
namespace {

TEST(ProfileNames, RoundTripAndLetterCase) {
  for (Profile p : {Profile::kSpecified, Profile::kCanada}) {
    Profile back = p == Profile::kCanada ? Profile::kSpecified : Profile::kCanada;
    ASSERT_TRUE(ProfileFromName(ProfileName(p), &back)) << ProfileName(p);
    EXPECT_EQ(back, p);
  }
  Profile p = Profile::kSpecified;
  EXPECT_TRUE(ProfileFromName("CaNaDa", &p));
  EXPECT_EQ(p, Profile::kCanada);
  for (std::string_view bad : {"", "canad", "canadaa", "specified ", "default"}) {
    p = Profile::kCanada;
    EXPECT_FALSE(ProfileFromName(bad, &p)) << bad;
    EXPECT_EQ(p, Profile::kCanada) << "a failed look-up must leave the profile alone";
  }
  EXPECT_FALSE(ProfileFromName(std::string_view("canada\0", 7), &p));
}

TEST(DiagnosticFlagNames, InBitOrderUnknownBitsLeftOut) {
  EXPECT_EQ(DiagnosticFlagNames(0), "");
  EXPECT_EQ(DiagnosticFlagNames(kFlagRangeAssumed | kFlagNoStreetType),
            "no_street_type,range_assumed");
  EXPECT_EQ(DiagnosticFlagNames(0x80000000u), "");
  const std::string all = DiagnosticFlagNames(kAllDiagnosticFlags);
  EXPECT_EQ(all,
            "no_street_type,no_street_number,no_street,range_assumed,unit_assumed,"
            "direction_ambiguous,unknown_words,street_type_assumed,postal_code_invalid,"
            "postal_code_province,municipality_unknown,no_province");
}

class Profiles : public ::testing::Test {
 protected:
  const ZarnAddress specified_{testing::BundledDatabase()};
  const ZarnAddress canada_{testing::BundledDatabase(), ParseOptions{.profile = Profile::kCanada}};
};

TEST_F(Profiles, OptionsSurviveCopyAndMove) {
  EXPECT_EQ(specified_.Options().profile, Profile::kSpecified);
  ZarnAddress copy = canada_;
  EXPECT_EQ(copy.Options().profile, Profile::kCanada);
  ZarnAddress moved = std::move(copy);
  EXPECT_EQ(moved.Options().profile, Profile::kCanada);
  EXPECT_EQ(copy.Options().profile, Profile::kCanada);  // NOLINT: a moved-from parser still parses
  ZarnAddress assigned = specified_;
  assigned = canada_;
  EXPECT_EQ(assigned.Options().profile, Profile::kCanada);
  EXPECT_EQ(assigned.Parse("Foo bar"), canada_.Parse("Foo bar"));
}

TEST_F(Profiles, SpecifiedRulesReportNoDiagnostics) {
  for (std::string_view a : {"Foo bar", "", "123", "1630-1670, rue Sauve Est", "#5 # 6"}) {
    Diagnostics d{kFlagUnknownWords, {"stale"}};
    specified_.Parse(a, &d);
    EXPECT_TRUE(d.empty()) << a;
  }
}

TEST_F(Profiles, DiagnosticsAreEmptiedBeforeEachParse) {
  Diagnostics d{kAllDiagnosticFlags, {"stale", "words"}};
  canada_.Parse("123 Main St", &d);
  EXPECT_EQ(d.flags & kFlagNoStreetType, 0u);
  EXPECT_TRUE(std::find(d.unplaced_words.begin(), d.unplaced_words.end(), "stale") ==
              d.unplaced_words.end());
  canada_.Parse("Foo bar", &d);
  EXPECT_NE(d.flags & kFlagNoStreetType, 0u);
  EXPECT_NE(d.flags & kFlagNoStreetNumber, 0u);
}

TEST_F(Profiles, ReusedBatchSlotsCarryNoStaleDiagnostics) {
  const std::vector<std::string_view> doubtful = {"Foo bar", "Foo bar"};
  const std::vector<std::string_view> clean = {"123 Main St", "\xff"};
  std::vector<BatchResult> out(2);
  canada_.ParseBatch(doubtful, out);
  ASSERT_NE(out[0].diagnostics.flags, 0u);
  canada_.ParseBatch(clean, out);
  EXPECT_EQ(out[0].diagnostics.flags & kFlagNoStreetType, 0u);
  EXPECT_FALSE(out[1].ok());
  EXPECT_TRUE(out[1].diagnostics.empty()) << "a failed address has no diagnostics";
  canada_.ParseBatch(doubtful, out);
  specified_.ParseBatch(doubtful, out);
  EXPECT_TRUE(out[0].diagnostics.empty());
  EXPECT_TRUE(out[1].diagnostics.empty());
}

TEST_F(Profiles, CanadaFailsLikeTheSpecifiedRules) {
  const std::string too_long(kMaxAddressUnits + 1, 'a');
  for (std::string_view a : {std::string_view("\xff"), std::string_view(too_long)}) {
    int specified_number = 0, canada_number = 0;
    try {
      specified_.Parse(a);
    } catch (const Error& e) {
      specified_number = e.Number();
    }
    try {
      Diagnostics d;
      canada_.Parse(a, &d);
    } catch (const Error& e) {
      canada_number = e.Number();
    }
    EXPECT_NE(specified_number, 0);
    EXPECT_EQ(canada_number, specified_number);
  }
}

}  // namespace
}  // namespace zarn
