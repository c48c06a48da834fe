// The gazetteer of Canadian municipalities and places (table Municipality
// of the reference database), by a folded key: which provinces hold a
// place of that name.
#ifndef ZARN_REFDB_GAZETTEER_H_
#define ZARN_REFDB_GAZETTEER_H_

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace zarn::internal {

// The thirteen provinces and territories, one bit each in a province mask.
inline constexpr int kProvinceCount = 13;
// Their symbols, in the order of the bits: NL NS PE NB QC ON MB SK AB BC YT
// NT NU.
extern const char16_t* const kProvinceSymbols[kProvinceCount];
// The bit index of a symbol ("QC", ASCII letters of either case), or -1.
int ProvinceIndex(std::u16string_view symbol);

// The key a name is found by: lower case, Latin-1 accents removed, hyphens
// and dashes as spaces, periods and apostrophes dropped, runs of spaces as one, and
// "saint", "sainte" and "mount" as "st", "ste" and "mt" ("Saint-Jérôme",
// "ST JEROME" and "St. Jerome" share a key). Appends to `out`.
void AppendGazetteerKey(std::u16string_view text, std::u16string& out);

struct TransparentKeyHash {
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

struct Gazetteer {
  // False when the database has no Municipality table (a file from before
  // it, or a user's own): the profile then parses without it.
  bool present = false;
  // The provinces (bit i = kProvinceSymbols[i]) holding a name with one
  // key: as any kind of place, and as a municipality (a row whose Kind is
  // not 'place').
  struct Provinces {
    uint16_t any = 0;
    uint16_t municipality = 0;
  };
  std::unordered_map<std::u16string, Provinces, TransparentKeyHash, std::equal_to<>> names;
  size_t longest_key = 0;

  // One bit per hash of every key (2^20 bits, 128 KiB), so that most keys
  // that are no name (most runs of words looked up) cost one read of a
  // table that stays in the cache instead of a walk through the map.
  static constexpr size_t kFilterBits = size_t{1} << 20;
  std::vector<uint64_t> filter = std::vector<uint64_t>(kFilterBits / 64);

  void Add(const std::u16string& key, uint16_t bit, bool municipality) {
    Provinces& entry = names[key];
    entry.any |= bit;
    if (municipality) entry.municipality |= bit;
    const size_t h = TransparentKeyHash{}(key) % kFilterBits;
    filter[h / 64] |= uint64_t{1} << (h % 64);
    if (key.size() > longest_key) longest_key = key.size();
  }

  // The provinces holding a place with this key (none when absent).
  Provinces Find(std::u16string_view key) const {
    if (key.size() > longest_key) return {};
    const size_t h = TransparentKeyHash{}(key) % kFilterBits;
    if ((filter[h / 64] & (uint64_t{1} << (h % 64))) == 0) return {};
    const auto it = names.find(key);
    return it == names.end() ? Provinces{} : it->second;
  }
};

}  // namespace zarn::internal

#endif  // ZARN_REFDB_GAZETTEER_H_
