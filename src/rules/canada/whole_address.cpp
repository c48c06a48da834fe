// A whole Canadian address: the street or delivery line, then the
// municipality, province and postal code, as Canada Post's address block
// flattened to one line ("123 Main St, Winnipeg, MB R3C 1A1", "PO Box 4001
// Stn A, Toronto ON M5W 1A1", "GD STN MAIN WHITEHORSE YT Y1A 1A1").
//
// Read from the end, as the block is written:
// 1. a trailing "Canada" goes with nothing;
// 2. the postal code (A9A 9A9, with or without the space, any case) and the
//    province or territory (its symbol, English or French name, or a common
//    abbreviation: Ont, Qué, PQ, B.C., C.-B., N.-B., T.N.-O.), in either
//    order (some provincial files write the province last). Without a postal
//    code a province needs a comma before it, or a municipality of that
//    province or one after the end of a street line before it, so that a
//    street line ending in a name such as "rue Ontario" keeps it;
// 3. the delivery forms, anywhere before them: PO box (PO BOX n, P.O. Box n,
//    BOX n, CP n, C.P. n, Case postale n), rural route (RR n, R.R. #n, Rural
//    Route n, Route rurale n; SS n and MR n keep their kind), general
//    delivery (GD, General Delivery, PR, Poste restante), then the delivery
//    installation after them (STN/Station/SUCC/Succursale, RPO/CSP, PO/BDP,
//    LCD/PDF, CMC/CPC, CDO/CC) with its name, and SITE n COMP n. A civic
//    address may stand beside them; both are kept;
// 4. the municipality: the words before the province and postal code after
//    the last comma (when they look like a name), else the longest run of
//    words found in the gazetteer (the Municipality table) for the
//    province, else the words after the end of the street line (a street
//    type, a direction, a number, a delivery form).
// Every word taken gets the kind kKindWhole, so that the street-line passes
// after this one never see it.
#include <algorithm>
#include <optional>
#include <vector>

#include "refdb/gazetteer.h"
#include "rules/canada/canada.h"
#include "zarn/zarn.hpp"

namespace zarn::internal::canada {

namespace {

const Word& WordAt(const Context& c, int i) { return c.state.words[static_cast<size_t>(i)]; }
const std::u16string& TextAt(const Context& c, int i) { return c.table[i].text(); }
bool Free(const Context& c, int i) {
  return i >= 1 && i <= c.table.Count() && c.table[i].type == kKindNone && !TextAt(c, i).empty();
}
void Take(Context& c, int first, int last) {
  for (int i = first; i <= last; ++i) c.table[i].type = kKindWhole;
}
// Notes words first..last as where `part` came from, when asked to.
void Note(Context& c, WholeAddress::Part part, int first, int last) {
  WholeAddress& whole = c.state.whole;
  if (!whole.record) return;
  for (int i = std::max(first, 1); i <= last && i <= c.table.Count(); ++i) {
    const Segment& s = c.table[i];
    if (s.start > 0) whole.words[part].emplace_back(s.start, s.end);
  }
}
void AppendWords(const Context& c, int first, int last, std::u16string& out) {
  for (int i = first; i <= last; ++i) {
    if (!out.empty()) out += u' ';
    out += TextAt(c, i);
  }
}

// ---- Postal code -------------------------------------------------------

bool IsAsciiLetter(char16_t ch) { return (ch >= u'A' && ch <= u'Z') || (ch >= u'a' && ch <= u'z'); }
char16_t Upper(char16_t ch) {
  return ch >= u'a' && ch <= u'z' ? static_cast<char16_t>(ch - 32) : ch;
}

// "A9A" (the first half) or "9A9" (the second).
bool IsHalf(std::u16string_view t, bool first) {
  if (t.size() != 3) return false;
  for (size_t k = 0; k < 3; ++k) {
    const bool letter_here = (k % 2 == 0) == first;
    if (letter_here ? !IsAsciiLetter(t[k]) : !IsDigit(t[k])) return false;
  }
  return true;
}

// The postal code ending at word `last`: its first word (0 for none), with
// the code written "A9A 9A9" into `out`.
int FindPostalCode(const Context& c, int last, std::u16string& out) {
  if (!Free(c, last)) return 0;
  const std::u16string_view t = TextAt(c, last);
  int first = 0;
  std::u16string_view a, b;
  if (t.size() == 6 && IsHalf(t.substr(0, 3), true) && IsHalf(t.substr(3), false)) {
    first = last;
    a = t.substr(0, 3);
    b = t.substr(3);
  } else if (t.size() == 7 && t[3] == u'-' && IsHalf(t.substr(0, 3), true) &&
             IsHalf(t.substr(4), false)) {
    first = last;
    a = t.substr(0, 3);
    b = t.substr(4);
  } else if (IsHalf(t, false) && Free(c, last - 1) && IsHalf(TextAt(c, last - 1), true)) {
    first = last - 1;
    a = TextAt(c, last - 1);
    b = t;
  } else {
    return 0;
  }
  // Something must stand before it: a lone code is no address.
  if (first < 2) return 0;
  out.clear();
  for (char16_t ch : a) out += Upper(ch);
  out += u' ';
  for (char16_t ch : b) out += Upper(ch);
  return first;
}

// Canada Post never uses D F I O Q U, nor W or Z first.
bool PostalCodeValid(std::u16string_view code) {
  for (size_t k : {size_t{0}, size_t{2}, size_t{5}}) {
    const char16_t ch = code[k];
    if (ch == u'D' || ch == u'F' || ch == u'I' || ch == u'O' || ch == u'Q' || ch == u'U') {
      return false;
    }
  }
  return code[0] != u'W' && code[0] != u'Z';
}

// The provinces whose postal codes begin with `first` (a province mask).
uint16_t ProvincesOfLetter(char16_t first) {
  auto bit = [](const char16_t* symbol) {
    return static_cast<uint16_t>(1u << ProvinceIndex(symbol));
  };
  switch (first) {
    case u'A': return bit(u"NL");
    case u'B': return bit(u"NS");
    case u'C': return bit(u"PE");
    case u'E': return bit(u"NB");
    case u'G':
    case u'H':
    case u'J': return bit(u"QC");
    case u'K':
    case u'L':
    case u'M':
    case u'N':
    case u'P': return bit(u"ON");
    case u'R': return bit(u"MB");
    case u'S': return bit(u"SK");
    case u'T': return bit(u"AB");
    case u'V': return bit(u"BC");
    case u'X': return static_cast<uint16_t>(bit(u"NT") | bit(u"NU"));
    case u'Y': return bit(u"YT");
    default: return 0;
  }
}

// ---- Province ----------------------------------------------------------

struct ProvinceName {
  std::u16string_view key;  // in gazetteer-key form
  const char16_t* symbol;
};

// Symbols, names in English and French and the common abbreviations, as
// keys (periods and accents gone, hyphens as spaces).
constexpr ProvinceName kProvinceNames[] = {
    {u"nl", u"NL"},
    {u"nf", u"NL"},
    {u"nfld", u"NL"},
    {u"newfoundland", u"NL"},
    {u"newfoundland and labrador", u"NL"},
    {u"newfoundland labrador", u"NL"},
    {u"terre neuve", u"NL"},
    {u"terre neuve et labrador", u"NL"},
    {u"t n l", u"NL"},
    {u"tnl", u"NL"},
    {u"ns", u"NS"},
    {u"nova scotia", u"NS"},
    {u"nouvelle ecosse", u"NS"},
    {u"n e", u"NS"},
    {u"pe", u"PE"},
    {u"pei", u"PE"},
    {u"p e i", u"PE"},
    {u"prince edward island", u"PE"},
    {u"ile du prince edouard", u"PE"},
    {u"i p e", u"PE"},
    {u"ipe", u"PE"},
    {u"nb", u"NB"},
    {u"n b", u"NB"},
    {u"new brunswick", u"NB"},
    {u"nouveau brunswick", u"NB"},
    {u"qc", u"QC"},
    {u"pq", u"QC"},
    {u"p q", u"QC"},
    {u"que", u"QC"},
    {u"quebec", u"QC"},
    {u"province de quebec", u"QC"},
    {u"province of quebec", u"QC"},
    {u"on", u"ON"},
    {u"ont", u"ON"},
    {u"ontario", u"ON"},
    {u"mb", u"MB"},
    {u"man", u"MB"},
    {u"manitoba", u"MB"},
    {u"sk", u"SK"},
    {u"sask", u"SK"},
    {u"saskatchewan", u"SK"},
    {u"ab", u"AB"},
    {u"alta", u"AB"},
    {u"alberta", u"AB"},
    {u"bc", u"BC"},
    {u"b c", u"BC"},
    {u"cb", u"BC"},
    {u"c b", u"BC"},
    {u"british columbia", u"BC"},
    {u"colombie britannique", u"BC"},
    {u"yt", u"YT"},
    {u"yk", u"YT"},
    {u"yukon", u"YT"},
    {u"yukon territory", u"YT"},
    {u"territoire du yukon", u"YT"},
    {u"nt", u"NT"},
    {u"nwt", u"NT"},
    {u"n w t", u"NT"},
    {u"tn o", u"NT"},
    {u"t n o", u"NT"},
    {u"tno", u"NT"},
    {u"northwest territories", u"NT"},
    {u"north west territories", u"NT"},
    {u"territoires du nord ouest", u"NT"},
    {u"nu", u"NU"},
    {u"nunavut", u"NU"},
};

// Word `i`'s gazetteer key, made once per parse.
const std::u16string& KeyOf(Context& c, int i) {
  Word& w = c.state.words[static_cast<size_t>(i)];
  if (!w.has_key) {
    w.key.clear();
    AppendGazetteerKey(TextAt(c, i), w.key);
    w.has_key = true;
  }
  return w.key;
}

// The key of words first..last, in `key`: the words' keys, one space
// between.
void SpanKey(Context& c, int first, int last, std::u16string& key) {
  key.clear();
  for (int i = first; i <= last; ++i) {
    const std::u16string& part = KeyOf(c, i);
    if (part.empty()) continue;
    if (!key.empty()) key += u' ';
    key += part;
  }
}

// The last word of each province key ("scotia" of "nova scotia").
std::u16string_view ProvinceTail(std::u16string_view key) {
  const size_t at = key.rfind(u' ');
  return at == std::u16string_view::npos ? key : key.substr(at + 1);
}

// Whether word `i` can end a province's name: it is the last word of one
// (a word-list trait), or its last part after a hyphen is. Most street
// lines end otherwise and look no further.
bool EndsAProvinceName(const Context& c, int i) {
  const Word& w = WordAt(c, i);
  if (w.Is(kTraitProvinceEnd)) return true;
  const size_t dash = w.folded.rfind(u'-');
  if (dash == std::u16string::npos) return false;
  const std::u16string_view tail = std::u16string_view(w.folded).substr(dash + 1);
  if (tail.empty() || tail.size() > 14) return false;
  for (const ProvinceName& p : kProvinceNames) {
    if (ProvinceTail(p.key) == tail) return true;
  }
  return false;
}

// Puts word `i`'s key before `key`: the key of words i..j from that of
// words i+1..j, so that the spans ending at one word are keyed in one pass.
void PrependWordKey(Context& c, int i, std::u16string& key) {
  const std::u16string& part = KeyOf(c, i);
  if (part.empty()) return;
  if (!key.empty()) key.insert(0, 1, u' ');
  key.insert(0, part);
}

// The province index of a key of kProvinceNames, -1 for none: a binary
// search of the keys, sorted once.
int ProvinceOfKey(std::u16string_view key) {
  struct Keyed {
    std::u16string_view key;
    int index;
  };
  static const std::vector<Keyed> sorted = [] {
    std::vector<Keyed> all;
    for (const ProvinceName& p : kProvinceNames) all.push_back({p.key, ProvinceIndex(p.symbol)});
    std::sort(all.begin(), all.end(), [](const Keyed& a, const Keyed& b) { return a.key < b.key; });
    return all;
  }();
  const auto it = std::lower_bound(sorted.begin(), sorted.end(), key,
                                   [](const Keyed& k, std::u16string_view v) { return k.key < v; });
  return it != sorted.end() && it->key == key ? it->index : -1;
}

// The province ending at word `last`: its first word (0 for none) and its
// bit index in `*index`. The longest name wins ("Nova Scotia" over "Scotia").
int FindProvince(Context& c, int last, int* index) {
  if (!Free(c, last) || !EndsAProvinceName(c, last)) return 0;
  std::u16string& key = c.state.scratch;
  key.clear();
  int found = 0;
  for (int first = last; first >= 2 && first > last - 4; --first) {
    // Something must stand before it; a comma inside a name ends it.
    if (!Free(c, first) || (first < last && WordAt(c, first).Is(kTraitCommaAfter))) break;
    PrependWordKey(c, first, key);
    if (key.size() > 26) break;  // longer than any name
    const int at = ProvinceOfKey(key);
    if (at >= 0) {
      *index = at;
      found = first;
    }
  }
  return found;
}

// ---- Delivery forms ----------------------------------------------------

enum DeliveryKind { kNoDelivery, kPoBox, kRuralRoute, kGeneralDelivery, kSiteOrComp };

struct Lead {
  std::u16string_view words[3];
  int count;
  DeliveryKind kind;
  std::u16string_view kind_symbol;  // SS, MR: kept with the identifier
};

constexpr Lead kLeads[] = {
    {{u"post", u"office", u"box"}, 3, kPoBox, {}},
    {{u"p", u"o", u"box"}, 3, kPoBox, {}},
    {{u"po", u"box"}, 2, kPoBox, {}},
    {{u"pobox"}, 1, kPoBox, {}},
    {{u"box"}, 1, kPoBox, {}},
    {{u"c", u"p"}, 2, kPoBox, {}},
    {{u"cp"}, 1, kPoBox, {}},
    {{u"case", u"postale"}, 2, kPoBox, {}},
    {{u"boite", u"postale"}, 2, kPoBox, {}},
    {{u"rural", u"route"}, 2, kRuralRoute, {}},
    {{u"route", u"rurale"}, 2, kRuralRoute, {}},
    {{u"r", u"r"}, 2, kRuralRoute, {}},
    {{u"rr"}, 1, kRuralRoute, {}},
    {{u"suburban", u"service"}, 2, kRuralRoute, u"SS"},
    {{u"service", u"suburbain"}, 2, kRuralRoute, u"SS"},
    {{u"ss"}, 1, kRuralRoute, u"SS"},
    {{u"mobile", u"route"}, 2, kRuralRoute, u"MR"},
    {{u"mr"}, 1, kRuralRoute, u"MR"},
    {{u"general", u"delivery"}, 2, kGeneralDelivery, {}},
    {{u"poste", u"restante"}, 2, kGeneralDelivery, {}},
    {{u"gd"}, 1, kGeneralDelivery, {}},
    {{u"pr"}, 1, kGeneralDelivery, {}},
    {{u"site"}, 1, kSiteOrComp, {}},
    {{u"comp"}, 1, kSiteOrComp, {}},
    {{u"compartment"}, 1, kSiteOrComp, {}},
};

// Delivery installations, by folded word, with their English symbol.
struct StationWord {
  std::u16string_view word;
  std::u16string_view symbol;
};
constexpr StationWord kStationWords[] = {
    {u"stn", u"STN"}, {u"station", u"STN"}, {u"succ", u"STN"}, {u"succursale", u"STN"},
    {u"rpo", u"RPO"}, {u"csp", u"RPO"},     {u"cop", u"RPO"},  {u"po", u"PO"},
    {u"bdp", u"PO"},  {u"lcd", u"LCD"},     {u"pdf", u"LCD"},  {u"cmc", u"CMC"},
    {u"cpc", u"CMC"}, {u"cdo", u"CDO"},     {u"cc", u"CDO"},
};

std::u16string_view StationSymbol(const Context& c, int i) {
  if (!Free(c, i) || !WordAt(c, i).Is(kTraitStation)) return {};
  for (const StationWord& s : kStationWords) {
    if (WordAt(c, i).folded == s.word) return s.symbol;
  }
  return {};
}

struct Delivery {
  DeliveryKind kind = kNoDelivery;
  std::u16string_view kind_symbol;
  int last = 0;   // the last word of the form (its identifier)
  int id = 0;     // the identifier's word, 0 for general delivery
  int glued = 0;  // letters glued before the identifier ("RR4", "Box12")
};

bool IsIdentifier(const Context& c, int i) {
  if (!Free(c, i)) return false;
  const Word& w = WordAt(c, i);
  return w.Is(kTraitHasDigit) && !w.Is(kTraitFraction | kTraitOrdinal) && TextAt(c, i).size() <= 12;
}

// The delivery form starting at word `i` (no further than `limit`).
Delivery MatchDelivery(const Context& c, int i, int limit) {
  Delivery d;
  if (!Free(c, i)) return d;
  const std::u16string& f = WordAt(c, i).folded;
  // Most words start no form: only a lead word, or one glued to its digits.
  const bool digits = WordAt(c, i).Is(kTraitHasDigit);
  if (!digits && !WordAt(c, i).Is(kTraitDeliveryLead)) return d;
  if (digits && IsDigit(f[0])) return d;  // a number starts no form
  // Glued forms: "RR4", "rr#2" (the "#" is set apart), "Box12", "CP10".
  for (std::u16string_view prefix : {u"rr", u"box", u"cp", u"ss", u"site", u"comp"}) {
    if (!digits) break;
    if (f.size() <= prefix.size() || f.size() > prefix.size() + 8 ||
        f.compare(0, prefix.size(), prefix) != 0) {
      continue;
    }
    bool all_digits = true;
    for (size_t k = prefix.size(); k < f.size(); ++k) all_digits = all_digits && IsDigit(f[k]);
    if (!all_digits) continue;
    for (const Lead& lead : kLeads) {
      if (lead.count == 1 && lead.words[0] == prefix) {
        d.kind = lead.kind;
        d.kind_symbol = lead.kind_symbol;
      }
    }
    d.last = d.id = i;
    d.glued = static_cast<int>(prefix.size());
    return d;
  }
  if (digits) return d;  // a number starts no other form
  for (const Lead& lead : kLeads) {
    if (i + lead.count - 1 > limit) continue;
    bool same = true;
    for (int k = 0; k < lead.count && same; ++k) {
      same = Free(c, i + k) && WordAt(c, i + k).folded == lead.words[k];
    }
    if (!same) continue;
    int j = i + lead.count;
    if (lead.kind == kGeneralDelivery) {
      // "PR" alone is read as general delivery only first in the line or
      // before a delivery installation ("PR SUCC ...").
      if (f == u"pr" && i != 1 && StationSymbol(c, j).empty()) continue;
      d.kind = lead.kind;
      d.last = j - 1;
      return d;
    }
    // "#" or "No" between the form and its identifier.
    while (j <= limit && Free(c, j) &&
           (WordAt(c, j).Is(kTraitHash) || WordAt(c, j).folded == u"no")) {
      ++j;
    }
    if (j > limit || !IsIdentifier(c, j)) continue;
    d.kind = lead.kind;
    d.kind_symbol = lead.kind_symbol;
    d.last = d.id = j;
    return d;
  }
  return d;
}

// ---- Municipality ------------------------------------------------------

// Whether words first..last may be a municipality's name without the
// gazetteer's word: a few words without digits, no designator, no French
// generic first.
bool LooksLikeName(const Context& c, int first, int last) {
  if (first > last || last - first >= 5) return false;
  for (int i = first; i <= last; ++i) {
    if (!Free(c, i)) return false;
    const Word& w = WordAt(c, i);
    if (w.Is(kTraitHasDigit | kTraitHash | kTraitDesignatorBefore | kTraitDesignatorAfter)) {
      return false;
    }
  }
  const Word& lead = WordAt(c, first);
  return !(lead.Is(kTraitStreetType) && lead.Is(kTraitFrenchGeneric));
}

struct Finder {
  explicit Finder(Context& context) : c(context) {}
  Context& c;
  uint16_t want = 0xFFFF;  // provinces the municipality may lie in
  // The database's gazetteer, read at the first look-up (null when the
  // database has none).
  std::optional<DatabaseSession::PassScope> pass;
  const Gazetteer* gazetteer = nullptr;
  bool opened = false;

  const Gazetteer* Open() {
    if (!opened) {
      opened = true;
      pass.emplace(c.db);
      const Gazetteer& g = pass->connection().GazetteerTable();
      if (g.present) gazetteer = &g;
    }
    return gazetteer;
  }
  Gazetteer::Provinces Find(int first, int last) {
    if (Open() == nullptr) return {};
    std::u16string& key = c.state.scratch;
    SpanKey(c, first, last, key);
    return gazetteer->Find(key);
  }
  uint16_t Lookup(int first, int last) { return Find(first, last).any; }
  bool AllFree(int first, int last) const {
    for (int i = first; i <= last; ++i) {
      if (!Free(c, i)) return false;
    }
    return true;
  }
  // Whether a street or delivery line stays before word `first`.
  bool LeavesALine(int first, int floor) const {
    if (floor > 0) return true;
    for (int i = 1; i < first; ++i) {
      if (Free(c, i) && !WordAt(c, i).Is(kTraitHasDigit)) return true;
    }
    return false;
  }
};

// Whether word `i` ends a street line, so that a name may follow it when
// neither province nor postal code says where the municipality is: a
// delivery form, an English street type or a direction, a comma (not the
// one after a leading civic number). A French generic ("rue Plourde",
// "boulevard Côte Vertu") ends nothing, nor does one English shares when it
// starts the street ("avenue Laval").
bool EndsAStreetLine(const Context& c, int i, int floor) {
  if (i < 1) return false;
  if (i == floor) return true;
  const Word& w = WordAt(c, i);
  if (w.Is(kTraitCommaAfter)) return i > 1 && !w.Is(kTraitHasDigit);
  // A direction after a name ("Main St N Winnipeg"), not before one
  // ("12001 N HOUSTON").
  if (w.Is(kTraitDirection)) return i > 1 && Free(c, i - 1) && !WordAt(c, i - 1).Is(kTraitHasDigit);
  if (!w.Is(kTraitStreetType) || w.Is(kTraitFrenchOnly)) return false;
  const bool leads = w.Is(kTraitFrenchGeneric) && (i == 1 || WordAt(c, i - 1).Is(kTraitHasDigit));
  return !leads;
}

struct Found {
  int first = 0;
  bool in_gazetteer = false;
  // Found after the end of a street or delivery line (a street type, a
  // direction, a number, a delivery form), without the gazetteer.
  bool after_line = false;
};

// The municipality ending at word `last`, starting no earlier than `low`.
// `floor` is the last word of a delivery form before it (0 for none),
// `after_station` whether that word is a station's, whose name comes first.
// `strict`: there is no province or postal code, so only a name the
// gazetteer knows, after a comma or a delivery form, is taken.
Found FindMunicipality(Finder& f, int low, int last, int floor, bool after_station, bool strict) {
  Context& c = f.c;
  Found none;
  if (last < low || last < 2) return none;
  // Without province or postal code a street line ending as street lines
  // do needs no look-up.
  if (strict && WordAt(c, last).Is(kTraitStreetType | kTraitDirection | kTraitHasDigit)) {
    return none;
  }
  if (strict && floor == 0) {
    // Only a name after a comma: none, no look-up.
    bool comma = false;
    for (int k = std::max(low - 1, 1); k < last && !comma; ++k) {
      comma = WordAt(c, k).Is(kTraitCommaAfter);
    }
    if (!comma) return none;
  }
  // After the last comma before it.
  int comma = 0;
  for (int k = last - 1; k >= std::max(low - 1, 1); --k) {
    if (WordAt(c, k).Is(kTraitCommaAfter)) {
      comma = k;
      break;
    }
  }
  if (comma == 0 && floor > 0 && !after_station && low - 1 == floor) comma = floor;
  // "5855, RUE BOULARD LAVAL": the comma after a leading civic number ends
  // no street line.
  const bool after_civic =
      comma > 0 && comma != floor &&
      (comma == 1 || (WordAt(c, comma).Is(kTraitCivic) && !f.LeavesALine(comma, floor)));
  if (comma > 0 && !after_civic && f.AllFree(comma + 1, last)) {
    const uint16_t mask = f.Lookup(comma + 1, last);
    if ((mask & f.want) != 0) return {comma + 1, true};
    // A name between a comma that ends a street line and the province
    // ("12 Main St, Foobar MB") is the municipality, known or not.
    if (!strict && LooksLikeName(c, comma + 1, last)) {
      return {comma + 1, false, comma == floor || EndsAStreetLine(c, comma, floor)};
    }
  }
  // The longest run the gazetteer knows. The runs ending at `last` are
  // looked up shortest first, each key built from the one before.
  Gazetteer::Provinces known[8] = {};
  int longest = 0;
  if (f.Open() != nullptr) {
    std::u16string& key = c.state.scratch;
    key.clear();
    for (int words = 1; words <= std::min(7, last - low + 1); ++words) {
      const int first = last - words + 1;
      if (!Free(c, first)) break;
      PrependWordKey(c, first, key);
      if (key.size() > f.gazetteer->longest_key) break;
      known[words] = f.gazetteer->Find(key);
      longest = words;
    }
  }
  for (int words = longest; words >= 1; --words) {
    const int first = last - words + 1;
    if ((known[words].any & f.want) == 0 || !f.LeavesALine(first, floor)) continue;
    const Word& lead = WordAt(c, first);
    // A lone direction or street type ends the street line instead, unless
    // the line already ends in one ("300 - 6th street chase BC").
    if (words == 1 && lead.Is(kTraitDirection | kTraitStreetType) &&
        (strict || !WordAt(c, first - 1).Is(kTraitStreetType | kTraitDirection))) {
      continue;
    }
    // Without province or postal code, only a name after a comma or a
    // delivery form ("1 Rideau St, Ottawa"), and not one ending in a street
    // type: "12 Lake St Clair" and "161 POINT WEST BAY" are streets.
    if (strict && (!EndsAStreetLine(c, first - 1, floor) ||
                   !(WordAt(c, first - 1).Is(kTraitCommaAfter) || first - 1 == floor) ||
                   WordAt(c, last).Is(kTraitStreetType))) {
      continue;
    }
    // "Simcoe Street North Oshawa": a direction after a street type ends
    // the street line when the name with it is only a locality and the
    // name without it a municipality ("North Vancouver" is one).
    if (words > 1 && lead.Is(kTraitDirection) && first > 1 &&
        WordAt(c, first - 1).Is(kTraitStreetType) && !WordAt(c, first - 1).Is(kTraitCommaAfter) &&
        (known[words].municipality & f.want) == 0 &&
        (known[words - 1].municipality & f.want) != 0) {
      return {first + 1, true};
    }
    return {first, true};
  }
  if (strict) return none;
  // After a delivery form ("Box 100 Wilcox") or a station's one-word name.
  if (floor > 0 && low <= last && LooksLikeName(c, low, last)) return {low, false, true};
  // After the end of the street line: a street type, a direction or a
  // number ("13 main st marshall", "Unit 4 Seeley's Bay").
  // The first word after the civic number (a numbered street's name, such
  // as "68th", counts as a word).
  int first_free = std::max(low, 1);
  while (first_free <= last && !Free(c, first_free)) ++first_free;
  // Past the civic number; a number after it is a numbered street's name
  // ("7701 18 ave crowsnest").
  if (first_free <= last && WordAt(c, first_free).Is(kTraitAllDigits | kTraitCivic)) ++first_free;
  while (first_free <= last && !Free(c, first_free)) ++first_free;
  int start = std::max(low, 1);
  while (start <= last && !Free(c, start)) ++start;
  for (int m = last - 1; m > start; --m) {
    if (!Free(c, m)) break;
    const Word& w = WordAt(c, m);
    // A French generic ends no street line ("21 rue dufferin valleyfield"),
    // nor does a shared one leading the street ("avenue Laval").
    const bool type_ends = w.Is(kTraitStreetType) && !w.Is(kTraitFrenchOnly) &&
                           !(w.Is(kTraitFrenchGeneric) && m == first_free);
    if (type_ends || w.Is(kTraitDirection | kTraitHasDigit)) {
      if (LooksLikeName(c, m + 1, last)) return {m + 1, false, true};
      return none;
    }
  }
  // "2351 chemin entrelacs trois-pistoles": after a French generic and a
  // name, the last word.
  if (first_free <= last && WordAt(c, first_free).Is(kTraitFrenchGeneric) &&
      last - first_free >= 2 && LooksLikeName(c, last, last)) {
    return {last, false};
  }
  return none;
}

}  // namespace

void ForEachWholeAddressWord(void (*add)(std::u16string_view word, uint32_t trait, void* to),
                             void* to) {
  for (const Lead& lead : kLeads) add(lead.words[0], kTraitDeliveryLead, to);
  for (const StationWord& s : kStationWords) add(s.word, kTraitStation, to);
  for (const ProvinceName& p : kProvinceNames) add(ProvinceTail(p.key), kTraitProvinceEnd, to);
}

void MarkWholeAddress(Context& c) {
  WholeAddress& whole = c.state.whole;
  whole.Clear();
  SegmentTable& table = c.table;
  int end = table.Count();
  if (end < 2) return;

  // 1. "Canada" at the end belongs to nothing.
  while (end >= 2 && Free(c, end) && WordAt(c, end).folded == u"canada") {
    Take(c, end, end);
    --end;
  }

  // 2. The postal code and the province, in either order.
  std::u16string postal;
  int province_index = -1;
  int postal_first = FindPostalCode(c, end, postal);
  int province_first = 0;
  int last = end;  // the municipality's last word
  if (postal_first != 0) {
    last = postal_first - 1;
    province_first = FindProvince(c, last, &province_index);
  } else {
    province_first = FindProvince(c, end, &province_index);
    if (province_first != 0) postal_first = FindPostalCode(c, province_first - 1, postal);
  }
  // The province (when found) ends the municipality; taken for now, and
  // given back below if nothing confirms it.
  if (province_first != 0) {
    if (postal_first != 0 && postal_first < province_first) {
      last = postal_first - 1;
    } else {
      last = province_first - 1;
    }
  }
  const int tail_first = std::min(postal_first != 0 ? postal_first : end + 1,
                                  province_first != 0 ? province_first : end + 1);
  if (tail_first <= end) Take(c, tail_first, end);

  // 3. Delivery forms before the municipality.
  int floor = 0;
  int station_word = 0;
  std::u16string_view station_symbol;
  for (int i = 1; i <= last; ++i) {
    const Delivery d = MatchDelivery(c, i, last);
    if (d.kind == kNoDelivery) continue;
    Take(c, i, d.last);
    std::u16string* field = nullptr;
    switch (d.kind) {
      case kPoBox: field = &whole.po_box; break;
      case kRuralRoute: field = &whole.rural_route; break;
      case kGeneralDelivery:
        // The words of every general delivery form typed.
        Note(c, WholeAddress::kGeneralDelivery, i, d.last);
        if (whole.general_delivery.empty()) whole.general_delivery = u"GD";
        break;
      default: break;
    }
    if (field != nullptr && field->empty() && d.id != 0) {
      // The box or route: the words of its form, designator included.
      Note(c, field == &whole.po_box ? WholeAddress::kPoBox : WholeAddress::kRuralRoute, i, d.last);
      if (!d.kind_symbol.empty()) {
        *field = d.kind_symbol;
        *field += u' ';
      }
      *field += std::u16string_view(TextAt(c, d.id)).substr(static_cast<size_t>(d.glued));
    }
    floor = d.last;
    i = d.last;
    // The delivery installation after a box, route or general delivery.
    if (d.kind == kSiteOrComp || station_word != 0) continue;
    const int s = d.last + 1;
    const std::u16string_view symbol = StationSymbol(c, s);
    if (symbol.empty() || s + 1 > last || !Free(c, s + 1) ||
        MatchDelivery(c, s, last).kind != kNoDelivery) {
      continue;
    }
    Take(c, s, s);
    Note(c, WholeAddress::kStation, s, s);
    station_word = s;
    station_symbol = symbol;
    floor = s;
    i = s;
  }

  // 4. The municipality.
  Finder finder(c);
  const int low = station_word != 0 ? station_word + 2 : floor + 1;
  const bool tail = tail_first <= end;
  Found town;
  if (tail) {
    // The province, else the postal code's first letter, says where the
    // municipality lies.
    if (province_index >= 0) {
      finder.want = static_cast<uint16_t>(1u << province_index);
    } else if (postal_first != 0 && ProvincesOfLetter(postal[0]) != 0) {
      finder.want = ProvincesOfLetter(postal[0]);
    }
    town = FindMunicipality(finder, low, last, floor, station_word != 0, false);
    // A province without a postal code needs a comma, a delivery form or a
    // municipality of its own before it.
    if (postal_first == 0 && province_first != 0) {
      const bool confirmed = WordAt(c, province_first - 1).Is(kTraitCommaAfter) ||
                             province_first - 1 == floor || town.in_gazetteer || town.after_line;
      if (!confirmed) {
        for (int i = province_first; i <= end; ++i) table[i].type = kKindNone;
        province_first = 0;
        province_index = -1;
        last = end;
        finder.want = 0xFFFF;
        town = FindMunicipality(finder, low, last, floor, station_word != 0, true);
      }
    }
  } else if (last >= 2) {
    town = FindMunicipality(finder, low, last, floor, station_word != 0, true);
  }
  if (town.first != 0) {
    Take(c, town.first, last);
    Note(c, WholeAddress::kMunicipality, town.first, last);
    AppendWords(c, town.first, last, whole.municipality);
  }

  // The station's name: the words after its symbol, up to a comma or the
  // municipality.
  if (station_word != 0) {
    whole.station = station_symbol;
    for (int i = station_word + 1; Free(c, i) && (town.first == 0 || i < town.first); ++i) {
      Take(c, i, i);
      Note(c, WholeAddress::kStation, i, i);
      whole.station += u' ';
      whole.station += TextAt(c, i);
      if (WordAt(c, i).Is(kTraitCommaAfter)) break;
    }
  }
  if (province_index >= 0) whole.province = kProvinceSymbols[province_index];
  if (postal_first != 0) whole.postal_code = postal;
  // The province and the postal code stand in either order before `end`,
  // each running up to the other or to `end`.
  if (province_index >= 0 && province_first != 0) {
    Note(c, WholeAddress::kProvince, province_first,
         postal_first > province_first ? postal_first - 1 : end);
  }
  if (postal_first != 0) {
    Note(c, WholeAddress::kPostalCode, postal_first,
         province_first > postal_first ? province_first - 1 : end);
  }

  // What the whole address leaves unsure.
  if (!whole.postal_code.empty()) {
    if (!PostalCodeValid(whole.postal_code)) {
      c.state.flags |= kFlagPostalCodeInvalid;
    } else if (province_index >= 0 &&
               (ProvincesOfLetter(whole.postal_code[0]) & (1u << province_index)) == 0) {
      c.state.flags |= kFlagPostalCodeProvince;
    }
  }
  if (town.first != 0 && finder.Open() != nullptr) {
    const uint16_t want =
        province_index >= 0 ? static_cast<uint16_t>(1u << province_index) : uint16_t{0xFFFF};
    if ((finder.Lookup(town.first, last) & want) == 0) c.state.flags |= kFlagMunicipalityUnknown;
  }
  if (whole.province.empty() && (!whole.municipality.empty() || !whole.postal_code.empty())) {
    c.state.flags |= kFlagNoProvince;
  }
}

}  // namespace zarn::internal::canada
