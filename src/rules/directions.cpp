#include <string_view>

#include "rules/rules.h"

namespace zarn::internal {

namespace {

struct DirectionWord {
  std::u16string_view word;
  std::u16string_view stored;
};

constexpr DirectionWord kDirections[] = {
    {u"N", u"N"},     {u"NE", u"NE"},   {u"NW", u"NW"},  {u"S", u"S"},
    {u"SE", u"SE"},   {u"SW", u"SW"},   {u"E", u"E"},    {u"W", u"W"},
    {u"North", u"N"}, {u"South", u"S"}, {u"East", u"E"}, {u"West", u"W"},
    {u"Ouest", u"W"}, {u"Est", u"E"},   {u"Nord", u"N"}, {u"Sud", u"S"},
};

// A quick test passed by every word of kDirections (checked at compile
// time), so that most words are passed over without comparing.
constexpr bool MayBeDirection(std::u16string_view t) {
  if (t.empty() || t.size() > 5) return false;
  return t[0] == u'N' || t[0] == u'S' || t[0] == u'E' || t[0] == u'W' || t[0] == u'O';
}

constexpr bool EveryDirectionMayBeOne() {
  for (const DirectionWord& d : kDirections) {
    if (!MayBeDirection(d.word)) return false;
  }
  return true;
}
static_assert(EveryDirectionMayBeOne());

}  // namespace

int16_t MarkDirection(SegmentTable& table) {
  for (int i = table.Count(); i >= 1; --i) {
    Segment& s = table[i];
    if (!MayBeDirection(s.text())) continue;
    for (const DirectionWord& d : kDirections) {
      if (s.text() == d.word) {
        s.SetText(d.stored);
        s.type = kKindDirection;
        return static_cast<int16_t>(i);
      }
    }
  }
  return 0;
}

}  // namespace zarn::internal
