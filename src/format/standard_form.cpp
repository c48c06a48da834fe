#include "format/standard_form.h"

#include <utf8.h>

#include <algorithm>
#include <array>
#include <iterator>
#include <string_view>
#include <utility>
#include <vector>

#include "format/latin_case.h"

namespace zarn::internal {

namespace {

// What one character of a part becomes in the standard form.
enum class CharClass { kKeep, kBreak, kHyphen };

CharClass Classify(char32_t c, bool keep_slash) {
  if (c == U'-' || (c >= 0x2010 && c <= 0x2015) || c == 0x2212) return CharClass::kHyphen;
  if (c == U'/') return keep_slash ? CharClass::kKeep : CharClass::kBreak;
  if (c < 0x20 || c == 0x7F || c == 0xA0 || c == 0xAB || c == 0xBB || c == 0xB7) {
    return CharClass::kBreak;
  }
  if (c < 0x80) {
    const bool alnum =
        (c >= U'0' && c <= U'9') || (c >= U'A' && c <= U'Z') || (c >= U'a' && c <= U'z');
    return alnum ? CharClass::kKeep : CharClass::kBreak;
  }
  // C1 controls, quotation marks, the typographic apostrophe, the general
  // spaces, line and paragraph separators, the byte order mark.
  if ((c >= 0x80 && c <= 0x9F) || (c >= 0x2000 && c <= 0x200F) || (c >= 0x2016 && c <= 0x201F) ||
      (c >= 0x2026 && c <= 0x202F) || c == 0x3000 || c == 0xFEFF) {
    return CharClass::kBreak;
  }
  return CharClass::kKeep;
}

// Whether `rest`, the text after an apostrophe, is an "s" that ends its word.
bool PossessiveS(std::string_view rest) {
  if (rest.empty() || (rest[0] != 's' && rest[0] != 'S')) return false;
  if (rest.size() == 1) return true;
  const unsigned char next = static_cast<unsigned char>(rest[1]);
  return !((next >= 'A' && next <= 'Z') || (next >= 'a' && next <= 'z') ||
           (next >= '0' && next <= '9') || next >= 0x80);
}

// `in` upper case, without punctuation: letters and digits (and `/` in a
// civic number, for "123 1/2") stay; a hyphen stays where it joins two
// characters that stay ("SAINT-DENIS"); apostrophes, periods, commas and
// every other mark part words, and runs of spaces become one.
std::string CleanPart(std::string_view in, bool keep_slash = false) {
  std::string out;
  out.reserve(in.size());
  bool pending_break = false;
  bool pending_hyphen = false;
  auto it = in.begin();
  while (it != in.end()) {
    const char32_t c = UpperLatin(static_cast<char32_t>(utf8::unchecked::next(it)));
    // The apostrophe of a possessive goes without a trace ("QUEENS",
    // "ST MARYS"); an elision's parts the words ("D YOUVILLE").
    if ((c == U'\'' || c == 0x2019) && !out.empty() && PossessiveS(in.substr(it - in.begin()))) {
      continue;
    }
    switch (Classify(c, keep_slash)) {
      case CharClass::kBreak: pending_break = true; break;
      case CharClass::kHyphen: pending_hyphen = true; break;
      case CharClass::kKeep:
        if (!out.empty()) {
          if (pending_hyphen && !pending_break) {
            out += '-';
          } else if (pending_hyphen || pending_break) {
            out += ' ';
          }
        }
        pending_break = pending_hyphen = false;
        utf8::unchecked::append(static_cast<uint32_t>(c), std::back_inserter(out));
        break;
    }
  }
  return out;
}

// The eight directions, in the order of their symbols below.
enum Direction { kN, kS, kE, kW, kNE, kNW, kSE, kSW, kNoDirection };

constexpr std::array<const char*, 8> kEnglishDirections = {"N",  "S",  "E",  "W",
                                                           "NE", "NW", "SE", "SW"};
constexpr std::array<const char*, 8> kFrenchDirections = {"N",  "S",  "E",  "O",
                                                          "NE", "NO", "SE", "SO"};

struct DirectionWord {
  const char* word;  // upper case, without spaces or hyphens
  Direction direction;
  Language language;  // the language the word shows; kDetect for either
};

// Every way a direction part may be written: the symbols of both languages
// and the words in full ("NORD-OUEST" is looked up as "NORDOUEST"). W, NW
// and SW show no language: the parser gives them for Ouest, Nord-Ouest and
// Sud-Ouest too.
constexpr DirectionWord kDirectionWords[] = {
    {"N", kN, Language::kDetect},           {"S", kS, Language::kDetect},
    {"E", kE, Language::kDetect},           {"W", kW, Language::kDetect},
    {"O", kW, Language::kFrench},           {"NE", kNE, Language::kDetect},
    {"NW", kNW, Language::kDetect},         {"NO", kNW, Language::kFrench},
    {"SE", kSE, Language::kDetect},         {"SW", kSW, Language::kDetect},
    {"SO", kSW, Language::kFrench},         {"NORTH", kN, Language::kEnglish},
    {"SOUTH", kS, Language::kEnglish},      {"EAST", kE, Language::kEnglish},
    {"WEST", kW, Language::kEnglish},       {"NORTHEAST", kNE, Language::kEnglish},
    {"NORTHWEST", kNW, Language::kEnglish}, {"SOUTHEAST", kSE, Language::kEnglish},
    {"SOUTHWEST", kSW, Language::kEnglish}, {"NORD", kN, Language::kFrench},
    {"SUD", kS, Language::kFrench},         {"EST", kE, Language::kFrench},
    {"OUEST", kW, Language::kFrench},       {"NORDEST", kNE, Language::kFrench},
    {"NORDOUEST", kNW, Language::kFrench},  {"SUDEST", kSE, Language::kFrench},
    {"SUDOUEST", kSW, Language::kFrench},
};

const DirectionWord* FindDirection(std::string_view direction) {
  std::string key;
  for (char c : CleanPart(direction)) {
    if (c != ' ' && c != '-') key += c;
  }
  for (const DirectionWord& w : kDirectionWords) {
    if (key == w.word) return &w;
  }
  return nullptr;
}

// The words of a name, cut at spaces and hyphens, upper case.
std::vector<std::string> NameWords(std::string_view name) {
  std::vector<std::string> words;
  std::string word;
  for (char c : CleanPart(name)) {
    if (c == ' ' || c == '-') {
      if (!word.empty()) words.push_back(std::move(word));
      word.clear();
    } else {
      word += c;
    }
  }
  if (!word.empty()) words.push_back(std::move(word));
  return words;
}

// A French article or preposition in the street name: de, du, des, de la
// (de counts already), or an elided d' or l' ("d'Youville", "L'Assomption").
bool HasFrenchParticle(std::string_view name) {
  for (const std::string& w : NameWords(name)) {
    if (w == "DE" || w == "DU" || w == "DES") return true;
  }
  // The elided forms: a word that starts with d or l and an apostrophe.
  size_t at = 0;
  while (at < name.size()) {
    const bool word_start = at == 0 || name[at - 1] == ' ' || name[at - 1] == '-';
    const char c = name[at];
    if (word_start && (c == 'd' || c == 'D' || c == 'l' || c == 'L')) {
      const std::string_view rest = name.substr(at + 1);
      if (rest.starts_with('\'') || rest.starts_with("\u2019")) return true;
    }
    ++at;
  }
  return false;
}

// What the address as typed shows that the parts no longer do.
struct AddressClues {
  // Its first word with a letter after the civic number ("5-123 rue
  // Saint-Denis", "12725, boul. X", "725 HWY 15") is the street type.
  bool type_first = false;
  // It holds a French direction word in full (Ouest, Nord-Est...).
  bool french_direction = false;
};

AddressClues ReadClues(const AddressHint& hint, const AddressParts& parts) {
  AddressClues clues;
  std::vector<std::string> words;
  std::string word;
  auto flush = [&] {
    if (!word.empty()) words.push_back(std::move(word));
    word.clear();
  };
  auto it = hint.address.begin();
  while (it != hint.address.end()) {
    const char32_t c = static_cast<char32_t>(utf8::unchecked::next(it));
    if (Classify(c, false) == CharClass::kBreak) {
      flush();
    } else {
      utf8::unchecked::append(static_cast<uint32_t>(c), std::back_inserter(word));
    }
  }
  flush();
  for (const std::string& w : words) {
    if (const DirectionWord* d = FindDirection(w);
        d != nullptr && d->language == Language::kFrench && w.size() > 2) {
      clues.french_direction = true;
    }
  }
  // Where the street type stands: the first word after the civic number
  // (from the first word when the number cannot be found) is the type.
  const std::string number = CleanPart(parts.street_number);
  size_t from = 0;
  if (!number.empty()) {
    for (size_t i = 0; i < words.size(); ++i) {
      if (CleanPart(words[i]).find(number) != std::string::npos) {
        from = i + 1;
        break;
      }
    }
  }
  if (from < words.size() && hint.is_type) clues.type_first = hint.is_type(words[from]);
  return clues;
}

bool IsLowerCaseWord(std::string_view text) {
  bool any = false;
  auto it = text.begin();
  while (it != text.end()) {
    const char32_t c = static_cast<char32_t>(utf8::unchecked::next(it));
    if (UpperLatin(c) != c) {
      any = true;
    } else if (c != U'-') {
      return false;  // an upper-case letter or a character without case
    }
  }
  return any;
}

size_t LeadingDigits(std::string_view text) {
  size_t n = 0;
  while (n < text.size() && text[n] >= '0' && text[n] <= '9') ++n;
  return n;
}

bool AllDigits(std::string_view text) {
  return !text.empty() && LeadingDigits(text) == text.size();
}

// A numbered street written as an ordinal already: "21ST", "52E", "1RE",
// "2IÈME" (upper case).
bool IsWrittenOrdinal(std::string_view text, bool french_only = false) {
  const size_t digits = LeadingDigits(text);
  if (digits == 0) return false;
  const std::string_view suffix = text.substr(digits);
  for (const char* s : {"E", "RE", "ER", "EME", "ÈME", "IEME", "IÈME"}) {
    if (suffix == s) return true;
  }
  if (french_only) return false;
  for (const char* s : {"ST", "ND", "RD", "TH"}) {
    if (suffix == s) return true;
  }
  return false;
}

// French street types of feminine gender, by delivery form in upper case:
// an ordinal name "1" before them is "1RE" ("1RE AV"), before the others
// "1ER" ("1ER RANG").
bool IsFeminineFrenchType(std::string_view delivery_form_upper) {
  static constexpr const char* kFeminine[] = {
      "ALLÉE", "AUTOROUTE", "AVENUE",    "CÔTE",  "COUR", "ESPLANADE", "IMPASSE",  "ÎLE", "MONTÉE",
      "PLACE", "POINTE",    "PROMENADE", "ROUTE", "RUE",  "RUELLE",    "TERRASSE", "VOIE"};
  for (const char* f : kFeminine) {
    if (delivery_form_upper == f) return true;
  }
  return false;
}

// The ordinal suffix of the street name `number` (all digits).
std::string OrdinalSuffix(std::string_view number, Language language, bool feminine) {
  if (language == Language::kFrench) {
    if (number == "1") return feminine ? "RE" : "ER";
    return "E";
  }
  const int last = number.back() - '0';
  const int tens = number.size() >= 2 ? number[number.size() - 2] - '0' : 0;
  if (tens == 1) return "TH";
  switch (last) {
    case 1: return "ST";
    case 2: return "ND";
    case 3: return "RD";
    default: return "TH";
  }
}

const std::string& SymbolText(const TypeSymbol& symbol, const StreetTypeSymbols::Entry& type,
                              const char* language) {
  if (symbol.is_null) {
    throw Error(kErrorInvalidUseOfNull, "Invalid use of Null (StreetTypeSymbol.Symbol for \"" +
                                            type.delivery_form + "\", " + language + ")");
  }
  return symbol.text;
}

void Append(std::string& line, std::string_view word) {
  if (word.empty()) return;
  if (!line.empty()) line += ' ';
  line += word;
}

// The delivery installations' symbols, English and French.
constexpr std::pair<std::string_view, std::string_view> kStationSymbols[] = {
    {"STN", "SUCC"}, {"RPO", "CSP"}, {"PO", "BDP"}, {"LCD", "PDF"}, {"CMC", "CPC"}, {"CDO", "CC"},
};

// Whether the typed address writes its delivery form in French (CP, C.P.,
// Case postale, SUCC, CSP, PR, Poste restante).
bool FrenchDeliveryWords(std::string_view address) {
  std::string word;
  auto french = [&word] {
    for (std::string_view w : {"CP", "SUCC", "SUCCURSALE", "CSP", "POSTALE", "RESTANTE", "BDP"}) {
      if (word == w) return true;
    }
    return false;
  };
  for (size_t i = 0; i <= address.size(); ++i) {
    const char c = i < address.size() ? address[i] : ' ';
    if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z')) {
      word += static_cast<char>(c >= 'a' ? c - 32 : c);
    } else if (c != '.') {
      if (french()) return true;
      word.clear();
    }
  }
  return false;
}

// The delivery line and the last line of a whole address.
void WriteWholeLines(const AddressParts& parts, bool french, StandardAddress& out) {
  const std::string box = CleanPart(parts.po_box);
  if (!box.empty()) {
    Append(out.delivery_line, french ? "CP" : "PO BOX");
    Append(out.delivery_line, box);
  }
  const std::string route = CleanPart(parts.rural_route);
  if (!route.empty()) {
    // "SS 3" and "MR 5" keep their kind; a bare identifier is a rural route.
    const bool kind = route.size() > 3 && (route.starts_with("SS ") || route.starts_with("MR "));
    if (!kind) Append(out.delivery_line, "RR");
    Append(out.delivery_line, route);
  }
  if (!parts.general_delivery.empty()) Append(out.delivery_line, french ? "PR" : "GD");
  std::string station = CleanPart(parts.station);
  if (!station.empty()) {
    const size_t space = station.find(' ');
    const std::string_view symbol = std::string_view(station).substr(0, space);
    for (const auto& [english, french_symbol] : kStationSymbols) {
      if (symbol == english || symbol == french_symbol) {
        station = std::string(french ? french_symbol : english) +
                  (space == std::string::npos ? "" : station.substr(space));
        break;
      }
    }
    Append(out.delivery_line, station);
  }
  Append(out.last_line, CleanPart(parts.municipality));
  Append(out.last_line, CleanPart(parts.province));
  const std::string postal = CleanPart(parts.postal_code);
  if (!postal.empty()) {
    if (!out.last_line.empty()) out.last_line += ' ';  // two spaces before the code
    Append(out.last_line, postal);
  }
}

}  // namespace

StreetTypeSymbols MakeStreetTypeSymbols(const std::vector<SymbolRow>& rows) {
  StreetTypeSymbols table;
  for (const SymbolRow& row : rows) {
    if (!row.street_type || !row.language) continue;
    const std::string& desc = *row.street_type;
    const std::string& language = *row.language;
    if (language != "en" && language != "fr") continue;
    if (!utf8::is_valid(desc.begin(), desc.end())) continue;
    StreetTypeSymbols::Entry& entry = table.by_type[UpperCaseUtf8(desc)];
    if (entry.delivery_form.empty()) entry.delivery_form = desc;
    TypeSymbol& slot = language == "en" ? entry.english : entry.french;
    if (slot.present) continue;
    slot.present = true;
    slot.is_null = !row.symbol || !utf8::is_valid(row.symbol->begin(), row.symbol->end());
    if (!slot.is_null) slot.text = *row.symbol;
  }
  return table;
}

const StreetTypeSymbols::Entry* StreetTypeSymbols::Find(std::string_view street_type) const {
  const auto it = by_type.find(UpperCaseUtf8(street_type));
  return it == by_type.end() ? nullptr : &it->second;
}

void CheckPartsUtf8(const AddressParts& parts) {
  const std::pair<const char*, const std::string*> named[] = {
      {"street number", &parts.street_number},
      {"street", &parts.street},
      {"street type", &parts.street_type},
      {"direction", &parts.direction},
      {"unit", &parts.unit},
      {"PO box", &parts.po_box},
      {"rural route", &parts.rural_route},
      {"general delivery", &parts.general_delivery},
      {"station", &parts.station},
      {"municipality", &parts.municipality},
      {"province", &parts.province},
      {"postal code", &parts.postal_code}};
  for (const auto& [name, text] : named) {
    const auto bad = utf8::find_invalid(text->begin(), text->end());
    if (bad != text->end()) {
      throw Error(kErrorInvalidArgument, std::string("Invalid argument: the ") + name +
                                             " is not valid UTF-8 (bad byte at offset " +
                                             std::to_string(bad - text->begin()) + ")");
    }
  }
}

namespace {

// The clues of the typed address, read once and only when asked for.
class LazyClues {
 public:
  LazyClues(const AddressHint* hint, const AddressParts& parts) : hint_(hint), parts_(parts) {}
  const AddressClues& get() {
    if (!read_) {
      if (hint_ != nullptr) clues_ = ReadClues(*hint_, parts_);
      read_ = true;
    }
    return clues_;
  }

 private:
  const AddressHint* hint_;
  const AddressParts& parts_;
  bool read_ = false;
  AddressClues clues_;
};

Language Choose(const AddressParts& parts, const StreetTypeSymbols::Entry* type, Language language,
                LazyClues& lazy) {
  if (language != Language::kDetect) return language;
  // A street type that exists in one language only says which.
  if (type != nullptr && type->english.present != type->french.present) {
    return type->french.present ? Language::kFrench : Language::kEnglish;
  }
  const AddressClues& clues = lazy.get();
  if (const DirectionWord* d = FindDirection(parts.direction);
      d != nullptr && d->language != Language::kDetect) {
    return d->language;
  }
  if (clues.french_direction) return Language::kFrench;
  if (IsWrittenOrdinal(CleanPart(parts.street), /*french_only=*/true)) return Language::kFrench;
  // A type before a numbered name is no clue: "HWY 15", "ROUTE 138".
  if (clues.type_first && !AllDigits(CleanPart(parts.street))) return Language::kFrench;
  if (HasFrenchParticle(parts.street)) return Language::kFrench;
  // French writes its generics in lower case ("avenue du Parc").
  if (type != nullptr && IsLowerCaseWord(parts.street_type)) return Language::kFrench;
  return Language::kEnglish;
}

}  // namespace

Language ChooseLanguage(const AddressParts& parts, const StreetTypeSymbols::Entry* type,
                        Language language, const AddressHint* hint) {
  LazyClues lazy(hint, parts);
  return Choose(parts, type, language, lazy);
}

StandardAddress FormatStandard(const AddressParts& parts, const StreetTypeSymbols::Entry* type,
                               Language language, const AddressHint* hint) {
  StandardAddress out;
  LazyClues clues(hint, parts);
  out.language = Choose(parts, type, language, clues);
  const bool french = out.language == Language::kFrench;

  out.street_number = CleanPart(parts.street_number, /*keep_slash=*/true);
  // The unit is one word before the civic number ("5-123"): whatever
  // punctuation or spaces it held go without a trace ("F_2" is "F2").
  for (char c : CleanPart(parts.unit)) {
    if (c != ' ') out.unit += c;
  }
  out.street = CleanPart(parts.street);

  if (type != nullptr) {
    const TypeSymbol& own = french ? type->french : type->english;
    const TypeSymbol& other = french ? type->english : type->french;
    if (own.present) {
      out.street_type = SymbolText(own, *type, french ? "fr" : "en");
    } else if (other.present) {
      out.street_type = SymbolText(other, *type, french ? "en" : "fr");
      out.flags |= kStandardTypeOtherLanguage;
    }
  }
  if (out.street_type.empty() && !parts.street_type.empty()) {
    out.street_type = CleanPart(parts.street_type);
    if (!out.street_type.empty()) out.flags |= kStandardTypeWithoutSymbol;
  }

  if (!parts.direction.empty()) {
    if (const DirectionWord* d = FindDirection(parts.direction); d != nullptr) {
      out.direction = (french ? kFrenchDirections : kEnglishDirections)[d->direction];
    } else {
      out.direction = CleanPart(parts.direction);
      if (!out.direction.empty()) out.flags |= kStandardDirectionUnknown;
    }
  }

  // A numbered street is an ordinal ("21ST AVE", "1RE AV"), and French then
  // puts the type after it as English does; but a number typed after its
  // type is a route number and stays so ("HWY 15", "RTE 138").
  std::string name = out.street;
  const bool type_first = !out.street_type.empty() && AllDigits(name) && clues.get().type_first;
  const bool route_number = AllDigits(name) && type_first;
  const bool ordinal = !route_number && (AllDigits(name) || IsWrittenOrdinal(name));
  if (ordinal && AllDigits(name)) {
    const bool feminine =
        type == nullptr ? true : IsFeminineFrenchType(UpperCaseUtf8(type->delivery_form));
    name += OrdinalSuffix(name, out.language, feminine);
    out.street = name;
  }

  std::string civic = out.street_number;
  if (!civic.empty() && !out.unit.empty()) civic = out.unit + "-" + civic;
  Append(out.line, civic);
  if (route_number || (french && !ordinal)) {
    Append(out.line, out.street_type);
    Append(out.line, name);
  } else {
    Append(out.line, name);
    Append(out.line, out.street_type);
  }
  Append(out.line, out.direction);
  // Without a civic number the unit cannot go before it: it follows the
  // street, after its designator.
  if (out.street_number.empty() && !out.unit.empty()) {
    Append(out.line, french ? "UNITÉ" : "UNIT");
    Append(out.line, out.unit);
  }
  // A delivery line without a street shows its language in the words typed.
  bool delivery_french = french;
  if (language == Language::kDetect && parts.street_type.empty() && hint != nullptr) {
    delivery_french = delivery_french || FrenchDeliveryWords(hint->address);
  }
  WriteWholeLines(parts, delivery_french, out);
  return out;
}

}  // namespace zarn::internal
