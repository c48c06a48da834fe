// Reading the StreetTypeSymbol table (Canada Post's symbol of each street
// type in English and in French) as plain rows; format/ makes its table of
// them.
#include <sqlite3.h>

#include <new>
#include <string>
#include <utility>
#include <vector>

#include "refdb/connection.h"

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

const std::vector<SymbolRow>& Connection::StreetTypeSymbolRows() {
  if (cache_ && symbol_rows_) return *symbol_rows_;
  ReadFile();
  std::vector<SymbolRow> rows;
  sqlite3_stmt* stmt = nullptr;
  int rc = sqlite3_prepare_v2(db_, kReadSymbols, -1, &stmt, nullptr);
  if (rc == SQLITE_OK) rc = SQLITE_ROW;
  std::string text;
  while (rc == SQLITE_ROW && (rc = sqlite3_step(stmt)) == SQLITE_ROW) {
    SymbolRow& row = rows.emplace_back();
    if (ColumnText(stmt, 0, text)) row.street_type = text;
    if (ColumnText(stmt, 1, text)) row.language = text;
    if (ColumnText(stmt, 2, text)) row.symbol = text;
  }
  sqlite3_finalize(stmt);
  if (rc != SQLITE_DONE) Fail(rc, kWhatSymbols);
  symbol_rows_ = std::move(rows);
  made_from_symbols_.reset();
  return *symbol_rows_;
}

}  // namespace zarn::internal
