// A bare number after the street type or the direction, at the end of the
// street line, is the unit ("305 Sandford St 303"): assumed from its place.
// Not after a route type, whose number is the street ("Highway 7", "County
// Road 18", "Range Road 212").
#include "rules/canada/canada.h"
#include "zarn/zarn.hpp"

namespace zarn::internal::canada {

void MarkTrailingUnit(Context& c) {
  const auto [first, last] = FindStreetLine(c.table);
  if (last - first < 2) return;
  const Word& w = c.state.words[static_cast<size_t>(last)];
  const Word& before = c.state.words[static_cast<size_t>(last - 1)];
  if (!w.Is(kTraitHasDigit) || w.Is(kTraitOrdinal) || w.Is(kTraitFraction) ||
      c.table[last].contents.size() > 6) {
    return;
  }
  if (!before.Is(kTraitStreetType | kTraitDirection)) return;
  if (before.Is(kTraitRouteType)) return;  // "County Road 18"
  if (c.state.words[static_cast<size_t>(first)].Is(kTraitRouteType)) return;
  c.table[last].type = kKindUnit;
  c.state.flags |= kFlagUnitAssumed;
}

}  // namespace zarn::internal::canada
