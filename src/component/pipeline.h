// The parse pipeline: clean-up, tokenising and every classification and
// database pass, in one fixed order.
#ifndef ZARN_COMPONENT_PIPELINE_H_
#define ZARN_COMPONENT_PIPELINE_H_

#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "refdb/reference_database.h"
#include "segments/segment_table.h"
#include "segments/source_map.h"
#include "zarn/zarn.hpp"

namespace zarn::internal {

// Parses the UTF-8 `address` into `table`, with `text` as room for its
// UTF-16 form (most addresses are converted, cleaned and cut in one pass).
// Invalid UTF-8 raises the conversion's error; a failing pass throws
// zarn::Error and leaves in the table whatever it had written.
void AnalyzeAddressUtf8(std::string_view address, std::u16string& text, SegmentTable& table,
                        DatabaseSession& db);
// The same, also filling `map` with where each unit of the text as
// tokenised came from in `address` (MapTokenisedText with the specified
// clean-up), most often while cutting it.
void AnalyzeAddressUtf8(std::string_view address, std::u16string& text, SegmentTable& table,
                        DatabaseSession& db, SourceMap& map);

// The same for the kCanada profile: its own clean-up, tokenising and passes
// over the same table and database. Records what it could not settle in
// `*diagnostics` when that is not null (the caller empties it first), and
// the seven parts of a whole address (po_box ... postal_code) in `*whole`
// when that is not null; the street-line parts stay in the table.
// With `whole_words` not null, also the positions in the text as tokenised
// (first, last: Segment::start and Segment::end) of the words each of those
// seven parts came from, in the order of the fields.
using WordPositions = std::vector<std::pair<int16_t, int16_t>>;
inline constexpr int kWholeFieldCount = 7;
void AnalyzeAddressCanada(std::u16string& text, SegmentTable& table, DatabaseSession& db,
                          Diagnostics* diagnostics, AddressParts* whole = nullptr,
                          WordPositions (*whole_words)[kWholeFieldCount] = nullptr);

// The answer for one kind, read from a finished table: the first segment of
// that kind; for Street, every later street word up to the last record
// joined with single spaces, empty words skipped. Kinds outside 0..6 give "".
// Written as UTF-8 to `out`, without a UTF-16 copy except to join the words
// of a street name (in `scratch`).
void ReadSegmentUtf8(const SegmentTable& table, int kind, std::u16string& scratch,
                     std::string& out);
// The answer for `kind` when `found` is the first segment of that kind (0 for
// none), as ReadSegmentUtf8 writes it.
void WriteSegmentUtf8(const SegmentTable& table, int kind, int found, std::string& out);
// The answers for the kinds StreetType..Direction at once, each to
// *out[kind] (out[0] is not used), as ReadSegmentUtf8 writes them.
void ReadFivePartsUtf8(const SegmentTable& table, std::string* (&out)[kKindDirection + 1]);
// The same, also giving the segment each was read from in `first` (0 for
// none; for Street, its first word).
void ReadFivePartsUtf8(const SegmentTable& table, std::string* (&out)[kKindDirection + 1],
                       int (&first)[kKindDirection + 1]);

}  // namespace zarn::internal

#endif  // ZARN_COMPONENT_PIPELINE_H_
