#include "segments/joined_number.h"

#include <string>

#include "segments/tokeniser.h"

namespace zarn::internal {

int16_t FirstNonDigit(const Segment& segment) {
  size_t i = 0;
  while (i < segment.text().size() && IsDigit(segment.text()[i])) ++i;
  return CheckedPosition(i + 1);
}

void SplitJoinedNumber(SegmentTable& table) {
  ClassifyChanged(table);
  if (table.Count() != 1 || table[1].char_class != kClassMixed) return;
  const int16_t a = FirstNonDigit(table[1]);
  if (a <= 1) return;
  std::u16string t;
  t.swap(table[1].EditText());
  const int16_t start = table[1].start;
  const int16_t end = table[1].end;
  table.Rebuild(2);
  table[1].EditText().assign(t, 0, static_cast<size_t>(a - 1));
  table[1].type = kKindStreetNumber;
  table[2].EditText().assign(t, static_cast<size_t>(a - 1));
  table[2].type = kKindStreet;
  // Each half keeps the positions of its own characters.
  if (start > 0) {
    table[1].start = start;
    table[1].end = static_cast<int16_t>(start + a - 2);
    table[2].start = static_cast<int16_t>(start + a - 1);
    table[2].end = end;
  }
  ClassifyChanged(table);
}

}  // namespace zarn::internal
