// Upper case for the Latin letters that Canadian addresses use: ASCII,
// Latin-1 (é, ç, ô, ÿ...) and Latin Extended-A (œ, ł...), one code point for
// one code point. Other characters are left as they are.
#ifndef ZARN_FORMAT_LATIN_CASE_H_
#define ZARN_FORMAT_LATIN_CASE_H_

#include <string>
#include <string_view>

namespace zarn::internal {

// The upper-case form of one code point (itself when it has none here).
char32_t UpperLatin(char32_t c) noexcept;

// `utf8` in upper case. The text must be valid UTF-8 (check it first).
std::string UpperCaseUtf8(std::string_view utf8);

}  // namespace zarn::internal

#endif  // ZARN_FORMAT_LATIN_CASE_H_
