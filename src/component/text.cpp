#include "component/text.h"

#include <utf8.h>

#include "zarn/zarn.hpp"

namespace zarn::internal {

void Utf8ToUtf16(std::string_view in, std::u16string& out) {
  out.clear();
  const auto bad = utf8::find_invalid(in.begin(), in.end());
  if (bad != in.end()) {
    const auto offset = static_cast<size_t>(bad - in.begin());
    throw Error(kErrorInvalidArgument,
                "Invalid argument: the address is not "
                "valid UTF-8 (bad byte at offset " +
                    std::to_string(offset) + ")");
  }
  out.reserve(in.size());
  utf8::unchecked::utf8to16(in.begin(), in.end(), std::back_inserter(out));
}

void Utf16ToUtf8(std::u16string_view in, std::string& out) {
  out.clear();
  out.reserve(in.size());
  try {
    utf8::utf16to8(in.begin(), in.end(), std::back_inserter(out));
    return;
  } catch (const utf8::exception&) {
  }
  // Only text read from a database can hold an unpaired surrogate; write it
  // as the replacement character rather than fail the whole answer.
  out.clear();
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

std::string Utf16ToUtf8(std::u16string_view in) {
  std::string out;
  Utf16ToUtf8(in, out);
  return out;
}

}  // namespace zarn::internal
