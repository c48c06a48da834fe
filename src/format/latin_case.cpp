#include "format/latin_case.h"

#include <utf8.h>

#include <iterator>

namespace zarn::internal {

char32_t UpperLatin(char32_t c) noexcept {
  if (c < 0x80) return c >= U'a' && c <= U'z' ? c - 0x20 : c;
  if (c >= 0xE0 && c <= 0xFE) return c == 0xF7 ? c : c - 0x20;  // 0xF7 is the division sign
  if (c == 0xFF) return 0x178;                                  // ÿ -> Ÿ
  if (c == 0x131) return U'I';                                  // dotless i
  if (c == 0x17F) return U'S';                                  // long s
  // Latin Extended-A pairs its letters as upper, lower: on even code points
  // from U+0100 and U+014A, on odd ones from U+0139 and U+0179.
  if ((c >= 0x100 && c <= 0x137) || (c >= 0x14A && c <= 0x177)) return (c & 1) ? c - 1 : c;
  if ((c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E)) return (c & 1) ? c : c - 1;
  return c;
}

std::string UpperCaseUtf8(std::string_view utf8) {
  std::string out;
  out.reserve(utf8.size());
  auto it = utf8.begin();
  while (it != utf8.end()) {
    const char32_t c = utf8::unchecked::next(it);
    utf8::unchecked::append(static_cast<uint32_t>(UpperLatin(c)), std::back_inserter(out));
  }
  return out;
}

}  // namespace zarn::internal
