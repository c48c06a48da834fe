// The classification passes: each gives segments their kinds by one rule and
// normalises their texts. They run in the fixed order of AnalyzeAddressUtf8.
#ifndef ZARN_RULES_RULES_H_
#define ZARN_RULES_RULES_H_

#include <cstdint>

#include "segments/segment_table.h"

namespace zarn::internal {

// Gives every segment whose text is exactly "-" the kind Dash.
void MarkDashes(SegmentTable& table);
// Removes every Dash segment that stands next to a StreetType segment,
// including whole runs of dashes there.
void DropDashesBesideStreetType(SegmentTable& table);

// Marks the direction word nearest the end of the address ("N", "NE", ...,
// "North", "Nord", "Ouest", ...), writing long forms as their one-letter
// abbreviation. Returns its index, or 0.
int16_t MarkDirection(SegmentTable& table);

// Grows the street name from the first street-type word: the run of
// unclassified words without digits just before it, or else just after it.
bool ExtendStreetAroundType(SegmentTable& table);
// Makes the first run of unclassified segments the street name.
void MarkFirstUnclassifiedRun(SegmentTable& table);
// Makes every segment still unclassified part of the street name.
void MarkRemainingAsStreet(SegmentTable& table);

// Marks units from the designator words "Unit", "Apt", "Unit#" (next word)
// and "Floor", "Flr" (previous word); without designators, decides what a
// word starting with "#" is. Returns the index of the last unit marked by a
// designator, or 0.
int16_t MarkUnits(SegmentTable& table);
// Whether the "#" word at `index`, one of the last two, is a unit.
bool HashTokenIsUnit(const SegmentTable& table, int index);
// Removes the first "#" of each segment up to the first unit, and "Unit" and
// "Apt" from the first unit.
void CleanUnitText(SegmentTable& table);
// Writes an all-digit unit without leading zeros.
void NormaliseUnitNumber(SegmentTable& table);

// Finds the civic number and settles the kinds of the numbers around it.
void MarkStreetNumber(SegmentTable& table);
// The rule for addresses with a dash ("5-123 Main St"); true when it settled
// the address.
bool MarkDashedNumber(SegmentTable& table);

// Removes English and French ordinal suffixes from street and unit words
// ("21st" -> "21", "2ieme" -> "2", "1ere" -> "1") and gives a lone "th" or
// "nd" a kind of its own.
void StripOrdinalSuffixes(SegmentTable& table);

}  // namespace zarn::internal

#endif  // ZARN_RULES_RULES_H_
