// Whole Canadian addresses with the canada profile: postal code, province in
// every spelling, delivery forms in English and French, the municipality
// with and without commas, a civic address beside a delivery form, the
// diagnostics of a whole address, and a database without the gazetteer.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/test_support.h"
#include "zarn/zarn.hpp"

namespace zarn {
namespace {

// The twelve parts in zarn-parse's column order, joined by " | ".
std::string Whole(const AddressParts& p) {
  std::string out = p.street_number;
  for (const std::string* s :
       {&p.street, &p.street_type, &p.direction, &p.unit, &p.po_box, &p.rural_route,
        &p.general_delivery, &p.station, &p.municipality, &p.province, &p.postal_code}) {
    out += " | ";
    out += *s;
  }
  return out;
}

struct Case {
  const char* address;
  const char* whole;  // as Whole() writes it
};

class WholeAddress : public ::testing::Test {
 protected:
  void Expect(const std::vector<Case>& cases) const {
    for (const Case& c : cases) EXPECT_EQ(Whole(canada_.Parse(c.address)), c.whole) << c.address;
  }
  ZarnAddress canada_{testing::BundledDatabase(), ParseOptions{.profile = Profile::kCanada}};
};

TEST_F(WholeAddress, PostalCodeAnyCaseWithOrWithoutSpace) {
  Expect({
      {"123 Main St, Winnipeg, MB R3C 1A1",
       "123 | Main | Street |  |  |  |  |  |  | Winnipeg | MB | R3C 1A1"},
      {"123 Main St, Winnipeg, MB r3c1a1",
       "123 | Main | Street |  |  |  |  |  |  | Winnipeg | MB | R3C 1A1"},
      {"123 Main St, Winnipeg, MB R3C-1A1",
       "123 | Main | Street |  |  |  |  |  |  | Winnipeg | MB | R3C 1A1"},
      // The province after the postal code, as some provincial files write it.
      {"55 Selkirk Ave THOMPSON R8N 1N2 MB",
       "55 | Selkirk | Avenue |  |  |  |  |  |  | THOMPSON | MB | R8N 1N2"},
      // Canada at the end belongs to nothing.
      {"123 Main St, Winnipeg, MB R3C 1A1, Canada",
       "123 | Main | Street |  |  |  |  |  |  | Winnipeg | MB | R3C 1A1"},
      // Not a postal code: a lone code, and shapes other than A9A 9A9.
      {"R3C 1A1", " | R3C 1A1 |  |  |  |  |  |  |  |  |  | "},
      {"123 Main St A1A1A", "123 | Main | Street |  | A1A1A |  |  |  |  |  |  | "},
  });
}

TEST_F(WholeAddress, ProvinceInEverySpelling) {
  const std::pair<const char*, const char*> spellings[] = {
      {"ON", "ON"},
      {"Ont.", "ON"},
      {"Ontario", "ON"},
      {"QC", "QC"},
      {"Qué.", "QC"},
      {"P.Q.", "QC"},
      {"Québec", "QC"},
      {"Quebec", "QC"},
      {"BC", "BC"},
      {"B.C.", "BC"},
      {"C.-B.", "BC"},
      {"British Columbia", "BC"},
      {"Colombie-Britannique", "BC"},
      {"NB", "NB"},
      {"N.-B.", "NB"},
      {"Nouveau-Brunswick", "NB"},
      {"New Brunswick", "NB"},
      {"Nova Scotia", "NS"},
      {"Nouvelle-Écosse", "NS"},
      {"Prince Edward Island", "PE"},
      {"P.E.I.", "PE"},
      {"Île-du-Prince-Édouard", "PE"},
      {"Newfoundland and Labrador", "NL"},
      {"Terre-Neuve-et-Labrador", "NL"},
      {"Manitoba", "MB"},
      {"Sask", "SK"},
      {"Alta", "AB"},
      {"Yukon", "YT"},
      {"T.N.-O.", "NT"},
      {"Northwest Territories", "NT"},
      {"Territoires du Nord-Ouest", "NT"},
      {"Nunavut", "NU"},
      {"on", "ON"},
  };
  for (const auto& [written, symbol] : spellings) {
    const std::string address = std::string("12 Main St, Someplace, ") + written + " A1A 1A1";
    EXPECT_EQ(canada_.Parse(address).province, symbol) << address;
    EXPECT_EQ(canada_.Parse(address).municipality, "Someplace") << address;
  }
  Expect({
      // The French style: the province in brackets after the municipality.
      {"5400, boulevard Henri-Bourassa Est, Montréal (Québec)  H1G 2S9",
       "5400 | Henri-Bourassa | boulevard | E |  |  |  |  |  | Montréal | QC | H1G 2S9"},
      {"1200 boul. René-Lévesque Est Québec (Québec) G1R 5T4",
       "1200 | René-Lévesque | Boulevard | E |  |  |  |  |  | Québec | QC | G1R 5T4"},
      // A street named after a province keeps it.
      {"1200 rue Ontario", "1200 | Ontario | rue |  |  |  |  |  |  |  |  | "},
      {"1200 rue Ontario, Nowhereville QC",
       "1200 | Ontario | rue |  |  |  |  |  |  | Nowhereville | QC | "},
      {"141 MAIN ST S, SOUTH MORRIS MB",
       "141 | MAIN | Street | S |  |  |  |  |  | SOUTH MORRIS | MB | "},
      // After a numbered street's type, without commas.
      {"7701 18 ave. crowsnest AB T0K0M0",
       "7701 | 18 | Avenue |  |  |  |  |  |  | crowsnest | AB | T0K 0M0"},
      {"45 Quebec St", "45 | Quebec | Street |  |  |  |  |  |  |  |  | "},
  });
}

TEST_F(WholeAddress, DeliveryFormsEnglishAndFrench) {
  Expect({
      {"PO Box 4001 Stn A, Toronto ON M5W 1A1",
       " |  |  |  |  | 4001 |  |  | STN A | Toronto | ON | M5W 1A1"},
      {"P.O. Box 246, Etobicoke M9A 4X2", " |  |  |  |  | 246 |  |  |  | Etobicoke |  | M9A 4X2"},
      {"BOX 300 AMISK AB  T0A 0C0", " |  |  |  |  | 300 |  |  |  | AMISK | AB | T0A 0C0"},
      {"CP 123 SUCC BUREAU-CHEF, Rimouski QC G5L 7B7",
       " |  |  |  |  | 123 |  |  | STN BUREAU-CHEF | Rimouski | QC | G5L 7B7"},
      {"C. P. 29 Cap-Saint-Ignace QC G0G 2Y0",
       " |  |  |  |  | 29 |  |  |  | Cap-Saint-Ignace | QC | G0G 2Y0"},
      {"Case postale 240, Succursale Centre-ville, Québec (Québec) G1K 9K1",
       " |  |  |  |  | 240 |  |  | STN Centre-ville | Québec | QC | G1K 9K1"},
      {"po box 33021 rpo polo park, winnipeg, MB R3G 3N4",
       " |  |  |  |  | 33021 |  |  | RPO polo park | winnipeg | MB | R3G 3N4"},
      {"RR 2, Site 5, Comp 10, Gibsons BC V0N 1V0",
       " |  |  |  |  |  | 2 |  |  | Gibsons | BC | V0N 1V0"},
      {"R.R. #4, BRIGHTON ON  K0K 1H0", " |  |  |  |  |  | 4 |  |  | BRIGHTON | ON | K0K 1H0"},
      {"RR#1, MORPERTH ON  N0P 1X0", " |  |  |  |  |  | 1 |  |  | MORPERTH | ON | N0P 1X0"},
      {"rr6, prince township, ON", " |  |  |  |  |  | 6 |  |  | prince township | ON | "},
      {"Route rurale 3, Rimouski QC G5L 7B7",
       " |  |  |  |  |  | 3 |  |  | Rimouski | QC | G5L 7B7"},
      // Suburban service and mobile route keep their kind.
      {"SS 3, Sherwood Park AB T8A 3K8",
       " |  |  |  |  |  | SS 3 |  |  | Sherwood Park | AB | T8A 3K8"},
      {"GD STN MAIN, Whitehorse YT Y1A 1A1",
       " |  |  |  |  |  |  | GD | STN MAIN | Whitehorse | YT | Y1A 1A1"},
      {"General Delivery, Sanikiluaq NU  X0A 0W0",
       " |  |  |  |  |  |  | GD |  | Sanikiluaq | NU | X0A 0W0"},
      {"PR SUCC PLACE-D'ARMES, Montréal QC H2Y 3E9",
       " |  |  |  |  |  |  | GD | STN PLACE-D'ARMES | Montréal | QC | H2Y 3E9"},
      // Delivery words without an identifier are not delivery forms.
      {"123 Box Elder Rd", "123 | Box Elder | Road |  |  |  |  |  |  |  |  | "},
  });
}

TEST_F(WholeAddress, CivicAddressBesideADeliveryForm) {
  Expect({
      {"1653 MACISAAC ROAD R.R.#2 P.O. Box:118, RICHMOND, PE C0B 1Y0",
       "1653 | MACISAAC | ROAD |  |  | 118 | 2 |  |  | RICHMOND | PE | C0B 1Y0"},
      {"po box 313 7011 pioneer street, agassiz BC  V0M 1A0",
       "7011 | pioneer | street |  |  | 313 |  |  |  | agassiz | BC | V0M 1A0"},
      {"21 school st. po box 925 middleton NS B0S 1P0",
       "21 | school | Street |  |  | 925 |  |  |  | middleton | NS | B0S 1P0"},
      {"10, 10e rue, c. p. 160, les éboulements QC  G0T 1E0",
       "10 | 10e | rue |  |  | 160 |  |  |  | les éboulements | QC | G0T 1E0"},
      // Without a delivery form a number after the street is still its unit.
      {"123 Main St RR 2", "123 | Main | Street |  |  |  | 2 |  |  |  |  | "},
  });
}

TEST_F(WholeAddress, MunicipalityWithAndWithoutCommas) {
  Expect({
      {"123 main st winnipeg mb", "123 | main | Street |  |  |  |  |  |  | winnipeg | MB | "},
      {"9800 Yonge Street Richmond Hill ON L4C 0P5",
       "9800 | Yonge | Street |  |  |  |  |  |  | Richmond Hill | ON | L4C 0P5"},
      {"106 Drynan Way, Unit 4, Seeley's Bay, ON K0H 2N0",
       "106 | Drynan | Way |  | 4 |  |  |  |  | Seeley's Bay | ON | K0H 2N0"},
      {"106 Drynan Way Unit 4 Seeley's Bay ON K0H 2N0",
       "106 | Drynan | Way |  | 4 |  |  |  |  | Seeley's Bay | ON | K0H 2N0"},
      {"2351 chemin entrelacs trois-pistoles J0T 2E0",
       "2351 | entrelacs | chemin |  |  |  |  |  |  | trois-pistoles |  | J0T 2E0"},
      {"5855, RUE BOULARD, LAVAL QC  H7B 1A3",
       "5855 | BOULARD | RUE |  |  |  |  |  |  | LAVAL | QC | H7B 1A3"},
      {"5855, RUE BOULARD LAVAL QC  H7B 1A3",
       "5855 | BOULARD | RUE |  |  |  |  |  |  | LAVAL | QC | H7B 1A3"},
      // A name the gazetteer does not know, after the end of the street line.
      {"13 main st marshall SK  S0M 1R0",
       "13 | main | Street |  |  |  |  |  |  | marshall | SK | S0M 1R0"},
      // A direction before a municipality: with the street unless the name
      // with it is a municipality.
      {"247 Simcoe Street North Oshawa ON L1G 4T3",
       "247 | Simcoe | Street | N |  |  |  |  |  | Oshawa | ON | L1G 4T3"},
      {"1070 Lynn Valley Road North Vancouver BC V7J1Z8",
       "1070 | Lynn Valley | Road |  |  |  |  |  |  | North Vancouver | BC | V7J 1Z8"},
      // In a whole address a direction word before the name is part of it.
      {"149 W HASTINGS ST, VANCOUVER BC  V6B 1H4",
       "149 | W HASTINGS | Street |  |  |  |  |  |  | VANCOUVER | BC | V6B 1H4"},
      {"4716 - 48 street athabasca AB T9S 1R2",
       "4716 | 48 | street |  |  |  |  |  |  | athabasca | AB | T9S 1R2"},
      // Without province or postal code, only a known name after a comma.
      {"1 Rideau St, Ottawa", "1 | Rideau | Street |  |  |  |  |  |  | Ottawa |  | "},
      {"12 Lake St Clair", "12 | Lake St Clair |  |  |  |  |  |  |  |  |  | "},
      {"12 Bank Ave Ottawa", "12 | Bank | Avenue |  |  |  |  |  |  |  |  | "},
  });
}

TEST_F(WholeAddress, Diagnostics) {
  struct DiagnosticCase {
    const char* address;
    uint32_t flags;
  };
  const DiagnosticCase cases[] = {
      {"123 Main St, Winnipeg, MB R3C 1A1", 0},
      // D, F, I, O, Q, U are never used, W and Z never first.
      {"123 Main St, Winnipeg, MB R3D 1A1", kFlagPostalCodeInvalid},
      {"123 Main St, Winnipeg, MB W3C 1A1", kFlagPostalCodeInvalid},
      // Its first letter belongs to another province.
      {"123 Main St, Winnipeg, MB K1A 0B1", kFlagPostalCodeProvince},
      {"123 Main St, Toronto, ON M5W 1A1", 0},
      {"123 Main St, Yellowknife, NT X1A 2L9", 0},
      {"123 Main St, Iqaluit, NU X0A 0H0", 0},
      // Not in the gazetteer for that province.
      {"123 Main St, Winnipeg, ON M5W 1A1", kFlagMunicipalityUnknown},
      {"123 Main St, Nowhereville, MB R3C 1A1", kFlagMunicipalityUnknown},
      // Without a postal code too: a name between the comma that ends the
      // street line and the province is the municipality (the standard
      // form's last line without a code reads back so).
      {"123 Main St, Nowhereville MB", kFlagMunicipalityUnknown},
      {"141 MAIN ST S, SOUTH MORRIS MB", kFlagMunicipalityUnknown},
      // A municipality or postal code without a province.
      {"123 Main St, Winnipeg R3C 1A1", kFlagNoProvince},
      // A delivery form alone is a whole delivery line.
      {"PO Box 4001 Stn A, Toronto ON M5W 1A1", 0},
      {"123 Main Rd Bsmt, Winnipeg, MB R3C 1A1", kFlagUnknownWords},
  };
  for (const DiagnosticCase& c : cases) {
    Diagnostics d;
    canada_.Parse(c.address, &d);
    EXPECT_EQ(DiagnosticFlagNames(d.flags), DiagnosticFlagNames(c.flags)) << c.address;
  }
}

TEST_F(WholeAddress, BatchGivesTheSameParts) {
  const std::vector<std::string_view> lines = {"PO Box 4001 Stn A, Toronto ON M5W 1A1",
                                               "123 Main St", "123 main st winnipeg mb"};
  std::vector<BatchResult> results = canada_.ParseBatch(lines);
  // Reused slots keep nothing of an earlier whole address.
  canada_.ParseBatch(std::vector<std::string_view>{"123 Main St", "5 Oak Ave", "\xff"}, results);
  EXPECT_EQ(Whole(results[0].parts), "123 | Main | Street |  |  |  |  |  |  |  |  | ");
  EXPECT_EQ(results[2].parts, AddressParts{});
  results = canada_.ParseBatch(lines);
  for (size_t i = 0; i < lines.size(); ++i) {
    EXPECT_EQ(results[i].parts, canada_.Parse(lines[i])) << lines[i];
  }
}

TEST(WholeAddressSpecified, TheSpecifiedRulesLeaveTheSevenPartsEmpty) {
  const ZarnAddress specified(testing::BundledDatabase());
  const AddressParts p = specified.Parse("PO Box 4001 Stn A, Toronto ON M5W 1A1");
  EXPECT_EQ(p.po_box + p.rural_route + p.general_delivery + p.station + p.municipality +
                p.province + p.postal_code,
            "");
}

class WholeAddressDatabase : public ::testing::Test {
 protected:
  testing::TempDir dir_;
  std::string path_ = dir_.File("ref.DAT");
};

// A file from before the gazetteer, or a user's own without it: the profile
// still finds postal code, province and delivery forms, and a municipality
// by commas and the end of the street line.
TEST_F(WholeAddressDatabase, WithoutTheGazetteerStillParses) {
  testing::MakeDatabase(path_, testing::SmallReferenceSql() +
                                   ";DROP INDEX MunicipalityByName;DROP TABLE Municipality");
  const ZarnAddress parser(path_, ParseOptions{.profile = Profile::kCanada});
  Diagnostics d;
  EXPECT_EQ(Whole(parser.Parse("123 Main St, Winnipeg, MB R3C 1A1", &d)),
            "123 | Main | Street |  |  |  |  |  |  | Winnipeg | MB | R3C 1A1");
  EXPECT_EQ(d.flags, 0u);  // nothing to say the name is unknown
  EXPECT_EQ(Whole(parser.Parse("123 Main St Winnipeg MB R3C 1A1")),
            "123 | Main | Street |  |  |  |  |  |  | Winnipeg | MB | R3C 1A1");
}

// The gazetteer is the table's rows, read as the file is now.
TEST_F(WholeAddressDatabase, UserRowsAreRead) {
  testing::MakeDatabase(path_, testing::SmallReferenceSql() +
                                   ";INSERT INTO Municipality (Name, Province, Kind) VALUES "
                                   "('Grand Rapids', 'MB', 'csd'), ('Nowhere', 'XX', 'csd')");
  const ZarnAddress parser(path_, ParseOptions{.profile = Profile::kCanada});
  EXPECT_EQ(parser.Parse("5 Oak Ave Grand Rapids MB").municipality, "Grand Rapids");
  Diagnostics d;
  parser.Parse("5 Oak Ave, Nowhere, MB", &d);
  EXPECT_EQ(DiagnosticFlagNames(d.flags), "municipality_unknown");
  testing::ExecSql(path_, "INSERT INTO Municipality (Name, Province) VALUES ('Nowhere', 'MB')");
  parser.Parse("5 Oak Ave, Nowhere, MB", &d);
  EXPECT_EQ(d.flags, 0u);
}

}  // namespace
}  // namespace zarn
