// The UTF-8 <-> UTF-16 conversions at the edge of the library, against the
// plain utfcpp conversions, on fixed and random text: the fast paths for
// ASCII and the Basic Multilingual Plane must give exactly the same text and
// the same errors.
#include "base/text.h"

#include <gtest/gtest.h>
#include <utf8.h>

#include <random>
#include <string>

#include "zarn/zarn.hpp"

namespace zarn {
namespace {

// What the conversion must give: utfcpp's, with an unpaired surrogate as
// U+FFFD.
std::string ReferenceUtf8(std::u16string_view in) {
  std::string out;
  for (size_t i = 0; i < in.size(); ++i) {
    uint32_t cp = in[i];
    if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < in.size() && in[i + 1] >= 0xDC00 &&
        in[i + 1] <= 0xDFFF) {
      cp = 0x10000 + ((cp - 0xD800) << 10) + (in[i + 1] - 0xDC00u);
      ++i;
    } else if (cp >= 0xD800 && cp <= 0xDFFF) {
      cp = 0xFFFD;
    }
    utf8::append(cp, std::back_inserter(out));
  }
  return out;
}

// The offset of the first bad byte, or the text as UTF-16.
std::string ReferenceUtf16(std::string_view in, std::u16string& out) {
  out.clear();
  const auto bad = utf8::find_invalid(in.begin(), in.end());
  if (bad != in.end()) return "bad byte at offset " + std::to_string(bad - in.begin()) + ")";
  utf8::utf8to16(in.begin(), in.end(), std::back_inserter(out));
  return "";
}

void ExpectSameUtf16(const std::string& in) {
  std::u16string expected;
  const std::string error = ReferenceUtf16(in, expected);
  std::u16string got = u"stale text from an earlier call";
  try {
    internal::Utf8ToUtf16(in, got);
    EXPECT_EQ(error, "") << "accepted invalid text";
    EXPECT_TRUE(got == expected) << in;
  } catch (const Error& e) {
    EXPECT_EQ(e.Number(), kErrorInvalidArgument);
    ASSERT_NE(error, "") << "rejected valid text: " << e.what();
    const std::string message = e.what();
    EXPECT_EQ(message.substr(message.size() - error.size()), error);
  }
}

TEST(TextConversion, Utf8ToUtf16MatchesUtfcppOnFixedText) {
  for (const char* in : {"", "123 Main St", "355, avenue de la Jeunesse", "12 rue de l'Église",
                         "MONTÉE", "\xE2\x82\xAC 5", "\xF0\x9F\x98\x80 emoji", "abc\xff", "\xff",
                         "ab\xC3", "ab\xC3(", "\xED\xA0\x80 surrogate", "\xC0\xAF overlong",
                         "caf\xC3\xA9\x80", "\xF4\x90\x80\x80", "no\0nul"}) {
    ExpectSameUtf16(in);
  }
  ExpectSameUtf16(std::string("a\0b", 3));
}

TEST(TextConversion, Utf8ToUtf16MatchesUtfcppOnRandomBytes) {
  std::mt19937 random(7);
  const std::string pieces[] = {"a",
                                "Z",
                                " ",
                                "1",
                                "\xC3\xA9",
                                "\xC3",
                                "\xA9",
                                "\xE2\x82\xAC",
                                "\xF0\x9F\x98\x80",
                                "\xFF",
                                "\xED\xB0\x80",
                                "-",
                                "'"};
  for (int i = 0; i < 5000; ++i) {
    std::string in;
    const int n = static_cast<int>(random() % 12);
    for (int j = 0; j < n; ++j) in += pieces[random() % std::size(pieces)];
    ExpectSameUtf16(in);
  }
}

TEST(TextConversion, Utf16ToUtf8MatchesUtfcppOnRandomUnits) {
  std::mt19937 random(11);
  const char16_t units[] = {u'a',   u'Z',   u' ',   0x7F,   0x80,   0xE9,   0x7FF,  0x800,  0x20AC,
                            0xD7FF, 0xD800, 0xDBFF, 0xDC00, 0xDFFF, 0xE000, 0xFFFD, 0xFFFF, 0};
  std::string out = "stale";
  for (int i = 0; i < 5000; ++i) {
    std::u16string in;
    const int n = static_cast<int>(random() % 10);
    for (int j = 0; j < n; ++j) in += units[random() % std::size(units)];
    internal::Utf16ToUtf8(in, out);
    EXPECT_EQ(out, ReferenceUtf8(in));
    EXPECT_EQ(internal::Utf16ToUtf8(in), out);
  }
}

}  // namespace
}  // namespace zarn

namespace zarn {
namespace {

// The answers are written through a buffer of 128 units on the stack; texts
// around that length, with a non-ASCII unit or a surrogate at either end,
// take both paths. Short texts test the blocks of eight ASCII units.
TEST(TextConversion, Utf16ToUtf8AroundTheBufferLength) {
  for (size_t n = 120; n <= 136; ++n) {
    for (char16_t edge :
         {char16_t{u'a'}, char16_t{0xE9}, char16_t{0x20AC}, char16_t{0xD800}, char16_t{0xDC00}}) {
      for (int where = 0; where < 3; ++where) {
        std::u16string in(n, u'x');
        if (where == 0) in.front() = edge;
        if (where == 1) in.back() = edge;
        if (where == 2) in[n / 2] = edge;
        std::string out = "stale";
        internal::Utf16ToUtf8(in, out);
        ASSERT_EQ(out, ReferenceUtf8(in)) << n << " units";
        std::string appended = "kept ";
        internal::AppendUtf16AsUtf8(in, appended);
        ASSERT_EQ(appended, "kept " + ReferenceUtf8(in)) << n << " units";
      }
    }
  }
  // ASCII goes eight units at a time: a non-ASCII unit or a surrogate at
  // every place of the first blocks.
  for (size_t n = 1; n <= 24; ++n) {
    for (size_t at = 0; at < n; ++at) {
      for (char16_t edge : {char16_t{0x7F}, char16_t{0x80}, char16_t{0xFF}, char16_t{0x100},
                            char16_t{0x20AC}, char16_t{0xD83D}, char16_t{0xDE00}}) {
        std::u16string in(n, u'y');
        in[at] = edge;
        ASSERT_EQ(internal::Utf16ToUtf8(in), ReferenceUtf8(in)) << n << " units, at " << at;
      }
    }
  }
  // A pair split over the buffer's end, and a pair whole at its end.
  std::u16string pair(127, u'x');
  pair += u"\xD83D\xDE00";
  EXPECT_EQ(internal::Utf16ToUtf8(pair), ReferenceUtf8(pair));
  pair.pop_back();
  EXPECT_EQ(internal::Utf16ToUtf8(pair), ReferenceUtf8(pair));
}

}  // namespace
}  // namespace zarn
