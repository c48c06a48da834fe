// Text clean-up: the single operations, and the whole clean-up stage checked
// against the operations applied literally one occurrence at a time.
#include "segments/text_cleanup.h"

#include <gtest/gtest.h>

#include <random>

#include "support/test_support.h"
#include "zarn/zarn.hpp"

namespace zarn::internal {
namespace {

using testing::U16;

TEST(SpaceDashes, SetsEveryDashApart) {
  const struct {
    const char* in;
    const char* out;
  } cases[] = {
      {"12-14", "12 - 14"}, {"-", " - "},           {"--", " -  - "},
      {"A - B", "A  -  B"}, {"no dash", "no dash"}, {"", ""},
  };
  for (const auto& c : cases) {
    std::u16string text = U16(c.in);
    EXPECT_EQ(SpaceDashes(text), U16(c.out)) << c.in;
    EXPECT_EQ(text, U16(c.out)) << "rewritten in place: " << c.in;
  }
}

TEST(RemoveFirst, RemovesOnlyTheFirstExactOccurrence) {
  EXPECT_EQ(RemoveFirst(u"1.2.3", u"."), u"12.3");
  EXPECT_EQ(RemoveFirst(u"Unit5", u"Unit"), u"5");
  EXPECT_EQ(RemoveFirst(u"xxUnit", u"Unit"), u"xx");
  EXPECT_EQ(RemoveFirst(u"unit5", u"Unit"), u"unit5");
  EXPECT_EQ(RemoveFirst(u"", u"."), u"");
}

TEST(ReplaceFirst, ReplacesOnlyTheFirstOccurrence) {
  EXPECT_EQ(ReplaceFirst(u"a,b,c", u",", u" "), u"a b,c");
  EXPECT_EQ(ReplaceFirst(u"", u",", u" "), u"");
  // The replacement is not searched again.
  EXPECT_EQ(ReplaceFirst(u"a,b", u",", u",,"), u"a,,b");
}

TEST(CleanText, CleansAsThePipelineNeeds) {
  const struct {
    const char* in;
    const char* out;
  } cases[] = {
      {"12-14 Main St.", "12 - 14 Main St"},
      {"Apt.5,Main", "Apt5 Main"},
      {"O'Brien", "OBrien"},
      {"1*2", "1 2"},
      {".',*", "  "},
      {"Saint-Laurent", "Saint - Laurent"},
  };
  for (const auto& c : cases) {
    std::u16string text = U16(c.in);
    CleanText(text);
    EXPECT_EQ(text, U16(c.out)) << c.in;
  }
}

// Dash spacing done literally: find a dash from the search position, replace
// it, resume after the inserted text; positions are 16-bit.
std::u16string LiteralSpaceDashes(std::u16string text) {
  size_t s = 1;
  while (s <= text.size()) {
    const size_t at = text.find(u'-', s - 1);
    if (at == std::u16string::npos) break;
    const size_t p = at + 1;
    if (p > 32767) throw Error(kErrorOverflow, "Overflow");
    text = text.substr(0, p - 1) + u" - " + text.substr(p);
    s = p + 3;
    if (s > 32767) throw Error(kErrorOverflow, "Overflow");
  }
  return text;
}

// The clean-up stage applied literally: each operation repeated until the
// text stops changing, with 16-bit positions.
std::u16string LiteralClean(std::u16string text) {
  text = LiteralSpaceDashes(text);
  for (auto [pattern, replacement] :
       {std::pair<std::u16string_view, std::u16string_view>{u".", u""},
        {u"'", u""},
        {u",", u" "},
        {u"*", u" "}}) {
    std::u16string previous;
    while (text != previous) {
      previous = text;
      text = replacement.empty() ? RemoveFirst(text, pattern)
                                 : ReplaceFirst(text, pattern, replacement);
    }
  }
  return text;
}

// Runs `f` and reports "overflow" or the text it produced.
template <typename F>
std::u16string OutcomeOf(F f) {
  try {
    return f();
  } catch (const Error& e) {
    EXPECT_EQ(e.Number(), kErrorOverflow);
    return u"<overflow>";
  }
}

TEST(CleanText, MatchesTheLiteralLoopsIncludingOverflow) {
  std::mt19937 rng(20261208);
  const char16_t alphabet[] = {u'a', u'-', u'.', u'\'', u',', u'*', u' ', u'1'};
  // Lengths around the 16-bit limit, where only the position of the last
  // special character decides whether the stage overflows.
  const size_t lengths[] = {0, 1, 7, 200, 10900, 16000, 32760, 32767, 32768, 33000};
  for (size_t length : lengths) {
    for (int round = 0; round < 6; ++round) {
      std::u16string text(length, u'a');
      const int specials = round == 0 ? 0 : (round < 3 ? 3 : 40);
      for (int k = 0; k < specials && length > 0; ++k) {
        text[rng() % length] = alphabet[rng() % std::size(alphabet)];
      }
      if (round == 5 && length > 2) text[length - 2] = u'-';  // a dash near the end
      const std::u16string fast = OutcomeOf([&] {
        std::u16string t = text;
        CleanText(t);
        return t;
      });
      const std::u16string literal = OutcomeOf([&] { return LiteralClean(text); });
      ASSERT_EQ(fast, literal) << "length " << length << " round " << round;
    }
  }
}

TEST(CleanText, LongTextWithoutSpecialCharactersDoesNotOverflowHere) {
  // Only positions of found characters count; the tokeniser checks length.
  std::u16string text(40000, u'a');
  CleanText(text);
  EXPECT_EQ(text.size(), 40000u);
  std::u16string periods(40000, u'.');
  CleanText(periods);
  EXPECT_TRUE(periods.empty());
}

}  // namespace
}  // namespace zarn::internal
