#include <string_view>

#include "rules/rules.h"

namespace zarn::internal {

using namespace std::string_view_literals;

void MarkDashes(SegmentTable& table) {
  for (int i = 1; i <= table.Count(); ++i) {
    if (table[i].contents == u"-"sv) table[i].type = kKindDash;
  }
}

void DropDashesBesideStreetType(SegmentTable& table) {
  // Deleting a dash beside a street type brings the next dash of its run
  // beside it, so the whole run goes; a run of dashes with no street type at
  // either end stays. One pass finds every such run.
  const int count = table.Count();
  if (table.FindSegmentOfKind(kKindDash, 1) == 0) return;  // nothing to drop
  std::vector<bool> drop(static_cast<size_t>(count) + 2, false);
  int i = 1;
  while (i <= count) {
    if (table[i].type != kKindDash) {
      ++i;
      continue;
    }
    int run_end = i;
    while (run_end + 1 <= count && table[run_end + 1].type == kKindDash) ++run_end;
    const bool before = table[i - 1].type == kKindStreetType;
    const bool after = run_end + 1 <= count && table[run_end + 1].type == kKindStreetType;
    if (before || after) {
      for (int j = i; j <= run_end; ++j) drop[static_cast<size_t>(j)] = true;
    }
    i = run_end + 1;
  }
  table.RemoveIf([&drop](int j) { return drop[static_cast<size_t>(j)]; });
}

}  // namespace zarn::internal
