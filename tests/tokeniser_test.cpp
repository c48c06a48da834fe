// Tokeniser and character classes.
#include "segments/tokeniser.h"

#include <gtest/gtest.h>
#include <utf8.h>

#include <random>

#include "base/text.h"
#include "segments/source_map.h"
#include "segments/text_cleanup.h"
#include "support/test_support.h"
#include "zarn/zarn.hpp"

namespace zarn::internal {
namespace {

using testing::U16;

TEST(CollapseSpaces, DropsLeadingAndShortensRuns) {
  std::u16string text = u"   12   Main St  ";
  EXPECT_EQ(CollapseSpaces(text), u"12 Main St ");
  EXPECT_EQ(text, u"12 Main St ");
  std::u16string blanks = u"     ";
  EXPECT_EQ(CollapseSpaces(blanks), u"");
  std::u16string tab = u"a\tb";
  EXPECT_EQ(CollapseSpaces(tab), u"a\tb");
}

TEST(CountWords, CountsSpacesPlusOne) {
  std::u16string empty;
  EXPECT_EQ(CountWords(empty), 1);
  std::u16string text = u" a  b c ";
  EXPECT_EQ(CountWords(text), 4);
  EXPECT_EQ(text, u"a b c ");
}

TEST(DeleteRange, RemovesInclusiveRange) {
  EXPECT_EQ(DeleteRange(u"abcdef", 2, 3), u"adef");
  EXPECT_EQ(DeleteRange(u"abc", 3, 3), u"ab");
  EXPECT_EQ(DeleteRange(u"abc", 1, 1), u"bc");
}

TEST(Tokenise, RecordsPositionsAsTokenised) {
  const struct {
    const char* in;
    const char* collapsed;
    const char* dump;
  } cases[] = {
      {"", "", R"(None:?""@1,0,0)"},
      {"   12   Main St  ", "12 Main St ",
       R"(None:?"12"@1,2,2 None:?"Main"@4,7,4 None:?"St"@9,10,2 None:?""@12,11,0)"},
      {"12 Main St", "12 Main St", R"(None:?"12"@1,2,2 None:?"Main"@4,7,4 None:?"St"@9,10,2)"},
      {"a\tb -", "a\tb -", R"(None:?"a	b"@1,3,3 None:?"-"@5,5,1)"},
      {"#5 Apt#5", "#5 Apt#5", R"(None:?"#5"@1,2,2 None:?"Apt#5"@4,8,5)"},
  };
  for (const auto& c : cases) {
    SegmentTable table;
    std::u16string text = U16(c.in);
    const int16_t n = Tokenise(text, table);
    EXPECT_EQ(n, table.Count());
    EXPECT_EQ(text, U16(c.collapsed)) << c.in;
    EXPECT_EQ(table.DumpWithPositions(), c.dump) << c.in;
    EXPECT_EQ(table[0].text(), u"") << "record 0 stays empty";
  }
}

TEST(Tokenise, RebuildsFromScratch) {
  SegmentTable table;
  std::u16string first = u"1 2 3 4 5";
  Tokenise(first, table);
  table[1].type = kKindStreet;
  std::u16string second = u"x";
  Tokenise(second, table);
  EXPECT_EQ(table.Dump(), R"(None:?"x")");
}

TEST(Tokenise, OverflowsExactlyPastTheSixteenBitLimit) {
  const struct {
    std::u16string text;
    bool overflows;
  } cases[] = {
      {std::u16string(32767, u'a'), false},          {std::u16string(32768, u'a'), true},
      {std::u16string(32766, u'a') + u" ", true},     // a kept space at 32767
      {std::u16string(32765, u'a') + u"  ", false},   // collapses to 32766
      {u"   " + std::u16string(32767, u'a'), false},  // leading spaces go first
      {std::u16string(32765, u'a') + u" b", false},
  };
  for (const auto& c : cases) {
    SegmentTable table;
    std::u16string text = c.text;
    if (c.overflows) {
      try {
        Tokenise(text, table);
        ADD_FAILURE() << "no overflow for length " << c.text.size();
      } catch (const Error& e) {
        EXPECT_EQ(e.Number(), kErrorOverflow);
      }
    } else {
      EXPECT_NO_THROW(Tokenise(text, table)) << c.text.size();
    }
  }
}

TEST(ClassifyCharacters, ClassifiesTheFirstLenCharacters) {
  const struct {
    const char* text;
    int len;
    int16_t expected;
  } cases[] = {
      {"123", 3, kClassAllDigits},   {"Main", 4, kClassNoDigits},
      {"-", 1, kClassNoDigits},      {"#", 1, kClassNoDigits},
      {"12B", 3, kClassMixed},       {"1ere", 4, kClassMixed},
      {"#5", 2, kClassMixed},        {"", 0, kClassNoDigits},
      {"Abc123", 3, kClassNoDigits},  // lengthened after tokenising
      {"12", 0, kClassNoDigits},      // a record created with no positions
      {"5", 2, kClassAllDigits},      // shortened: fewer characters to examine
      {"١٢", 2, kClassNoDigits},      // only ASCII digits are digits
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ClassOf(U16(c.text), c.len), c.expected) << c.text << " len " << c.len;
  }
  SegmentTable table = testing::TableFromDump(R"(None:?"123" None:?"Main" None:?"1ere")");
  ClassifyCharacters(table);
  EXPECT_EQ(table.Dump(), R"(None:D"123" None:N"Main" None:M"1ere")");
  EXPECT_EQ(table[0].char_class, kClassUnknown) << "record 0 is never classified";
}

}  // namespace
}  // namespace zarn::internal

namespace zarn::internal {
namespace {

// The stages CleanAndTokeniseUtf8 stands for (with the classes set), one after the other: the dump
// with positions and the collapsed text, or "error" when a stage throws.
std::string ByStages(const std::string& address, std::u16string& text) {
  SegmentTable table;
  try {
    Utf8ToUtf16(address, text);
    CleanText(text);
    Tokenise(text, table);
    ClassifyCharacters(table);
  } catch (const Error&) {
    return "error";
  }
  return table.DumpWithPositions();
}

// One pass and stages agree on the table whenever the pass
// answers; it answers for every valid text of up to kFrontEndMaxBytes and
// never for invalid UTF-8.
void ExpectSameFrontEnd(const std::string& address) {
  std::u16string staged;
  const std::string expected = ByStages(address, staged);
  SegmentTable table;
  table.Rebuild(3);  // stale records from an earlier parse
  table[2].SetText(u"stale");
  std::u16string text = u"stale text";
  const bool valid = utf8::is_valid(address.begin(), address.end());
  const bool done = CleanAndTokeniseUtf8(address, text, table);
  if (!valid) {
    EXPECT_FALSE(done) << "answered for invalid UTF-8: " << address;
    return;
  }
  if (address.size() <= 10921) {
    EXPECT_TRUE(done) << address.size() << " bytes";
  }
  // The pass that also maps the units back to the bytes answers the same,
  // with the same table, and its map is the clean-up replayed on the bytes.
  SourceMap map;
  map.begin.assign(7, 99);  // stale, from an earlier address
  map.prefix = 3;
  SegmentTable mapped_table;
  std::u16string mapped_text = u"stale";
  const bool mapped = CleanAndTokeniseUtf8(address, mapped_text, mapped_table, map);
  EXPECT_EQ(mapped, done) << address;
  if (!done) return;
  ASSERT_NE(expected, "error") << "the stages fail where the pass answered";
  EXPECT_EQ(table.DumpWithPositions(), expected) << address;
  if (!mapped) return;
  EXPECT_EQ(mapped_table.DumpWithPositions(), expected) << address;
  SourceMap replayed;
  MapTokenisedText(address, CleanUp::kSpecified, replayed);
  ASSERT_EQ(map.count, replayed.count) << address;
  EXPECT_LE(map.prefix, map.count) << address;
  for (size_t u = 0; u < map.count; ++u) {
    ASSERT_EQ(map.ByteOf(u), replayed.ByteOf(u)) << "unit " << u << " of " << address;
  }
}

TEST(CleanAndTokeniseUtf8, SameAsTheStagesOnFixedText) {
  for (const char* in : {"",
                         " ",
                         "   ",
                         "123 Main St",
                         "  12   Main St  ",
                         "5-123 Main",
                         "-",
                         "--",
                         " - ",
                         "a-",
                         "-a",
                         "St. John's",
                         "1,2,3",
                         "a*b",
                         ".",
                         "'",
                         ",",
                         "*",
                         ",,, ,",
                         "12 rue de l'Église",
                         "MONTÉE",
                         "é",
                         " é ",
                         "é-é",
                         "\xE2\x82\xAC 5",
                         "\xF0\x9F\x98\x80 emoji",
                         "a\tb",
                         "caf\xC3\xA9.",
                         "\xC2\xA0nbsp",
                         "abc\xff",
                         "\xff",
                         "ab\xC3",
                         "\xED\xA0\x80 surrogate"}) {
    ExpectSameFrontEnd(in);
  }
  ExpectSameFrontEnd(std::string("a\0b c", 5));
}

TEST(CleanAndTokeniseUtf8, SameAsTheStagesOnRandomText) {
  std::mt19937 random(3);
  const std::string pieces[] = {"a",
                                "Z",
                                " ",
                                "  ",
                                "1",
                                "-",
                                ".",
                                "'",
                                ",",
                                "*",
                                "\xC3\xA9",
                                "\xE2\x82\xAC",
                                "\xF0\x9F\x98\x80",
                                "\xFF",
                                "\xC3",
                                "#",
                                "\t"};
  for (int i = 0; i < 20000; ++i) {
    std::string in;
    const int n = static_cast<int>(random() % 14);
    for (int j = 0; j < n; ++j) in += pieces[random() % std::size(pieces)];
    ExpectSameFrontEnd(in);
  }
}

TEST(CleanAndTokeniseUtf8, AtTheLengthLimit) {
  // Dashes triple the length: 10,921 of them are 32,763 units, still within
  // the positions the stages check; one more byte is left to the stages.
  ExpectSameFrontEnd(std::string(10921, '-'));
  ExpectSameFrontEnd(std::string(10920, 'a') + "-");
  std::u16string text;
  SegmentTable table;
  EXPECT_FALSE(CleanAndTokeniseUtf8(std::string(10922, 'a'), text, table));
  // Where the stages overflow, the pass has long declined.
  EXPECT_EQ(ByStages(std::string(10923, '-'), text), "error");
}

}  // namespace
}  // namespace zarn::internal
