// Letter folding, the profile's word lists and small table helpers.
#include <algorithm>
#include <deque>
#include <vector>

#include "refdb/reference_database.h"
#include "rules/canada/canada.h"

namespace zarn::internal::canada {

namespace {

enum Placement { kUnitFollows, kUnitWithDigitFollows, kUnitPrecedes };
struct DesignatorRow {
  std::u16string_view word;
  Placement placement;
};
struct DirectionRow {
  std::u16string_view word;
  std::u16string_view direction;
};
struct ExtraStreetTypeRow {
  std::u16string_view form;
  std::u16string_view delivery;
  bool french;
};

#include "canada_tables.inc"

// Latin-1 letters U+00C0..U+00FF without their accents, in lower case.
constexpr char16_t kLatin1Folded[64] = {
    u'a',      u'a',      u'a',      u'a',      u'a', u'a',      u'\u00e6', u'c', u'e',      u'e',
    u'e',      u'e',      u'i',      u'i',      u'i', u'i',      u'\u00f0', u'n', u'o',      u'o',
    u'o',      u'o',      u'o',      u'\u00d7', u'o', u'u',      u'u',      u'u', u'u',      u'y',
    u'\u00fe', u'\u00df', u'a',      u'a',      u'a', u'a',      u'a',      u'a', u'\u00e6', u'c',
    u'e',      u'e',      u'e',      u'e',      u'i', u'i',      u'i',      u'i', u'\u00f0', u'n',
    u'o',      u'o',      u'o',      u'o',      u'o', u'\u00f7', u'o',      u'u', u'u',      u'u',
    u'u',      u'y',      u'\u00fe', u'y',
};

class Lists {
 public:
  Lists() {
    for (const DesignatorRow& r : kDesignatorRows) {
      Entry(r.word).traits |= r.placement == kUnitFollows            ? kTraitDesignatorBefore
                              : r.placement == kUnitWithDigitFollows ? kTraitDesignatorDigit
                                                                     : kTraitDesignatorAfter;
    }
    for (const DirectionRow& r : kDirectionRows) {
      ListEntry& e = Entry(r.word);
      e.traits |= kTraitDirection;
      e.direction = r.direction;
    }
    for (std::u16string_view w : kParticles) Entry(w).traits |= kTraitParticle;
    for (std::u16string_view w : kNamePrefixes) Entry(w).traits |= kTraitNamePrefix;
    for (std::u16string_view w : kFrenchGenerics) Entry(w).traits |= kTraitFrenchGeneric;
    for (std::u16string_view w : kFrenchOnlyGenerics) Entry(w).traits |= kTraitFrenchOnly;
    for (std::u16string_view w : kRouteTypes) Entry(w).traits |= kTraitRouteType;
    for (std::u16string_view w : kUsOnlyTypes) Entry(w).us_only_type = true;
    for (const ExtraStreetTypeRow& r : kExtraStreetTypeRows) {
      ListEntry& e = Entry(r.form);
      e.extra_type = r.delivery;
      e.extra_type_french = r.french;
      // The delivery form carries the French and route traits of its own row.
      if (r.french) Entry(r.delivery).traits |= kTraitFrenchGeneric;
    }
    ForEachWholeAddressWord([](std::u16string_view word, uint32_t trait,
                               void* to) { static_cast<Lists*>(to)->Entry(word).traits |= trait; },
                            this);
    for (std::u16string_view w : kOrdinalSuffixes) {
      std::u16string folded;
      FoldInto(w, folded);
      ordinal_suffixes_.push_back(std::move(folded));
    }
    BuildIndex();
  }

  const ListEntry* Find(std::u16string_view folded) const {
    if (folded.size() > longest_) return nullptr;
    const size_t hash = TransparentU16Hash{}(folded);
    for (size_t i = hash & mask_; slots_[i].entry != nullptr; i = (i + 1) & mask_) {
      if (slots_[i].hash == hash && slots_[i].key == folded) return slots_[i].entry;
    }
    return nullptr;
  }
  const std::vector<std::u16string>& ordinal_suffixes() const { return ordinal_suffixes_; }

 private:
  ListEntry& Entry(std::u16string_view word) {
    std::u16string folded;
    FoldInto(word, folded);
    for (size_t i = 0; i < keys_.size(); ++i) {
      if (keys_[i] == folded) return entries_[i];
    }
    keys_.push_back(std::move(folded));
    return entries_.emplace_back();
  }

  // Open addressing over a power-of-two array kept at most a quarter full,
  // built once all entries are known: the look-up runs for every word.
  void BuildIndex() {
    size_t size = 16;
    while (size < 4 * keys_.size()) size *= 2;
    slots_.assign(size, Slot{});
    mask_ = size - 1;
    for (size_t k = 0; k < keys_.size(); ++k) {
      const size_t hash = TransparentU16Hash{}(keys_[k]);
      size_t i = hash & mask_;
      while (slots_[i].entry != nullptr) i = (i + 1) & mask_;
      slots_[i] = Slot{hash, keys_[k], &entries_[k]};
      longest_ = std::max(longest_, keys_[k].size());
    }
  }

  struct Slot {
    size_t hash = 0;
    std::u16string_view key;
    const ListEntry* entry = nullptr;
  };
  // Keys and entries in deques, so that neither moves while the lists grow.
  std::deque<std::u16string> keys_;
  std::deque<ListEntry> entries_;
  std::vector<Slot> slots_;
  size_t mask_ = 0;
  size_t longest_ = 0;
  std::vector<std::u16string> ordinal_suffixes_;
};

const Lists& TheLists() {
  static const Lists lists;
  return lists;
}

}  // namespace

char16_t FoldChar(char16_t c) {
  if (c < 0x80) return c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c + 32) : c;
  if (c >= 0xC0 && c <= 0xFF) return kLatin1Folded[c - 0xC0];
  if (c == 0x152) return 0x153;  // OE ligature
  if (c == 0x2019) return u'\'';
  return c;
}

void FoldInto(std::u16string_view text, std::u16string& out) {
  out.resize(text.size());
  for (size_t i = 0; i < text.size(); ++i) out[i] = FoldChar(text[i]);
}

void DatabaseKeyInto(std::u16string_view text, std::u16string& out) {
  out.resize(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    char16_t c = text[i];
    const bool upper = (c >= u'A' && c <= u'Z') || (c >= 0xC0 && c <= 0xDE && c != 0xD7);
    const bool lower = (c >= u'a' && c <= u'z') || (c >= 0xE0 && c <= 0xFE && c != 0xF7);
    if (i == 0 && lower) c = static_cast<char16_t>(c - 32);
    if (i > 0 && upper) c = static_cast<char16_t>(c + 32);
    if (c == 0x152 && i > 0) c = 0x153;
    if (c == 0x153 && i == 0) c = 0x152;
    out[i] = c;
  }
}

const ListEntry* FindListEntry(std::u16string_view folded) { return TheLists().Find(folded); }

bool IsOrdinal(std::u16string_view folded) {
  size_t digits = 0;
  while (digits < folded.size() && IsDigit(folded[digits])) ++digits;
  if (digits == 0 || digits == folded.size()) return false;
  const std::u16string_view suffix = folded.substr(digits);
  for (const std::u16string& s : TheLists().ordinal_suffixes()) {
    if (suffix == s) return true;
  }
  return false;
}

std::pair<int, int> FindStreetLine(const Context& c) {
  const SegmentTable& table = c.table;
  const int n = table.Count();
  const int civic = table.FindSegmentOfKind(kKindStreetNumber, 1);
  int first = civic != 0 ? civic + 1 : 1;
  while (first <= n && table[first].type != kKindNone) ++first;
  int last = first;
  while (last <= n && table[last].type == kKindNone) {
    if (c.state.words[static_cast<size_t>(last)].Is(kTraitCommaAfter)) return {first, last};
    ++last;
  }
  return {first, last - 1};
}

void EraseSegment(Context& c, int index) {
  const size_t old_count = static_cast<size_t>(c.table.Count());
  c.table.DeleteSegment(index);
  auto& words = c.state.words;
  // Rotate the word behind the others rather than destroying it, so that its
  // string storage serves the next parse.
  for (size_t i = static_cast<size_t>(index); i < old_count && i + 1 < words.size(); ++i) {
    std::swap(words[i], words[i + 1]);
  }
}

void InsertSegmentText(Context& c, int index, std::u16string_view text) {
  c.table.InsertSegment(index);
  Segment& s = c.table[index];
  s.EditText().assign(text);
  s.len = CheckedPosition(s.text().size());
  auto& words = c.state.words;
  if (words.size() < static_cast<size_t>(c.table.Count()) + 1) words.resize(c.table.Count() + 1);
  for (size_t i = static_cast<size_t>(c.table.Count()); i > static_cast<size_t>(index); --i) {
    std::swap(words[i], words[i - 1]);
  }
  words[static_cast<size_t>(index)].traits = 0;
}

}  // namespace zarn::internal::canada
