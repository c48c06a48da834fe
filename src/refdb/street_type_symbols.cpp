// Reading the StreetTypeSymbol table: Canada Post's symbol of each street
// type in English and in French, for the standard form of an address.
#include <sqlite3.h>
#include <utf8.h>

#include <memory>
#include <new>
#include <string>

#include "format/latin_case.h"
#include "format/standard_form.h"
#include "refdb/reference_database.h"

namespace zarn::internal {

namespace {

constexpr const char* kReadSymbols =
    "SELECT StreetTypeDesc, Language, Symbol FROM StreetTypeSymbol ORDER BY StreetTypeSymbolID";
constexpr const char* kWhatSymbols = "reading the street-type symbols in StreetTypeSymbol";

// The column as UTF-8 text, or false for Null (a number becomes its text).
bool ColumnText(sqlite3_stmt* stmt, int column, std::string& out) {
  if (sqlite3_column_type(stmt, column) == SQLITE_NULL) return false;
  const unsigned char* text = sqlite3_column_text(stmt, column);
  if (text == nullptr) throw std::bad_alloc();
  out.assign(reinterpret_cast<const char*>(text),
             static_cast<size_t>(sqlite3_column_bytes(stmt, column)));
  return true;
}

}  // namespace

const StreetTypeSymbols& Connection::StreetTypeSymbolTable() {
  if (cache_ && symbols_) return *symbols_;
  auto table = std::make_unique<StreetTypeSymbols>();
  sqlite3_stmt* stmt = nullptr;
  int rc = sqlite3_prepare_v2(db_, kReadSymbols, -1, &stmt, nullptr);
  std::string desc, language, symbol;
  if (rc == SQLITE_OK) rc = SQLITE_ROW;
  while (rc == SQLITE_ROW && (rc = sqlite3_step(stmt)) == SQLITE_ROW) {
    // A row without a street type or with a language other than en and fr
    // stands for nothing the standard form writes, and is passed over; the
    // first row of a type and language wins, as everywhere in the database.
    if (!ColumnText(stmt, 0, desc) || !ColumnText(stmt, 1, language)) continue;
    if (language != "en" && language != "fr") continue;
    // The text stays valid UTF-8 in the answers: SQLite hands back what was
    // stored, so a broken row is left out rather than copied.
    if (!utf8::is_valid(desc.begin(), desc.end())) continue;
    StreetTypeSymbols::Entry& entry = table->by_type[UpperCaseUtf8(desc)];
    if (entry.delivery_form.empty()) entry.delivery_form = desc;
    TypeSymbol& slot = language == "en" ? entry.english : entry.french;
    if (slot.present) continue;
    slot.present = true;
    slot.is_null = !ColumnText(stmt, 2, symbol) || !utf8::is_valid(symbol.begin(), symbol.end());
    if (!slot.is_null) slot.text = symbol;
  }
  sqlite3_finalize(stmt);
  if (rc != SQLITE_DONE) Fail(rc, kWhatSymbols);
  if (!cache_) {
    scratch_symbols_ = std::move(table);
    return *scratch_symbols_;
  }
  symbols_ = std::move(table);
  return *symbols_;
}

}  // namespace zarn::internal
