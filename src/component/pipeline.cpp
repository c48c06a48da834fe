#include "component/pipeline.h"

#include "component/text.h"
#include "refdb/database_passes.h"
#include "rules/rules.h"
#include "segments/joined_number.h"
#include "segments/text_cleanup.h"
#include "segments/tokeniser.h"

namespace zarn::internal {

namespace {

// Every pass after the clean-up and tokenising.
void ClassifyTokens(SegmentTable& table, DatabaseSession& db) {
  FindStreetTypes(table, db);
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

}  // namespace

void AnalyzeAddress(std::u16string& text, SegmentTable& table, DatabaseSession& db) {
  CleanText(text);
  Tokenise(text, table);
  ClassifyTokens(table, db);
}

void AnalyzeAddressUtf8(std::string_view address, std::u16string& text, SegmentTable& table,
                        DatabaseSession& db) {
  if (!CleanAndTokeniseUtf8(address, text, table)) {
    Utf8ToUtf16(address, text);
    CleanText(text);
    Tokenise(text, table);
  }
  ClassifyTokens(table, db);
}

namespace {

// The street name: the first street word, then every later one through the
// last record; empty words add nothing, not even a space.
void JoinStreet(const SegmentTable& table, int found, std::u16string& result) {
  result = table[found].contents;
  for (int i = found + 1; i <= table.Count(); ++i) {
    const Segment& s = table[i];
    if (s.type != kKindStreet || s.contents.empty()) continue;
    if (!result.empty()) result += u' ';
    result += s.contents;
  }
}

}  // namespace

void ReadSegmentUtf8(const SegmentTable& table, int kind, std::u16string& scratch,
                     std::string& out) {
  const int found = kind < kKindNone || kind > kKindDash ? 0 : table.FindSegmentOfKind(kind, 0);
  if (found == 0) {
    out.clear();
  } else if (kind != kKindStreet) {
    Utf16ToUtf8(table[found].contents, out);
  } else {
    JoinStreet(table, found, scratch);
    Utf16ToUtf8(scratch, out);
  }
}

}  // namespace zarn::internal
