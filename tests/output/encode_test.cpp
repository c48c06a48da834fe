// The encoder of a result (zarn/encode.hpp): escaping byte by byte, the
// columns, and whole results in TSV, CSV and JSON.
#include "zarn/encode.hpp"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <string>
#include <string_view>
#include <vector>

#include "zarn/zarn.hpp"

namespace zarn {
namespace {

std::string Json(std::string_view text) {
  std::string out;
  AppendJsonString(out, text);
  return out;
}

// What the JSON library writes for the same text, bad UTF-8 replaced.
std::string Reference(std::string_view text) {
  return nlohmann::json(std::string(text))
      .dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

TEST(JsonString, Cases) {
  const struct {
    std::string_view in;
    std::string_view out;
  } kCases[] = {
      {"", R"("")"},
      {"Main", R"("Main")"},
      {"Côte-des-Neiges", "\"Côte-des-Neiges\""},
      {"a\"b\\c", R"("a\"b\\c")"},
      {"\b\f\n\r\t", R"("\b\f\n\r\t")"},
      {std::string_view("\x01\x1f\x7f", 3), "\"\\u0001\\u001f\x7f\""},
      {std::string_view("a\0b", 3), R"("a\u0000b")"},
      {"\xff", "\"\xEF\xBF\xBD\""},
      {"\xe2\x82"
       "A",
       "\"\xEF\xBF\xBD"
       "A\""},                                       // cut short: one U+FFFD, A kept
      {"\xe0\x80", "\"\xEF\xBF\xBD\xEF\xBF\xBD\""},  // overlong start, stray continuation
      {"\xed\xa0\x80", "\"\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\""},  // a surrogate
      {"\xf0\x9f\x98\x80", "\"\xf0\x9f\x98\x80\""},
      {"\xf0\x9f\x98", "\"\xEF\xBF\xBD\""},  // cut at the end
      {"\xf4\x90\x80\x80", "\"\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\""},
  };
  for (const auto& c : kCases) {
    EXPECT_EQ(Json(c.in), c.out) << ::testing::PrintToString(std::string(c.in));
    EXPECT_EQ(Json(c.in), Reference(c.in)) << ::testing::PrintToString(std::string(c.in));
  }
}

// Every text of one and two bytes, and three-byte texts over the bytes where
// UTF-8 decoding changes its mind: the same bytes as the JSON library.
TEST(JsonString, SameAsTheJsonLibraryOnShortTexts) {
  for (int a = 0; a < 256; ++a) {
    const char one[1] = {static_cast<char>(a)};
    ASSERT_EQ(Json({one, 1}), Reference({one, 1})) << a;
    for (int b = 0; b < 256; ++b) {
      const char two[2] = {static_cast<char>(a), static_cast<char>(b)};
      ASSERT_EQ(Json({two, 2}), Reference({two, 2})) << a << " " << b;
    }
  }
  const unsigned char kEdges[] = {0x00, 0x22, 0x41, 0x5c, 0x7f, 0x80, 0x8f, 0x90, 0x9f,
                                  0xa0, 0xbf, 0xc0, 0xc1, 0xc2, 0xdf, 0xe0, 0xe1, 0xec,
                                  0xed, 0xee, 0xef, 0xf0, 0xf1, 0xf3, 0xf4, 0xf5, 0xff};
  for (unsigned char a : kEdges) {
    for (unsigned char b : kEdges) {
      for (unsigned char c : kEdges) {
        for (unsigned char d : {0x41, 0x80, 0xbf, 0xc3}) {
          const char four[4] = {static_cast<char>(a), static_cast<char>(b), static_cast<char>(c),
                                static_cast<char>(d)};
          ASSERT_EQ(Json({four, 4}), Reference({four, 4})) << +a << " " << +b << " " << +c;
        }
      }
    }
  }
}

TEST(TsvAndCsvFields, Cases) {
  const struct {
    std::string_view in;
    std::string_view tsv;
    std::string_view csv;
  } kCases[] = {
      {"", "", ""},
      {"Main", "Main", "Main"},
      {"a\tb", "a\\tb", "a\tb"},
      {"a\nb\rc", "a\\nb\\rc", "\"a\nb\rc\""},
      {"back\\slash", "back\\\\slash", "back\\slash"},
      {"Winnipeg, MB", "Winnipeg, MB", "\"Winnipeg, MB\""},
      {"say \"hi\"", "say \"hi\"", "\"say \"\"hi\"\"\""},
      {"é", "é", "é"},
  };
  for (const auto& c : kCases) {
    std::string tsv;
    std::string csv;
    AppendTsvField(tsv, c.in);
    AppendCsvField(csv, c.in);
    EXPECT_EQ(tsv, c.tsv) << c.in;
    EXPECT_EQ(csv, c.csv) << c.in;
  }
}

TEST(ResultColumns, FieldsThenWhatTheOptionsAdd) {
  const std::vector<std::string_view> fields = {"street_number", "street", "street_type",
                                                "direction", "unit"};
  auto with = [&](std::vector<std::string_view> extra) {
    std::vector<std::string_view> all = fields;
    all.insert(all.end(), extra.begin(), extra.end());
    return all;
  };
  EXPECT_EQ(ResultColumns({}), with({"error"}));
  EXPECT_EQ(ResultColumns({.diagnostics = true}), with({"flags", "unplaced_words", "error"}));
  EXPECT_EQ(ResultColumns({.standard = true}),
            with({"standard_line", "standard_type", "standard_direction", "error"}));
  EXPECT_EQ(ResultColumns({.diagnostics = true, .standard = true}),
            with({"flags", "unplaced_words", "standard_line", "standard_type", "standard_direction",
                  "error"}));
}

ParseResult Sample() {
  ParseResult r;
  r.parts = {"123", "Saint-Denis", "rue", "W", "5"};
  r.diagnostics.flags = kFlagUnitAssumed | kFlagUnknownWords;
  r.diagnostics.unplaced_words = {"bsmt", "x\ty"};
  StandardAddress s;
  s.line = "5-123 RUE SAINT-DENIS O";
  s.street_type = "RUE";
  s.direction = "O";
  s.language = Language::kFrench;
  s.flags = kStandardTypeOtherLanguage;
  r.standard = s;
  return r;
}

TEST(ResultEncoding, Json) {
  std::string out;
  AppendResultJson(out, Sample(), {});
  EXPECT_EQ(out, R"({"street_number":"123","street":"Saint-Denis","street_type":"rue",)"
                 R"("direction":"W","unit":"5","error":null})");
  out.clear();
  AppendResultJson(out, Sample(), {.diagnostics = true, .standard = true});
  EXPECT_EQ(out, R"({"street_number":"123","street":"Saint-Denis","street_type":"rue",)"
                 R"("direction":"W","unit":"5","error":null,)"
                 R"("diagnostics":{"flags":["unit_assumed","unknown_words"],)"
                 R"("unplaced_words":["bsmt","x\ty"]},)"
                 R"("standard":{"line":"5-123 RUE SAINT-DENIS O","street_type":"RUE",)"
                 R"("direction":"O","language":"fr","flags":["type_other_language"]}})");
  const nlohmann::json parsed = nlohmann::json::parse(out);
  EXPECT_EQ(parsed["standard"]["line"], "5-123 RUE SAINT-DENIS O");

  ParseResult failed;
  failed.error_number = kErrorOverflow;
  failed.error_message = "Overflow";
  out.clear();
  AppendResultJson(out, failed, {.diagnostics = true, .standard = true});
  EXPECT_EQ(out, R"({"street_number":"","street":"","street_type":"","direction":"","unit":"",)"
                 R"("error":{"kind":"too_long","number":6,"message":"Overflow"},)"
                 R"("diagnostics":{"flags":[],"unplaced_words":[]},"standard":null})");
}

TEST(ResultEncoding, TsvAndCsvRows) {
  std::string tsv;
  AppendResultTsv(tsv, Sample(), {.diagnostics = true, .standard = true});
  EXPECT_EQ(tsv,
            "123\tSaint-Denis\true\tW\t5\tunit_assumed,unknown_words\tbsmt x\\ty\t"
            "5-123 RUE SAINT-DENIS O\tRUE\tO\t");
  std::string csv;
  AppendResultCsv(csv, Sample(), {.diagnostics = true});
  EXPECT_EQ(csv, "123,Saint-Denis,rue,W,5,\"unit_assumed,unknown_words\",bsmt x\ty,");
  ParseResult failed;
  failed.error_number = 14;
  failed.error_message = "reference database \"a,b\": cannot open the file";
  csv.clear();
  AppendResultCsv(csv, failed, {.standard = true});
  EXPECT_EQ(csv, ",,,,,,,,\"reference database \"\"a,b\"\": cannot open the file\"");
}

// The canada profile writes the whole-address fields after unit and the
// standard form's delivery and last lines after its other columns; the
// specified profile (the default above) writes neither.
TEST(ResultColumns, CanadaAddsTheWholeAddress) {
  const std::vector<std::string_view> whole = {
      "street_number", "street",       "street_type", "direction",
      "unit",          "po_box",       "rural_route", "general_delivery",
      "station",       "municipality", "province",    "postal_code"};
  auto with = [&](std::vector<std::string_view> extra) {
    std::vector<std::string_view> all = whole;
    all.insert(all.end(), extra.begin(), extra.end());
    return all;
  };
  EXPECT_EQ(ResultColumns({.profile = Profile::kCanada}), with({"error"}));
  EXPECT_EQ(ResultColumns({.diagnostics = true, .standard = true, .profile = Profile::kCanada}),
            with({"flags", "unplaced_words", "standard_line", "standard_type", "standard_direction",
                  "standard_delivery_line", "standard_last_line", "error"}));
  EXPECT_EQ(ResultColumns({.standard = true, .profile = Profile::kSpecified}).size(), 9u);
}

ParseResult WholeSample() {
  ParseResult r;
  r.parts.po_box = "4001";
  r.parts.station = "STN A";
  r.parts.municipality = "Toronto";
  r.parts.province = "ON";
  r.parts.postal_code = "M5W 1A1";
  StandardAddress s;
  s.delivery_line = "PO BOX 4001 STN A";
  s.last_line = "TORONTO ON  M5W 1A1";
  r.standard = s;
  return r;
}

TEST(ResultEncoding, CanadaWholeAddress) {
  const OutputOptions canada{.standard = true, .profile = Profile::kCanada};
  std::string tsv;
  AppendResultTsv(tsv, WholeSample(), canada);
  EXPECT_EQ(tsv,
            "\t\t\t\t\t4001\t\t\tSTN A\tToronto\tON\tM5W 1A1\t\t\t\t"
            "PO BOX 4001 STN A\tTORONTO ON  M5W 1A1\t");
  std::string json;
  AppendResultJson(json, WholeSample(), canada);
  const nlohmann::json parsed = nlohmann::json::parse(json);
  EXPECT_EQ(parsed.size(), 14u);  // twelve fields, error, standard
  EXPECT_EQ(parsed["postal_code"], "M5W 1A1");
  EXPECT_EQ(parsed["standard"]["delivery_line"], "PO BOX 4001 STN A");
  EXPECT_EQ(parsed["standard"]["last_line"], "TORONTO ON  M5W 1A1");

  // A failed result keeps every column, the two lines empty too.
  ParseResult failed;
  failed.error_number = kErrorOverflow;
  failed.error_message = "Overflow";
  std::string csv;
  AppendResultCsv(csv, failed, canada);
  EXPECT_EQ(csv, std::string(17, ',') + "Overflow");  // 18 columns

  // The specified profile writes neither the fields nor the lines.
  json.clear();
  AppendResultJson(json, WholeSample(), {.standard = true});
  const nlohmann::json specified = nlohmann::json::parse(json);
  EXPECT_FALSE(specified.contains("po_box"));
  EXPECT_FALSE(specified["standard"].contains("delivery_line"));
}

TEST(ResultEncoding, ErrorKinds) {
  const struct {
    int number;
    const char* kind;
  } kCases[] = {{kErrorInvalidArgument, "invalid_utf8"},
                {kErrorOverflow, "too_long"},
                {kErrorOutOfMemory, "out_of_memory"},
                {kErrorInvalidUseOfNull, "address"},
                {kErrorSubscriptOutOfRange, "address"},
                {14, "database"},
                {26, "database"},
                {517, "database"}};
  for (const auto& c : kCases) EXPECT_STREQ(ErrorKind(c.number), c.kind) << c.number;
}

}  // namespace
}  // namespace zarn
