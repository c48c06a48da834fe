#include "component/pipeline.h"

#include "base/text.h"
#include "refdb/database_passes.h"
#include "rules/rules.h"
#include "segments/joined_number.h"
#include "segments/text_cleanup.h"
#include "segments/tokeniser.h"

namespace zarn::internal {

namespace {

// Every pass after the clean-up and tokenising.
// Inlined into both callers, as it was into the one there used to be.
[[gnu::always_inline]] inline void ClassifyTokens(SegmentTable& table, DatabaseSession& db) {
  FindStreetTypes(table, db);
  SplitJoinedNumber(table);
  MarkDashes(table);
  DropDashesBesideStreetType(table);
  ClassifyChanged(table);
  MarkDirection(table);
  ExtendStreetAroundType(table);
  MarkUnits(table);
  CleanUnitText(table);
  MarkStreetNumber(table);
  MarkFirstUnclassifiedRun(table);
  ApplyAlternateStreetAddress(table, db);
  ApplyAlternateDeliveryAddress(table, db);
  StripOrdinalSuffixes(table);
  CleanUnitText(table);
  ClassifyChanged(table);
  NormaliseUnitNumber(table);
  if (table.CountUnclassified() > 0) MarkRemainingAsStreet(table);
}

}  // namespace

void AnalyzeAddressUtf8(std::string_view address, std::u16string& text, SegmentTable& table,
                        DatabaseSession& db) {
  if (!CleanAndTokeniseUtf8(address, text, table)) {
    Utf8ToUtf16(address, text);
    CleanText(text);
    Tokenise(text, table);
  }
  ClassifyTokens(table, db);
}

void AnalyzeAddressUtf8(std::string_view address, std::u16string& text, SegmentTable& table,
                        DatabaseSession& db, SourceMap& map) {
  if (!CleanAndTokeniseUtf8(address, text, table, map)) {
    Utf8ToUtf16(address, text);  // checks the text as UTF-8 first
    MapTokenisedText(address, CleanUp::kSpecified, map);
    CleanText(text);
    Tokenise(text, table);
  }
  ClassifyTokens(table, db);
}

void ReadSegmentUtf8(const SegmentTable& table, int kind, std::u16string& /*scratch*/,
                     std::string& out) {
  const int found = kind < kKindNone || kind > kKindDash ? 0 : table.FindSegmentOfKind(kind, 0);
  WriteSegmentUtf8(table, kind, found, out);
}

namespace {

[[gnu::always_inline]] inline void ReadFiveParts(const SegmentTable& table,
                                                 std::string* (&out)[kKindDirection + 1],
                                                 int (&first)[kKindDirection + 1]) {
  // The first segment of each kind, found in one pass.
  for (int& f : first) f = 0;
  int missing = kKindDirection;
  for (int i = 1; i <= table.Count() && missing > 0; ++i) {
    const int16_t type = table[i].type;
    if (type >= kKindStreetType && type <= kKindDirection && first[type] == 0) {
      first[type] = i;
      --missing;
    }
  }
  for (int kind = kKindStreetType; kind <= kKindDirection; ++kind) {
    WriteSegmentUtf8(table, kind, first[kind], *out[kind]);
  }
}

}  // namespace

void ReadFivePartsUtf8(const SegmentTable& table, std::string* (&out)[kKindDirection + 1]) {
  int first[kKindDirection + 1];
  ReadFiveParts(table, out, first);
}

void ReadFivePartsUtf8(const SegmentTable& table, std::string* (&out)[kKindDirection + 1],
                       int (&first)[kKindDirection + 1]) {
  ReadFiveParts(table, out, first);
}

void WriteSegmentUtf8(const SegmentTable& table, int kind, int found, std::string& out) {
  out.clear();
  if (found == 0) return;
  if (kind != kKindStreet) {
    AppendUtf16AsUtf8(table[found].text(), out);
    return;
  }
  // The street name: the first street word, then every later one through
  // the last record; empty words add nothing, not even a space. Each word
  // is written as UTF-8 on its own: the conversion of a text with an
  // unpaired surrogate differs from the word-by-word one only where a
  // surrogate pair would span two words, and a space always stands between.
  AppendUtf16AsUtf8(table[found].text(), out);
  for (int i = found + 1; i <= table.Count(); ++i) {
    const Segment& s = table[i];
    if (s.type != kKindStreet || s.text().empty()) continue;
    if (!out.empty()) out += ' ';
    AppendUtf16AsUtf8(s.text(), out);
  }
}

}  // namespace zarn::internal
