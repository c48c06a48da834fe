// Cuts apart words that glue two parts of the address together:
// the unit-civic form and civic ranges ("5-123", "A-123", "5A-123",
// "1630-1670") and a unit letter after the civic ("123-A"), which become
// three words around a "-", and a designator typed against its unit
// ("Apt5", "No5").
#include "rules/canada/canada.h"

namespace zarn::internal::canada {

namespace {

bool IsAsciiAlnum(char16_t c) {
  return IsDigit(c) || (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z');
}

// Digits, then at most one letter, or a fraction glued to them: the civic
// half of "5-123", "5-123A" or "A-2471/2".
bool IsCivicText(std::u16string_view t) {
  size_t digits = 0;
  while (digits < t.size() && IsDigit(t[digits])) ++digits;
  if (digits == 0) return false;
  if (digits == t.size()) return true;
  if (t[digits] == u'/') {
    size_t k = digits + 1;
    while (k < t.size() && IsDigit(t[k])) ++k;
    return k == t.size() && k > digits + 1;
  }
  return digits + 1 == t.size() && IsAsciiAlnum(t[digits]);
}

// The unit half of "5-123": letters and digits (an apostrophe, slash or
// underscore among them, as in "BSM'T", "1/2"), at most six.
bool IsUnitText(std::u16string_view t) {
  if (t.empty() || t.size() > 6) return false;
  for (char16_t c : t) {
    if (!IsAsciiAlnum(c) && c != u'\'' && c != u'/' && c != u'_') return false;
  }
  return IsAsciiAlnum(t.front());
}

// Gives `left` (a word cut after its first `kept` characters) and `right`
// (what followed them after `gap` more) the positions of their characters.
void SplitPositions(Segment& left, Segment& right, size_t kept, size_t gap) {
  if (left.start <= 0) return;
  right.start = static_cast<int16_t>(left.start + static_cast<int>(kept + gap));
  right.end = left.end;
  left.end = static_cast<int16_t>(left.start + static_cast<int>(kept) - 1);
}

// Splits "L-R" at its only dash; true when it did.
bool SplitDashed(Context& c, int i) {
  const std::u16string_view t = c.table[i].text();
  const size_t dash = t.find(u'-');
  if (dash == std::u16string_view::npos || t.find(u'-', dash + 1) != std::u16string_view::npos) {
    return false;
  }
  const std::u16string_view left = t.substr(0, dash);
  const std::u16string_view right = t.substr(dash + 1);
  // "5-123": unit and civic; "123-A": civic and unit.
  const bool unit_civic = IsUnitText(left) && IsCivicText(right);
  const bool civic_unit =
      i == 1 && IsCivicText(left) && right.size() == 1 && IsAsciiAlnum(right[0]);
  if (!unit_civic && !civic_unit) return false;
  // Copy the right half before the table moves the record's text.
  c.state.scratch.assign(right);
  c.table[i].EditText().resize(dash);
  c.table[i].len = CheckedPosition(dash);
  InsertSegmentText(c, i + 1, u"-");
  InsertSegmentText(c, i + 2, c.state.scratch);
  // The halves keep the positions of their characters in the text as
  // typed; the dash keeps none, which tells it from a dash typed apart.
  SplitPositions(c.table[i], c.table[i + 2], dash, 1);
  return true;
}

// Splits "Apt5" after its designator; true when it did.
bool SplitDesignator(Context& c, int i) {
  const std::u16string_view t = c.table[i].text();
  size_t letters = 0;
  while (letters < t.size() && !IsDigit(t[letters])) ++letters;
  if (letters < 2 || letters == t.size() || letters > 12) return false;
  for (size_t k = letters; k < t.size(); ++k) {
    if (!IsDigit(t[k])) return false;
  }
  FoldInto(t.substr(0, letters), c.state.scratch);
  const ListEntry* e = FindListEntry(c.state.scratch);
  if (e == nullptr || (e->traits & (kTraitDesignatorBefore | kTraitDesignatorDigit)) == 0) {
    return false;
  }
  c.state.scratch.assign(t.substr(letters));
  c.table[i].EditText().resize(letters);
  c.table[i].len = CheckedPosition(letters);
  InsertSegmentText(c, i + 1, c.state.scratch);
  SplitPositions(c.table[i], c.table[i + 1], letters, 0);
  return true;
}

}  // namespace

void SplitGluedTokens(Context& c) {
  auto& words = c.state.words;
  if (words.size() < static_cast<size_t>(c.table.Count()) + 1) {
    words.resize(static_cast<size_t>(c.table.Count()) + 1);
  }
  // The unit-civic form stands at the start of the line, or after a leading
  // designator and its unit ("APT 3-229 DIVISION ST"): only the first word
  // holding a digit is looked at.
  bool dashed_seen = false;
  for (int i = 1; i <= c.table.Count(); ++i) {
    const std::u16string& t = c.table[i].text();
    bool digit = false;
    for (char16_t ch : t) digit = digit || IsDigit(ch);
    if (!digit) continue;
    if (!dashed_seen && t.find(u'-') != std::u16string::npos) {
      dashed_seen = true;
      if (SplitDashed(c, i)) {
        i += 2;
        continue;
      }
    }
    if (SplitDesignator(c, i)) ++i;
  }
}

}  // namespace zarn::internal::canada
