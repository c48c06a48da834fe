// The civic number: the first unclassified word when it is a number, with
// the forms around it:
// - "5-123", "A-123", "5A-123": unit, dash, civic (Canada Post's unit-civic
//   form); the unit is assumed from its place.
// - "1630-1670": a civic range, kept whole, when the line shows one: two
//   numbers of the same length and parity, the first smaller, and a comma
//   after them or a French generic after them (without those, "2-4" is unit
//   2 at civic 4, as Canada Post writes it).
// - a suffix written apart: "56 D", "123 1/2"; a direction letter (N, S, E,
//   W) is left for the direction pass.
// - "123-A": a unit letter after the civic, assumed from its place.
// - "4716 - 48 Street": a numbered street after the dash, when a street
//   type follows the number and ends the line.
#include "rules/canada/canada.h"
#include "zarn/zarn.hpp"

namespace zarn::internal::canada {

namespace {

const Word& WordAt(const Context& c, int i) { return c.state.words[static_cast<size_t>(i)]; }

// The value of an all-digit text of at most nine digits, or -1.
long long SmallValue(std::u16string_view t) {
  if (t.empty() || t.size() > 9) return -1;
  long long v = 0;
  for (char16_t ch : t) {
    if (!IsDigit(ch)) return -1;
    v = v * 10 + (ch - u'0');
  }
  return v;
}

bool LooksLikeRange(const Context& c, int left, int right) {
  const std::u16string& l = c.table[left].text();
  const std::u16string& r = c.table[right].text();
  const long long a = SmallValue(l);
  const long long b = SmallValue(r);
  if (a < 0 || b < 0 || l.size() != r.size() || a >= b || (a - b) % 2 != 0) return false;
  if (WordAt(c, right).Is(kTraitCommaAfter)) return true;
  const int next = right + 1;
  return next <= c.table.Count() && c.table[next].type == kKindNone &&
         WordAt(c, next).Is(kTraitFrenchGeneric);
}

bool IsUnitWord(const Context& c, int i) {
  const std::u16string& t = c.table[i].text();
  if (t.empty() || t.size() > 6) return false;
  for (char16_t ch : t) {
    const char16_t f = FoldChar(ch);
    if (!IsDigit(ch) && !(f >= u'a' && f <= u'z') && ch != u'\'' && ch != u'/' && ch != u'_') {
      return false;
    }
  }
  return true;
}

// A first word that reads as an ordinal ("19E", "2e") is the civic number
// with a suffix letter when a name follows it, not a street type or a
// direction ("19E LUNDY'S LANE", but "2e Rang", "21st Ave").
bool OrdinalIsCivic(const Context& c, int i) {
  if (!WordAt(c, i).Is(kTraitOrdinal)) return false;
  const int next = i + 1;
  if (next > c.table.Count() || c.table[next].type != kKindNone) return false;
  return !WordAt(c, next).Is(kTraitStreetType | kTraitDirection);
}

// Whether word `i` (a number) names a street: an English street type
// follows it and ends the street line, alone or before a direction.
// A lone type after a number is otherwise a name ("101-130 PARKWAY"), so
// the type must be Street or Avenue, or the dash typed apart ("4716 - 48
// Road"), which the unit-civic form never is.
bool NumberedStreetAfter(const Context& c, int i) {
  const int n = c.table.Count();
  const int type = i + 1;
  if (type > n || c.table[type].type != kKindNone) return false;
  const Word& t = WordAt(c, type);
  if (!t.Is(kTraitStreetType) || t.Is(kTraitFrenchOnly) || WordAt(c, i).Is(kTraitCommaAfter)) {
    return false;
  }
  // The dash of a glued "4929-51" was set apart by SplitGluedTokens and has
  // no position in the text as typed.
  const bool spaced_dash = c.table[i - 1].start > 0;
  std::u16string& folded = c.state.scratch;
  FoldInto(t.type_text, folded);
  if (!spaced_dash && folded != u"street" && folded != u"avenue") return false;
  const int next = type + 1;
  return t.Is(kTraitCommaAfter) || next > n || c.table[next].type != kKindNone ||
         (WordAt(c, next).Is(kTraitDirection) &&
          (next == n || WordAt(c, next).Is(kTraitCommaAfter) ||
           c.table[next + 1].type != kKindNone));
}

void JoinInto(Context& c, int into, int from, std::u16string_view separator) {
  Segment& s = c.table[into];
  s.EditText() += separator;
  s.EditText() += c.table[from].text();
  s.len = CheckedPosition(s.text().size());
  // The joined word reaches to the end of the last word typed in it.
  if (s.start > 0 && c.table[from].start > 0) s.end = c.table[from].end;
  EraseSegment(c, from);
}

}  // namespace

void MarkCivicNumber(Context& c) {
  SegmentTable& table = c.table;
  int i = 1;
  while (i <= table.Count() && table[i].type != kKindNone) ++i;
  if (i > table.Count()) return;
  int civic = 0;
  const bool dashed = i + 2 <= table.Count() && table[i + 1].type == kKindDash &&
                      table[i + 2].type == kKindNone && WordAt(c, i + 2).Is(kTraitCivic);
  if (dashed && WordAt(c, i).Is(kTraitCivic) && LooksLikeRange(c, i, i + 2)) {
    table[i].type = kKindStreetNumber;
    JoinInto(c, i, i + 1, u"");
    JoinInto(c, i, i + 1, u"");
    c.state.flags |= kFlagRangeAssumed;
    civic = i;
  } else if (dashed && WordAt(c, i).Is(kTraitAllDigits) && NumberedStreetAfter(c, i + 2)) {
    // "4716 - 48 Street", "12075 - 75A Avenue": the civic number, then a
    // numbered street, as the Prairies and British Columbia write it.
    table[i].type = kKindStreetNumber;
    civic = i;
    return;
  } else if (dashed && IsUnitWord(c, i)) {
    table[i].type = kKindUnit;
    table[i + 2].type = kKindStreetNumber;
    c.state.flags |= kFlagUnitAssumed;
    civic = i + 2;
  } else if (WordAt(c, i).Is(kTraitCivic) || OrdinalIsCivic(c, i)) {
    table[i].type = kKindStreetNumber;
    civic = i;
  } else {
    return;
  }
  // A unit letter after a dash ("123-A Main St"), when a street follows.
  const int next = civic + 1;
  if (next + 2 <= table.Count() && table[next].type == kKindDash &&
      table[next + 1].type == kKindNone && WordAt(c, next + 1).Is(kTraitLetter)) {
    table[next + 1].type = kKindUnit;
    c.state.flags |= kFlagUnitAssumed;
    return;
  }
  // A suffix written apart, when a street follows it.
  if (next + 1 > table.Count() || table[next].type != kKindNone ||
      table[next + 1].type == kKindDash) {
    return;
  }
  const Word& w = WordAt(c, next);
  const bool direction_letter = w.Is(kTraitDirection);
  if (w.Is(kTraitFraction) || (w.Is(kTraitLetter) && !direction_letter)) {
    JoinInto(c, civic, next, u" ");
  }
}

}  // namespace zarn::internal::canada
