// Where each unit of the text as tokenised came from in the UTF-8 address
// as given: the clean-up of either profile and the collapsing of spaces
// replayed byte by byte, remembering each unit's character. The specified
// rules' one-pass front end fills the same map while it cuts the text
// (CleanAndTokeniseUtf8 with a map); the replay serves the canada profile
// and the texts that pass leaves to the stages. Used only when a caller
// asks where the parts came from, so that a parse that does not ask pays
// nothing for it.
#ifndef ZARN_SEGMENTS_SOURCE_MAP_H_
#define ZARN_SEGMENTS_SOURCE_MAP_H_

#include <cstdint>
#include <string_view>
#include <vector>

namespace zarn::internal {

// Which clean-up produced the text: CleanText (the specified rules) or
// CleanTextCanada (the canada profile).
enum class CleanUp { kSpecified, kCanada };

// The number of bytes of the UTF-8 character whose first byte is `lead`.
inline uint32_t Utf8Length(unsigned char lead) {
  return lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
}

struct SourceMap {
  // Units below `prefix` (at most `count`) are the bytes of the same
  // number: ASCII that the clean-up leaves as it is, with single spaces
  // between words and none before them (the whole of most addresses). From `prefix` on, begin[k]
  // is the first byte of the character that unit k (0-based) of the
  // tokenised text came from (a space written by the clean-up in place of a
  // character, or around one it sets apart, maps to that character). Room
  // kept between calls; `count` units in all.
  size_t prefix = 0;
  std::vector<uint32_t> begin;
  size_t count = 0;

  // The map's fields as they are, to read it by (valid while the map is
  // not changed).
  struct View {
    size_t prefix;
    const uint32_t* begin;
    size_t count;

    uint32_t ByteOf(size_t unit) const {
      return unit < prefix ? static_cast<uint32_t>(unit) : begin[unit];
    }

    // The bytes of the tokenised positions first..last (1-based, inclusive,
    // as Segment::start and Segment::end hold them) in `address`, the text
    // the map was made from; false when they are no word of the text (an
    // empty word, or a segment that no word made).
    bool Bytes(std::string_view address, int first, int last, uint32_t* from, uint32_t* to) const {
      if (first < 1 || last < first) return false;
      if (static_cast<size_t>(last) <= prefix) {
        // Word characters as typed (ASCII), or the spaces between them.
        *from = static_cast<uint32_t>(first - 1);
        *to = static_cast<uint32_t>(last);
        return true;
      }
      if (static_cast<size_t>(last) > count) return false;
      *from = ByteOf(static_cast<size_t>(first - 1));
      const uint32_t at = ByteOf(static_cast<size_t>(last - 1));
      *to = at + Utf8Length(static_cast<unsigned char>(address[at]));
      return true;
    }
  };
  View Viewed() const { return View{prefix, begin.data(), count}; }

  uint32_t ByteOf(size_t unit) const { return Viewed().ByteOf(unit); }
  bool Bytes(std::string_view address, int first, int last, uint32_t* from, uint32_t* to) const {
    return Viewed().Bytes(address, first, last, from, to);
  }
};

// Replays the clean-up `kind` and Tokenise's collapsing of spaces on
// `address`, which must be valid UTF-8 (the parse has already checked it).
void MapTokenisedText(std::string_view address, CleanUp kind, SourceMap& map);

}  // namespace zarn::internal

#endif  // ZARN_SEGMENTS_SOURCE_MAP_H_
