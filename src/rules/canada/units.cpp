// Units named by a designator: "Apt 5", "Suite 200", "# 5", "#APT 5",
// "Unit#5", "bureau 210" (the unit follows), "2e étage", "3rd Floor" (it
// precedes). A designator never joins the street.
#include "rules/canada/canada.h"
#include "zarn/zarn.hpp"

namespace zarn::internal::canada {

namespace {

constexpr uint32_t kFollows = kTraitDesignatorBefore | kTraitDesignatorDigit | kTraitHash;

// Whether word `j` can be a unit: at most eight characters with a digit, or,
// when `letters_ok`, up to three letters ("Unit B", "Unit C-D").
bool CanBeUnit(const Context& c, int j, bool letters_ok) {
  const Segment& s = c.table[j];
  const Word& w = c.state.words[static_cast<size_t>(j)];
  if (s.type != kKindNone || s.text().empty() || s.text().size() > 8) return false;
  if (w.Is(kTraitHasDigit)) return !w.Is(kTraitFraction);
  return letters_ok && s.text().size() <= 3 && !w.Is(kTraitParticle);
}

// Whether the number `j` after a designator is rather a street's, as in
// Richmond's "No. 5 Road": a street type follows it and ends the line (or
// only a direction follows).
bool NamesAStreet(const Context& c, int j) {
  const int n = c.table.Count();
  if (j + 1 > n || !c.state.words[static_cast<size_t>(j + 1)].Is(kTraitStreetType)) return false;
  return j + 1 == n || (j + 2 == n && c.state.words[static_cast<size_t>(n)].Is(kTraitDirection));
}

}  // namespace

void MarkUnitsCanada(Context& c) {
  SegmentTable& table = c.table;
  const int n = table.Count();
  for (int i = 1; i <= n; ++i) {
    if (table[i].type != kKindNone) continue;
    const Word& w = c.state.words[static_cast<size_t>(i)];
    if (w.Is(kFollows)) {
      // A chain of designators ("#APT 5", "Unit # 5") names one unit.
      int j = i + 1;
      bool only_hashes = w.Is(kTraitHash);
      bool letters_ok = !w.Is(kTraitDesignatorDigit);
      while (j <= n && table[j].type == kKindNone &&
             c.state.words[static_cast<size_t>(j)].Is(kFollows)) {
        const Word& next = c.state.words[static_cast<size_t>(j)];
        only_hashes = only_hashes && next.Is(kTraitHash);
        letters_ok = letters_ok || next.Is(kTraitDesignatorBefore);
        ++j;
      }
      if (j <= n && CanBeUnit(c, j, letters_ok) && !NamesAStreet(c, j)) {
        for (int k = i; k < j; ++k) table[k].type = kKindDesignator;
        table[j].type = kKindUnit;
        if (only_hashes) c.state.flags |= kFlagUnitAssumed;
        i = j;
      } else if (n == 1 || w.Is(kTraitHash)) {
        // A lone designator, or a "#" with nothing to number.
        table[i].type = kKindDesignator;
      }
      continue;
    }
    if (w.Is(kTraitDesignatorAfter)) {
      const bool before = i > 1 && (CanBeUnit(c, i - 1, false) ||
                                    (table[i - 1].type == kKindNone &&
                                     c.state.words[static_cast<size_t>(i - 1)].Is(kTraitOrdinal)));
      if (before) {
        table[i - 1].type = kKindUnit;
        table[i].type = kKindDesignator;
      } else if (i < n && CanBeUnit(c, i + 1, false)) {
        table[i].type = kKindDesignator;
        table[i + 1].type = kKindUnit;
        ++i;
      } else if (n == 1) {
        table[i].type = kKindDesignator;
      }
    }
  }
}

}  // namespace zarn::internal::canada
