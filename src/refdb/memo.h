// The memo by word that the reference database's connections keep of their
// street-type look-ups.
#ifndef ZARN_REFDB_MEMO_H_
#define ZARN_REFDB_MEMO_H_

#include <bit>
#include <cstdint>
#include <cstring>
#include <deque>
#include <string>
#include <string_view>
#include <vector>

namespace zarn::internal {

// FNV-1a over the UTF-16 units: the keys are mostly short words, for which
// this inlines to a few instructions per character.
struct TransparentU16Hash {
  using is_transparent = void;
  size_t operator()(std::u16string_view s) const noexcept {
    uint64_t h = 14695981039346656037ull;
    for (char16_t c : s) {
      h ^= c;
      h *= 1099511628211ull;
    }
    return static_cast<size_t>(h);
  }
};

// The memo by word of the street-type look-ups, which run for every word of
// every address: open addressing over a power-of-two slot array kept at most
// half full (a mask instead of a division). A slot holds the word's hash
// tagged with its length and, for a word of at most kShortUnits units, the
// word itself zero-padded, so that a probe for a short word compares two
// 64-bit pairs and reads no entry but the one it returns; longer words are
// compared in their entry. Entries live in a deque, so an entry stays where
// it is while the memo grows.
//
// The memo is bounded by the bytes it holds as well as by its entries: the
// owner clears it when Full(), and words longer than kMaxWordUnits (longer
// than any street-type word) are never memoised, so that a caller sending
// long distinct words cannot make it hold their text.
template <typename V>
class WordMemo {
 public:
  static constexpr size_t kShortUnits = 8;
  static constexpr size_t kMaxWordUnits = 64;
  static constexpr size_t kMaxEntries = size_t{1} << 16;
  static constexpr size_t kMaxBytes = size_t{4} << 20;

  struct Entry {
    std::u16string word;
    V value;
  };

  size_t size() const { return count_; }
  // The bytes held by the entries (and their words), without the slots,
  // whose number follows the entries'.
  size_t bytes() const { return bytes_; }
  static bool Memoisable(std::u16string_view word) { return word.size() <= kMaxWordUnits; }
  // Whether `more` further entries would take the memo over its bounds.
  bool Full(size_t more = 1) const {
    return count_ + more > kMaxEntries || bytes_ + more * kMostEntryBytes > kMaxBytes;
  }
  void clear() {
    entries_.clear();
    count_ = 0;
    bytes_ = 0;
    slots_.assign(slots_.size(), Slot{});
  }
  // The entry of `word`, added with a default value when absent.
  Entry& Find(std::u16string_view word) {
    Slot probe;
    probe.tag = Tag(word, probe.key);
    if (!slots_.empty()) {
      const size_t mask = slots_.size() - 1;
      const bool is_short = word.size() <= kShortUnits;
      for (size_t i = probe.tag & mask; slots_[i].entry != nullptr; i = (i + 1) & mask) {
        const Slot& s = slots_[i];
        if (s.tag != probe.tag) continue;
        if (is_short ? (s.key[0] == probe.key[0] && s.key[1] == probe.key[1])
                     : SameUnits(s.entry->word, word)) {
          return *s.entry;
        }
      }
    }
    if (2 * (count_ + 1) > slots_.size()) Grow();
    Entry& added = entries_.emplace_back(Entry{std::u16string(word), V{}});
    ++count_;
    bytes_ += sizeof(Entry) + word.size() * sizeof(char16_t);
    probe.entry = &added;
    Place(probe);
    return added;
  }

  // Whether two texts hold the same units (a byte comparison, which for
  // equality is the same as comparing unit by unit).
  static bool SameUnits(std::u16string_view a, std::u16string_view b) {
    return a.size() == b.size() &&
           (a.empty() || std::memcmp(a.data(), b.data(), a.size() * sizeof(char16_t)) == 0);
  }

 private:
  struct Slot {
    uint64_t tag = 0;
    uint64_t key[2] = {0, 0};  // a short word's units, zero-padded
    Entry* entry = nullptr;    // null for an empty slot
  };

  // A hash of `word` with its length in the top 16 bits; `key` receives a
  // short word's units. Short words of different lengths never share a tag,
  // so equal tags and equal keys mean equal short words.
  static uint64_t Tag(std::u16string_view word, uint64_t (&key)[2]) {
    uint64_t h;
    if (word.size() <= kShortUnits) {
      // The units zero-padded into two 64-bit words (unit i at bits 16 * (i
      // % 4) of word i / 4), read with loads that stay within the word:
      // overlapping ones for five to eight units.
      const char16_t* d = word.data();
      const size_t n = word.size();
      uint64_t k0 = 0;
      uint64_t k1 = 0;
      if constexpr (std::endian::native != std::endian::little) {
        for (size_t i = 0; i < n; ++i) {
          (i < 4 ? k0 : k1) |= static_cast<uint64_t>(d[i]) << (16 * (i % 4));
        }
      } else if (n >= 4) {
        std::memcpy(&k0, d, 8);
        if (n > 4) {
          std::memcpy(&k1, d + n - 4, 8);
          k1 >>= 16 * (8 - n);
        }
      } else if (n >= 2) {
        uint32_t two = 0;
        std::memcpy(&two, d, 4);
        k0 = two;
        if (n == 3) k0 |= static_cast<uint64_t>(d[2]) << 32;
      } else if (n == 1) {
        k0 = d[0];
      }
      key[0] = k0;
      key[1] = k1;
      h = (key[0] * 0x9E3779B97F4A7C15ull) ^ ((key[1] + word.size()) * 0xC2B2AE3D27D4EB4Full);
      h ^= h >> 29;
      h *= 0xBF58476D1CE4E5B9ull;
      h ^= h >> 32;
    } else {
      h = TransparentU16Hash{}(word);
    }
    return (h & 0x0000FFFFFFFFFFFFull) | (static_cast<uint64_t>(word.size() & 0xFFFF) << 48);
  }

  void Grow() {
    std::vector<Slot> old(slots_.empty() ? 256 : 2 * slots_.size());
    old.swap(slots_);
    for (const Slot& s : old) {
      if (s.entry != nullptr) Place(s);
    }
  }
  void Place(const Slot& slot) {
    const size_t mask = slots_.size() - 1;
    size_t i = slot.tag & mask;
    while (slots_[i].entry != nullptr) i = (i + 1) & mask;
    slots_[i] = slot;
  }

  static constexpr size_t kMostEntryBytes = sizeof(Entry) + kMaxWordUnits * sizeof(char16_t);

  std::vector<Slot> slots_;
  std::deque<Entry> entries_;
  size_t count_ = 0;  // entries_.size(), which a deque computes with divisions
  size_t bytes_ = 0;
};

}  // namespace zarn::internal

#endif  // ZARN_REFDB_MEMO_H_
