// Reading the Municipality table: the gazetteer of Canadian municipalities
// and places that the canada profile splits whole addresses with.
#include "refdb/gazetteer.h"

#include <sqlite3.h>
#include <utf8.h>

#include <iterator>
#include <memory>
#include <new>
#include <string>

#include "refdb/connection.h"

namespace zarn::internal {

const char16_t* const kProvinceSymbols[kProvinceCount] = {
    u"NL", u"NS", u"PE", u"NB", u"QC", u"ON", u"MB", u"SK", u"AB", u"BC", u"YT", u"NT", u"NU",
};

int ProvinceIndex(std::u16string_view symbol) {
  if (symbol.size() != 2) return -1;
  char16_t up[2];
  for (int k = 0; k < 2; ++k) {
    const char16_t c = symbol[static_cast<size_t>(k)];
    up[k] = c >= u'a' && c <= u'z' ? static_cast<char16_t>(c - 32) : c;
  }
  for (int i = 0; i < kProvinceCount; ++i) {
    if (kProvinceSymbols[i][0] == up[0] && kProvinceSymbols[i][1] == up[1]) return i;
  }
  return -1;
}

namespace {

// Latin-1 letters U+00C0..U+00FF without their accents, in lower case.
constexpr char16_t kLatin1Folded[64] = {
    u'a', u'a', u'a', u'a', u'a', u'a', u'a', u'c', u'e', u'e', u'e', u'e', u'i', u'i', u'i', u'i',
    u'd', u'n', u'o', u'o', u'o', u'o', u'o', u' ', u'o', u'u', u'u', u'u', u'u', u'y', u'p', u's',
    u'a', u'a', u'a', u'a', u'a', u'a', u'a', u'c', u'e', u'e', u'e', u'e', u'i', u'i', u'i', u'i',
    u'd', u'n', u'o', u'o', u'o', u'o', u'o', u' ', u'o', u'u', u'u', u'u', u'u', u'y', u'p', u'y',
};

char16_t KeyChar(char16_t c) {
  if (c >= u'A' && c <= u'Z') return static_cast<char16_t>(c + 32);
  if (c >= 0xC0 && c <= 0xFF) return kLatin1Folded[c - 0xC0];
  if (c == u'-' || c == u'\t' || c == u',' || c == u'(' || c == u')' || c == u'/') return u' ';
  if (c == 0x2013 || c == 0x2014) return u' ';  // en and em dashes ("Saint-Lin—Laurentides")
  if (c == 0x152 || c == 0x153) return u'o';    // the OE ligature, first letter
  return c;
}

bool IsDropped(char16_t c) { return c == u'.' || c == u'\'' || c == 0x2019; }

// Appends one word of the key, shortened as the key says.
void AppendWord(std::u16string_view word, std::u16string& out) {
  if (word.empty()) return;
  if (!out.empty()) out += u' ';
  if (word == u"saint") {
    out += u"st";
  } else if (word == u"sainte") {
    out += u"ste";
  } else if (word == u"mount") {
    out += u"mt";
  } else {
    out += word;
  }
}

}  // namespace

void AppendGazetteerKey(std::u16string_view text, std::u16string& out) {
  char16_t word[64];
  size_t n = 0;
  bool overlong = false;
  auto flush = [&] {
    if (overlong) {
      // A word longer than any name: kept whole, so that it matches nothing.
      if (!out.empty()) out += u' ';
      out.append(64, u'?');
    } else {
      AppendWord(std::u16string_view(word, n), out);
    }
    n = 0;
    overlong = false;
  };
  for (char16_t c : text) {
    if (IsDropped(c)) continue;
    const char16_t k = KeyChar(c);
    if (k == u' ') {
      flush();
      continue;
    }
    if (n == std::size(word)) {
      overlong = true;
      continue;
    }
    word[n++] = k;
  }
  flush();
}

namespace {

bool ColumnText(sqlite3_stmt* stmt, int column, std::string& out) {
  if (sqlite3_column_type(stmt, column) == SQLITE_NULL) return false;
  const unsigned char* text = sqlite3_column_text(stmt, column);
  if (text == nullptr) throw std::bad_alloc();
  out.assign(reinterpret_cast<const char*>(text),
             static_cast<size_t>(sqlite3_column_bytes(stmt, column)));
  return true;
}

constexpr const char* kHasTable =
    "SELECT 1 FROM sqlite_master WHERE type = 'table' AND name = 'Municipality' COLLATE NOCASE";
constexpr const char* kReadNames = "SELECT Name, Province, Kind FROM Municipality";
constexpr const char* kWhatNames = "reading the gazetteer in Municipality";

}  // namespace

const Gazetteer& Connection::GazetteerTable() {
  if (cache_ && gazetteer_) return *gazetteer_;
  ReadFile();
  auto table = std::make_unique<Gazetteer>();
  if (AnyRow(kHasTable)) {
    table->present = true;
    sqlite3_stmt* stmt = nullptr;
    int rc = sqlite3_prepare_v2(db_, kReadNames, -1, &stmt, nullptr);
    std::string name, province, kind;
    std::u16string wide, key;
    if (rc == SQLITE_OK) rc = SQLITE_ROW;
    while (rc == SQLITE_ROW && (rc = sqlite3_step(stmt)) == SQLITE_ROW) {
      // A row without a name or a known province stands for nothing and is
      // passed over, as is text that is not valid UTF-8.
      if (!ColumnText(stmt, 0, name) || !ColumnText(stmt, 1, province)) continue;
      if (!utf8::is_valid(name.begin(), name.end())) continue;
      wide.clear();
      utf8::utf8to16(name.begin(), name.end(), std::back_inserter(wide));
      const std::u16string symbol(province.begin(), province.end());
      const int index = ProvinceIndex(symbol);
      if (index < 0) continue;
      key.clear();
      AppendGazetteerKey(wide, key);
      if (key.empty()) continue;
      // A locality inside a municipality is a "place"; any other row (a
      // user's own without a kind too) names a municipality.
      table->Add(key, static_cast<uint16_t>(1u << index),
                 !ColumnText(stmt, 2, kind) || kind != "place");
    }
    sqlite3_finalize(stmt);
    if (rc != SQLITE_DONE) Fail(rc, kWhatNames);
  }
  if (!cache_) {
    scratch_gazetteer_ = std::move(table);
    return *scratch_gazetteer_;
  }
  gazetteer_ = std::move(table);
  return *gazetteer_;
}

}  // namespace zarn::internal
