// The direction: the direction word at the end of the street line
// ("Saint-Denis Ouest", "Main St NW", also after a comma: "Bolton Road,
// NW"), written in its one-letter form (Nord-Ouest and NO give NW, O gives
// W). Inside the name a direction word stays in the name ("WILDWOOD E PK"),
// and so does one after a particle ("rue du Nord") or after a lone street
// type ("Avenue E"). Before the name only an abbreviation is a direction
// ("123 W Broadway"), or a long word before a numbered street ("West 12th
// Avenue"); a long word leading a name is part of it ("10 NORTH LAKE DR").
// In a whole address (with a municipality, province or postal code) no
// word before the name is a direction.
#include "rules/canada/canada.h"
#include "zarn/zarn.hpp"

namespace zarn::internal::canada {

namespace {

const Word& WordAt(const Context& c, int i) { return c.state.words[static_cast<size_t>(i)]; }

void MarkAsDirection(Context& c, int i) {
  Segment& s = c.table[i];
  s.type = kKindDirection;
  s.EditText().assign(WordAt(c, i).direction);
}

}  // namespace

void MarkDirectionCanada(Context& c) {
  const auto [first, last] = FindStreetLine(c);
  // The direction set apart by a comma after the street ("Bolton Road, NW").
  const int after = last + 1;
  if (last >= first + 1 && after <= c.table.Count() && WordAt(c, last).Is(kTraitCommaAfter) &&
      c.table[after].type == kKindNone && WordAt(c, after).Is(kTraitDirection)) {
    MarkAsDirection(c, after);
    return;
  }
  if (last - first < 1) return;
  const Word& end = WordAt(c, last);
  if (end.Is(kTraitDirection)) {
    const Word& before = WordAt(c, last - 1);
    const bool lone_type = last - first == 1 && WordAt(c, first).Is(kTraitStreetType);
    if (!before.Is(kTraitParticle) && !lone_type) {
      MarkAsDirection(c, last);
      return;
    }
  }
  const Word& lead = WordAt(c, first);
  if (!lead.Is(kTraitDirection)) return;
  // In a whole address the civic line follows Canada Post's order, whose
  // direction is its last element: a direction word before the name is
  // part of the name as written ("149 W HASTINGS ST, VANCOUVER BC").
  if (c.state.whole.HasTail()) return;
  // What stays of the name must be more than a lone street type.
  if (last - first == 1 && WordAt(c, last).Is(kTraitStreetType)) return;
  const Word& next = WordAt(c, first + 1);
  const bool abbreviation = lead.folded.size() <= 2 && lead.folded != u"o" &&
                            lead.folded != u"no" && lead.folded != u"so";
  const bool long_word = lead.folded.size() > 2;
  if (abbreviation || (long_word && next.Is(kTraitOrdinal | kTraitAllDigits))) {
    MarkAsDirection(c, first);
    // A letter right after the civic number may be its suffix ("339 E").
    if (lead.folded.size() == 1) c.state.flags |= kFlagDirectionAmbiguous;
  }
}

}  // namespace zarn::internal::canada
