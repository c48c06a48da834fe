// Fuzz target over the public API with the bundled reference database.
//
// Input: the first byte chooses the method (low 3 bits) and, for
// AddressSegment, the kind (the high 5 bits as a signed number, -16..15, so
// kinds outside 0..6 are tried too); the rest is the address. Every answer is
// read and checked against Parse() of the same address: the single-part
// methods, AddressSegment and ParseBatch must agree with it, answers must be
// valid UTF-8, and the only errors an address may cause are "not valid UTF-8"
// (exactly when it is not) and "Overflow". The canada profile parses the
// same address under the same checks.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "fuzz_check.h"
#include "zarn/zarn.hpp"

#ifndef ZARN_FUZZ_DATABASE
#error "ZARN_FUZZ_DATABASE must name the bundled reference database"
#endif

namespace {

using zarn::fuzz::Check;
using zarn::fuzz::Outcome;
using zarn::fuzz::Run;

std::string DatabasePath() {
  const char* path = std::getenv("ZARN_FUZZ_DATABASE");
  return std::string(path != nullptr ? path : ZARN_FUZZ_DATABASE);
}

const zarn::ZarnAddress& Parser() {
  static const zarn::ZarnAddress parser(DatabasePath());
  return parser;
}

const zarn::ZarnAddress& CanadaParser() {
  static const zarn::ZarnAddress parser(DatabasePath(),
                                        zarn::ParseOptions{.profile = zarn::Profile::kCanada});
  return parser;
}

// The canada profile on the same address: only address errors, the UTF-8
// error exactly for invalid UTF-8, valid UTF-8 answers and unplaced words,
// and the batch agreeing with the single parse.
void CheckCanada(std::string_view address, bool valid_utf8) {
  const zarn::ZarnAddress& parser = CanadaParser();
  zarn::Diagnostics diagnostics;
  zarn::AddressParts parts;
  int error = 0;
  try {
    parts = parser.Parse(address, &diagnostics);
    zarn::fuzz::CheckParts(parts);
    for (const std::string& word : diagnostics.unplaced_words) {
      Check(zarn::fuzz::IsUtf8(word), "canada: an unplaced word is not valid UTF-8");
    }
  } catch (const zarn::Error& e) {
    error = e.Number();
    Check(zarn::fuzz::IsAddressError(error),
          "canada: unexpected error " + std::to_string(error) + ": " + e.what());
  }
  Check((error == zarn::kErrorInvalidArgument) == !valid_utf8,
        "canada: the UTF-8 error does not match the address's validity");
  const std::string_view batch[] = {address};
  const std::vector<zarn::BatchResult> results = parser.ParseBatch(batch);
  Check(results.size() == 1 && results[0].error_number == error,
        "canada: ParseBatch error differs from Parse");
  if (error == 0) {
    Check(results[0].parts == parts && results[0].diagnostics == diagnostics,
          "canada: ParseBatch differs from Parse");
  }
}

std::string PartOf(const zarn::AddressParts& p, int kind) {
  switch (kind) {
    case zarn::kStreetType: return p.street_type;
    case zarn::kStreet: return p.street;
    case zarn::kStreetNumber: return p.street_number;
    case zarn::kUnit: return p.unit;
    case zarn::kDirection: return p.direction;
    default: return {};
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const zarn::ZarnAddress& parser = Parser();
  const int method = data[0] & 7;
  const int kind = static_cast<int8_t>(data[0]) >> 3;
  const std::string_view address(reinterpret_cast<const char*>(data + 1), size - 1);
  const bool valid_utf8 = zarn::fuzz::IsUtf8(address);

  zarn::AddressParts parts;
  int parse_error = 0;
  try {
    parts = parser.Parse(address);
    zarn::fuzz::CheckParts(parts);
  } catch (const zarn::Error& e) {
    parse_error = e.Number();
    Check(zarn::fuzz::IsAddressError(parse_error),
          "unexpected error " + std::to_string(parse_error) + ": " + e.what());
  }
  Check((parse_error == zarn::kErrorInvalidArgument) == !valid_utf8,
        "the UTF-8 error does not match the address's validity");

  // The standard form of the parts, and of the raw bytes taken as a street
  // name: no error but "not valid UTF-8" (exactly when the text is not), and
  // a line of upper case, digits, spaces, hyphens and slashes only.
  auto check_standard = [&](const zarn::AddressParts& p, bool valid, std::string_view hint) {
    for (zarn::Language language :
         {zarn::Language::kEnglish, zarn::Language::kFrench, zarn::Language::kDetect}) {
      try {
        const zarn::StandardAddress form = parser.Standardize(p, language, hint);
        Check(valid, "Standardize accepted text that is not valid UTF-8");
        Check(zarn::fuzz::IsUtf8(form.line), "a standard line is not valid UTF-8");
        for (char c : form.line) {
          const bool ascii_ok = (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == ' ' ||
                                c == '-' || c == '/' || (static_cast<unsigned char>(c) & 0x80);
          Check(ascii_ok, "a standard line holds lower case or punctuation");
        }
        Check(form.line.empty() || (form.line.front() != ' ' && form.line.back() != ' ' &&
                                    form.line.find("  ") == std::string::npos),
              "a standard line has stray spaces");
      } catch (const zarn::Error& e) {
        Check(!valid && e.Number() == zarn::kErrorInvalidArgument,
              "unexpected Standardize error " + std::to_string(e.Number()) + ": " + e.what());
      }
    }
  };
  if (parse_error == 0) check_standard(parts, true, address);
  check_standard({"1", std::string(address), "rue", "", ""}, valid_utf8, {});

  // The part the chosen method asks for, compared with Parse()'s answer.
  auto expect = [&](int asked, const Outcome& got) {
    const Outcome want{parse_error == 0 ? PartOf(parts, asked) : std::string(), parse_error};
    Check(got == want, "method " + std::to_string(method) + " kind " + std::to_string(asked) +
                           " disagrees with Parse");
    Check(zarn::fuzz::IsUtf8(got.text), "an answer is not valid UTF-8");
  };
  switch (method) {
    case 0: {
      const Outcome got = Run([&] { return parser.AddressSegment(address, kind); });
      // Kind 0 asks for the empty placeholder; kinds outside 0..6 for nothing.
      // Kind 6 (dashes) has no counterpart in Parse(): only its error is checked.
      if (kind == zarn::kDash) {
        Check(got.error == parse_error, "AddressSegment(kDash) error differs from Parse");
      } else {
        expect(kind, got);
      }
      break;
    }
    case 1: expect(zarn::kStreet, Run([&] { return parser.Street(address); })); break;
    case 2: expect(zarn::kStreetType, Run([&] { return parser.StreetType(address); })); break;
    case 3: expect(zarn::kStreetNumber, Run([&] { return parser.StreetNumber(address); })); break;
    case 4: expect(zarn::kDirection, Run([&] { return parser.Direction(address); })); break;
    case 5: expect(zarn::kUnit, Run([&] { return parser.Unit(address); })); break;
    default: {
      // A batch holding the address twice around a plain one: each answer as
      // the single call gives it.
      const std::string_view batch[] = {address, "123 Main St. N", address};
      const std::vector<zarn::BatchResult> results = parser.ParseBatch(batch);
      Check(results.size() == 3, "ParseBatch result count");
      for (size_t i : {size_t{0}, size_t{2}}) {
        Check(results[i].error_number == parse_error, "ParseBatch error differs from Parse");
        if (parse_error == 0)
          Check(results[i].parts == parts, "ParseBatch parts differ from Parse");
      }
      Check(results[1].ok(), "a plain address failed inside a batch");
      break;
    }
  }
  CheckCanada(address, valid_utf8);
  return 0;
}
