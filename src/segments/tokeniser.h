// Cutting the cleaned address into segments, and the character classes that
// tell numbers from words.
#ifndef ZARN_SEGMENTS_TOKENISER_H_
#define ZARN_SEGMENTS_TOKENISER_H_

#include <cstdint>
#include <string>

#include "segments/segment_table.h"

namespace zarn::internal {

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

// Sets the character class of segments 1..Count() from the first `len`
// characters of each text.
void ClassifyCharacters(SegmentTable& table);
// The class of the first `len` characters of `text`.
int16_t ClassOf(std::u16string_view text, int len);

}  // namespace zarn::internal

#endif  // ZARN_SEGMENTS_TOKENISER_H_
