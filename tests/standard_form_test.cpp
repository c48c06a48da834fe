// The standard form of an address: the parts written the Canada Post way,
// with the street-type symbols of the reference database.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "format/latin_case.h"
#include "support/test_support.h"
#include "zarn/zarn.hpp"

namespace zarn {
namespace {

struct FormCase {
  AddressParts parts;  // number, street, type, direction, unit
  Language language;
  const char* line;
  const char* type;
  const char* direction;
  Language written;
  uint32_t flags;
};

constexpr Language kEn = Language::kEnglish;
constexpr Language kFr = Language::kFrench;
constexpr Language kDetect = Language::kDetect;

TEST(StandardForm, BundledSymbolsBothLanguages) {
  const ZarnAddress parser(testing::BundledDatabase());
  const FormCase cases[] = {
      // English: the type after the name, English direction symbols.
      {{"123", "Main", "Street", "N", ""}, kDetect, "123 MAIN ST N", "ST", "N", kEn, 0},
      {{"5", "Oak", "Avenue", "", "12"}, kEn, "12-5 OAK AVE", "AVE", "", kEn, 0},
      {{"10", "Pine", "Crescent", "NW", ""}, kDetect, "10 PINE CRES NW", "CRES", "NW", kEn, 0},
      {{"77", "Portage", "Road", "W", ""}, kDetect, "77 PORTAGE RD W", "RD", "W", kEn, 0},
      {{"9", "St. Mary's", "Court", "", ""}, kDetect, "9 ST MARYS CRT", "CRT", "", kEn, 0},
      {{"1106", "Crossfield", "Ave", "", ""}, kDetect, "1106 CROSSFIELD AVE", "AVE", "", kEn, 0},
      {{"4", "21", "Avenue", "", "5"}, kEn, "5-4 21ST AVE", "AVE", "", kEn, 0},
      {{"4", "12", "Street", "E", ""}, kEn, "4 12TH ST E", "ST", "E", kEn, 0},
      {{"4", "3", "Line", "", ""}, kEn, "4 3RD LINE", "LINE", "", kEn, 0},
      {{"", "Main", "Street", "", "5"}, kEn, "MAIN ST UNIT 5", "ST", "", kEn, 0},
      {{"123", "Main", "street", "north", ""}, kDetect, "123 MAIN ST N", "ST", "N", kEn, 0},
      // French: the type before the name, French direction symbols.
      {{"123", "Saint-Denis", "rue", "W", "5"},
       kDetect,
       "5-123 RUE SAINT-DENIS O",
       "RUE",
       "O",
       kFr,
       0},
      {{"4500", "Saint-Laurent", "Boulevard", "W", ""},
       kFr,
       "4500 BOUL SAINT-LAURENT O",
       "BOUL",
       "O",
       kFr,
       0},
      {{"3200", "Côte-des-Neiges", "chemin", "", ""},
       kDetect,
       "3200 CH CÔTE-DES-NEIGES",
       "CH",
       "",
       kFr,
       0},
      {{"12", "du Parc", "Avenue", "", ""}, kDetect, "12 AV DU PARC", "AV", "", kFr, 0},
      {{"12", "Parc", "avenue", "", ""}, kDetect, "12 AV PARC", "AV", "", kFr, 0},
      {{"8", "des Érables", "Montée", "NW", ""},
       kDetect,
       "8 MONTÉE DES ÉRABLES NO",
       "MONTÉE",
       "NO",
       kFr,
       0},
      {{"15", "Lilas", "Croissant", "", ""}, kDetect, "15 CROIS LILAS", "CROIS", "", kFr, 0},
      {{"300", "L'Assomption", "Place", "", ""},
       kDetect,
       "300 PLACE L ASSOMPTION",
       "PLACE",
       "",
       kFr,
       0},
      {{"1", "1", "Avenue", "", ""}, kFr, "1 1RE AV", "AV", "", kFr, 0},
      {{"2", "1", "Rang", "", ""}, kFr, "2 1ER RANG", "RANG", "", kFr, 0},
      {{"2", "4", "rue", "SW", ""}, kDetect, "2 4E RUE SO", "RUE", "SO", kFr, 0},
      {{"45", "Principale", "Rue", "Ouest", ""},
       kDetect,
       "45 RUE PRINCIPALE O",
       "RUE",
       "O",
       kFr,
       0},
      {{"", "Principale", "rue", "", "3"}, kFr, "RUE PRINCIPALE UNITÉ 3", "RUE", "", kFr, 0},
      // The type decides before the name: an English type stays English.
      {{"50", "De Salaberry", "Street", "", ""}, kDetect, "50 DE SALABERRY ST", "ST", "", kEn, 0},
      // A type with no symbol in the asked language, or none at all.
      {{"7", "Main", "Street", "", ""},
       kFr,
       "7 ST MAIN",
       "ST",
       "",
       kFr,
       kStandardTypeOtherLanguage},
      {{"7", "Big", "Bayou", "", ""},
       kDetect,
       "7 BIG BAYOU",
       "BAYOU",
       "",
       kEn,
       kStandardTypeWithoutSymbol},
      {{"7", "Main", "Street", "Up", ""},
       kEn,
       "7 MAIN ST UP",
       "ST",
       "UP",
       kEn,
       kStandardDirectionUnknown},
      // Parts left empty stay out of the line.
      {{"", "", "", "", ""}, kDetect, "", "", "", kEn, 0},
      {{"123A", "Main", "", "", ""}, kDetect, "123A MAIN", "", "", kEn, 0},
      {{"12 1/2", "King", "Street", "", ""}, kDetect, "12 1/2 KING ST", "ST", "", kEn, 0},
  };
  for (const FormCase& c : cases) {
    const StandardAddress s = parser.Standardize(c.parts, c.language);
    const std::string what = c.parts.street_number + "|" + c.parts.street + "|" +
                             c.parts.street_type + "|" + c.parts.direction + "|" + c.parts.unit +
                             " in " + LanguageName(c.language);
    EXPECT_EQ(s.line, c.line) << what;
    EXPECT_EQ(s.street_type, c.type) << what;
    EXPECT_EQ(s.direction, c.direction) << what;
    EXPECT_EQ(s.language, c.written) << what;
    EXPECT_EQ(s.flags, c.flags) << what << ": " << StandardFlagNames(s.flags);
  }
}

TEST(StandardForm, PartsComeBackStandardised) {
  const ZarnAddress parser(testing::BundledDatabase());
  const StandardAddress s = parser.Standardize({"0123b", "saint-jean-de-la-lande", "rue", "", "a"});
  EXPECT_EQ(s.street_number, "0123B");
  EXPECT_EQ(s.street, "SAINT-JEAN-DE-LA-LANDE");
  EXPECT_EQ(s.street_type, "RUE");
  EXPECT_EQ(s.unit, "A");
  EXPECT_EQ(s.line, "A-0123B RUE SAINT-JEAN-DE-LA-LANDE");
}

TEST(StandardForm, FromParse) {
  const ZarnAddress parser(testing::BundledDatabase());
  const struct {
    const char* address;
    const char* line;
  } cases[] = {
      {"123 Main St. N", "123 MAIN ST N"},
      {"5-123 rue Saint-Denis Ouest", "5-123 RUE SAINT DENIS O"},
      {"Apt 5 21st Ave", "21ST AVE UNIT 5"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(parser.Standardize(parser.Parse(c.address)).line, c.line) << c.address;
  }
  // The parts alone do not show that "boul" came before the name and the
  // direction was "Ouest": only the caller's language makes it French.
  const AddressParts parts = parser.Parse("4500 boul Saint-Laurent Ouest");
  EXPECT_EQ(parser.Standardize(parts).line, "4500 SAINT LAURENT BLVD W");
  EXPECT_EQ(parser.Standardize(parts, kFr).line, "4500 BOUL SAINT LAURENT O");
}

TEST(StandardForm, TypedAddressIsALanguageClue) {
  const ZarnAddress parser(testing::BundledDatabase());
  const struct {
    const char* address;
    const char* line;
  } cases[] = {
      // The type before the name, or a French direction word as typed.
      {"4500 boul Saint-Laurent Ouest", "4500 BOUL SAINT LAURENT O"},
      {"12725, boul. Rodolphe-Forget", "12725 BOUL RODOLPHE FORGET"},
      {"5 Oak Avenue Nord", "5 AV OAK N"},
      // A type after the name, or a number after its type, shows nothing.
      {"12725 Rodolphe-Forget Blvd", "12725 RODOLPHE FORGET BLVD"},
      {"12 21st Ave", "12 21ST AVE"},
      {"1648 ST. LAWRENCE AVE", "1648 STREET LAWRENCE AVE"},
      // A number typed after its type is a route number, not an ordinal.
      {"314-725 HWY 15", "314-725 HWY 15"},
      {"5 Route 138", "5 RTE 138"},
      {"Apt 5 123 rue Main", "5-123 RUE MAIN"},
      // A French ordinal shows French: the type after it.
      {"740, 52e Avenue", "740 52E AV"},
  };
  for (const auto& c : cases) {
    const AddressParts parts = parser.Parse(c.address);
    EXPECT_EQ(parser.Standardize(parts, kDetect, c.address).line, c.line) << c.address;
  }
  // Only kDetect reads the clue; text that is not UTF-8 is no clue.
  const AddressParts parts = parser.Parse("4500 boul Saint-Laurent Ouest");
  EXPECT_EQ(parser.Standardize(parts, kEn, "4500 boul Saint-Laurent Ouest").line,
            "4500 SAINT LAURENT BLVD W");
  EXPECT_EQ(parser.Standardize(parts, kDetect, "4500 boul\xff Saint-Laurent Ouest").line,
            "4500 SAINT LAURENT BLVD W");
}

// The delivery line and the last line of a whole address, parsed with the
// canada profile, in English and French.
TEST(StandardForm, DeliveryLineAndLastLine) {
  const ZarnAddress canada(testing::BundledDatabase(), ParseOptions{.profile = Profile::kCanada});
  struct Case {
    const char* address;
    Language language;
    const char* line;
    const char* delivery;
    const char* last;
  };
  const Case cases[] = {
      {"PO Box 4001 Stn A, Toronto ON M5W 1A1", kDetect, "", "PO BOX 4001 STN A",
       "TORONTO ON  M5W 1A1"},
      {"CP 123 SUCC BUREAU-CHEF, Rimouski QC G5L 7B7", kDetect, "", "CP 123 SUCC BUREAU-CHEF",
       "RIMOUSKI QC  G5L 7B7"},
      {"PO Box 4001 Stn A, Toronto ON M5W 1A1", kFr, "", "CP 4001 SUCC A", "TORONTO ON  M5W 1A1"},
      {"RR 2 STN MAIN, Gibsons BC V0N 1V0", kDetect, "", "RR 2 STN MAIN", "GIBSONS BC  V0N 1V0"},
      {"SS 3, Sherwood Park AB T8A 3K8", kDetect, "", "SS 3", "SHERWOOD PARK AB  T8A 3K8"},
      {"GD STN MAIN, Whitehorse YT Y1A 1A1", kDetect, "", "GD STN MAIN", "WHITEHORSE YT  Y1A 1A1"},
      {"Poste restante succ. A, Québec QC G1K 1A1", kDetect, "", "PR SUCC A", "QUÉBEC QC  G1K 1A1"},
      {"po box 33021 rpo polo park, winnipeg, MB R3G 3N4", kDetect, "",
       "PO BOX 33021 RPO POLO PARK", "WINNIPEG MB  R3G 3N4"},
      {"123 Main St, Winnipeg, MB r3c1a1", kDetect, "123 MAIN ST", "", "WINNIPEG MB  R3C 1A1"},
      {"1653 MACISAAC ROAD R.R.#2 P.O. Box:118, RICHMOND, PE C0B 1Y0", kEn, "1653 MACISAAC RD",
       "PO BOX 118 RR 2", "RICHMOND PE  C0B 1Y0"},
      {"5-123 rue Saint-Denis Ouest, Montréal (Québec) H2X 3K8", kDetect, "5-123 RUE SAINT-DENIS O",
       "", "MONTRÉAL QC  H2X 3K8"},
      {"123 Main St, Winnipeg R3C 1A1", kDetect, "123 MAIN ST", "", "WINNIPEG  R3C 1A1"},
      {"123 Main St", kDetect, "123 MAIN ST", "", ""},
  };
  for (const Case& c : cases) {
    const StandardAddress s = canada.Standardize(canada.Parse(c.address), c.language, c.address);
    EXPECT_EQ(s.line, c.line) << c.address;
    EXPECT_EQ(s.delivery_line, c.delivery) << c.address;
    EXPECT_EQ(s.last_line, c.last) << c.address;
  }
  // Parts filled by hand; the specified rules fill none of the seven.
  AddressParts parts{"1", "Main", "Street", "", ""};
  parts.municipality = "St. John's";
  parts.province = "NL";
  EXPECT_EQ(canada.Standardize(parts).last_line, "ST JOHNS NL");
  const ZarnAddress specified(testing::BundledDatabase());
  const StandardAddress s = specified.Standardize(specified.Parse("PO Box 4001, Toronto ON"));
  EXPECT_EQ(s.delivery_line + s.last_line, "");
  parts.station = "STN \xff";
  EXPECT_THROW(canada.Standardize(parts), Error);
}

TEST(StandardForm, UpperCaseOfLatinLetters) {
  EXPECT_EQ(internal::UpperCaseUtf8("côte-des-neiges"), "CÔTE-DES-NEIGES");
  EXPECT_EQ(internal::UpperCaseUtf8("éèêëàâäçîïôöùûüÿæœ"), "ÉÈÊËÀÂÄÇÎÏÔÖÙÛÜŸÆŒ");
  EXPECT_EQ(internal::UpperCaseUtf8("łńśźżčďěňřšťůž"), "ŁŃŚŹŻČĎĚŇŘŠŤŮŽ");
  EXPECT_EQ(internal::UpperCaseUtf8("ıſ÷ß 東京"), "IS÷ß 東京");
}

TEST(StandardForm, LanguageNames) {
  Language l = Language::kDetect;
  EXPECT_TRUE(LanguageFromName("FR", &l));
  EXPECT_EQ(l, kFr);
  EXPECT_TRUE(LanguageFromName("english", &l));
  EXPECT_EQ(l, kEn);
  EXPECT_FALSE(LanguageFromName("de", &l));
  EXPECT_EQ(StandardFlagNames(kStandardTypeWithoutSymbol | kStandardDirectionUnknown),
            "type_without_symbol,direction_unknown");
}

TEST(StandardForm, InvalidUtf8IsAnError) {
  const ZarnAddress parser(testing::BundledDatabase());
  try {
    parser.Standardize({"1", "Ma\xffin", "Street", "", ""});
    FAIL() << "no error";
  } catch (const Error& e) {
    EXPECT_EQ(e.Number(), kErrorInvalidArgument);
    EXPECT_NE(std::string(e.what()).find("street is not valid UTF-8"), std::string::npos);
  }
}

class StandardFormDatabase : public ::testing::Test {
 protected:
  testing::TempDir dir_;
  std::string path_ = dir_.File("ref.DAT");
};

TEST_F(StandardFormDatabase, OlderFileWithoutTheTableStillParses) {
  testing::MakeDatabase(path_,
                        testing::SmallReferenceSql() +
                            ";DROP INDEX StreetTypeSymbolByType;DROP TABLE StreetTypeSymbol");
  const ZarnAddress parser(path_);
  const AddressParts parts = parser.Parse("123 Main St N");
  EXPECT_EQ(parts.street_type, "Street");
  try {
    parser.Standardize(parts);
    FAIL() << "no error";
  } catch (const Error& e) {
    EXPECT_EQ(e.Number(), 1);  // SQLITE_ERROR
    EXPECT_NE(std::string(e.what()).find("StreetTypeSymbol"), std::string::npos) << e.what();
  }
  EXPECT_EQ(parser.Parse("5 Oak Ave").street_type, "Avenue");  // the connection still serves
}

TEST_F(StandardFormDatabase, SymbolsAreReadFromTheFileAsItIsNow) {
  testing::MakeDatabase(path_, testing::SmallReferenceSql() +
                                   ";INSERT INTO StreetTypeSymbol (StreetTypeDesc, Language, "
                                   "Symbol) VALUES ('Street', 'en', 'ST'), ('rue', 'fr', 'RUE'),"
                                   "('Avenue', 'en', 'AVE'), ('Avenue', 'fr', 'AV')");
  const ZarnAddress parser(path_);
  EXPECT_EQ(parser.Standardize({"1", "Main", "Street", "", ""}).line, "1 MAIN ST");
  // The alternate street types lead a form such as "Ave" to its symbol.
  EXPECT_EQ(parser.Standardize({"1", "Main", "Ave", "", ""}, kFr).line, "1 AV MAIN");
  testing::ExecSql(path_, "UPDATE StreetTypeSymbol SET Symbol='STR' WHERE StreetTypeDesc='Street'");
  EXPECT_EQ(parser.Standardize({"1", "Main", "Street", "", ""}).line, "1 MAIN STR");
  testing::ExecSql(path_, "DELETE FROM StreetTypeSymbol WHERE StreetTypeDesc='Street'");
  const StandardAddress s = parser.Standardize({"1", "Main", "Street", "", ""});
  EXPECT_EQ(s.line, "1 MAIN STREET");
  EXPECT_EQ(s.flags, kStandardTypeWithoutSymbol);
}

TEST_F(StandardFormDatabase, NullSymbolIsAnError) {
  // The schema refuses a Null symbol; a user file may not have that rule.
  testing::MakeDatabase(path_,
                        "CREATE TABLE StreetTypeSymbol (StreetTypeSymbolID INTEGER PRIMARY KEY, "
                        "StreetTypeDesc TEXT, Language TEXT, Symbol TEXT);"
                        "CREATE TABLE StreetType (streettypeid INTEGER PRIMARY KEY, "
                        "StreetTypeDesc TEXT);"
                        "CREATE VIEW qryAlternateStreetTypes AS SELECT '' AS "
                        "AlternateDeliveryAddress, '' AS StreetTypeDesc WHERE 0;"
                        "INSERT INTO StreetTypeSymbol VALUES (1, 'Road', 'en', NULL), "
                        "(2, 'Road', 'fr', 'CH'), (3, NULL, 'en', 'X'), (4, 'Lane', 'de', 'L')");
  const ZarnAddress parser(path_);
  try {
    parser.Standardize({"1", "Main", "Road", "", ""}, kEn);
    FAIL() << "no error";
  } catch (const Error& e) {
    EXPECT_EQ(e.Number(), kErrorInvalidUseOfNull);
    EXPECT_NE(std::string(e.what()).find("\"Road\""), std::string::npos) << e.what();
  }
  EXPECT_EQ(parser.Standardize({"1", "Main", "Road", "", ""}, kFr).line, "1 CH MAIN");
  // A row in a language other than en and fr stands for nothing.
  EXPECT_EQ(parser.Standardize({"1", "Main", "Lane", "", ""}, kEn).flags,
            kStandardTypeWithoutSymbol);
}

TEST_F(StandardFormDatabase, MissingFileIsAnError) {
  const ZarnAddress parser(dir_.File("none.DAT"));
  try {
    parser.Standardize({"1", "Main", "Street", "", ""});
    FAIL() << "no error";
  } catch (const Error& e) {
    EXPECT_EQ(e.Number(), 14);
  }
}

TEST(StandardForm, BatchKeepsEachResultsError) {
  const ZarnAddress parser(testing::BundledDatabase());
  const std::vector<std::string_view> lines = {"123 Main St. N", "12 Ave\xff", "Apt 5 21st Ave"};
  const std::vector<BatchResult> parsed = parser.ParseBatch(lines);
  std::vector<StandardResult> out(parsed.size());
  parser.StandardizeBatch(parsed, kDetect, out);
  ASSERT_TRUE(out[0].ok());
  EXPECT_EQ(out[0].standard.line, "123 MAIN ST N");
  EXPECT_EQ(out[1].error_number, kErrorInvalidArgument);
  EXPECT_EQ(out[1].standard.line, "");
  EXPECT_EQ(out[2].standard, parser.Standardize(parsed[2].parts));
}

}  // namespace
}  // namespace zarn
