// The street type, chosen in the street line:
// 1. a route type before a number: "Highway 7", "HWY 15", "Route 132",
//    "Autoroute 20", "Rang 2";
// 2. else a French generic first: "rue du Carrefour", "boul. de la Côte-
//    Vertu", "chemin Côte Ste-Catherine" (the particles stay in the street);
//    a leading name prefix ("Côte", "Mont") gives way to a type at the end;
// 3. else the last word when it is a street type and the name before it is
//    more than particles: "ST MARYS RD" (a type word inside the name keeps
//    its text), "2e Rang"; "THE GLEN" and a lone type word ("130 PARKWAY")
//    are names;
// 4. else an abbreviated type just before the last word, which is then left
//    over ("123 Main Rd Bsmt").
// The chosen word reads as the database's delivery form (or as typed when
// only the profile knows the type).
#include "rules/canada/canada.h"
#include "zarn/zarn.hpp"

namespace zarn::internal::canada {

namespace {

const Word& WordAt(const Context& c, int i) { return c.state.words[static_cast<size_t>(i)]; }

bool IsEnglishOnlyWord(std::u16string_view folded) {
  for (std::u16string_view w : {u"street", u"road", u"drive", u"lane"}) {
    if (folded == w) return true;
  }
  return false;
}

// Whether the generic `first` is the type of a line that also ends in a
// street-type word: always for a French-only generic (rue, chemin) or before
// a particle (avenue du Parc); for a generic English shares (Avenue, Centre,
// Place), only when the last word is not an abbreviated type, since an
// abbreviation marks the English type ("CENTRE ST", "AVENUE RD") while a
// full word reads as a name ("boulevard Forest", "Place Park") unless it is
// an English word no name uses (Street, Road, Drive, Lane). A
// leading name prefix (Côte, Mont) gives way to a type at the end.
bool FrenchReading(const Context& c, int first, int last) {
  const Word& lead = WordAt(c, first);
  const Word& end = WordAt(c, last);
  if (!end.Is(kTraitStreetType)) return true;
  if (lead.Is(kTraitNamePrefix)) return false;
  if (lead.Is(kTraitFrenchOnly)) return true;
  if (WordAt(c, first + 1).Is(kTraitParticle | kTraitElided)) return true;
  // An English type word in full that never names a street ("CENTRE
  // STREET", "Avenue Road") marks the English type too.
  if (IsEnglishOnlyWord(end.folded)) return false;
  return !end.Is(kTraitAbbreviated);
}

}  // namespace

void MarkStreetTypeCanada(Context& c) {
  const auto [first, last] = FindStreetLine(c);
  if (last <= first) return;  // no word, or a lone word: the name
  const Word& lead = WordAt(c, first);
  const Word& end = WordAt(c, last);
  int chosen = 0;
  if (lead.Is(kTraitRouteType) && last == first + 1 && end.Is(kTraitHasDigit)) {
    chosen = first;
  } else if (lead.Is(kTraitStreetType) && lead.Is(kTraitFrenchGeneric) &&
             FrenchReading(c, first, last)) {
    chosen = first;
  } else if (end.Is(kTraitStreetType)) {
    bool only_particles = true;
    for (int i = first; i < last; ++i) {
      only_particles = only_particles && WordAt(c, i).Is(kTraitParticle);
    }
    if (!only_particles) chosen = last;
  } else if (last - first >= 2) {
    // An abbreviated type before a last word that is no type: the word is
    // left over ("123 Main Rd Bsmt", "12 Bank Ave Ottawa"). Not St or Ste,
    // which also begin names ("Lake St Clair").
    const Word& before = WordAt(c, last - 1);
    if (before.Is(kTraitStreetType) && before.Is(kTraitAbbreviated) &&
        !before.Is(kTraitNamePrefix) && !end.Is(kTraitHasDigit)) {
      chosen = last - 1;  // the last word stays unclassified: not in the name
    }
  }
  if (chosen == 0) return;
  Segment& s = c.table[chosen];
  s.type = kKindStreetType;
  s.SetText(WordAt(c, chosen).type_text);
  for (int i = first; i <= last; ++i) {
    if (i != chosen && WordAt(c, i).Is(kTraitStreetType) && !WordAt(c, i).Is(kTraitNamePrefix)) {
      c.state.flags |= kFlagStreetTypeAssumed;
    }
  }
}

}  // namespace zarn::internal::canada
