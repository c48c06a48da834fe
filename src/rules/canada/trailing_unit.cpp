// A bare number after the street type or the direction, at the end of the
// street line, is the unit ("305 Sandford St 303"), also behind one word
// that stands for a designator ("Main St Lot 18"): assumed from its place.
// Not after a route type, whose number is the street ("Highway 7", "County
// Road 18", "Range Road 212").
#include "rules/canada/canada.h"
#include "zarn/zarn.hpp"

namespace zarn::internal::canada {

void MarkTrailingUnit(Context& c) {
  const auto [first, last] = FindStreetLine(c);
  // A number set apart by a comma after the street ("Monroe St., 3500").
  const int after = last + 1;
  if (last >= first + 1 && after <= c.table.Count() &&
      c.state.words[static_cast<size_t>(last)].Is(kTraitCommaAfter) &&
      c.table[after].type == kKindNone) {
    const Word& next = c.state.words[static_cast<size_t>(after)];
    const bool alone = after == c.table.Count() || next.Is(kTraitCommaAfter);
    if (alone && next.Is(kTraitHasDigit) && !next.Is(kTraitOrdinal | kTraitFraction) &&
        c.table[after].text().size() <= 8) {
      c.table[after].type = kKindUnit;
      c.state.flags |= kFlagUnitAssumed;
      return;
    }
  }
  if (last - first < 2) return;
  const Word& w = c.state.words[static_cast<size_t>(last)];
  if (!w.Is(kTraitHasDigit) || w.Is(kTraitOrdinal) || w.Is(kTraitFraction) ||
      c.table[last].text().size() > 6) {
    return;
  }
  if (c.state.words[static_cast<size_t>(first)].Is(kTraitRouteType)) return;
  const auto ends_street = [&c](int i) {
    const Word& before = c.state.words[static_cast<size_t>(i)];
    return before.Is(kTraitStreetType | kTraitDirection) && !before.Is(kTraitRouteType);
  };
  if (ends_street(last - 1)) {
    c.table[last].type = kKindUnit;
    c.state.flags |= kFlagUnitAssumed;
    return;
  }
  // A word the profile does not know as a designator between the street and
  // the number ("PEACHTREE RD NW CONDO D1", "Main St Lot 18") stands for one.
  const Word& between = c.state.words[static_cast<size_t>(last - 1)];
  if (last - first >= 3 && ends_street(last - 2) &&
      !between.Is(kTraitHasDigit | kTraitStreetType | kTraitDirection | kTraitParticle) &&
      c.table[last - 1].text().size() <= 6) {
    c.table[last - 1].type = kKindDesignator;
    c.table[last].type = kKindUnit;
    c.state.flags |= kFlagUnitAssumed;
  }
}

}  // namespace zarn::internal::canada
