// The kCanada profile's pipeline.
#include "component/pipeline.h"

namespace zarn::internal {

void AnalyzeAddressCanada(std::u16string& text, SegmentTable& table, DatabaseSession& db,
                          Diagnostics* diagnostics) {
  AnalyzeAddress(text, table, db);
  if (diagnostics == nullptr) return;
  if (table.FindSegmentOfKind(kKindStreetType, 1) == 0) diagnostics->flags |= kFlagNoStreetType;
  if (table.FindSegmentOfKind(kKindStreetNumber, 1) == 0) {
    diagnostics->flags |= kFlagNoStreetNumber;
  }
  if (table.FindSegmentOfKind(kKindStreet, 1) == 0) diagnostics->flags |= kFlagNoStreet;
}

}  // namespace zarn::internal
