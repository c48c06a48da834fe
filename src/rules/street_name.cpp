#include "rules/rules.h"

namespace zarn::internal {

namespace {

bool IsBareWord(const Segment& s) { return s.type == kKindNone && s.char_class == kClassNoDigits; }

}  // namespace

bool ExtendStreetAroundType(SegmentTable& table) {
  const int s = table.FindSegmentOfKind(kKindStreetType, 0);
  bool marked = false;
  for (int j = s - 1; j >= 1 && IsBareWord(table[j]); --j) {
    table[j].type = kKindStreet;
    marked = true;
  }
  if (marked) return true;
  for (int j = s + 1; j <= table.Count() && IsBareWord(table[j]); ++j) {
    table[j].type = kKindStreet;
    marked = true;
  }
  return marked;
}

void MarkFirstUnclassifiedRun(SegmentTable& table) {
  bool seen = false;
  for (int i = 1; i <= table.Count(); ++i) {
    if (table[i].type == kKindNone) {
      table[i].type = kKindStreet;
      seen = true;
    } else if (seen) {
      return;
    }
  }
}

void MarkRemainingAsStreet(SegmentTable& table) {
  for (int i = 1; i <= table.Count(); ++i) {
    if (table[i].type == kKindNone) table[i].type = kKindStreet;
  }
}

}  // namespace zarn::internal
