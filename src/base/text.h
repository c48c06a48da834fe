// Conversions between the UTF-8 of the public interface and the UTF-16 code
// units that the parser counts positions in.
#ifndef ZARN_BASE_TEXT_H_
#define ZARN_BASE_TEXT_H_

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace zarn::internal {

// Replaces `out` by `in` as UTF-16; invalid UTF-8 raises zarn::Error with
// kErrorInvalidArgument and the offset of the first bad byte.
void Utf8ToUtf16(std::string_view in, std::u16string& out);
// `in` as UTF-8; an unpaired surrogate becomes U+FFFD.
std::string Utf16ToUtf8(std::u16string_view in);
void Utf16ToUtf8(std::u16string_view in, std::string& out);
// Appends `in` as UTF-8 to `out`, as Utf16ToUtf8 writes it.
void AppendUtf16AsUtf8(std::u16string_view in, std::string& out);

// The names of the bits set in `flags`, names[bit] for each, joined by
// commas in bit order; bits beyond the names are left out.
std::string JoinFlagNames(uint32_t flags, std::span<const char* const> names);

}  // namespace zarn::internal

#endif  // ZARN_BASE_TEXT_H_
