// Input limits and every byte: lengths around the 32,767-unit limit (in
// UTF-16 code units, so characters outside the Basic Multilingual Plane
// count twice), word counts, 1 MiB and 64 MiB inputs, every single byte,
// invalid UTF-8 of every kind, NUL, CR, TAB, the byte order mark. Each gives
// an answer or a clear error exactly where the limit says. How long the
// largest inputs take is printed; the CTest timeout bounds the whole program.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>

#include "reliability_support.h"

namespace zarn {
namespace {

using testing::Outcome;

class InputLimits : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = new testing::TempDir;
    testing::MakeReference(dir_->File("qordatavb.DAT"));
    parser_ = new ZarnAddress(dir_->File("qordatavb.DAT"));
  }
  static void TearDownTestSuite() {
    delete parser_;
    delete dir_;
  }
  static Outcome Run(std::string_view address) { return testing::ParseOutcome(*parser_, address); }
  static void ExpectOverflow(std::string_view address, const char* what) {
    const Outcome o = Run(address);
    EXPECT_EQ(o.error, kErrorOverflow) << what << ": " << o;
    EXPECT_EQ(o.message, "Overflow") << what;
  }
  static testing::TempDir* dir_;
  static ZarnAddress* parser_;
};
testing::TempDir* InputLimits::dir_ = nullptr;
ZarnAddress* InputLimits::parser_ = nullptr;

std::string Repeat(std::string_view piece, size_t times) {
  std::string s;
  s.reserve(piece.size() * times);
  for (size_t i = 0; i < times; ++i) s += piece;
  return s;
}

constexpr std::string_view kHouse = "\xF0\x9F\x8F\xA0";  // U+1F3E0, two UTF-16 units

TEST_F(InputLimits, OneWordAtEveryLengthAroundTheLimit) {
  for (size_t units : {0, 1, 2, 32766, 32767}) {
    const std::string word = Repeat("a", units);
    const Outcome o = Run(word);
    ASSERT_TRUE(o.ok()) << units << " units: " << o;
    EXPECT_EQ(o.parts.street, word) << units << " units: a lone word is the street";
  }
  ExpectOverflow(Repeat("a", 32768), "32,768 units");
  ExpectOverflow(Repeat("a", 32769), "32,769 units");
}

TEST_F(InputLimits, CharactersOutsideTheBasicPlaneCountTwice) {
  // 16,383 houses are 32,766 units; one more letter makes 32,767.
  // (Strings are built with append: gcc 12 warns falsely on "a" + string&&.)
  const std::string houses = Repeat(kHouse, 16383);
  for (const std::string& text : {houses, std::string("a").append(houses)}) {
    const Outcome o = Run(text);
    ASSERT_TRUE(o.ok()) << text.size() << " bytes: " << o;
    EXPECT_EQ(o.parts.street, text) << "the characters come back whole";
  }
  ExpectOverflow(Repeat(kHouse, 16384), "16,384 houses (32,768 units)");
  ExpectOverflow(std::string("ab").append(houses), "32,768 units, mixed");
}

TEST_F(InputLimits, LimitIsAfterTheCleanUp) {
  // Spaces are collapsed, and periods and apostrophes removed one at a time
  // from the front (each found at position 1), before the limit applies...
  const std::string tail = "123 Main St N";
  const Outcome plain = Run(tail);
  ASSERT_TRUE(plain.ok()) << plain;
  for (const std::string& padding : {Repeat(" ", 40000), Repeat(".", 40000), Repeat("'", 40000)}) {
    const Outcome o = Run(padding + tail);
    EXPECT_TRUE(o.SameAs(plain)) << "padding of '" << padding[0] << "': " << o;
  }
  // ...while commas and asterisks become spaces where they stand, so one
  // beyond 32,767 is found there, as is a period behind long padding.
  ExpectOverflow(Repeat(",", 40000) + tail, "40,000 commas");
  ExpectOverflow(Repeat("*", 40000) + tail, "40,000 asterisks");
  ExpectOverflow(Repeat(" ", 40000) + "123 Main St. N", "a period at unit 40,012");
  // With a space after each, the k-th period (from 0) is found at k + 1: the
  // 32,768th passes the limit although only spaces remain.
  const Outcome below = Run(Repeat(". ", 32767) + tail);
  EXPECT_TRUE(below.SameAs(plain)) << below;
  ExpectOverflow(Repeat(". ", 32768) + tail, "32,768 periods between spaces");
  // ...but a character they push beyond the limit is.
  ExpectOverflow(Repeat("a", 32767) + ".", "a period at unit 32,768");
  ExpectOverflow(Repeat("a", 32766) + "-", "a dash spaced beyond the limit");
  // A kept space may stand at 32,766, not at 32,767.
  const Outcome last_space = Run(Repeat("b", 32765) + " c");
  ASSERT_TRUE(last_space.ok()) << last_space;
  ExpectOverflow(Repeat("b", 32766) + " ", "a kept space at 32,767");
  ExpectOverflow(Repeat("b", 32766) + " c", "32,768 units with a space");
}

TEST_F(InputLimits, WordCounts) {
  // Single-letter words: n words take 2n - 1 units, so 16,384 is the most
  // that fit; beyond that every count overflows.
  for (size_t words : {1, 2, 16383, 16384}) {
    const std::string text = Repeat("a ", words - 1) + "a";
    const Outcome o = Run(text);
    ASSERT_TRUE(o.ok()) << words << " words: " << o;
    EXPECT_EQ(o.parts.street.size(), text.size()) << words << " words: all of it is street";
  }
  for (size_t words : {16385, 32766, 32767, 32768}) {
    ExpectOverflow(Repeat("a ", words - 1) + "a", "too many words");
  }
}

void PrintDuration(const char* what, std::chrono::steady_clock::time_point started) {
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                      std::chrono::steady_clock::now() - started)
                      .count();
  std::printf("[ timing   ] %s: %lld ms\n", what, static_cast<long long>(ms));
}

TEST_F(InputLimits, OneAndSixtyFourMebibytes) {
  const std::string tail = "123 Main St N";
  const Outcome plain = Run(tail);
  for (size_t mib : {1, 64}) {
    const size_t n = mib << 20;
    const std::string what = std::to_string(mib) + " MiB";
    auto started = std::chrono::steady_clock::now();
    EXPECT_TRUE(Run(std::string(n, ' ') + tail).SameAs(plain)) << what << " of spaces";
    PrintDuration((what + " of spaces, then an address").c_str(), started);
    started = std::chrono::steady_clock::now();
    ExpectOverflow(std::string(n, 'a'), what.c_str());
    PrintDuration((what + " of letters (overflow)").c_str(), started);
    started = std::chrono::steady_clock::now();
    ExpectOverflow(Repeat("1-", n / 2), what.c_str());
    PrintDuration((what + " of dashes (overflow)").c_str(), started);
    started = std::chrono::steady_clock::now();
    const Outcome invalid = Run(std::string(n, 'a') + "\xFF");
    EXPECT_EQ(invalid.error, kErrorInvalidArgument) << what;
    PrintDuration((what + " then an invalid byte").c_str(), started);
  }
}

TEST_F(InputLimits, EverySingleByteAloneAndInsideAnAddress) {
  for (int b = 0; b <= 0xFF; ++b) {
    const char c = static_cast<char>(b);
    const std::string alone(1, c);
    const std::string inside = "123 Ma" + alone + "in St";
    SCOPED_TRACE("byte " + std::to_string(b));
    if (b >= 0x80) {
      // Never valid UTF-8 on its own.
      EXPECT_EQ(Run(alone).error, kErrorInvalidArgument);
      const Outcome o = Run(inside);
      EXPECT_EQ(o.error, kErrorInvalidArgument) << o;
      EXPECT_NE(o.message.find("offset 6"), std::string::npos) << o.message;
      continue;
    }
    const Outcome a = Run(alone);
    EXPECT_TRUE(a.ok()) << a;
    const Outcome o = Run(inside);
    ASSERT_TRUE(o.ok()) << o;
    if (std::string_view(" .',*-#").find(c) == std::string_view::npos) {
      // Any other ASCII byte, control characters included, is an ordinary
      // character of the word. (The clean-up takes out or spaces the
      // punctuation listed, and the unit clean-up removes "#" anywhere.)
      EXPECT_EQ(o.parts.street, "Ma" + alone + "in");
      EXPECT_EQ(o.parts.street_number, "123");
      EXPECT_EQ(o.parts.street_type, "Street");
    }
  }
}

TEST_F(InputLimits, InvalidUtf8OfEveryKind) {
  const struct {
    const char* name;
    std::string bytes;
  } cases[] = {
      {"lone continuation byte", "\x80"},
      {"continuation bytes only", "\xBF\xBF"},
      {"overlong slash (2 bytes)", "\xC0\xAF"},
      {"overlong slash (3 bytes)", "\xE0\x80\xAF"},
      {"overlong slash (4 bytes)", "\xF0\x80\x80\xAF"},
      {"overlong NUL", "\xC0\x80"},
      {"high surrogate", "\xED\xA0\x80"},
      {"low surrogate", "\xED\xBF\xBF"},
      {"surrogate pair in CESU form", "\xED\xA0\xBD\xED\xBF\xA0"},
      {"truncated 2-byte sequence", "\xC3"},
      {"truncated 3-byte sequence", "\xE2\x82"},
      {"truncated 4-byte sequence", "\xF0\x9F\x8F"},
      {"beyond U+10FFFF", "\xF4\x90\x80\x80"},
      {"0xF5", "\xF5\x80\x80\x80"},
      {"0xF8 (5-byte form)", "\xF8\x88\x80\x80\x80"},
      {"0xFC (6-byte form)", "\xFC\x84\x80\x80\x80\x80"},
      {"0xFE", "\xFE"},
      {"0xFF", "\xFF"},
      {"start byte then ASCII",
       "\xC3"
       "A"},
  };
  for (const auto& c : cases) {
    for (const std::string& address : {c.bytes, "123 Main " + c.bytes + " St"}) {
      const Outcome o = Run(address);
      EXPECT_EQ(o.error, kErrorInvalidArgument) << c.name << ": " << o;
      EXPECT_NE(o.message.find("not valid UTF-8"), std::string::npos) << c.name;
      const std::string_view batch[] = {address, "123 Main St"};
      const std::vector<BatchResult> results = parser_->ParseBatch(batch);
      EXPECT_EQ(results[0].error_number, kErrorInvalidArgument) << c.name;
      EXPECT_TRUE(results[1].ok()) << c.name << ": the rest of the batch goes on";
    }
  }
  // The edges of the valid range are accepted.
  for (const char* valid : {"\xEF\xBF\xBF", "\xF4\x8F\xBF\xBF", "\xEE\x80\x80", "\xC2\x80"}) {
    const Outcome o = Run(std::string("1 Ma") + valid + "in St");
    ASSERT_TRUE(o.ok()) << o;
    EXPECT_EQ(o.parts.street, std::string("Ma") + valid + "in");
  }
}

TEST_F(InputLimits, NulCrTabAndByteOrderMarkAreOrdinaryCharacters) {
  using namespace std::string_literals;
  const struct {
    std::string address;
    const char* street;
  } cases[] = {
      {"123 Ma\0in St"s, "Ma\0in"},
      {"123\0 Main St"s, nullptr},
      {"123 Main\tSt"s, nullptr},
      {"123 Main St\r"s, nullptr},
      {"123 Main St\r\n"s, nullptr},
      {"\xEF\xBB\xBF"
       "123 Main St",
       nullptr},
      {"123 Main \xEF\xBB\xBF St", nullptr},
      {"\0"s, nullptr},
  };
  for (const auto& c : cases) {
    const Outcome o = Run(c.address);
    ASSERT_TRUE(o.ok()) << o;
    if (c.street != nullptr) {
      EXPECT_EQ(o.parts.street, std::string(c.street, 5));
    }
    // The character is kept, not dropped: the answers hold every byte of the
    // address that is not a separator or the street-type word.
    std::string all = o.parts.street_number + o.parts.street + o.parts.unit + o.parts.direction;
    for (char ch : {'\0', '\t', '\r', '\xBB'}) {
      const bool in_address = c.address.find(ch) != std::string::npos;
      const bool in_type = o.parts.street_type.find(ch) != std::string::npos;
      if (in_address && !in_type) {
        EXPECT_NE(all.find(ch), std::string::npos) << "a character was lost";
      }
    }
  }
}

}  // namespace
}  // namespace zarn
