// The canada rule profile: a fixed order of small passes over the segment
// table, tuned for Canadian street lines as people type them (English and
// French, any letter case, with or without accents).
//
// Order (kCanadaPasses, run by AnalyzeAddressCanada):
//   1. CleanTextCanada       text: separators, periods, "#" and commas set apart
//   (Tokenise)               one segment per word, as for the default rules
//   2. SplitGluedTokens      "5-123", "A-123", "1630-1670", "Apt5" cut apart
//   3. DescribeWords         what each word can be: designator, direction,
//                            particle, street type (database + profile data)...
//   3b. MarkWholeAddress     a whole address's postal code, province,
//                            delivery forms (PO box, rural route, general
//                            delivery, station) and municipality, taken out
//                            of the street line (whole_address.cpp)
//   4. MarkUnitsCanada       designators and "#" with their unit
//   5. MarkCivicNumber       civic number, unit-civic form, range, suffix
//   6. MarkTrailingUnit      a bare number after the street type
//   7. MarkDirectionCanada   the direction at the end of the street line, or
//                            an abbreviated one before the name
//   8. MarkStreetTypeCanada  route forms, French generic first, else last
//   9. MarkStreetNameCanada  the rest of the street line; words left over are
//                            reported as unplaced
//  10. the two alternate-address passes of the database, as in the default
//      rules, and leading zeros dropped from an all-digit unit.
//
// Each pass reads the kinds given by the passes before it. The "street line"
// is the first run of unclassified words after the civic number.
#ifndef ZARN_RULES_CANADA_CANADA_H_
#define ZARN_RULES_CANADA_CANADA_H_

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "refdb/reference_database.h"
#include "segments/segment_table.h"

namespace zarn::internal::canada {

// What a word can be, found once per word by DescribeWords.
enum Trait : uint32_t {
  kTraitDesignatorBefore = 1u << 0,  // the unit follows ("Apt 5")
  kTraitDesignatorDigit = 1u << 1,   // as above, but only before a word with a digit
  kTraitDesignatorAfter = 1u << 2,   // the unit precedes ("2e étage")
  kTraitHash = 1u << 3,              // "#"
  kTraitDirection = 1u << 4,
  kTraitParticle = 1u << 5,       // de, du, la, the...
  kTraitElided = 1u << 6,         // l'Église, d'Iberville
  kTraitNamePrefix = 1u << 7,     // St, Saint, Mont, Côte...
  kTraitStreetType = 1u << 8,     // a street-type word
  kTraitFrenchGeneric = 1u << 9,  // a street type that stands before the name
  kTraitRouteType = 1u << 10,     // a street type that may precede a number
  kTraitAllDigits = 1u << 11,
  kTraitCivic = 1u << 12,     // digits, then at most two letters ("48B")
  kTraitOrdinal = 1u << 13,   // 21st, 2e, 1re, 2ieme
  kTraitFraction = 1u << 14,  // 1/2
  kTraitLetter = 1u << 15,    // one letter
  kTraitHasDigit = 1u << 16,
  kTraitCommaAfter = 1u << 17,   // a comma followed the word
  kTraitFrenchOnly = 1u << 18,   // a French generic English does not use (rue, chemin)
  kTraitAbbreviated = 1u << 19,  // a street type typed in an alternate form (St, Rd)
  // Of a whole address (their lists are in whole_address.cpp):
  kTraitDeliveryLead = 1u << 20,  // starts a delivery form (PO, Box, RR, GD...)
  kTraitStation = 1u << 21,       // a delivery installation (STN, SUCC, RPO...)
  kTraitProvinceEnd = 1u << 22,   // ends a province's name or abbreviation
};

struct Word {
  std::u16string folded;          // lower case, accents removed: what the word lists match
  std::u16string type_text;       // the street type's text if this word is chosen as type
  std::u16string_view direction;  // one-letter form of a direction word
  // The word's gazetteer key, made at its first use in a parse
  // (whole_address.cpp); has_key says whether it is this parse's.
  std::u16string key;
  bool has_key = false;
  uint32_t traits = 0;

  bool Is(uint32_t t) const { return (traits & t) != 0; }
};

// The parts of a whole address, found by MarkWholeAddress.
struct WholeAddress {
  std::u16string po_box;
  std::u16string rural_route;
  std::u16string general_delivery;
  std::u16string station;
  std::u16string municipality;
  std::u16string province;
  std::u16string postal_code;

  // With `record` (set by the caller for one parse), the positions in the
  // text as tokenised (Segment::start, Segment::end) of the words each part
  // came from, in the order of the members above: kept as positions since
  // the passes after MarkWholeAddress move and remove records.
  enum Part {
    kPoBox,
    kRuralRoute,
    kGeneralDelivery,
    kStation,
    kMunicipality,
    kProvince,
    kPostalCode,
    kPartCount
  };
  bool record = false;
  std::vector<std::pair<int16_t, int16_t>> words[kPartCount];

  // Whether the line ends as a whole address does: municipality, province
  // or postal code.
  bool HasTail() const {
    return !municipality.empty() || !province.empty() || !postal_code.empty();
  }

  void Clear() {
    for (std::u16string* s : {&po_box, &rural_route, &general_delivery, &station, &municipality,
                              &province, &postal_code}) {
      s->clear();
    }
    if (record) {
      for (auto& w : words) w.clear();
    }
  }
};

// The state of one parse with the profile, reused between parses.
struct State {
  WholeAddress whole;
  // words[i] describes table[i]; words[0] is unused.
  std::vector<Word> words;
  uint32_t flags = 0;      // zarn::DiagnosticFlag bits
  std::u16string scratch;  // clean-up output, database keys
};

struct Context {
  SegmentTable& table;
  State& state;
  DatabaseSession& db;
};

using Pass = void (*)(Context&);
struct NamedPass {
  const char* name;
  Pass run;
};

// Steps 2 to 9 above, in order; the pipeline runs Tokenise before them and
// the database passes after them.
extern const NamedPass kCanadaPasses[];
extern const int kCanadaPassCount;

void CleanTextCanada(std::u16string& text, std::u16string& scratch);
void SplitGluedTokens(Context& c);
void DescribeWords(Context& c);
void MarkWholeAddress(Context& c);
void MarkUnitsCanada(Context& c);
void MarkCivicNumber(Context& c);
void MarkTrailingUnit(Context& c);
void MarkDirectionCanada(Context& c);
void MarkStreetTypeCanada(Context& c);
void MarkStreetNameCanada(Context& c);

// Shared helpers (words.cpp).

// Lower case without accents, for matching the word lists: ASCII and
// Latin-1 letters; a typographic apostrophe reads as "'".
char16_t FoldChar(char16_t c);
void FoldInto(std::u16string_view text, std::u16string& out);
// The key of the database look-ups: the word in title case with its accents
// kept, as the street-type tables spell their words, since the database's
// comparison folds ASCII letters only ("ÉCHANGEUR" and "échangeur" find
// "Échangeur").
void DatabaseKeyInto(std::u16string_view text, std::u16string& out);

// The profile's word lists, by folded word.
struct ListEntry {
  uint32_t traits = 0;
  std::u16string_view direction;   // for direction words
  std::u16string_view extra_type;  // delivery form of a type the database lacks
  bool extra_type_french = false;
  bool us_only_type = false;  // a USPS type that Canada Post does not list
};
// nullptr when the folded word is in no list.
const ListEntry* FindListEntry(std::u16string_view folded);
// The words of a whole address's lists that get the traits above, folded.
void ForEachWholeAddressWord(void (*add)(std::u16string_view word, uint32_t trait, void* to),
                             void* to);
// Whether `folded` ends in an ordinal suffix after its digits ("21st", "2e").
bool IsOrdinal(std::u16string_view folded);

// The street line: the first run of unclassified segments after the civic
// number (or from the first unclassified segment when there is none),
// ending at a word a comma followed ("4810 Crystal Lake Road, Unit C-D"):
// [first, last], empty when first > last.
std::pair<int, int> FindStreetLine(const Context& c);

// Removes segment `index` from the table and its word from the state.
void EraseSegment(Context& c, int index);
// Opens a segment at `index` (its word empty) holding `text`.
void InsertSegmentText(Context& c, int index, std::u16string_view text);

}  // namespace zarn::internal::canada

#endif  // ZARN_RULES_CANADA_CANADA_H_
