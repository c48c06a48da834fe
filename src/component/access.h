// Library-internal ways to build a ZarnAddress: with a chosen database policy
// (for benchmarks and for checking the cached path against plain SQL).
#ifndef ZARN_COMPONENT_ACCESS_H_
#define ZARN_COMPONENT_ACCESS_H_

#include <string>

#include "refdb/reference_database.h"
#include "segments/segment_table.h"
#include "zarn/zarn.hpp"

namespace zarn::detail {

struct Access {
  static ZarnAddress WithPolicy(std::string path, internal::DbPolicy policy,
                                ParseOptions options = {});
  // Parses `address` with the parser's profile and leaves the finished table
  // in `table`.
  static void ParseToTable(const ZarnAddress& parser, std::string_view address,
                           internal::SegmentTable& table);
};

}  // namespace zarn::detail

#endif  // ZARN_COMPONENT_ACCESS_H_
