// Cutting the cleaned address into segments, and the character classes that
// tell numbers from words.
#ifndef ZARN_SEGMENTS_TOKENISER_H_
#define ZARN_SEGMENTS_TOKENISER_H_

#include <algorithm>
#include <cstdint>
#include <string>
#include <string_view>

#include "segments/segment_table.h"

namespace zarn::internal {

struct SourceMap;

// Removes leading spaces and shortens every run of spaces to one, in place. A
// run at the end leaves exactly one trailing space.
std::u16string& CollapseSpaces(std::u16string& text);
// Collapses `text` in place and returns its number of words (at least 1).
int16_t CountWords(std::u16string& text);
// `text` without the characters from..to (1-based, inclusive).
std::u16string DeleteRange(std::u16string_view text, int from, int to);

// Collapses `address` in place and rebuilds `table` with one segment per word
// (an empty text gives one empty segment; a trailing space an empty last one).
// Returns the segment count. A collapsed text whose positions pass 32767
// raises the overflow error.
int16_t Tokenise(std::u16string& address, SegmentTable& table);

// The whole front end of the default rules in one pass over the UTF-8
// bytes: the same table as converting to UTF-16, CleanText, Tokenise and
// ClassifyCharacters one after the other. `text` is room for the collapsed
// text, kept between calls; what it holds afterwards is unspecified. Returns false, having
// changed nothing that matters, when it cannot tell that those stages would
// succeed: for text that is not valid UTF-8 (whose error the conversion
// reports) or long enough that a position could pass 32767.
bool CleanAndTokeniseUtf8(std::string_view address, std::u16string& text, SegmentTable& table);
// The same, also filling `map` with where each unit of the collapsed text
// came from in `address` (as MapTokenisedText would for the specified
// clean-up), when it returns true.
bool CleanAndTokeniseUtf8(std::string_view address, std::u16string& text, SegmentTable& table,
                          SourceMap& map);

// Sets the character class of segments 1..Count() from the first `len`
// characters of each text.
void ClassifyCharacters(SegmentTable& table);
// Sets the class and holds_hash of one segment from its text.
void ClassifySegment(Segment& s);
// The same result, recomputing only the segments marked `class_stale` (every
// other class already matches its text, as long as the text was only
// changed through Segment's writers).
void ClassifyChanged(SegmentTable& table);
// The class of the first `len` characters of `text`. Counts the digits
// without branching, which suits the short words of an address.
inline int16_t ClassOf(std::u16string_view text, int len) {
  const size_t examined = std::min(text.size(), static_cast<size_t>(std::max(len, 0)));
  size_t digits = 0;
  for (size_t j = 0; j < examined; ++j) digits += IsDigit(text[j]) ? 1 : 0;
  if (digits == 0) return kClassNoDigits;
  return digits == examined ? kClassAllDigits : kClassMixed;
}

}  // namespace zarn::internal

#endif  // ZARN_SEGMENTS_TOKENISER_H_
