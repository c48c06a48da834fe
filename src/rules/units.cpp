#include <string_view>

#include "rules/rules.h"
#include "segments/text_cleanup.h"

namespace zarn::internal {

using namespace std::string_view_literals;

namespace {

bool HoldsDigits(int16_t char_class) {
  return char_class == kClassAllDigits || char_class == kClassMixed;
}

bool ContainsDigit(std::u16string_view text) {
  for (char16_t c : text) {
    if (IsDigit(c)) return true;
  }
  return false;
}

}  // namespace

int16_t MarkUnits(SegmentTable& table) {
  const int count = table.Count();
  int16_t result = 0;
  for (int i = 1; i <= count; ++i) {
    Segment& s = table[i];
    // Every designator starts with "U", "A" or "F": other words are passed
    // over without comparing.
    const char16_t head = s.text().empty() ? u'\0' : s.text()[0];
    if (head != u'U' && head != u'A' && head != u'F') continue;
    if (s.text() == u"Unit"sv || s.text() == u"Apt"sv || s.text() == u"Unit#"sv) {
      // A designator in the last position has no word to mark and is left
      // as it is, like "Floor" in the first position.
      if (i == count) {
        s.type = kKindDesignator;
        continue;
      }
      result = static_cast<int16_t>(i + 1);
      table[i + 1].type = kKindUnit;
      s.type = kKindDesignator;
    } else if (s.text() == u"Floor"sv || s.text() == u"Flr"sv) {
      if (i < 2) continue;
      result = static_cast<int16_t>(i - 1);
      s.type = kKindDesignator;
      table[i - 1].type = kKindUnit;
    }
  }
  if (result != 0) return result;

  // Words starting with "#". None is decided while a "-" word remains.
  if (table.FindFirstDash() != 0) return 0;
  const int first_type = table.FindSegmentOfKind(kKindStreetType, 0);
  int first_street = table.FindSegmentOfKind(kKindStreet, 0);
  for (int k = 1; k <= count; ++k) {
    Segment& s = table[k];
    if (s.text().empty() || s.text()[0] != u'#' || s.type != kKindNone) continue;
    if (k < count - 1) {
      if (!HoldsDigits(table[k + 1].char_class)) {
        s.type = kKindStreetNumber;
      } else if (table[k + 2].type != kKindStreetType) {
        s.type = kKindUnit;
      } else {
        s.type = first_type < first_street ? kKindUnit : kKindStreetNumber;
      }
    } else if (HashTokenIsUnit(table, k)) {
      s.type = kKindUnit;
    } else {
      s.type = kKindStreet;
      if (first_street == 0 || k < first_street) first_street = k;
    }
  }
  return 0;
}

bool HashTokenIsUnit(const SegmentTable& table, int index) {
  if (!ContainsDigit(table.At(index).text())) return false;
  if (index == table.Count()) {
    const std::u16string& t = table.At(table.FindSegmentOfKind(kKindStreetType, 0)).text();
    if (t.find(u"highway") == std::u16string::npos && t.find(u"hw") == std::u16string::npos) {
      return true;
    }
  }
  return index == 1;
}

void CleanUnitText(SegmentTable& table) {
  const int count = table.Count();
  for (int i = 1; i <= count; ++i) {
    Segment& s = table[i];
    // A classified text without "#" needs no search.
    if (s.class_stale || s.holds_hash) RemoveFirstInPlace(s, u'#');
    if (s.type == kKindUnit) {
      RemoveFirstInPlace(s, u"Unit");
      RemoveFirstInPlace(s, u"Apt");
      return;
    }
  }
}

void NormaliseUnitNumber(SegmentTable& table) {
  for (int i = 1; i <= table.Count(); ++i) {
    Segment& s = table[i];
    if (s.type != kKindUnit || s.char_class != kClassAllDigits) continue;
    // Exact for any length: drop leading zeros, keep at least one digit.
    // Only the first `len` characters were classified, so the rest of the
    // text may hold anything; a value is written only for an all-digit text.
    bool all_digits = !s.text().empty();
    for (char16_t c : s.text()) all_digits = all_digits && IsDigit(c);
    if (!all_digits) continue;
    size_t zeros = 0;
    while (zeros + 1 < s.text().size() && s.text()[zeros] == u'0') ++zeros;
    s.EditText().erase(0, zeros);
  }
}

}  // namespace zarn::internal
