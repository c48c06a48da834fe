// The street name: every word left in the street line, as typed. Any other
// word still unclassified could not be placed; it joins no part and is
// reported.
#include "rules/canada/canada.h"

namespace zarn::internal::canada {

void MarkStreetNameCanada(Context& c) {
  const auto [first, last] = FindStreetLine(c);
  for (int i = first; i <= last; ++i) {
    if (!c.table[i].text().empty()) c.table[i].type = kKindStreet;
  }
}

}  // namespace zarn::internal::canada
