// The split of an address typed as one token that glues the civic number to
// the street name ("123Main", "12B").
#ifndef ZARN_SEGMENTS_JOINED_NUMBER_H_
#define ZARN_SEGMENTS_JOINED_NUMBER_H_

#include <cstdint>

#include "segments/segment_table.h"

namespace zarn::internal {

// 1-based position of the first non-digit of the segment's text; length + 1
// when every character is a digit.
int16_t FirstNonDigit(const Segment& segment);

// Classifies every segment; then, when the table holds a single token of
// mixed class that starts with a digit, replaces it by a StreetNumber segment
// (the leading digits) and a Street segment (the rest). The new records carry
// no positions, so they classify as NoDigits afterwards.
void SplitJoinedNumber(SegmentTable& table);

}  // namespace zarn::internal

#endif  // ZARN_SEGMENTS_JOINED_NUMBER_H_
