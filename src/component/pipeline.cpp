#include "component/pipeline.h"

#include "refdb/database_passes.h"
#include "rules/rules.h"
#include "segments/joined_number.h"
#include "segments/text_cleanup.h"
#include "segments/tokeniser.h"

namespace zarn::internal {

void AnalyzeAddress(std::u16string& text, SegmentTable& table, DatabaseSession& db) {
  CleanText(text);
  TokeniseAndFindStreetTypes(text, table, db);
  SplitJoinedNumber(table);
  MarkDashes(table);
  DropDashesBesideStreetType(table);
  ClassifyCharacters(table);
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
  ClassifyCharacters(table);
  NormaliseUnitNumber(table);
  if (table.CountUnclassified() > 0) MarkRemainingAsStreet(table);
}

std::u16string ReadSegment(const SegmentTable& table, int kind) {
  if (kind < kKindNone || kind > kKindDash) return {};
  const int found = table.FindSegmentOfKind(kind, 0);
  if (found == 0) return {};  // record 0 is always empty
  std::u16string result = table[found].contents;
  if (kind != kKindStreet) return result;
  // Street words after the first, through the last record; empty words add
  // nothing, not even a space.
  for (int i = found + 1; i <= table.Count(); ++i) {
    const Segment& s = table[i];
    if (s.type != kKindStreet || s.contents.empty()) continue;
    if (!result.empty()) result += u' ';
    result += s.contents;
  }
  return result;
}

}  // namespace zarn::internal
