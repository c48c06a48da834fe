#include "platform/thread_scratch.h"
#include "refdb/database_passes.h"
#include "zarn/zarn.hpp"

namespace zarn::internal {

void ApplyAlternateDeliveryAddress(SegmentTable& table, DatabaseSession& db) {
  DatabaseSession::PassScope pass(db);
  if (!pass.connection().MayFindAlternateDeliveryAddress()) return;

  // The key: every street word in table order, one space between them (an
  // emptied street word still adds its space). The buffer is the thread's own
  // and keeps its storage between parses.
  ZARN_THREAD_SCRATCH std::u16string key;
  key.clear();
  const int16_t count = table.Count();
  for (int i = 1; i <= count; ++i) {
    const Segment& s = table[i];
    if (s.type != kKindStreet) continue;
    if (!key.empty()) key += u' ';
    key += s.text();
  }

  const DbText* delivery = pass.connection().AlternateDeliveryAddress(key);
  if (delivery == nullptr) return;
  if (delivery->is_null) {
    throw Error(kErrorInvalidUseOfNull, "Invalid use of Null (AlternateAddress.DeliveryAddress)");
  }
  const int16_t s = table.FindSegmentOfKind(kKindStreet, 0);
  if (s == 0) return;
  table[s].SetText(delivery->text);
  for (int i = s + 1; i <= count; ++i) {
    if (table[i].type == kKindStreet) table[i].EditText().clear();
  }
}

}  // namespace zarn::internal
