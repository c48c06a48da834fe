#include <string_view>

#include "rules/rules.h"
#include "segments/text_cleanup.h"
#include "segments/tokeniser.h"

namespace zarn::internal {

using namespace std::string_view_literals;

namespace {

// Removed in this order, each at most once: "ieme" before "eme" so that
// "2ieme" loses its "i" too.
constexpr std::u16string_view kSuffixes[] = {
    u"th", u"st", u"nd", u"rd", u"ieme", u"eme", u"TH", u"ST", u"ND", u"RD", u"IEME", u"EME",
};

bool IsStreetOrUnit(const Segment& s) { return s.type == kKindStreet || s.type == kKindUnit; }

}  // namespace

void StripOrdinalSuffixes(SegmentTable& table) {
  const int count = table.Count();
  // The class of a segment is recomputed whenever its text changes, so each
  // test below reads the class of the current text.
  ClassifyChanged(table);
  for (int i = 1; i <= count; ++i) {
    Segment& s = table[i];
    if (IsStreetOrUnit(s) && s.char_class == kClassMixed) {
      bool changed = false;
      for (std::u16string_view suffix : kSuffixes) changed |= RemoveFirstInPlace(s, suffix);
      if (changed) ClassifySegment(s);
    }
    if (s.char_class == kClassMixed && IsStreetOrUnit(s) &&
        s.text().find(u"1ere") != std::u16string::npos) {
      RemoveFirstInPlace(s, u"ere");
      ClassifySegment(s);
    }
    if (s.text() == u"th"sv || s.text() == u"nd"sv) s.type = kKindSuffixWord;
  }
}

}  // namespace zarn::internal
