#include <string_view>

#include "platform/thread_scratch.h"
#include "refdb/database_passes.h"

namespace zarn::internal {

using namespace std::string_view_literals;

void ApplyAlternateStreetAddress(SegmentTable& table, DatabaseSession& db) {
  DatabaseSession::PassScope pass(db);

  // Mall rule: on a Mall the civic number is a unit number.
  const int16_t k = table.FindSegmentOfKind(kKindStreetType, 0);
  if (table.At(k).text() == u"Mall"sv) {
    const int16_t n = table.FindSegmentOfKind(kKindStreetNumber, 0);
    if (n > 0) table[n].type = kKindUnit;
  }
  if (!pass.connection().MayFindAlternateStreetAddress()) return;

  // The key: number, street and street-type words in table order, each
  // after one space once the key is not empty (empty words included). The
  // buffer is the thread's own and keeps its storage between parses.
  ZARN_THREAD_SCRATCH std::u16string key;
  key.clear();
  const int16_t count = table.Count();
  for (int i = 1; i <= count; ++i) {
    const Segment& s = table[i];
    if (s.type != kKindStreetNumber && s.type != kKindStreet && s.type != kKindStreetType) {
      continue;
    }
    if (!key.empty()) key += u' ';
    key += s.text();
  }

  const DeliveryRow* row = pass.connection().AlternateStreetAddress(key);
  if (row == nullptr) return;

  bool number_done = false;
  bool street_done = false;
  bool type_done = false;
  for (int i = 1; i <= count; ++i) {
    Segment& s = table[i];
    switch (s.type) {
      case kKindStreetType:
        if (!row->type.is_null) s.SetText(row->type.text);
        type_done = true;
        break;
      case kKindStreet:
        if (street_done) {
          s.EditText().clear();
        } else {
          if (!row->street.is_null) s.SetText(row->street.text);
          street_done = true;
        }
        break;
      case kKindStreetNumber:
        if (!row->number.is_null) s.SetText(row->number.text);
        number_done = true;
        break;
      default: break;
    }
  }
  if (!number_done) {
    table.InsertSegment(1);
    if (!row->number.is_null) table[1].SetText(row->number.text);
    table[1].type = kKindStreetNumber;
  }
  if (!type_done) {
    table.InsertSegment(1);
    if (!row->type.is_null) table[1].SetText(row->type.text);
    table[1].type = kKindStreetType;
  }
}

}  // namespace zarn::internal
