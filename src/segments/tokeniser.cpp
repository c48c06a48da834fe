#include "segments/tokeniser.h"

#include <algorithm>

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
  const int16_t n = CountWords(address);
  CheckedPosition(address.size());  // End of the last token
  table.Rebuild(n);
  size_t at = 0;  // 0-based start of the current token
  for (int i = 1; i <= n; ++i) {
    size_t stop = address.size();
    if (i < n) stop = address.find(u' ', at);
    Segment& s = table[i];
    s.contents.assign(address, at, stop - at);
    s.start = static_cast<int16_t>(at + 1);
    s.end = static_cast<int16_t>(stop);
    s.len = static_cast<int16_t>(stop - at);
    at = stop + 1;
  }
  return n;
}

void ClassifyCharacters(SegmentTable& table) {
  for (int i = 1; i <= table.Count(); ++i) {
    Segment& s = table[i];
    s.char_class = ClassOf(s.contents, s.len);
  }
}

}  // namespace zarn::internal
