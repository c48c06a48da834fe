#include <string_view>

#include "rules/rules.h"

namespace zarn::internal {

using namespace std::string_view_literals;

void MarkDashes(SegmentTable& table) {
  for (int i = 1; i <= table.Count(); ++i) {
    if (table[i].text() == u"-"sv) table[i].type = kKindDash;
  }
}

void DropDashesBesideStreetType(SegmentTable& table) {
  // Deleting a dash beside a street type brings the next dash of its run
  // beside it, so the whole run goes; a run of dashes with no street type at
  // either end stays. One pass decides run by run: RemoveIf asks in order and
  // has not yet moved the records from the one it asks about onwards.
  const int count = table.Count();
  if (table.FindSegmentOfKind(kKindDash, 1) == 0) return;  // nothing to drop
  int16_t before = table[0].type;  // kind of the record before the current run
  int run_end = 0;
  bool drop_run = false;
  table.RemoveIf([&](int i) {
    if (table[i].type != kKindDash) {
      before = table[i].type;
      return false;
    }
    if (i > run_end) {  // the first dash of a run
      run_end = i;
      while (run_end < count && table[run_end + 1].type == kKindDash) ++run_end;
      drop_run = before == kKindStreetType ||
                 (run_end < count && table[run_end + 1].type == kKindStreetType);
    }
    return drop_run;
  });
}

}  // namespace zarn::internal
