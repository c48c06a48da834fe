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

}  // namespace

int16_t MarkDirection(SegmentTable& table) {
  for (int i = table.Count(); i >= 1; --i) {
    Segment& s = table[i];
    for (const DirectionWord& d : kDirections) {
      if (s.contents == d.word) {
        s.contents = d.stored;
        s.type = kKindDirection;
        return static_cast<int16_t>(i);
      }
    }
  }
  return 0;
}

}  // namespace zarn::internal
