// The canada profile's passes one at a time: the table after each pass, for
// addresses run through the clean-up, the tokeniser and the passes before it.
#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "rules/canada/canada.h"
#include "segments/tokeniser.h"
#include "support/test_support.h"

namespace zarn::internal::canada {
namespace {

using testing::U16;

struct Case {
  const char* address;
  const char* dump;  // SegmentTable::Dump() after the pass
};

class CanadaPasses : public ::testing::Test {
 protected:
  // Runs the pipeline on `address` up to and including the pass `last`.
  std::string RunThrough(std::string_view last, const char* address) {
    std::u16string text = U16(address);
    CleanTextCanada(text, state_.scratch);
    Tokenise(text, table_);
    DatabaseSession session(db_);
    Context context{table_, state_, session};
    for (int i = 0; i < kCanadaPassCount; ++i) {
      kCanadaPasses[i].run(context);
      if (last == kCanadaPasses[i].name) return table_.Dump();
    }
    ADD_FAILURE() << "no pass named " << last;
    return {};
  }

  void Expect(std::string_view pass, std::initializer_list<Case> cases) {
    for (const Case& c : cases) {
      state_.flags = 0;
      EXPECT_EQ(RunThrough(pass, c.address), c.dump) << pass << ": " << c.address;
    }
  }

  detail::ReferenceDatabase db_{testing::BundledDatabase()};
  SegmentTable table_;
  State state_;
};

TEST(CleanTextCanada, Table) {
  const struct {
    const char* in;
    const char* out;
  } cases[] = {
      {"123 Main St.", "123 Main St"},
      {"355, rue du Carrefour", "355 ,  rue du Carrefour"},
      {"5-123 rue Saint-Denis", "5-123 rue Saint-Denis"},  // hyphens stay in words
      {"203, rue de l'Église", "203 ,  rue de l'Église"},  // and apostrophes
      {"Unit#5", "Unit # 5"},
      {"12 Main\tSt*(rear)  ", "12 Main St  rear"},  // trailing spaces go
      {"", ""},
      {"   ", ""},
  };
  std::u16string scratch;
  for (const auto& c : cases) {
    std::u16string text = U16(c.in);
    CleanTextCanada(text, scratch);
    EXPECT_EQ(text, U16(c.out)) << c.in;
  }
}

TEST_F(CanadaPasses, SplitGluedTokens) {
  Expect(
      "SplitGluedTokens",
      {
          {"5-123 rue Saint-Denis",
           R"(None:?"5" None:?"-" None:?"123" None:?"rue" None:?"Saint-Denis")"},
          {"A-123 Main", R"(None:?"A" None:?"-" None:?"123" None:?"Main")"},
          {"1630-1670, rue Sauvé",
           R"(None:?"1630" None:?"-" None:?"1670" None:?"," None:?"rue" None:?"Sauvé")"},
          {"APT 3-229 DIVISION", R"(None:?"APT" None:?"3" None:?"-" None:?"229" None:?"DIVISION")"},
          {"A-2471/2 EARL", R"(None:?"A" None:?"-" None:?"2471/2" None:?"EARL")"},
          {"Apt5 123 Main", R"(None:?"Apt" None:?"5" None:?"123" None:?"Main")"},
          // A name with a hyphen, or a dash that holds no civic, stays whole.
          {"12 Sud-Ouest", R"(None:?"12" None:?"Sud-Ouest")"},
          {"Route 132-A", R"(None:?"Route" None:?"132-A")"},
          {"Main12 St", R"(None:?"Main12" None:?"St")"},
      });
}

TEST_F(CanadaPasses, DescribeWords) {
  Expect("DescribeWords", {
                              // Commas go, dashes become Dash segments, classes are set.
                              {"1630-1670, rue Sauvé",
                               R"(None:D"1630" Dash:N"-" None:D"1670" None:N"rue" None:N"Sauvé")"},
                              {",", R"(None:N"")"},
                              {"", R"(None:N"")"},
                          });
  // The traits of the words, as the later passes see them.
  RunThrough("DescribeWords", "12 ST MARYS RD, Apt 5 NO boul l'Église 21st 1/2 CL");
  const auto traits = [this](int i) { return state_.words[static_cast<size_t>(i)].traits; };
  EXPECT_NE(traits(1) & kTraitCivic, 0u);
  EXPECT_NE(traits(2) & kTraitNamePrefix, 0u);
  EXPECT_NE(traits(2) & kTraitStreetType, 0u);  // St is a type word too
  EXPECT_EQ(traits(3), 0u);                     // MARYS
  EXPECT_NE(traits(4) & kTraitAbbreviated, 0u);
  EXPECT_NE(traits(4) & kTraitCommaAfter, 0u);
  EXPECT_EQ(table_[4].text(), u"RD");  // the text stays as typed until chosen
  EXPECT_EQ(state_.words[4].type_text, u"Road");
  EXPECT_NE(traits(5) & kTraitDesignatorBefore, 0u);
  EXPECT_NE(traits(7) & kTraitDirection, 0u);        // NO: north-west...
  EXPECT_NE(traits(7) & kTraitDesignatorDigit, 0u);  // ...or the number sign
  EXPECT_NE(traits(8) & kTraitFrenchGeneric, 0u);
  EXPECT_EQ(state_.words[8].type_text, u"Boulevard");
  EXPECT_NE(traits(9) & kTraitElided, 0u);
  EXPECT_NE(traits(10) & kTraitOrdinal, 0u);
  EXPECT_EQ(traits(10) & kTraitCivic, 0u);
  EXPECT_NE(traits(11) & kTraitFraction, 0u);
  EXPECT_NE(traits(12) & kTraitStreetType, 0u);  // known to the profile only
  EXPECT_EQ(state_.words[12].type_text, u"CL");
}

TEST_F(CanadaPasses, DescribeWordsLeavesOutUsOnlyTypes) {
  RunThrough("DescribeWords", "62 CRAGLEA CORNER HAVEN GDN");
  EXPECT_EQ(state_.words[3].traits & kTraitStreetType, 0u);  // USPS Corner
  EXPECT_EQ(state_.words[4].traits & kTraitStreetType, 0u);  // USPS Haven
  EXPECT_NE(state_.words[5].traits & kTraitStreetType, 0u);  // Gardens, from the profile
}

TEST_F(CanadaPasses, MarkUnitsCanada) {
  Expect("MarkUnitsCanada",
         {
             {"305 SANDFORD ST UNIT 303",
              R"(None:D"305" None:N"SANDFORD" None:N"ST" Designator:N"UNIT" Unit:D"303")"},
             {"#APT 5", R"(Designator:N"#" Designator:N"APT" Unit:D"5")"},
             {"Unit#5", R"(Designator:N"Unit" Designator:N"#" Unit:D"5")"},
             {"Unit B", R"(Designator:N"Unit" Unit:N"B")"},
             {"2e étage", R"(Unit:M"2e" Designator:N"étage")"},
             {"Floor 3", R"(Designator:N"Floor" Unit:D"3")"},
             {"bureau 210", R"(Designator:N"bureau" Unit:D"210")"},
             // Ste and No want a digit: before a name they are no designator.
             {"rue Ste Anne", R"(None:N"rue" None:N"Ste" None:N"Anne")"},
             {"Ste 4", R"(Designator:N"Ste" Unit:D"4")"},
             {"No 5 Main", R"(Designator:N"No" Unit:D"5" None:N"Main")"},
             {"8888 No 5 Road", R"(None:D"8888" None:N"No" None:D"5" None:N"Road")"},
             // A lone designator hides; one inside a name stays in it.
             {"Apt", R"(Designator:N"Apt")"},
             {"12 Local Rd", R"(None:D"12" None:N"Local" None:N"Rd")"},
         });
}

TEST_F(CanadaPasses, MarkCivicNumber) {
  Expect("MarkCivicNumber",
         {
             {"5-123 rue Saint-Denis",
              R"(Unit:D"5" Dash:N"-" Number:D"123" None:N"rue" None:N"Saint-Denis")"},
             {"5A-123 Main", R"(Unit:M"5A" Dash:N"-" Number:D"123" None:N"Main")"},
             {"1630-1670, rue Sauvé", R"(Number:D"1630-1670" None:N"rue" None:N"Sauvé")"},
             {"1630-1670 rue Sauvé", R"(Number:D"1630-1670" None:N"rue" None:N"Sauvé")"},
             // Without a comma or French generic a pair is unit-civic.
             {"2-4 DUNLOP ST", R"(Unit:D"2" Dash:N"-" Number:D"4" None:N"DUNLOP" None:N"ST")"},
             // Different lengths or parities: no range.
             {"10-123, rue X", R"(Unit:D"10" Dash:N"-" Number:D"123" None:N"rue" None:N"X")"},
             {"56 D MAIN ST", R"(Number:D"56 D" None:N"MAIN" None:N"ST")"},
             {"123 1/2 Main St", R"(Number:D"123 1/2" None:N"Main" None:N"St")"},
             {"19E LUNDY'S LANE", R"(Number:M"19E" None:N"LUNDY'S" None:N"LANE")"},
             // A direction letter, an ordinal street: left alone.
             {"339 E ANTRIM RD", R"(Number:D"339" None:N"E" None:N"ANTRIM" None:N"RD")"},
             {"21st Ave", R"(None:M"21st" None:N"Ave")"},
             {"Apt 5 123 Main", R"(Designator:N"Apt" Unit:D"5" Number:D"123" None:N"Main")"},
             {"Main St", R"(None:N"Main" None:N"St")"},
         });
}

TEST_F(CanadaPasses, MarkTrailingUnit) {
  Expect(
      "MarkTrailingUnit",
      {
          {"305 Sandford St 303", R"(Number:D"305" None:N"Sandford" None:N"St" Unit:D"303")"},
          {"305 Sandford St E 3",
           R"(Number:D"305" None:N"Sandford" None:N"St" None:N"E" Unit:D"3")"},
          {"1069 HWY 15", R"(Number:D"1069" None:N"HWY" None:D"15")"},
          {"12 Highway 7 5", R"(Number:D"12" None:N"Highway" None:D"7" None:D"5")"},
          {"12 Main 5", R"(Number:D"12" None:N"Main" None:D"5")"},
          {"456 County Road 18", R"(Number:D"456" None:N"County" None:N"Road" None:D"18")"},
          {"2260 PEACHTREE RD NW CONDO D1",
           R"(Number:D"2260" None:N"PEACHTREE" None:N"RD" None:N"NW" Designator:N"CONDO" Unit:M"D1")"},
          {"12 Main St, 3500", R"(Number:D"12" None:N"Main" None:N"St" Unit:D"3500")"},
          {"12 Main St, Winnipeg 3",
           R"(Number:D"12" None:N"Main" None:N"St" None:N"Winnipeg" None:D"3")"},
      });
}

TEST_F(CanadaPasses, MarkDirectionCanada) {
  Expect("MarkDirectionCanada",
         {
             {"5-123 rue Saint-Denis Ouest",
              R"(Unit:D"5" Dash:N"-" Number:D"123" None:N"rue" None:N"Saint-Denis" Dir:N"W")"},
             {"12 rue X Nord-Ouest", R"(Number:D"12" None:N"rue" None:N"X" Dir:N"NW")"},
             {"12 Main St SO", R"(Number:D"12" None:N"Main" None:N"St" Dir:N"SW")"},
             {"12 WILDWOOD E PK", R"(Number:D"12" None:N"WILDWOOD" None:N"E" None:N"PK")"},
             {"10 NORTH LAKE DR", R"(Number:D"10" None:N"NORTH" None:N"LAKE" None:N"DR")"},
             {"123 W Broadway", R"(Number:D"123" Dir:N"W" None:N"Broadway")"},
             {"3110 West 12th Street", R"(Number:D"3110" Dir:N"W" None:M"12th" None:N"Street")"},
             {"317 rue du Sud", R"(Number:D"317" None:N"rue" None:N"du" None:N"Sud")"},
             {"12 Avenue E", R"(Number:D"12" None:N"Avenue" None:N"E")"},
             {"12 E St", R"(Number:D"12" None:N"E" None:N"St")"},
         });
}

TEST_F(CanadaPasses, MarkStreetTypeCanada) {
  Expect("MarkStreetTypeCanada",
         {
             {"12 ST MARYS RD", R"(Number:D"12" None:N"ST" None:N"MARYS" Type:N"Road")"},
             {"355, rue du Carrefour", R"(Number:D"355" Type:N"rue" None:N"du" None:N"Carrefour")"},
             {"799, boulevard Forest", R"(Number:D"799" Type:N"boulevard" None:N"Forest")"},
             {"102 CENTRE ST", R"(Number:D"102" None:N"CENTRE" Type:N"Street")"},
             {"520, chemin Côte Ste-Catherine",
              R"(Number:D"520" Type:N"chemin" None:N"Côte" None:N"Ste-Catherine")"},
             {"1069 HWY 15", R"(Number:D"1069" Type:N"Highway" None:D"15")"},
             {"Rang 2", R"(Type:N"Rang" None:D"2")"},
             {"2e Rang", R"(None:M"2e" Type:N"Rang")"},
             {"130 PARKWAY", R"(Number:D"130" None:N"PARKWAY")"},
             {"152 THE GLEN", R"(Number:D"152" None:N"THE" None:N"GLEN")"},
             {"12 Park Royal", R"(Number:D"12" None:N"Park" None:N"Royal")"},
             {"1066 WICKHAM CL", R"(Number:D"1066" None:N"WICKHAM" Type:N"CL")"},
             {"685, rg Notre-Dame", R"(Number:D"685" Type:N"rg" None:N"Notre-Dame")"},
             {"123 Main Rd Bsmt", R"(Number:D"123" None:N"Main" Type:N"Road" None:N"Bsmt")"},
             {"12 Lake St Clair", R"(Number:D"12" None:N"Lake" None:N"St" None:N"Clair")"},
         });
}

TEST_F(CanadaPasses, MarkStreetNameCanada) {
  Expect(
      "MarkStreetNameCanada",
      {
          {"12 ST MARYS RD", R"(Number:D"12" Street:N"ST" Street:N"MARYS" Type:N"Road")"},
          // Words after the unit could not be placed and stay None.
          {"12 Main St Apt 5 rear",
           R"(Number:D"12" Street:N"Main" Type:N"Street" Designator:N"Apt" Unit:D"5" None:N"rear")"},
          {"", R"(None:N"")"},
      });
}

}  // namespace
}  // namespace zarn::internal::canada
