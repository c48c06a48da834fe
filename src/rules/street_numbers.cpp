#include "rules/rules.h"
#include "segments/tokeniser.h"

namespace zarn::internal {

namespace {

bool HoldsDigits(const Segment& s) {
  return s.char_class == kClassAllDigits || s.char_class == kClassMixed;
}

// Gives `index` the kind only while it is unclassified. Record 0 is never
// written.
void MarkIfNone(SegmentTable& table, int index, int16_t kind) {
  if (index >= 1 && table.At(index).type == kKindNone) table[index].type = kind;
}

void MarkAlways(SegmentTable& table, int index, int16_t kind) {
  if (index >= 1) table.At(index).type = kind;
}

}  // namespace

bool MarkDashedNumber(SegmentTable& table) {
  const int d = table.FindFirstDash();
  if (d == 0) return false;
  const int count = table.Count();
  const int r = d + 1;
  const int l = d - 1;
  const Segment& right = table.At(r);
  const Segment& left = table.At(l);
  const int second_dash = table.FindSecondDash();
  if (second_dash == 0) {
    if (right.char_class == kClassNoDigits && left.char_class == kClassNoDigits) return false;
    if (d + 2 <= count) {
      if (table[d + 2].type == kKindStreetType) {
        if (d + 3 > count) return false;
        if (table[d + 3].type == kKindDirection) {
          MarkIfNone(table, r, kKindStreet);
          MarkIfNone(table, l, kKindStreetNumber);
        } else {
          MarkIfNone(table, r, kKindStreetNumber);
          MarkIfNone(table, l, kKindUnit);
        }
        return true;
      }
      MarkIfNone(table, d + 2, kKindStreet);
      MarkIfNone(table, r, kKindStreetNumber);
      MarkIfNone(table, l, kKindUnit);
      return true;
    }
  }
  // Two or more dashes, or one dash followed by a single segment.
  if (HoldsDigits(right) && right.type != kKindStreetType) {
    if (second_dash != 0) {
      MarkAlways(table, r, kKindStreetNumber);
      MarkAlways(table, l, kKindUnit);
    } else {
      MarkAlways(table, r, kKindStreet);
      MarkAlways(table, l, kKindStreetNumber);
    }
    if (second_dash != 0) MarkIfNone(table, second_dash + 1, kKindStreet);
    return true;
  }
  if (HoldsDigits(left)) {
    MarkAlways(table, l, kKindStreetNumber);
    MarkAlways(table, r, kKindStreet);
  }
  return false;
}

void MarkStreetNumber(SegmentTable& table) {
  if (table.FindFirstDash() != 0 && MarkDashedNumber(table)) return;
  int start = table.FindSegmentOfKind(kKindStreetType, 0);
  if (start == 0) start = table.Count();
  int nearest = 0;
  int second = 0;
  int farthest = 0;
  for (int i = start; i >= 1; --i) {
    if (!HoldsDigits(table[i])) continue;
    if (nearest == 0) {
      nearest = i;
    } else if (second == 0) {
      second = i;
    } else {
      farthest = i;
    }
  }
  ClassifyChanged(table);
  if (farthest != 0) {
    const int16_t kind = table[farthest].type;
    if (kind != kKindNone && kind != kKindUnit) return;
    table[farthest].type = kKindUnit;
    MarkIfNone(table, second, kKindStreetNumber);
    MarkIfNone(table, nearest, kKindStreet);
  } else if (second != 0) {
    if (table.FindSegmentOfKind(kKindStreet, 0) != 0) {
      MarkIfNone(table, nearest, kKindStreetNumber);
      MarkIfNone(table, second, kKindUnit);
    } else {
      MarkIfNone(table, nearest, kKindStreet);
      MarkIfNone(table, second, kKindStreetNumber);
    }
  } else if (nearest != 0) {
    MarkIfNone(table, nearest, kKindStreetNumber);
  }
}

}  // namespace zarn::internal
