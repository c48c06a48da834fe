// The canada profile end to end on the bundled reference database: the five
// parts of English and French addresses, the same parts whatever the letter
// case, accents and comma after the number, diagnostics, and the limits and
// errors it shares with the default rules.
#include <gtest/gtest.h>

#include <span>
#include <string>
#include <vector>

#include "support/test_support.h"
#include "zarn/zarn.hpp"

namespace zarn {
namespace {

struct Case {
  const char* address;
  AddressParts parts;  // number, street, type, direction, unit
};

const Case kEnglish[] = {
    {"123 Main St. N", {"123", "Main", "Street", "N", ""}},
    {"305 SANDFORD ST UNIT 303", {"305", "SANDFORD", "Street", "", "303"}},
    {"12 ST MARYS RD", {"12", "ST MARYS", "Road", "", ""}},
    {"134 CHARING CROSS CRES", {"134", "CHARING CROSS", "Crescent", "", ""}},
    {"56 D MAIN ST", {"56 D", "MAIN", "Street", "", ""}},
    {"123 1/2 Main St", {"123 1/2", "Main", "Street", "", ""}},
    {"10-123 1/2 MAIN ST NW", {"123 1/2", "MAIN", "Street", "NW", "10"}},
    {"12 WILDWOOD E PK", {"12", "WILDWOOD E", "Park", "", ""}},
    {"10 NORTH LAKE DR", {"10", "NORTH LAKE", "Drive", "", ""}},
    {"130 PARKWAY", {"130", "PARKWAY", "", "", ""}},
    {"152 THE GLEN", {"152", "THE GLEN", "", "", ""}},
    {"21st Ave", {"", "21st", "Avenue", "", ""}},
    {"123 21st Ave SW", {"123", "21st", "Avenue", "SW", ""}},
    {"1069 HWY 15", {"1069", "15", "Highway", "", ""}},
    {"250 Highway 7", {"250", "7", "Highway", "", ""}},
    {"#5 123 Main St", {"123", "Main", "Street", "", "5"}},
    {"123 Main St # 5", {"123", "Main", "Street", "", "5"}},
    {"123 Main St #APT 5", {"123", "Main", "Street", "", "5"}},
    {"123 Main St Unit#5", {"123", "Main", "Street", "", "5"}},
    {"A-123 Main St", {"123", "Main", "Street", "", "A"}},
    {"5A-123 Main St", {"123", "Main", "Street", "", "5A"}},
    {"123-A Main St", {"123", "Main", "Street", "", "A"}},
    {"4810 Crystal Lake Road, Unit C-D", {"4810", "Crystal Lake", "Road", "", "C-D"}},
    {"1105 Bolton Road, NW", {"1105", "Bolton", "Road", "NW", ""}},
    {"227 Monroe St., 3500", {"227", "Monroe", "Street", "", "3500"}},
    {"2260 PEACHTREE RD NW CONDO D1", {"2260", "PEACHTREE", "Road", "NW", "D1"}},
    {"456 County Road 18", {"456", "County Road 18", "", "", ""}},
    {"Suite 200, 123 Main St", {"123", "Main", "Street", "", "200"}},
    {"123 Main St Ste 4", {"123", "Main", "Street", "", "4"}},
    {"123 Main St Apartment 7", {"123", "Main", "Street", "", "7"}},
    {"123 Main St Rm 12", {"123", "Main", "Street", "", "12"}},
    {"123 Main St PH 2", {"123", "Main", "Street", "", "2"}},
    {"123 Main St No. 5", {"123", "Main", "Street", "", "5"}},
    {"123 Main St 3rd Floor", {"123", "Main", "Street", "", "3rd"}},
    {"123 Main St Apt 007", {"123", "Main", "Street", "", "7"}},
    {"1066 WICKHAM CL", {"1066", "WICKHAM", "CL", "", ""}},
    {"102 CENTRE ST", {"102", "CENTRE", "Street", "", ""}},
    {"62 CRAGLEA CORNER", {"62", "CRAGLEA CORNER", "", "", ""}},
    {"123 W Broadway", {"123", "Broadway", "", "W", ""}},
    {"8888 No. 5 Road", {"8888", "No 5", "Road", "", ""}},
};

const Case kFrench[] = {
    {"355, rue du Carrefour", {"355", "du Carrefour", "rue", "", ""}},
    {"203, rue de l'Église", {"203", "de l'Église", "rue", "", ""}},
    {"5-123 rue Saint-Denis Ouest", {"123", "Saint-Denis", "rue", "W", "5"}},
    {"1630-1670, rue Sauvé Est", {"1630-1670", "Sauvé", "rue", "E", ""}},
    {"2750, boul. Malcolm-Fraser", {"2750", "Malcolm-Fraser", "Boulevard", "", ""}},
    {"520, chemin Côte Ste-Catherine", {"520", "Côte Ste-Catherine", "chemin", "", ""}},
    {"6255, 13e Avenue", {"6255", "13e", "Avenue", "", ""}},
    {"12, rue William Nord-Ouest", {"12", "William", "rue", "NW", ""}},
    {"12, rue William NO", {"12", "William", "rue", "NW", ""}},
    {"12, rue William SO", {"12", "William", "rue", "SW", ""}},
    {"12, rue William O", {"12", "William", "rue", "W", ""}},
    {"12, rue William Sud-Est", {"12", "William", "rue", "SE", ""}},
    {"400, Route 132", {"400", "132", "Route", "", ""}},
    {"Autoroute 20", {"", "20", "Autoroute", "", ""}},
    {"85, Rang 2", {"85", "2", "Rang", "", ""}},
    {"85, 2e Rang", {"85", "2e", "Rang", "", ""}},
    {"123, rue Principale, bureau 210", {"123", "Principale", "rue", "", "210"}},
    {"123, rue Principale, app. 3", {"123", "Principale", "rue", "", "3"}},
    {"123, rue Principale, Appt 3", {"123", "Principale", "rue", "", "3"}},
    {"123, rue Principale, local 5", {"123", "Principale", "rue", "", "5"}},
    {"123, rue Principale, 2e étage", {"123", "Principale", "rue", "", "2e"}},
    {"4275, montée Saint-Hubert", {"4275", "Saint-Hubert", "montée", "", ""}},
    {"685, rg Notre-Dame-des-Champs", {"685", "Notre-Dame-des-Champs", "rg", "", ""}},
};

class CanadaProfile : public ::testing::Test {
 protected:
  ZarnAddress canada_{testing::BundledDatabase(), ParseOptions{.profile = Profile::kCanada}};
  ZarnAddress specified_{testing::BundledDatabase()};
};

void ExpectParts(const ZarnAddress& parser, const Case& c) {
  const AddressParts got = parser.Parse(c.address);
  EXPECT_EQ(got.street_number, c.parts.street_number) << c.address;
  EXPECT_EQ(got.street, c.parts.street) << c.address;
  EXPECT_EQ(got.street_type, c.parts.street_type) << c.address;
  EXPECT_EQ(got.direction, c.parts.direction) << c.address;
  EXPECT_EQ(got.unit, c.parts.unit) << c.address;
}

TEST_F(CanadaProfile, English) {
  for (const Case& c : kEnglish) ExpectParts(canada_, c);
}

TEST_F(CanadaProfile, French) {
  for (const Case& c : kFrench) ExpectParts(canada_, c);
}

// ASCII and Latin-1 letters only, which is what the addresses here use.
std::string ChangeCase(std::string_view s, bool upper) {
  std::u16string t = testing::U16(s);
  for (char16_t& c : t) {
    if (upper && ((c >= u'a' && c <= u'z') || (c >= 0xE0 && c <= 0xFE && c != 0xF7))) c -= 32;
    if (!upper && ((c >= u'A' && c <= u'Z') || (c >= 0xC0 && c <= 0xDE && c != 0xD7))) c += 32;
  }
  std::string out;
  for (char16_t c : t) {
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

std::string Folded(const AddressParts& p) {
  return ChangeCase(
      p.street_number + "|" + p.street + "|" + p.street_type + "|" + p.direction + "|" + p.unit,
      false);
}

TEST_F(CanadaProfile, LetterCaseGivesTheSameParts) {
  for (std::span<const Case> cases :
       {std::span<const Case>(kEnglish), std::span<const Case>(kFrench)}) {
    for (const Case& c : cases) {
      const std::string expected = Folded(canada_.Parse(c.address));
      EXPECT_EQ(Folded(canada_.Parse(ChangeCase(c.address, true))), expected) << c.address;
      EXPECT_EQ(Folded(canada_.Parse(ChangeCase(c.address, false))), expected) << c.address;
    }
  }
}

TEST_F(CanadaProfile, AccentsAndCommaGiveTheSameParts) {
  const struct {
    const char* a;
    const char* b;
  } pairs[] = {
      {"4275, montée Saint-Hubert", "4275, MONTEE Saint-Hubert"},
      {"12, côte du Passage", "12 COTE du Passage"},
      {"355, rue du Carrefour", "355 rue du Carrefour"},
      {"5-123, rue Saint-Denis O", "5-123 rue Saint-Denis O"},
      {"3875, boulevard Grande-Allée", "3875 boulevard Grande-Allee"},
      {"12, échangeur Turcot", "12 ÉCHANGEUR Turcot"},
      {"12, île Bizard", "12, ILE Bizard"},
  };
  for (const auto& p : pairs) {
    const AddressParts a = canada_.Parse(p.a);
    const AddressParts b = canada_.Parse(p.b);
    EXPECT_EQ(a.street_number, b.street_number) << p.a;
    EXPECT_EQ(a.street_type.empty(), b.street_type.empty()) << p.a;
    EXPECT_EQ(a.direction, b.direction) << p.a;
    EXPECT_EQ(a.unit, b.unit) << p.a;
  }
}

TEST_F(CanadaProfile, Diagnostics) {
  const struct {
    const char* address;
    uint32_t flags;
    std::vector<std::string> unplaced;
  } cases[] = {
      {"123 Main St", 0, {}},
      {"1630-1670, rue Sauvé Est", kFlagRangeAssumed, {}},
      {"5-123 rue Saint-Denis", kFlagUnitAssumed, {}},
      {"#5 123 Main St", kFlagUnitAssumed, {}},
      {"123 Main St Apt 5", 0, {}},
      {"130 PARKWAY", kFlagNoStreetType, {}},
      {"Main St", kFlagNoStreetNumber, {}},
      {"123", kFlagNoStreetType | kFlagNoStreet, {}},
      {"123 E Main St", kFlagDirectionAmbiguous, {}},
      {"12 PARK EAST DR", kFlagStreetTypeAssumed, {}},
      {"12 Main St Apt 5 rear door", kFlagUnknownWords, {"rear", "door"}},
      {"123 Main Rd Bsmt", kFlagUnknownWords, {"Bsmt"}},
      {"123 Main Rd Bsmt, Ottawa", kFlagUnknownWords | kFlagNoProvince, {"Bsmt"}},
  };
  for (const auto& c : cases) {
    Diagnostics d;
    canada_.Parse(c.address, &d);
    EXPECT_EQ(DiagnosticFlagNames(d.flags), DiagnosticFlagNames(c.flags)) << c.address;
    EXPECT_EQ(d.unplaced_words, c.unplaced) << c.address;
  }
  // The batch gives the same diagnostics as single parses.
  const std::vector<std::string_view> batch = {"12 Main St Apt 5 rear door", "123 Main St"};
  const std::vector<BatchResult> results = canada_.ParseBatch(batch);
  ASSERT_EQ(results.size(), 2u);
  EXPECT_EQ(results[0].diagnostics.unplaced_words, (std::vector<std::string>{"rear", "door"}));
  EXPECT_TRUE(results[1].diagnostics.empty());
}

TEST_F(CanadaProfile, EdgeCases) {
  const Case cases[] = {
      {"", {"", "", "", "", ""}},
      {"     ", {"", "", "", "", ""}},
      {",,, ..", {"", "", "", "", ""}},
      {"123", {"123", "", "", "", ""}},
      {"Apt", {"", "", "", "", ""}},
      {"#", {"", "", "", "", ""}},
      {"-", {"", "", "", "", ""}},
      {"Apt 5", {"", "", "", "", "5"}},
      // Characters beyond the BMP (surrogate pairs) pass through whole.
      {"12 \xF0\x9D\x94\xB8lpha St", {"12", "\xF0\x9D\x94\xB8lpha", "Street", "", ""}},
      {"12 rue \xF0\x9F\x8F\xA0", {"12", "\xF0\x9F\x8F\xA0", "rue", "", ""}},
  };
  for (const Case& c : cases) ExpectParts(canada_, c);
  Diagnostics d;
  canada_.Parse("", &d);
  EXPECT_EQ(d.flags, kFlagNoStreetType | kFlagNoStreetNumber | kFlagNoStreet);
}

int ErrorOf(const ZarnAddress& parser, const std::string& address) {
  try {
    parser.Parse(address);
    return 0;
  } catch (const Error& e) {
    return e.Number();
  }
}

TEST_F(CanadaProfile, LimitsAndErrorsAsTheDefaultRules) {
  const std::string inputs[] = {
      std::string(32767, 'a'),
      std::string(32768, 'a'),
      "12 Main St " + std::string(40000, 'x'),
      "12 Main \xC3\x28 St",      // invalid UTF-8
      "12 Main \xED\xA0\x80 St",  // an encoded surrogate
      std::string("12 Main\0St", 10),
  };
  for (const std::string& in : inputs) {
    EXPECT_EQ(ErrorOf(canada_, in), ErrorOf(specified_, in)) << in.substr(0, 40);
  }
  EXPECT_EQ(ErrorOf(canada_, std::string(32768, 'a')), kErrorOverflow);
  EXPECT_EQ(ErrorOf(canada_, "12 Main \xC3\x28 St"), kErrorInvalidArgument);
  // A long address of many short words parses.
  std::string words;
  for (int i = 0; i < 5000; ++i) words += "ab ";
  EXPECT_EQ(ErrorOf(canada_, "12 " + words + "St"), 0);
}

TEST_F(CanadaProfile, MissingDatabaseFailsAsTheDefaultRules) {
  testing::TempDir dir;
  const ZarnAddress canada(dir.File("none.DAT"), ParseOptions{.profile = Profile::kCanada});
  const ZarnAddress specified(dir.File("none.DAT"));
  for (const char* address : {"", "123 Main St"}) {
    const int number = ErrorOf(specified, address);
    EXPECT_NE(number, 0);
    EXPECT_EQ(ErrorOf(canada, address), number) << address;
  }
}

TEST_F(CanadaProfile, DefaultRulesUnchanged) {
  // The same object type with the default options still gives the
  // specified answers where the profile differs.
  EXPECT_EQ(specified_.Street("12 ST MARYS RD"), "Street MARYS");
  EXPECT_EQ(canada_.Street("12 ST MARYS RD"), "ST MARYS");
}

}  // namespace
}  // namespace zarn
