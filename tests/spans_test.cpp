// Where each part came from (OutputOptions::spans): the text under each
// field's spans for addresses of both profiles, and, over the labelled
// corpus and the sample addresses, that every span lies on whole characters
// of the input, that no two fields share a byte, and that the fields
// returned as typed read the same as the text under their spans.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <map>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "support/test_support.h"
#include "zarn/zarn.hpp"

namespace zarn::testing {
namespace {

ZarnAddress& Parser(Profile profile) {
  static ZarnAddress specified(BundledDatabase(), ParseOptions{.profile = Profile::kSpecified});
  static ZarnAddress canada(BundledDatabase(), ParseOptions{.profile = Profile::kCanada});
  return profile == Profile::kCanada ? canada : specified;
}

ParseResult WithSpans(Profile profile, std::string_view address) {
  OutputOptions options;
  options.spans = true;
  options.profile = profile;
  return Parser(profile).ParseResultOf(address, options);
}

// The spans of field `f`, none without spans.
std::vector<Span> SpansOf(const ParseResult& r, size_t f) {
  if (!r.spans) return {};
  const std::span<const Span> spans = r.spans->Field(f);
  return std::vector<Span>(spans.begin(), spans.end());
}

// Each field that has spans, as the texts under them.
std::map<std::string, std::vector<std::string>> TextsUnderSpans(std::string_view address,
                                                                const ParseResult& r) {
  std::map<std::string, std::vector<std::string>> out;
  if (!r.spans) return out;
  for (size_t f = 0; f < kFieldCount; ++f) {
    for (const Span& s : r.spans->Field(f)) {
      if (s.end > address.size() || s.start >= s.end) {
        out[Fields()[f].name].push_back("<bad span>");
        continue;
      }
      out[Fields()[f].name].push_back(std::string(address.substr(s.start, s.end - s.start)));
    }
  }
  return out;
}

struct SpanCase {
  Profile profile;
  std::string address;
  // Every field with spans, and the text under each of its spans; the
  // fields left out must have none.
  std::map<std::string, std::vector<std::string>> texts;
};

constexpr Profile kS = Profile::kSpecified;
constexpr Profile kC = Profile::kCanada;

const SpanCase kCases[] = {
    // The unit-civic form: the dash is spaced by the specified clean-up and
    // cut out of the word by the canada profile; the street type and the
    // direction point at the words they were rewritten from.
    {kS,
     "5-123 rue Saint-Denis Ouest",
     {{"unit", {"5"}},
      {"street_number", {"123"}},
      {"street_type", {"rue"}},
      {"street", {"Saint", "Denis"}},
      {"direction", {"Ouest"}}}},
    {kC,
     "5-123 rue Saint-Denis Ouest",
     {{"unit", {"5"}},
      {"street_number", {"123"}},
      {"street_type", {"rue"}},
      {"street", {"Saint-Denis"}},
      {"direction", {"Ouest"}}}},
    // A period is dropped at the edge of a word.
    {kS,
     "123 Main St. N",
     {{"street_number", {"123"}},
      {"street", {"Main"}},
      {"street_type", {"St"}},
      {"direction", {"N"}}}},
    {kC,
     "123 Main St. N",
     {{"street_number", {"123"}},
      {"street", {"Main"}},
      {"street_type", {"St"}},
      {"direction", {"N"}}}},
    // A whole address: the delivery form with its designator, the station
    // with its name, the two spaces before the postal code.
    {kC,
     "PO Box 4001 Stn A, Toronto ON  M5W 1A1",
     {{"po_box", {"PO Box 4001"}},
      {"station", {"Stn A"}},
      {"municipality", {"Toronto"}},
      {"province", {"ON"}},
      {"postal_code", {"M5W 1A1"}}}},
    {kS,
     "PO Box 4001 Stn A, Toronto ON  M5W 1A1",
     {{"street_number", {"4001"}},
      {"street", {"PO Box", "A", "Toronto ON  M5W 1A1"}},
      {"street_type", {"Stn"}}}},
    // Accents: offsets count bytes, and the province points at its name.
    {kC,
     "5-123 rue Saint-Denis O., Montréal (Québec) H2X 3K8",
     {{"unit", {"5"}},
      {"street_number", {"123"}},
      {"street_type", {"rue"}},
      {"street", {"Saint-Denis"}},
      {"direction", {"O"}},
      {"municipality", {"Montréal"}},
      {"province", {"Québec"}},
      {"postal_code", {"H2X 3K8"}}}},
    {kS,
     "22 rue de l'Église, Saint-Élie",
     {{"street_number", {"22"}},
      {"street_type", {"rue"}},
      {"street", {"de l'Église", "Saint", "Élie"}}}},
    {kC,
     "22 rue de l'Église, Saint-Élie",
     {{"street_number", {"22"}}, {"street_type", {"rue"}}, {"street", {"de l'Église"}}}},
    // Leading, trailing and repeated spaces; words with only spaces between
    // them make one span.
    {kS,
     "   123   Main    St   N   ",
     {{"street_number", {"123"}},
      {"street", {"Main"}},
      {"street_type", {"St"}},
      {"direction", {"N"}}}},
    {kC,
     "   123   Old   Mill    Rd   ",
     {{"street_number", {"123"}}, {"street", {"Old   Mill"}}, {"street_type", {"Rd"}}}},
    // Punctuation between words: commas, periods, an asterisk.
    {kS,
     "123 Main St., Apt. 4",
     {{"street_number", {"123"}}, {"street", {"Main"}}, {"street_type", {"St"}}, {"unit", {"4"}}}},
    {kC,
     "12725, boul. Rodolphe-Forget",
     {{"street_number", {"12725"}}, {"street_type", {"boul"}}, {"street", {"Rodolphe-Forget"}}}},
    {kS,
     "12725, boul. Rodolphe-Forget",
     {{"street_number", {"12725"}}, {"street_type", {"boul"}}, {"street", {"Rodolphe", "Forget"}}}},
    // A designator glued to its unit: cut by the canada profile, a whole
    // word for the specified rules.
    {kC,
     "Apt5 123 Main St",
     {{"unit", {"5"}}, {"street_number", {"123"}}, {"street", {"Main"}}, {"street_type", {"St"}}}},
    {kS,
     "Unit#5 123 Main St",
     {{"unit", {"Unit#5"}},
      {"street_number", {"123"}},
      {"street", {"Main"}},
      {"street_type", {"St"}}}},
    {kC,
     "#5 123 Main St",
     {{"unit", {"5"}}, {"street_number", {"123"}}, {"street", {"Main"}}, {"street_type", {"St"}}}},
    // A number and name typed as one word, cut apart by the specified rules.
    {kS, "123Main", {{"street_number", {"123"}}, {"street", {"Main"}}}},
    // A suffix joined to the civic number by the canada profile.
    {kC,
     "123 1/2 Main St",
     {{"street_number", {"123 1/2"}}, {"street", {"Main"}}, {"street_type", {"St"}}}},
    // A civic range joined from three words, glued or typed apart: one span.
    {kC,
     "1630-1670, rue Sauvé Est",
     {{"street_number", {"1630-1670"}},
      {"street_type", {"rue"}},
      {"street", {"Sauvé"}},
      {"direction", {"Est"}}}},
    {kC,
     "1630 - 1670, rue Sauvé Est",
     {{"street_number", {"1630 - 1670"}},
      {"street_type", {"rue"}},
      {"street", {"Sauvé"}},
      {"direction", {"Est"}}}},
    // A rural route, a station with a name, a province by its symbol.
    {kC,
     "RR 2 Stn Main, Wilcox SK S0G 5E0",
     {{"rural_route", {"RR 2"}},
      {"station", {"Stn Main"}},
      {"municipality", {"Wilcox"}},
      {"province", {"SK"}},
      {"postal_code", {"S0G 5E0"}}}},
    // A character outside the Basic Multilingual Plane (two UTF-16 units,
    // four bytes) before the parts.
    {kS,
     "\xF0\x9D\x92\x9C 123 Main St",
     {{"street", {"\xF0\x9D\x92\x9C", "Main"}},
      {"street_number", {"123"}},
      {"street_type", {"St"}}}},
};

TEST(Spans, TextUnderEachFieldsSpans) {
  for (const SpanCase& c : kCases) {
    SCOPED_TRACE(std::string(ProfileName(c.profile)) + ": " + c.address);
    const ParseResult r = WithSpans(c.profile, c.address);
    ASSERT_TRUE(r.ok()) << r.error_message;
    ASSERT_TRUE(r.spans.has_value());
    EXPECT_EQ(TextsUnderSpans(c.address, r), c.texts);
  }
}

TEST(Spans, ByteOffsetsOfAnAccentedLine) {
  // Offsets count bytes: "Montréal" is nine of them, and everything after
  // it stands one byte further than its character position.
  const std::string address = "5-123 rue Saint-Denis O., Montréal (Québec) H2X 3K8";
  const ParseResult r = WithSpans(kC, address);
  ASSERT_TRUE(r.ok());
  EXPECT_EQ(SpansOf(r, ZARN_FIELD_MUNICIPALITY), (std::vector<Span>{{26, 35}}));
  EXPECT_EQ(SpansOf(r, ZARN_FIELD_PROVINCE), (std::vector<Span>{{37, 44}}));
  EXPECT_EQ(SpansOf(r, ZARN_FIELD_POSTAL_CODE), (std::vector<Span>{{46, 53}}));
  EXPECT_EQ(address.size(), 53u);
}

TEST(Spans, OnlyWhenAskedAndTheSamePartsEitherWay) {
  for (Profile profile : {kS, kC}) {
    for (const SpanCase& c : kCases) {
      OutputOptions options;
      options.profile = profile;
      const ParseResult plain = Parser(profile).ParseResultOf(c.address, options);
      EXPECT_FALSE(plain.spans.has_value());
      const ParseResult with = WithSpans(profile, c.address);
      EXPECT_EQ(plain.parts, with.parts) << c.address;
      EXPECT_EQ(plain.diagnostics, with.diagnostics) << c.address;
    }
  }
}

TEST(Spans, ReusedResultsLoseTheirSpansWhenNotAsked) {
  const std::string_view addresses[] = {"123 Main St", "5-123 rue Saint-Denis"};
  std::vector<ParseResult> out(2);
  OutputOptions options;
  options.spans = true;
  Parser(kC).ParseBatch(addresses, out, options);
  ASSERT_TRUE(out[0].spans && out[1].spans);
  EXPECT_EQ(SpansOf(out[1], ZARN_FIELD_UNIT), (std::vector<Span>{{0, 1}}));
  options.spans = false;
  Parser(kC).ParseBatch(addresses, out, options);
  EXPECT_FALSE(out[0].spans || out[1].spans);
}

TEST(Spans, InvalidUtf8FailsAsWithoutSpans) {
  for (Profile profile : {kS, kC}) {
    const ParseResult r = WithSpans(profile, "123 Main\xC3 St");
    EXPECT_EQ(r.error_number, kErrorInvalidArgument);
    EXPECT_FALSE(r.spans.has_value());
    EXPECT_EQ(r.parts, AddressParts{});
  }
}

// ---- Invariants over the labelled corpus and the samples ----------------

std::vector<std::string> InvariantAddresses() {
  std::vector<std::string> out;
  {
    std::ifstream corpus(TestFile("data/corpus.tsv"));
    std::string line;
    std::getline(corpus, line);  // the header
    while (std::getline(corpus, line)) out.push_back(line.substr(0, line.find('\t')));
  }
  std::ifstream samples(std::string(ZARN_TEST_SOURCE_DIR) + "/../data/samples/addresses.txt");
  std::string line;
  while (std::getline(samples, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    out.push_back(line);
  }
  return out;
}

bool IsContinuationByte(char c) { return (static_cast<unsigned char>(c) & 0xC0) == 0x80; }

// Letters and digits only, ASCII letters in lower case: what is left of a
// part once case, spaces and punctuation are set aside.
std::string Normalised(std::string_view text) {
  std::string out;
  for (char c : text) {
    const auto u = static_cast<unsigned char>(c);
    if (u >= 0x80 || (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z')) {
      out += c;
    } else if (c >= 'A' && c <= 'Z') {
      out += static_cast<char>(c - 'A' + 'a');
    }
  }
  return out;
}

bool IsSubsequence(std::string_view part, std::string_view whole) {
  size_t at = 0;
  for (char c : whole) {
    if (at < part.size() && part[at] == c) ++at;
  }
  return at == part.size();
}

std::vector<std::string> NormalisedWords(std::string_view text) {
  std::vector<std::string> out;
  size_t at = 0;
  while (at <= text.size()) {
    size_t stop = text.find_first_of(" -", at);
    if (stop == std::string_view::npos) stop = text.size();
    std::string word = Normalised(text.substr(at, stop - at));
    if (!word.empty()) out.push_back(std::move(word));
    at = stop + 1;
  }
  return out;
}

// Whether each word of `value` was typed under the spans (`under`): found
// there in order (a designator or ordinal suffix may have been dropped), or
// written out in full from an abbreviation typed there (a street-type word
// taken into the name: "ST" written "Street").
bool ReadsAsTyped(std::string_view value, std::string_view under) {
  const std::string typed = Normalised(under);
  const std::vector<std::string> typed_words = NormalisedWords(under);
  for (const std::string& w : NormalisedWords(value)) {
    if (IsSubsequence(w, typed)) continue;
    bool abbreviated = false;
    for (const std::string& u : typed_words) {
      abbreviated = abbreviated || (u[0] == w[0] && IsSubsequence(u, w));
    }
    if (!abbreviated) return false;
  }
  return true;
}

TEST(Spans, InvariantsOverTheCorpusAndSamples) {
  const std::vector<std::string> addresses = InvariantAddresses();
  ASSERT_GT(addresses.size(), 6000u);
  std::vector<std::string_view> views(addresses.begin(), addresses.end());
  // Fields given as typed, whose words must read as the text under their
  // spans (ReadsAsTyped).
  const size_t kAsTyped[] = {ZARN_FIELD_STREET_NUMBER, ZARN_FIELD_STREET, ZARN_FIELD_UNIT,
                             ZARN_FIELD_MUNICIPALITY, ZARN_FIELD_POSTAL_CODE};
  for (Profile profile : {kS, kC}) {
    SCOPED_TRACE(ProfileName(profile));
    OutputOptions options;
    options.spans = true;
    options.profile = profile;
    std::vector<ParseResult> results(views.size());
    Parser(profile).ParseBatch(views, results, options);
    size_t with_spans = 0;
    size_t unrelated = 0;
    for (size_t i = 0; i < views.size(); ++i) {
      const std::string_view a = views[i];
      const ParseResult& r = results[i];
      if (!r.ok()) {
        EXPECT_FALSE(r.spans.has_value()) << a;
        continue;
      }
      ASSERT_TRUE(r.spans.has_value()) << a;
      // The fields' ranges follow one another over the whole list.
      ASSERT_EQ(r.spans->first[0], 0u) << a;
      for (size_t f = 0; f < kFieldCount; ++f) {
        ASSERT_LE(r.spans->first[f], r.spans->first[f + 1]) << a;
      }
      ASSERT_EQ(r.spans->first[kFieldCount], r.spans->all.size()) << a;
      std::vector<std::pair<Span, size_t>> all;
      for (size_t f = 0; f < kFieldCount; ++f) {
        const std::span<const Span> spans = r.spans->Field(f);
        if (r.parts.Field(f).empty()) {
          EXPECT_TRUE(spans.empty()) << a << " " << Fields()[f].name;
        }
        for (size_t k = 0; k < spans.size(); ++k) {
          const Span& s = spans[k];
          ASSERT_LT(s.start, s.end) << a;
          ASSERT_LE(s.end, a.size()) << a;
          EXPECT_FALSE(IsContinuationByte(a[s.start])) << a;
          if (s.end < a.size()) {
            EXPECT_FALSE(IsContinuationByte(a[s.end])) << a;
          }
          // Neither edge is a space: the span is the word's own characters.
          EXPECT_NE(a[s.start], ' ') << a;
          EXPECT_NE(a[s.end - 1], ' ') << a;
          if (k > 0) {
            EXPECT_LT(spans[k - 1].end, s.start) << a;
          }
          all.emplace_back(s, f);
        }
        if (!spans.empty()) ++with_spans;
      }
      std::sort(all.begin(), all.end(),
                [](const auto& x, const auto& y) { return x.first.start < y.first.start; });
      for (size_t k = 1; k < all.size(); ++k) {
        EXPECT_LE(all[k - 1].first.end, all[k].first.start)
            << a << ": " << Fields()[all[k - 1].second].name << " and "
            << Fields()[all[k].second].name << " overlap";
      }
      for (size_t f : kAsTyped) {
        const std::string value = Normalised(r.parts.Field(f));
        if (value.empty()) continue;
        std::string under;
        for (const Span& s : r.spans->Field(f)) {
          if (!under.empty()) under += ' ';
          under += a.substr(s.start, s.end - s.start);
        }
        if (!ReadsAsTyped(r.parts.Field(f), under)) {
          ++unrelated;
          ADD_FAILURE() << a << ": " << Fields()[f].name << " \"" << r.parts.Field(f)
                        << "\" is not the text under its spans, \"" << under << "\"";
        }
      }
    }
    EXPECT_GT(with_spans, addresses.size());
    EXPECT_EQ(unrelated, 0u);
  }
}

}  // namespace
}  // namespace zarn::testing
