// Helpers of the reliability tests: a reference database with rows of every
// kind, snapshots of a directory to prove that nothing was written, and the
// outcome of one call (answer or error) for comparing parsers.
#ifndef ZARN_TESTS_RELIABILITY_RELIABILITY_SUPPORT_H_
#define ZARN_TESTS_RELIABILITY_RELIABILITY_SUPPORT_H_

#include <map>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "support/test_support.h"
#include "zarn/zarn.hpp"

namespace zarn::testing {

// SmallReferenceSql() plus alternate addresses: "10 Spadina Avenue" (type 4)
// delivered as 12 Spadina Road, and the street "Kng" (type 1) delivered as
// "King".
std::string ReliabilityReferenceSql();
// Writes that database to `path` (through a temporary file renamed over it).
void MakeReference(const std::string& path);

// Addresses that exercise every database look-up: street types, alternate
// street types, both kinds of alternate address, units and directions.
const std::vector<std::string>& SampleAddresses();

// The answer of one call, or its error.
struct Outcome {
  AddressParts parts;
  int error = 0;
  std::string message;

  bool ok() const { return error == 0; }
  // Equal answers, or errors of the same number (messages may differ).
  bool SameAs(const Outcome& other) const {
    return error == other.error && (error != 0 || parts == other.parts);
  }
};
std::ostream& operator<<(std::ostream& out, const Outcome& o);

Outcome ParseOutcome(const ZarnAddress& parser, std::string_view address);
std::vector<Outcome> ParseAll(const ZarnAddress& parser, const std::vector<std::string>& addresses);
// The answers a fresh process would give for the file as it is now: a new
// parser that opens the file for every pass and caches nothing.
std::vector<Outcome> FreshAnswers(const std::string& path,
                                  const std::vector<std::string>& addresses);

// Names and bytes of every entry of a directory (a subdirectory as "<dir>").
using Snapshot = std::map<std::string, std::string>;
Snapshot TakeSnapshot(const std::string& dir);

}  // namespace zarn::testing

#endif  // ZARN_TESTS_RELIABILITY_RELIABILITY_SUPPORT_H_
