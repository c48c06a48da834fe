#include "base/text.h"

#include <utf8.h>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "zarn/zarn.hpp"

namespace zarn::internal {

void Utf8ToUtf16(std::string_view in, std::u16string& out) {
  // ASCII, by far the most common text, converts unit for unit; the rest
  // from the first other byte on goes through the checked decoder.
  out.resize(in.size());
  size_t i = 0;
  for (; i < in.size(); ++i) {
    const auto byte = static_cast<unsigned char>(in[i]);
    if (byte >= 0x80) break;
    out[i] = byte;
  }
  out.resize(i);
  if (i == in.size()) return;
  const auto rest = in.begin() + static_cast<std::ptrdiff_t>(i);
  const auto bad = utf8::find_invalid(rest, in.end());
  if (bad != in.end()) {
    out.clear();
    const auto offset = static_cast<size_t>(bad - in.begin());
    throw Error(kErrorInvalidArgument,
                "Invalid argument: the address is not "
                "valid UTF-8 (bad byte at offset " +
                    std::to_string(offset) + ")");
  }
  utf8::unchecked::utf8to16(rest, in.end(), std::back_inserter(out));
}

namespace {

// Any UTF-16, an unpaired surrogate written as U+FFFD.
void Utf16ToUtf8Slow(std::u16string_view in, std::string& out) {
  // Only text read from a database can hold an unpaired surrogate; it is
  // written as the replacement character rather than failing the answer.
  out.clear();
  out.reserve(in.size());
  for (size_t i = 0; i < in.size(); ++i) {
    char32_t cp = in[i];
    if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < in.size() && in[i + 1] >= 0xDC00 &&
        in[i + 1] <= 0xDFFF) {
      cp = 0x10000 + ((cp - 0xD800) << 10) + (in[i + 1] - 0xDC00);
      ++i;
    } else if (cp >= 0xD800 && cp <= 0xDFFF) {
      cp = 0xFFFD;
    }
    utf8::unchecked::append(static_cast<uint32_t>(cp), std::back_inserter(out));
  }
}

}  // namespace

void AppendUtf16AsUtf8(std::u16string_view in, std::string& out) {
  // Written to a buffer on the stack (at most three bytes per unit of the
  // Basic Multilingual Plane outside the surrogates) and appended in one
  // copy, so that a short answer stays in the string's own storage; a
  // surrogate sends the whole text to the general path, and so does a text
  // too long for the buffer.
  constexpr size_t kUnits = 128;
  char buffer[3 * kUnits];
  if (in.size() <= kUnits) {
    char* p = buffer;
    size_t i = 0;
#if defined(__SSE2__)
    // ASCII eight units at a time, narrowed to eight bytes; the first block
    // holding anything else goes unit by unit from its start.
    const __m128i high = _mm_set1_epi16(static_cast<int16_t>(0xFF80));
    for (; i + 8 <= in.size(); i += 8) {
      const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in.data() + i));
      if (_mm_movemask_epi8(_mm_cmpeq_epi16(_mm_and_si128(v, high), _mm_setzero_si128())) !=
          0xFFFF) {
        break;
      }
      _mm_storel_epi64(reinterpret_cast<__m128i*>(p), _mm_packus_epi16(v, v));
      p += 8;
    }
#endif
    for (const char16_t c : in.substr(i)) {
      if (c < 0x80) {
        *p++ = static_cast<char>(c);
      } else if (c < 0x800) {
        *p++ = static_cast<char>(0xC0 | (c >> 6));
        *p++ = static_cast<char>(0x80 | (c & 0x3F));
      } else if (c < 0xD800 || c > 0xDFFF) {
        *p++ = static_cast<char>(0xE0 | (c >> 12));
        *p++ = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        *p++ = static_cast<char>(0x80 | (c & 0x3F));
      } else {
        p = nullptr;
        break;
      }
    }
    if (p != nullptr) {
      out.append(buffer, static_cast<size_t>(p - buffer));
      return;
    }
  }
  std::string all;
  Utf16ToUtf8Slow(in, all);
  out += all;
}

void Utf16ToUtf8(std::u16string_view in, std::string& out) {
  out.clear();
  AppendUtf16AsUtf8(in, out);
}

std::string Utf16ToUtf8(std::u16string_view in) {
  std::string out;
  Utf16ToUtf8(in, out);
  return out;
}

std::string JoinFlagNames(uint32_t flags, std::span<const char* const> names) {
  std::string out;
  for (size_t bit = 0; bit < names.size() && bit < 32; ++bit) {
    if ((flags & (1u << bit)) == 0) continue;
    if (!out.empty()) out += ',';
    out += names[bit];
  }
  return out;
}

}  // namespace zarn::internal
