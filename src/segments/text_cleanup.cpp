#include "segments/text_cleanup.h"

#include <cstdint>

#include "segments/segment_table.h"

namespace zarn::internal {

namespace {

// 1-based position of the first `pattern` in `text`, 0 if none; a position
// beyond the 16-bit range is the overflow error.
size_t FindPosition(std::u16string_view text, std::u16string_view pattern) {
  // A one-character pattern ("#") is the common case: a plain scan.
  const size_t at = FindUnits(text, pattern);
  if (at == std::u16string_view::npos) return 0;
  CheckedPosition(at + 1);
  return at + 1;
}

// Removes every `c` from `text`. Removing them one at a time from the front
// finds the i-th (0-based) at its original position minus i, so only the
// largest such position can pass the limit: the last one.
void RemoveEvery(std::u16string& text, char16_t c) {
  size_t out = 0;
  size_t removed = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == c) {
      CheckedPosition(i + 1 - removed);
      ++removed;
      continue;
    }
    text[out++] = text[i];
  }
  text.resize(out);
}

// Replaces every `c` by a space; positions do not move.
void BlankEvery(std::u16string& text, char16_t c) {
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == c) {
      CheckedPosition(i + 1);
      text[i] = u' ';
    }
  }
}

}  // namespace

std::u16string& SpaceDashes(std::u16string& text) {
  size_t dashes = 0;
  for (char16_t c : text) dashes += (c == u'-');
  if (dashes == 0) return text;
  std::u16string out;
  out.reserve(text.size() + 2 * dashes);
  for (char16_t c : text) {
    if (c != u'-') {
      out += c;
      continue;
    }
    // The dash is found at its position in the text as rewritten so far, and
    // the search then resumes three characters further on.
    const size_t p = out.size() + 1;
    CheckedPosition(p + 3);
    out += u" - ";
  }
  text.swap(out);
  return text;
}

std::u16string RemoveFirst(std::u16string_view text, std::u16string_view pattern) {
  const size_t p = FindPosition(text, pattern);
  std::u16string out(text);
  if (p != 0) out.erase(p - 1, pattern.size());
  return out;
}

std::u16string ReplaceFirst(std::u16string_view text, std::u16string_view pattern,
                            std::u16string_view replacement) {
  const size_t p = FindPosition(text, pattern);
  std::u16string out(text);
  if (p != 0) out.replace(p - 1, pattern.size(), replacement);
  return out;
}

void CleanText(std::u16string& text) {
  // Most addresses hold none of the characters the stages rewrite; one scan
  // tells, and then there is nothing to do.
  // All five are below 64, so one 64-bit mask tells them apart.
  constexpr uint64_t kRewritten = (uint64_t{1} << u'-') | (uint64_t{1} << u'.') |
                                  (uint64_t{1} << u'\'') | (uint64_t{1} << u',') |
                                  (uint64_t{1} << u'*');
  uint64_t any = 0;
  for (char16_t c : text) any |= c < 64 ? (kRewritten >> c) & 1 : 0;
  if (any == 0) return;
  SpaceDashes(text);
  RemoveEvery(text, u'.');
  RemoveEvery(text, u'\'');
  BlankEvery(text, u',');
  BlankEvery(text, u'*');
}

}  // namespace zarn::internal
