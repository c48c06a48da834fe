// Clean-up of the address text before it is cut into words, and the small
// text operations that later passes reuse on segment texts. Positions are
// 1-based UTF-16 positions limited to 32767, as everywhere in the parser:
// a match or search position beyond that raises the overflow error.
#ifndef ZARN_SEGMENTS_TEXT_CLEANUP_H_
#define ZARN_SEGMENTS_TEXT_CLEANUP_H_

#include <string>
#include <string_view>

#include "segments/segment_table.h"

namespace zarn::internal {

// Puts a space on each side of every "-", in place; returns the new text.
std::u16string& SpaceDashes(std::u16string& text);

// `text` without the first occurrence of `pattern` (unchanged if absent).
std::u16string RemoveFirst(std::u16string_view text, std::u16string_view pattern);
// In-place form used on segment texts: returns true when something was
// removed. Inline: most segment texts are short and hold no match, which a
// plain scan for the first unit tells at once.
inline bool RemoveFirstInPlace(std::u16string& text, std::u16string_view pattern);

// `text` with the first occurrence of `pattern` replaced by `replacement`.
std::u16string ReplaceFirst(std::u16string_view text, std::u16string_view pattern,
                            std::u16string_view replacement);

// The whole clean-up stage, in place: dashes spaced, every "." and "'"
// removed, every "," and "*" turned into a space. Gives exactly the text and
// the overflow errors of applying SpaceDashes and then RemoveFirst or
// ReplaceFirst repeatedly until nothing changes, in linear time.
void CleanText(std::u16string& text);

// 0-based index of the first `pattern` in `text`, npos if none (0 for an
// empty pattern, as std::u16string_view::find gives).
inline size_t FindUnits(std::u16string_view text, std::u16string_view pattern) {
  const size_t m = pattern.size();
  if (m == 0) return 0;
  if (m > text.size()) return std::u16string_view::npos;
  const char16_t first = pattern[0];
  const size_t last = text.size() - m;
  for (size_t i = 0; i <= last; ++i) {
    if (text[i] != first) continue;
    size_t j = 1;
    while (j < m && text[i + j] == pattern[j]) ++j;
    if (j == m) return i;
  }
  return std::u16string_view::npos;
}

// The same for a one-unit pattern ("#"), with a plain scan that most words,
// which hold no such unit, pass through at once.
inline bool RemoveFirstInPlace(std::u16string& text, char16_t unit) {
  const size_t n = text.size();
  const char16_t* p = text.data();
  for (size_t i = 0; i < n; ++i) {
    if (p[i] != unit) continue;
    CheckedPosition(i + 1);
    text.erase(i, 1);
    return true;
  }
  return false;
}

inline bool RemoveFirstInPlace(std::u16string& text, std::u16string_view pattern) {
  const size_t at = FindUnits(text, pattern);
  if (at == std::u16string_view::npos) return false;
  CheckedPosition(at + 1);
  text.erase(at, pattern.size());
  return true;
}

// The same on a segment's text, which is marked for reclassification only
// when something was removed.
inline bool RemoveFirstInPlace(Segment& segment, char16_t unit) {
  const std::u16string& text = segment.text();
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != unit) continue;
    CheckedPosition(i + 1);
    segment.EditText().erase(i, 1);
    return true;
  }
  return false;
}

inline bool RemoveFirstInPlace(Segment& segment, std::u16string_view pattern) {
  const size_t at = FindUnits(segment.text(), pattern);
  if (at == std::u16string_view::npos) return false;
  CheckedPosition(at + 1);
  segment.EditText().erase(at, pattern.size());
  return true;
}

}  // namespace zarn::internal

#endif  // ZARN_SEGMENTS_TEXT_CLEANUP_H_
