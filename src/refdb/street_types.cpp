#include <string_view>
#include <vector>

#include "base/text.h"
#include "platform/thread_scratch.h"
#include "refdb/database_passes.h"
#include "segments/tokeniser.h"
#include "zarn/zarn.hpp"

namespace zarn::internal {

using namespace std::string_view_literals;

void TokeniseAndFindStreetTypes(std::u16string& text, SegmentTable& table, DatabaseSession& db) {
  Tokenise(text, table);
  FindStreetTypes(table, db);
}

namespace {

// A word found as an alternate form becomes a street-type word, written in
// its delivery form unless it is exactly "St".
void ApplyAlternate(Segment& s, const DbText& desc) {
  s.type = kKindStreetType;
  if (s.text() == u"St"sv) return;
  if (desc.is_null) {
    throw Error(kErrorInvalidUseOfNull,
                "Invalid use of Null (qryAlternateStreetTypes.StreetTypeDesc for \"" +
                    Utf16ToUtf8(s.text()) + "\")");
  }
  s.SetText(desc.text);
}

}  // namespace

void FindStreetTypes(SegmentTable& table, DatabaseSession& db) {
  const int16_t n = table.Count();
  DatabaseSession::PassScope pass(db);
  Connection& connection = pass.connection();
  connection.ReserveWords(n);
  // Each word is found in the memo once, for both look-ups. The array is the
  // thread's own and keeps its storage between parses.
  ZARN_THREAD_SCRATCH std::vector<Connection::StreetTypeEntry*> entries;
  entries.resize(static_cast<size_t>(n) + 1);
  bool all_known = true;  // both answers of every word are in the memo
  for (int i = n; i >= 1; --i) {
    Connection::StreetTypeEntry* e = connection.FindWord(table[i].text());
    entries[static_cast<size_t>(i)] = e;
    all_known = all_known && e != nullptr && e->in_table >= 0 && e->has_alternate >= 0;
  }

  if (all_known) {
    // No statement runs, so nothing can fail but a Null alternate form, at
    // the same word as below: both questions are answered word by word.
    for (int i = n; i >= 1; --i) {
      const Connection::StreetTypeEntry& e = *entries[static_cast<size_t>(i)];
      if (e.in_table == 1) table[i].type = kKindStreetType;
      if (e.has_alternate == 1) ApplyAlternate(table[i], e.alternate);
    }
  } else {
    // Words of the StreetType table, from the last word to the first.
    for (int i = n; i >= 1; --i) {
      if (connection.StreetTypeExists(entries[static_cast<size_t>(i)], table[i].text())) {
        table[i].type = kKindStreetType;
      }
    }
    // Alternate forms. A word found by both look-ups is one street-type word
    // and counts once.
    for (int i = n; i >= 1; --i) {
      Segment& s = table[i];
      const DbText* desc =
          connection.AlternateStreetType(entries[static_cast<size_t>(i)], s.text());
      if (desc != nullptr) ApplyAlternate(s, *desc);
    }
  }
  // All but the last street-type word become part of the street name.
  int last = n;
  while (last >= 1 && table[last].type != kKindStreetType) --last;
  for (int i = 1; i < last; ++i) {
    if (table[i].type == kKindStreetType) table[i].type = kKindStreet;
  }
  // A street-type "St" is written in full, on the only street-type word left.
  if (last >= 1 && table[last].text() == u"St"sv) table[last].SetText(u"Street");
}

}  // namespace zarn::internal
