// Clean-up of the address text before it is cut into words, and the small
// text operations that later passes reuse on segment texts. Positions are
// 1-based UTF-16 positions limited to 32767, as everywhere in the parser:
// a match or search position beyond that raises the overflow error.
#ifndef ZARN_SEGMENTS_TEXT_CLEANUP_H_
#define ZARN_SEGMENTS_TEXT_CLEANUP_H_

#include <string>
#include <string_view>

namespace zarn::internal {

// Puts a space on each side of every "-", in place; returns the new text.
std::u16string& SpaceDashes(std::u16string& text);

// `text` without the first occurrence of `pattern` (unchanged if absent).
std::u16string RemoveFirst(std::u16string_view text, std::u16string_view pattern);
// In-place form used on segment texts: returns true when something was removed.
bool RemoveFirstInPlace(std::u16string& text, std::u16string_view pattern);

// `text` with the first occurrence of `pattern` replaced by `replacement`.
std::u16string ReplaceFirst(std::u16string_view text, std::u16string_view pattern,
                            std::u16string_view replacement);

// The whole clean-up stage, in place: dashes spaced, every "." and "'"
// removed, every "," and "*" turned into a space. Gives exactly the text and
// the overflow errors of applying SpaceDashes and then RemoveFirst or
// ReplaceFirst repeatedly until nothing changes, in linear time.
void CleanText(std::u16string& text);

}  // namespace zarn::internal

#endif  // ZARN_SEGMENTS_TEXT_CLEANUP_H_
