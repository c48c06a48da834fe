// Checks shared by the fuzz targets: a failed check prints what was wrong and
// aborts, which libFuzzer records as a crash with its input.
#ifndef ZARN_FUZZ_FUZZ_CHECK_H_
#define ZARN_FUZZ_FUZZ_CHECK_H_

#include <utf8.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "zarn/zarn.hpp"

namespace zarn::fuzz {

[[noreturn]] inline void Fail(const std::string& what) {
  std::fprintf(stderr, "fuzz check failed: %s\n", what.c_str());
  std::abort();
}

inline void Check(bool ok, const std::string& what) {
  if (!ok) Fail(what);
}

inline bool IsUtf8(std::string_view text) { return utf8::is_valid(text.begin(), text.end()); }

// Every answer the library gives is valid UTF-8.
inline void CheckParts(const AddressParts& p) {
  for (const std::string* part :
       {&p.street_number, &p.street, &p.street_type, &p.direction, &p.unit}) {
    Check(IsUtf8(*part), "an answer is not valid UTF-8");
  }
}

// The error numbers an address alone can cause on a healthy database.
inline bool IsAddressError(int number) {
  return number == kErrorInvalidArgument || number == kErrorOverflow;
}

// The answer (or the error) of one call, for comparing calls with each other.
struct Outcome {
  std::string text;
  int error = 0;
  friend bool operator==(const Outcome&, const Outcome&) = default;
};

template <typename Call>
Outcome Run(Call call) {
  Outcome o;
  try {
    o.text = call();
  } catch (const Error& e) {
    o.error = e.Number();
    Check(e.what() != nullptr && e.what()[0] != '\0', "an error without a message");
  }
  return o;
}

}  // namespace zarn::fuzz

#endif  // ZARN_FUZZ_FUZZ_CHECK_H_
