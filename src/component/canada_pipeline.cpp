// The kCanada profile's pipeline: its own clean-up, the shared tokeniser,
// the profile's passes (src/rules/canada/, in the order of kCanadaPasses)
// and the two alternate-address passes of the reference database.
#include <iterator>
#include <utility>

#include "base/text.h"
#include "component/pipeline.h"
#include "platform/thread_scratch.h"
#include "refdb/database_passes.h"
#include "rules/canada/canada.h"
#include "rules/rules.h"
#include "segments/tokeniser.h"

namespace zarn::internal {

namespace canada {

const NamedPass kCanadaPasses[] = {
    {"SplitGluedTokens", SplitGluedTokens},         {"DescribeWords", DescribeWords},
    {"MarkWholeAddress", MarkWholeAddress},         {"MarkUnitsCanada", MarkUnitsCanada},
    {"MarkCivicNumber", MarkCivicNumber},           {"MarkTrailingUnit", MarkTrailingUnit},
    {"MarkDirectionCanada", MarkDirectionCanada},   {"MarkStreetTypeCanada", MarkStreetTypeCanada},
    {"MarkStreetNameCanada", MarkStreetNameCanada},
};
const int kCanadaPassCount = static_cast<int>(std::size(kCanadaPasses));

}  // namespace canada

namespace {

void NoteMissingParts(const SegmentTable& table, const canada::WholeAddress& whole,
                      uint32_t& flags) {
  const int type = table.FindSegmentOfKind(kKindStreetType, 1);
  const int number = table.FindSegmentOfKind(kKindStreetNumber, 1);
  const int street = table.FindSegmentOfKind(kKindStreet, 1);
  // A delivery form alone ("PO Box 4001 Stn A") is a whole delivery line:
  // no street is missing from it.
  const bool delivery =
      !whole.po_box.empty() || !whole.rural_route.empty() || !whole.general_delivery.empty();
  if (delivery && type == 0 && number == 0 && street == 0) return;
  if (type == 0) flags |= kFlagNoStreetType;
  if (number == 0) flags |= kFlagNoStreetNumber;
  if (street == 0) flags |= kFlagNoStreet;
}

}  // namespace

void AnalyzeAddressCanada(std::u16string& text, SegmentTable& table, DatabaseSession& db,
                          Diagnostics* diagnostics, AddressParts* whole,
                          WordPositions (*whole_words)[kWholeFieldCount]) {
  ZARN_THREAD_SCRATCH canada::State state;
  state.flags = 0;
  state.whole.record = whole_words != nullptr;
  canada::CleanTextCanada(text, state.scratch);
  Tokenise(text, table);
  canada::Context context{table, state, db};
  for (const canada::NamedPass& pass : canada::kCanadaPasses) pass.run(context);

  // Words no pass placed keep the kind None and join no part.
  if (diagnostics != nullptr) {
    for (int i = 1; i <= table.Count(); ++i) {
      const Segment& s = table[i];
      if (s.type != kKindNone || s.text().empty()) continue;
      diagnostics->unplaced_words.push_back(Utf16ToUtf8(s.text()));
      state.flags |= kFlagUnknownWords;
    }
  }

  // The database's alternate addresses, as for the default rules (only when
  // the database holds any, so that its Mall reading of the civic number
  // applies only together with them).
  bool may_find = false;
  {
    DatabaseSession::PassScope pass(db);
    may_find = pass.connection().MayFindAlternateStreetAddress();
  }
  if (may_find) ApplyAlternateStreetAddress(table, db);
  ApplyAlternateDeliveryAddress(table, db);
  ClassifyCharacters(table);
  NormaliseUnitNumber(table);

  if (whole != nullptr) {
    const canada::WholeAddress& w = state.whole;
    const std::pair<const std::u16string*, std::string*> fields[] = {
        {&w.po_box, &whole->po_box},
        {&w.rural_route, &whole->rural_route},
        {&w.general_delivery, &whole->general_delivery},
        {&w.station, &whole->station},
        {&w.municipality, &whole->municipality},
        {&w.province, &whole->province},
        {&w.postal_code, &whole->postal_code},
    };
    for (const auto& [from, to] : fields) {
      to->clear();
      AppendUtf16AsUtf8(*from, *to);
    }
  }
  if (whole_words != nullptr) {
    static_assert(canada::WholeAddress::kPartCount == kWholeFieldCount);
    // Swapped, so that both keep their storage for the next parse.
    for (int k = 0; k < kWholeFieldCount; ++k) (*whole_words)[k].swap(state.whole.words[k]);
  }

  if (diagnostics == nullptr) return;
  NoteMissingParts(table, state.whole, state.flags);
  diagnostics->flags |= state.flags;
}

}  // namespace zarn::internal
