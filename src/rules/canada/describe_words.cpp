// What each word can be: the word lists of the profile, the shape of its
// characters and the street types of the reference database. Also drops the
// comma words of the clean-up, remembering on the word before each that a
// comma followed it, and gives lone dashes the kind Dash.
#include <string>

#include "base/text.h"
#include "rules/canada/canada.h"
#include "segments/tokeniser.h"
#include "zarn/zarn.hpp"

namespace zarn::internal::canada {

namespace {

bool IsLetter(char16_t c) { return FoldChar(c) != c || (c >= u'a' && c <= u'z'); }

uint32_t ShapeTraits(std::u16string_view folded) {
  if (folded.empty()) return 0;
  size_t digits = 0;
  for (char16_t ch : folded) digits += IsDigit(ch) ? 1 : 0;
  if (digits == 0) {
    return folded.size() == 1 && IsLetter(folded[0]) ? uint32_t{kTraitLetter} : 0u;
  }
  uint32_t traits = kTraitHasDigit;
  if (digits == folded.size()) return traits | kTraitAllDigits | kTraitCivic;
  if (IsOrdinal(folded)) return traits | kTraitOrdinal;
  const size_t slash = folded.find(u'/');
  if (slash != std::u16string_view::npos && slash > 0 && slash + 1 < folded.size() &&
      digits + 1 == folded.size()) {
    // "1/2" after a civic number, or "2031/2" glued to it.
    return traits | kTraitFraction | (slash > 1 ? uint32_t{kTraitCivic} : 0u);
  }
  size_t lead = 0;
  while (lead < folded.size() && IsDigit(folded[lead])) ++lead;
  if (lead > 0 && folded.size() - lead <= 2) {
    bool letters = true;
    for (size_t k = lead; k < folded.size(); ++k) letters = letters && IsLetter(folded[k]);
    if (letters) traits |= kTraitCivic;
  }
  return traits;
}

// The street-type reading of a word without digits: the database's
// StreetType table (text kept as typed) or its alternate forms (the delivery
// form), then the types the profile adds. Types that only USPS lists are no
// street types here.
void FindStreetType(Context& c, Connection& connection, int i, const ListEntry* own, Word& w) {
  const std::u16string& text = c.table[i].text();
  if (text.size() < 2) return;
  std::u16string& key = c.state.scratch;
  DatabaseKeyInto(text, key);
  bool found = false;
  std::u16string_view delivery;
  if (connection.StreetTypeExists(key, i)) {
    found = true;
    w.type_text = text;
    delivery = w.folded;
  } else if (const DbText* desc = connection.AlternateStreetType(key, i)) {
    if (desc->is_null) {
      throw Error(kErrorInvalidUseOfNull,
                  "Invalid use of Null (qryAlternateStreetTypes.StreetTypeDesc for \"" +
                      Utf16ToUtf8(text) + "\")");
    }
    found = true;
    w.type_text = desc->text;
    FoldInto(desc->text, key);
    delivery = key;
    // An abbreviation, not the same word without its accents (Cote, Côte).
    if (delivery != w.folded) w.traits |= kTraitAbbreviated;
  }
  const ListEntry* of_delivery = found ? FindListEntry(delivery) : nullptr;
  if (found && of_delivery != nullptr && of_delivery->us_only_type) found = false;
  // The profile's own reading of a form wins over the database's when the
  // database gives it a type the profile does not use (Rg: Range, Gdn:
  // Garden) or lacks it (Cl).
  if (own != nullptr && !own->extra_type.empty()) {
    // Known to the profile only: no delivery form in the database to write,
    // so the word stays as typed.
    found = true;
    w.type_text = text;
    w.traits |= kTraitAbbreviated;
    if (own->extra_type_french) w.traits |= kTraitFrenchGeneric;
    FoldInto(own->extra_type, key);
    of_delivery = FindListEntry(key);
  }
  if (!found) {
    w.traits &= ~kTraitAbbreviated;
    return;
  }
  w.traits |= kTraitStreetType;
  if (of_delivery != nullptr) {
    w.traits |= of_delivery->traits & (kTraitFrenchGeneric | kTraitFrenchOnly | kTraitRouteType);
  }
}

}  // namespace

void DescribeWords(Context& c) {
  SegmentTable& table = c.table;
  auto& words = c.state.words;
  // Comma words go, in one pass; the word before each remembers it. Only
  // the traits of words[] are kept from here: the loop below sets the rest.
  int kept = 0;
  for (int i = 1; i <= table.Count(); ++i) {
    if (table[i].text() == u",") {
      if (kept > 0) words[static_cast<size_t>(kept)].traits |= kTraitCommaAfter;
      continue;
    }
    words[static_cast<size_t>(++kept)].traits = 0;
  }
  if (kept == 0 && table.Count() > 0) {
    // Commas only: keep one empty word, as for an empty text.
    table.RemoveIf([](int i) { return i > 1; });
    table[1].EditText().clear();
    table[1].len = 0;
    words[1].traits = 0;
  } else if (kept < table.Count()) {
    table.RemoveIf([&table](int i) { return table[i].text() == u","; });
  }
  // One database scope for the whole pass, also for an empty text, so that a
  // database that cannot be used fails every parse alike.
  DatabaseSession::PassScope pass(c.db);
  Connection& connection = pass.connection();
  // Each word's memo entry serves both of its look-ups.
  connection.StartWords(table.Count());
  for (int i = 1; i <= table.Count(); ++i) {
    Segment& s = table[i];
    Word& w = words[static_cast<size_t>(i)];
    s.len = CheckedPosition(s.text().size());
    ClassifySegment(s);
    FoldInto(s.text(), w.folded);
    w.type_text.clear();
    w.direction = {};
    w.has_key = false;
    w.traits &= kTraitCommaAfter;
    if (s.text() == u"-") {
      s.type = kKindDash;
      continue;
    }
    if (s.text() == u"#") {
      w.traits |= kTraitHash;
      continue;
    }
    w.traits |= ShapeTraits(w.folded);
    if (w.folded.size() > 2 && (w.folded[0] == u'l' || w.folded[0] == u'd') &&
        w.folded[1] == u'\'') {
      w.traits |= kTraitElided;
    }
    const ListEntry* e = FindListEntry(w.folded);
    if (e != nullptr) {
      w.traits |=
          e->traits & (kTraitDesignatorBefore | kTraitDesignatorDigit | kTraitDesignatorAfter |
                       kTraitDirection | kTraitParticle | kTraitNamePrefix | kTraitDeliveryLead |
                       kTraitStation | kTraitProvinceEnd);
      w.direction = e->direction;
    }
    if (!w.Is(kTraitHasDigit)) FindStreetType(c, connection, i, e, w);
  }
}

}  // namespace zarn::internal::canada
