#include "segments/source_map.h"

#include <utf8.h>

namespace zarn::internal {

namespace {

// What a clean-up does with each byte.
enum Action : uint8_t {
  kKeep = 0,    // a character of a word
  kSpace = 1,   // a space, or a character the clean-up turns into one
  kDrop = 2,    // a character the clean-up removes
  kSpaced = 3,  // a character the clean-up sets apart between two spaces
  kMulti = 4,   // the first byte of a multi-byte character
};

struct Actions {
  uint8_t of[256] = {};
};

constexpr Actions MakeActions(CleanUp kind) {
  Actions a;
  for (int b = 0x80; b < 256; ++b) a.of[b] = kMulti;
  a.of[static_cast<unsigned char>(' ')] = kSpace;
  if (kind == CleanUp::kSpecified) {
    // CleanText: dashes spaced, "." and "'" removed, "," and "*" blanked.
    a.of[static_cast<unsigned char>('-')] = kSpaced;
    a.of[static_cast<unsigned char>('.')] = kDrop;
    a.of[static_cast<unsigned char>('\'')] = kDrop;
    a.of[static_cast<unsigned char>(',')] = kSpace;
    a.of[static_cast<unsigned char>('*')] = kSpace;
  } else {
    // CleanTextCanada: "." removed, "," ";" "#" set apart, separators
    // blanked (the no-break space, a multi-byte character, below).
    a.of[static_cast<unsigned char>('.')] = kDrop;
    for (char c : {',', ';', '#'}) a.of[static_cast<unsigned char>(c)] = kSpaced;
    for (char c : {'*', ':', '(', ')', '"', '\t', '\r', '\n'}) {
      a.of[static_cast<unsigned char>(c)] = kSpace;
    }
  }
  return a;
}

constexpr Actions kSpecifiedActions = MakeActions(CleanUp::kSpecified);
constexpr Actions kCanadaActions = MakeActions(CleanUp::kCanada);

}  // namespace

void MapTokenisedText(std::string_view address, CleanUp kind, SourceMap& map) {
  const uint8_t* const actions =
      kind == CleanUp::kCanada ? kCanadaActions.of : kSpecifiedActions.of;
  const auto* const bytes = reinterpret_cast<const unsigned char*>(address.data());
  const auto n = static_cast<uint32_t>(address.size());
  // The text up to the first character the clean-up or the collapsing of
  // spaces changes is the address itself, unit for byte (most addresses
  // hold no such character at all).
  bool after_space = true;  // a leading space is a change
  uint32_t i = 0;
  for (; i < n; ++i) {
    const unsigned char c = bytes[i];
    if (c == ' ') {
      if (after_space) break;
      after_space = true;
    } else if (actions[c] != kKeep) {
      break;
    } else {
      after_space = false;
    }
  }
  map.prefix = i;
  size_t o = i;
  if (i < n) {
    // At most three units a byte (a character set apart between spaces).
    const size_t room = 3 * address.size() + 1;
    if (map.begin.size() < room) map.begin.resize(room);
  }
  uint32_t* const begin = map.begin.data();
  while (i < n) {
    switch (actions[bytes[i]]) {
      case kKeep:
        // The rest of the run of word characters.
        do {
          begin[o++] = i++;
        } while (i < n && actions[bytes[i]] == kKeep);
        after_space = false;
        break;
      case kSpace:
        if (!after_space) begin[o++] = i;
        after_space = true;
        ++i;
        break;
      case kDrop: ++i; break;
      case kSpaced:
        if (!after_space) begin[o++] = i;
        begin[o++] = i;
        begin[o++] = i;
        after_space = true;
        ++i;
        break;
      default: {
        // The parse has checked the text as UTF-8.
        const unsigned char* at = bytes + i;
        const uint32_t cp = utf8::unchecked::next(at);
        const auto next = static_cast<uint32_t>(at - bytes);
        if (kind == CleanUp::kCanada && cp == 0x00A0) {
          if (!after_space) begin[o++] = i;
          after_space = true;
        } else {
          begin[o++] = i;
          // Beyond the Basic Multilingual Plane: two UTF-16 units.
          if (cp > 0xFFFF) begin[o++] = i;
          after_space = false;
        }
        i = next;
      }
    }
  }
  // The canada clean-up trims trailing spaces before the text is cut; the
  // specified one leaves the last (an empty last word, mapped to nothing).
  if (kind == CleanUp::kCanada && after_space && o > 0) --o;
  map.count = o;
  if (map.prefix > o) map.prefix = o;
}

}  // namespace zarn::internal
