#include "segments/tokeniser.h"

#include <utf8.h>

#include <algorithm>
#include <cstdint>
#include <type_traits>
#include <vector>

#include "platform/thread_scratch.h"
#include "segments/source_map.h"

namespace zarn::internal {

std::u16string& CollapseSpaces(std::u16string& text) {
  size_t out = 0;
  bool after_space = true;  // drops leading spaces too
  for (char16_t c : text) {
    if (c == u' ') {
      if (after_space) continue;
      after_space = true;
    } else {
      after_space = false;
    }
    text[out++] = c;
  }
  text.resize(out);
  return text;
}

int16_t CountWords(std::u16string& text) {
  CollapseSpaces(text);
  // A kept space is found at its own position and the search resumes after
  // it; both must stay within the 16-bit range.
  size_t n = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == u' ') {
      CheckedPosition(i + 2);
      ++n;
    }
  }
  return CheckedPosition(n + 1);
}

std::u16string DeleteRange(std::u16string_view text, int from, int to) {
  std::u16string out(text.substr(0, static_cast<size_t>(std::max(from - 1, 0))));
  if (static_cast<size_t>(to) < text.size()) out += text.substr(static_cast<size_t>(to));
  return out;
}

int16_t Tokenise(std::u16string& address, SegmentTable& table) {
  // A text this short cannot pass any of the checked positions below (a
  // kept space at most at its length plus one): collapsed and cut in one
  // pass, with the same table.
  if (address.size() <= 32765) {
    ZARN_THREAD_SCRATCH std::vector<uint16_t> spaces;  // where each kept space is
    spaces.clear();
    char16_t* const text = address.data();
    const size_t size = address.size();
    size_t out = 0;
    bool after_space = true;  // drops leading spaces too
    for (size_t i = 0; i < size; ++i) {
      const char16_t c = text[i];
      if (c == u' ') {
        if (after_space) continue;
        after_space = true;
        spaces.push_back(static_cast<uint16_t>(out));
      } else {
        after_space = false;
      }
      text[out++] = c;
    }
    address.resize(out);
    const int n = static_cast<int>(spaces.size()) + 1;
    table.Rebuild(n);
    size_t at = 0;
    for (int i = 1; i <= n; ++i) {
      const size_t stop = i < n ? spaces[static_cast<size_t>(i - 1)] : out;
      Segment& s = table[i];
      s.EditText().append(text + at, stop - at);  // empty after Rebuild
      s.start = static_cast<int16_t>(at + 1);
      s.end = static_cast<int16_t>(stop);
      s.len = static_cast<int16_t>(stop - at);
      at = stop + 1;
    }
    return static_cast<int16_t>(n);
  }
  const int16_t n = CountWords(address);
  CheckedPosition(address.size());  // End of the last token
  table.Rebuild(n);
  size_t at = 0;  // 0-based start of the current token
  for (int i = 1; i <= n; ++i) {
    size_t stop = address.size();
    if (i < n) stop = address.find(u' ', at);
    Segment& s = table[i];
    s.EditText().assign(address, at, stop - at);
    s.start = static_cast<int16_t>(at + 1);
    s.end = static_cast<int16_t>(stop);
    s.len = static_cast<int16_t>(stop - at);
    at = stop + 1;
  }
  return n;
}

namespace {

// What the clean-up and collapsing do with each byte.
enum ByteAction : uint8_t {
  kKeep = 0,   // an ASCII character of a word
  kSpace = 1,  // " ", and "," and "*", which the clean-up turns into spaces
  kDrop = 2,   // "." and "'", which the clean-up removes
  kDash = 3,   // "-", which the clean-up puts between two spaces
  kMulti = 4,  // a byte of a multi-byte character (or not UTF-8 at all)
};

constexpr auto kByteActions = [] {
  struct Table {
    uint8_t action[256] = {};
  } t;
  for (int b = 0x80; b < 256; ++b) t.action[b] = kMulti;
  t.action[static_cast<unsigned char>(' ')] = kSpace;
  t.action[static_cast<unsigned char>(',')] = kSpace;
  t.action[static_cast<unsigned char>('*')] = kSpace;
  t.action[static_cast<unsigned char>('.')] = kDrop;
  t.action[static_cast<unsigned char>('\'')] = kDrop;
  t.action[static_cast<unsigned char>('-')] = kDash;
  return t;
}();

// Longest input taken by CleanAndTokeniseUtf8: at most three UTF-16 units
// per byte after the clean-up (a dash), and every position checked by the
// stages it stands for is at most that length plus four.
constexpr size_t kFrontEndMaxBytes = (32767 - 4) / 3;

// A word of the collapsed text: where it starts and ends (0-based, end
// exclusive) and how many of its units are digits.
struct WordSpan {
  uint16_t start;
  uint16_t end;
  uint16_t digits;
  bool hash;  // holds a "#"
};

// With kMap, also the first byte of the character each unit of the
// collapsed text came from, in `map` (a space written for a character, or
// around a dash, maps to that character). Up to the first byte that does
// not write exactly one unit (a space after a space, a removed or spaced
// character, a multi-byte one), units and bytes are the same: the map
// starts to be written there (most addresses have no such byte).
template <bool kMap>
[[gnu::always_inline]] inline bool CleanAndTokenise(std::string_view address, std::u16string& text,
                                                    SegmentTable& table, SourceMap* map) {
  if (address.size() > kFrontEndMaxBytes) return false;
  const size_t room = 3 * address.size();
  if (text.size() < room) text.resize(room);
  uint32_t* begin = nullptr;
  bool mapping = false;  // units no longer stand at their bytes
  if constexpr (kMap) {
    if (map->begin.size() < room + 1) map->begin.resize(room + 1);
    begin = map->begin.data();
  }
  // The words as they are cut: at most one more than the spaces, of which
  // each byte writes at most two. The thread's own, kept between parses.
  ZARN_THREAD_SCRATCH std::vector<WordSpan> spans;
  if (spans.size() < 2 * address.size() + 1) spans.resize(2 * address.size() + 1);
  WordSpan* const words = spans.data();
  size_t word_count = 0;
  char16_t* const out = text.data();
  size_t o = 0;
  size_t word_start = 0;
  unsigned digits = 0;
  bool hash = false;
  bool after_space = true;  // leading spaces are dropped
  const auto* p = reinterpret_cast<const unsigned char*>(address.data());
  const auto* const first = p;
  const auto* const end = p + address.size();
  bool checked = false;  // the non-ASCII rest was found valid
  // Ends the current word and writes the space after it.
  auto end_word = [&] {
    words[word_count++] = WordSpan{static_cast<uint16_t>(word_start), static_cast<uint16_t>(o),
                                   static_cast<uint16_t>(digits), hash};
    out[o++] = u' ';
    word_start = o;
    digits = 0;
    hash = false;
  };
  while (p != end) {
    const unsigned char byte = *p;
    const uint8_t action = kByteActions.action[byte];
    if (action == kKeep) {
      // The rest of the run of ASCII word characters.
      auto run = [&](auto mapped) {
        do {
          const unsigned char c = *p;
          if constexpr (decltype(mapped)::value) begin[o] = static_cast<uint32_t>(p - first);
          out[o++] = c;
          digits += static_cast<unsigned>(c - '0') < 10 ? 1 : 0;
          hash |= c == '#';
          ++p;
        } while (p != end && kByteActions.action[*p] == kKeep);
      };
      if (kMap && mapping) {
        run(std::true_type{});
      } else {
        run(std::false_type{});
      }
      after_space = false;
      continue;
    }
    if (action != kMulti) {
      if constexpr (kMap) {
        if (!mapping && (action != kSpace || after_space)) {
          mapping = true;
          map->prefix = o;
        }
        if (mapping) {
          // Whatever this byte writes (spaces, a dash) comes from it.
          const auto at = static_cast<uint32_t>(p - first);
          begin[o] = at;
          begin[o + 1] = at;
          begin[o + 2] = at;
        }
      }
      ++p;
      if (action == kSpace) {
        if (!after_space) end_word();
        after_space = true;
      } else if (action == kDash) {
        if (!after_space) end_word();
        out[o++] = u'-';
        end_word();
        after_space = true;
      }
      continue;
    }
    if (!checked) {
      // From the first non-ASCII byte on, the rest is checked once.
      if (utf8::find_invalid(p, end) != end) return false;
      checked = true;
    }
    // Decoded through a copy of the pointer, whose address the decoder
    // takes: `p` itself then stays in a register for the loop.
    const unsigned char* at = p;
    const uint32_t cp = utf8::unchecked::next(at);
    if constexpr (kMap) {
      if (!mapping) {
        mapping = true;
        map->prefix = o;
      }
      begin[o] = static_cast<uint32_t>(p - first);
      begin[o + 1] = begin[o];
    }
    p = at;
    if (cp > 0xFFFF) {
      out[o++] = static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10));
      out[o++] = static_cast<char16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF));
    } else {
      out[o++] = static_cast<char16_t>(cp);
    }
    after_space = false;
  }
  words[word_count++] = WordSpan{static_cast<uint16_t>(word_start), static_cast<uint16_t>(o),
                                 static_cast<uint16_t>(digits), hash};
  // `text` keeps its length, so that the next address of at most the same
  // length needs no resize (which would fill the room first).

  const int n = static_cast<int>(word_count);
  table.Rebuild(n);
  for (int i = 1; i <= n; ++i) {
    const WordSpan& w = words[i - 1];
    const size_t len = w.end - w.start;
    Segment& s = table[i];
    s.start = static_cast<int16_t>(w.start + 1);
    s.end = static_cast<int16_t>(w.end);
    s.len = static_cast<int16_t>(len);
    // With the class and "#" mark ClassifyCharacters would give.
    s.EditText().append(out + w.start, len);  // empty after Rebuild
    s.SetClass(w.digits == 0 ? kClassNoDigits : (w.digits == len ? kClassAllDigits : kClassMixed),
               w.hash);
  }
  if constexpr (kMap) {
    if (!mapping) map->prefix = o;
    map->count = o;
  }
  return true;
}

}  // namespace

bool CleanAndTokeniseUtf8(std::string_view address, std::u16string& text, SegmentTable& table) {
  return CleanAndTokenise<false>(address, text, table, nullptr);
}

bool CleanAndTokeniseUtf8(std::string_view address, std::u16string& text, SegmentTable& table,
                          SourceMap& map) {
  return CleanAndTokenise<true>(address, text, table, &map);
}

void ClassifySegment(Segment& s) {
  // One pass for both: digits among the first `len` units (as ClassOf
  // counts them) and a "#" anywhere in the text.
  const size_t size = s.text().size();
  const size_t examined = std::min(size, static_cast<size_t>(std::max<int>(s.len, 0)));
  const char16_t* p = s.text().data();
  size_t digits = 0;
  bool hash = false;
  for (size_t j = 0; j < size; ++j) {
    digits += (j < examined && IsDigit(p[j])) ? 1 : 0;
    hash |= p[j] == u'#';
  }
  s.SetClass(digits == 0 ? kClassNoDigits : (digits == examined ? kClassAllDigits : kClassMixed),
             hash);
}

void ClassifyCharacters(SegmentTable& table) {
  for (int i = 1; i <= table.Count(); ++i) ClassifySegment(table[i]);
}

void ClassifyChanged(SegmentTable& table) {
  const int n = table.Count();
  for (int i = 1; i <= n; ++i) {
    Segment& s = table[i];
    if (s.class_stale) ClassifySegment(s);
  }
}

}  // namespace zarn::internal
