// The library's one description of its output: the field table, the
// profile and flag names, the result of one parse and where the default
// database is found.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "support/test_support.h"
#include "zarn/zarn.hpp"

namespace zarn {
namespace {

TEST(FieldTable, NamesAreDistinctIdentifiersWithMeaningsAndProfiles) {
  ASSERT_EQ(Fields().size(), kFieldCount);
  std::set<std::string_view> seen;
  for (const FieldInfo& field : Fields()) {
    const std::string_view name = field.name;
    EXPECT_TRUE(seen.insert(name).second) << name;
    ASSERT_FALSE(name.empty());
    EXPECT_TRUE(name[0] >= 'a' && name[0] <= 'z') << name;
    for (char c : name) EXPECT_TRUE((c >= 'a' && c <= 'z') || c == '_') << name;
    EXPECT_GT(std::string_view(field.meaning).size(), 10u) << name;
    EXPECT_NE(field.profiles, 0u) << name;
    EXPECT_EQ(field.profiles & ~static_cast<uint32_t>(ZARN_FILLED_BY_ALL), 0u) << name;
  }
}

// The five classic fields keep their indexes and names: the C constants,
// zarn_parts and every interface's column order depend on them.
TEST(FieldTable, ClassicFieldsKeepTheirPlaces) {
  const struct {
    int index;
    const char* name;
    std::string AddressParts::*member;
  } kClassic[] = {
      {ZARN_FIELD_STREET_NUMBER, "street_number", &AddressParts::street_number},
      {ZARN_FIELD_STREET, "street", &AddressParts::street},
      {ZARN_FIELD_STREET_TYPE, "street_type", &AddressParts::street_type},
      {ZARN_FIELD_DIRECTION, "direction", &AddressParts::direction},
      {ZARN_FIELD_UNIT, "unit", &AddressParts::unit},
  };
  for (size_t i = 0; i < std::size(kClassic); ++i) {
    const auto& c = kClassic[i];
    EXPECT_EQ(c.index, static_cast<int>(i));
    EXPECT_STREQ(Fields()[i].name, c.name);
    EXPECT_EQ(FieldIndex(c.name), c.index);
    AddressParts parts;
    parts.*(c.member) = c.name;
    EXPECT_EQ(std::as_const(parts).Field(i), c.name);
    EXPECT_TRUE(Fields()[i].FilledBy(Profile::kSpecified) &&
                Fields()[i].FilledBy(Profile::kCanada));
  }
}

TEST(FieldTable, FieldWritesExactlyItsOwnMember) {
  for (size_t i = 0; i < kFieldCount; ++i) {
    AddressParts parts;
    parts.Field(i) = Fields()[i].name;
    for (size_t j = 0; j < kFieldCount; ++j) {
      EXPECT_EQ(std::as_const(parts).Field(j), i == j ? Fields()[i].name : "") << i << " " << j;
    }
  }
}

TEST(FieldTable, UnknownNamesHaveNoIndex) {
  for (const char* name : {"", "number", "Street", "street ", "street_numbers", "error"}) {
    EXPECT_EQ(FieldIndex(name), -1) << name;
  }
}

TEST(Names, ProfilesRoundTripAndChoicesNameThemAll) {
  ASSERT_EQ(ProfileNames().size(), 2u);
  for (size_t i = 0; i < ProfileNames().size(); ++i) {
    Profile p{};
    ASSERT_TRUE(ProfileFromName(ProfileNames()[i], &p));
    EXPECT_EQ(static_cast<size_t>(p), i);
    EXPECT_STREQ(ProfileName(p), ProfileNames()[i]);
    EXPECT_NE(ProfileChoices().find(ProfileNames()[i]), std::string::npos);
  }
  EXPECT_EQ(ProfileChoices(), "specified or canada");
  EXPECT_STREQ(ProfileName(static_cast<Profile>(7)), "");
}

TEST(Names, DiagnosticFlagsAreOneRowPerBitInOrder) {
  uint32_t all = 0;
  for (size_t i = 0; i < DiagnosticFlags().size(); ++i) {
    const FlagInfo& flag = DiagnosticFlags()[i];
    EXPECT_EQ(flag.bit, 1u << i);
    EXPECT_EQ(DiagnosticFlagNames(flag.bit), flag.name);
    EXPECT_GT(std::string_view(flag.meaning).size(), 10u);
    all |= flag.bit;
  }
  EXPECT_EQ(all, kAllDiagnosticFlags);
  EXPECT_EQ(DiagnosticFlagNames(kFlagNoStreetType | kFlagRangeAssumed),
            "no_street_type,range_assumed");
}

// Sets or clears ZARN_DATABASE for one test.
class DatabaseVariable {
 public:
  explicit DatabaseVariable(const char* value) {
    const char* old = std::getenv("ZARN_DATABASE");
    if (old != nullptr) old_ = old;
    had_ = old != nullptr;
    if (value != nullptr) {
      setenv("ZARN_DATABASE", value, 1);
    } else {
      unsetenv("ZARN_DATABASE");
    }
  }
  ~DatabaseVariable() {
    if (had_) {
      setenv("ZARN_DATABASE", old_.c_str(), 1);
    } else {
      unsetenv("ZARN_DATABASE");
    }
  }

 private:
  bool had_ = false;
  std::string old_;
};

TEST(DefaultDatabase, TheVariableWinsWhenSetAndNotEmpty) {
  {
    DatabaseVariable set("/elsewhere/mine.DAT");
    EXPECT_EQ(ReferenceDatabasePath(), "/elsewhere/mine.DAT");
    EXPECT_EQ(ZarnAddress().DatabasePath(), "/elsewhere/mine.DAT");
  }
  DatabaseVariable empty("");
  EXPECT_NE(ReferenceDatabasePath(), "");
}

// This test program lives in the build tree's bin/, as zarn-parse does: the
// database is found in the build tree's share/zarn/, not at the prefix the
// build was configured to install to.
TEST(DefaultDatabase, FoundBesideTheProgram) {
  DatabaseVariable unset(nullptr);
  const std::string found = ReferenceDatabasePath();
  std::error_code ec;
  EXPECT_TRUE(std::filesystem::equivalent(found, zarn::testing::BundledDatabase(), ec)) << found;
  EXPECT_EQ(ZarnAddress().Parse("123 Main St. N").street_type, "Street");
}

TEST(ParseResultOf, CarriesWhatTheOptionsAskFor) {
  const ZarnAddress canada(zarn::testing::BundledDatabase(),
                           ParseOptions{.profile = Profile::kCanada});
  const ParseResult plain = canada.ParseResultOf("5-123 rue Saint-Denis Ouest");
  EXPECT_TRUE(plain.ok());
  EXPECT_EQ(plain.parts.street_number, "123");
  EXPECT_FALSE(plain.standard.has_value());
  EXPECT_EQ(plain.diagnostics.flags, static_cast<uint32_t>(kFlagUnitAssumed));

  const ParseResult full = canada.ParseResultOf(
      "5-123 rue Saint-Denis Ouest", OutputOptions{.diagnostics = true, .standard = true});
  ASSERT_TRUE(full.standard.has_value());
  EXPECT_EQ(full.standard->line, "5-123 RUE SAINT-DENIS O");
  EXPECT_EQ(full.standard->language, Language::kFrench);
  EXPECT_EQ(full.parts, plain.parts);

  const ParseResult english =
      canada.ParseResultOf("5-123 rue Saint-Denis Ouest",
                           OutputOptions{.standard = true, .language = Language::kEnglish});
  ASSERT_TRUE(english.standard.has_value());
  EXPECT_EQ(english.standard->language, Language::kEnglish);

  const ParseResult bad = canada.ParseResultOf("12 Ave\xff", OutputOptions{.standard = true});
  EXPECT_EQ(bad.error_number, kErrorInvalidArgument);
  EXPECT_FALSE(bad.standard.has_value());
  EXPECT_EQ(bad.parts, AddressParts{});
}

TEST(ParseResultOf, AMissingDatabaseIsTheResultsError) {
  const ZarnAddress parser("/no/such/dir/qordatavb.DAT");
  const ParseResult r = parser.ParseResultOf("123 Main St", OutputOptions{.standard = true});
  EXPECT_EQ(r.error_number, 14);
  EXPECT_NE(r.error_message.find("/no/such/dir/qordatavb.DAT"), std::string::npos);
}

// The option the COM component uses: the file opened and closed by every
// pass gives the answers of the kept connections.
TEST(KeepFileOpen, OffGivesTheSameAnswers) {
  for (Profile profile : {Profile::kSpecified, Profile::kCanada}) {
    const ZarnAddress kept(zarn::testing::BundledDatabase(), ParseOptions{.profile = profile});
    const ZarnAddress reopened(zarn::testing::BundledDatabase(),
                               ParseOptions{.profile = profile, .keep_file_open = false});
    for (const char* address : {"123 Main St. N", "5-123 rue Saint-Denis Ouest", "Apt 5 21st Ave",
                                "1069 HWY 15", "12 ST MARYS RD", ""}) {
      EXPECT_EQ(kept.Parse(address), reopened.Parse(address)) << address;
      const OutputOptions both{.diagnostics = true, .standard = true};
      EXPECT_EQ(kept.ParseResultOf(address, both), reopened.ParseResultOf(address, both))
          << address;
    }
  }
}

}  // namespace
}  // namespace zarn
