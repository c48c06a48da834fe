// The three passes that consult the reference database.
#ifndef ZARN_REFDB_DATABASE_PASSES_H_
#define ZARN_REFDB_DATABASE_PASSES_H_

#include <string>

#include "refdb/reference_database.h"
#include "segments/segment_table.h"

namespace zarn::internal {

// Cuts the cleaned `text` into segments (collapsing its spaces in place) and
// marks the street-type words: a word of the StreetType table, or an
// alternate form from qryAlternateStreetTypes (rewritten to its delivery form
// unless it is exactly "St"). Only the last street-type word keeps the kind;
// earlier ones join the street name. A street-type "St" becomes "Street".
void TokeniseAndFindStreetTypes(std::u16string& text, SegmentTable& table, DatabaseSession& db);
// The same on a table already tokenised.
void FindStreetTypes(SegmentTable& table, DatabaseSession& db);

// Replaces number, street and street type by their delivery form when the
// address "number street type" is a known alternate address (rows of type 4);
// on a Mall the civic number is taken as the unit first.
void ApplyAlternateStreetAddress(SegmentTable& table, DatabaseSession& db);

// Replaces the street name by its delivery form when it is a known alternate
// street name (rows of type 1).
void ApplyAlternateDeliveryAddress(SegmentTable& table, DatabaseSession& db);

}  // namespace zarn::internal

#endif  // ZARN_REFDB_DATABASE_PASSES_H_
