// Builds the reference database from its text sources:
//   make_reference_db OUTPUT SCHEMA.sql STREET_TYPES.tsv ALTERNATE_STREET_TYPES.tsv
//                     STREET_TYPE_SYMBOLS.tsv [GAZETTEER.tsv]
// The file is written under a temporary name and renamed into place, so a
// failed build never leaves a half-written database behind.
#include <sqlite3.h>

#include <cstdio>
#include <fstream>
#include <iostream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

// Rows of a TSV file without quoting (the sources hold no tab inside a
// field), header line skipped.
std::vector<std::vector<std::string>> ReadTsv(const std::string& path, size_t columns) {
  std::istringstream in(ReadFile(path));
  std::vector<std::vector<std::string>> rows;
  std::string line;
  bool header = true;
  size_t number = 0;
  while (std::getline(in, line)) {
    ++number;
    if (header) {
      header = false;
      continue;
    }
    if (line.empty()) continue;
    std::vector<std::string> fields;
    size_t at = 0;
    while (true) {
      const size_t tab = line.find('\t', at);
      fields.push_back(line.substr(at, tab == std::string::npos ? std::string::npos : tab - at));
      if (tab == std::string::npos) break;
      at = tab + 1;
    }
    if (fields.size() != columns) {
      throw std::runtime_error(path + ":" + std::to_string(number) + ": expected " +
                               std::to_string(columns) + " fields, found " +
                               std::to_string(fields.size()));
    }
    rows.push_back(std::move(fields));
  }
  return rows;
}

class Db {
 public:
  explicit Db(const std::string& path) {
    if (sqlite3_open_v2(path.c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) !=
        SQLITE_OK) {
      Fail("open");
    }
  }
  ~Db() { sqlite3_close_v2(db_); }
  void Exec(const std::string& sql) {
    if (sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, nullptr) != SQLITE_OK) Fail(sql);
  }
  void Insert(const char* sql, const std::vector<std::string>& values) {
    sqlite3_stmt* stmt = nullptr;
    if (sqlite3_prepare_v2(db_, sql, -1, &stmt, nullptr) != SQLITE_OK) Fail(sql);
    for (size_t i = 0; i < values.size(); ++i) {
      if (values[i].empty()) {
        sqlite3_bind_null(stmt, static_cast<int>(i) + 1);
      } else {
        sqlite3_bind_text(stmt, static_cast<int>(i) + 1, values[i].c_str(),
                          static_cast<int>(values[i].size()), SQLITE_TRANSIENT);
      }
    }
    const int rc = sqlite3_step(stmt);
    sqlite3_finalize(stmt);
    if (rc != SQLITE_DONE) Fail(std::string(sql) + " with " + values.front());
    // Every source row becomes exactly one row (an alternate whose delivery
    // form is not a street type would otherwise vanish).
    if (sqlite3_changes(db_) != 1) {
      throw std::runtime_error("row for '" + values.front() + "' was not inserted");
    }
  }

 private:
  [[noreturn]] void Fail(const std::string& what) {
    throw std::runtime_error(what + ": " + sqlite3_errmsg(db_));
  }
  sqlite3* db_ = nullptr;
};

}  // namespace

int main(int argc, char** argv) {
  if (argc != 6 && argc != 7) {
    std::cerr << "usage: make_reference_db OUTPUT SCHEMA.sql STREET_TYPES.tsv "
                 "ALTERNATE_STREET_TYPES.tsv STREET_TYPE_SYMBOLS.tsv [GAZETTEER.tsv]\n";
    return 1;
  }
  const std::string output = argv[1];
  const std::string temporary = output + ".tmp";
  try {
    std::remove(temporary.c_str());
    {
      Db db(temporary);
      db.Exec("PRAGMA journal_mode=DELETE");
      db.Exec("BEGIN");
      db.Exec(ReadFile(argv[2]));
      for (const auto& row : ReadTsv(argv[3], 5)) {
        // delivery_form, country, language, source, comment
        db.Insert(
            "INSERT INTO StreetType (StreetTypeDesc, Country, Language, Source, Comment) "
            "VALUES (?1, ?2, ?3, ?4, ?5)",
            row);
      }
      for (const auto& row : ReadTsv(argv[4], 4)) {
        // alternate_form, delivery_form, source, comment
        db.Insert(
            "INSERT INTO AlternateStreetType (AlternateDeliveryAddress, streettypeid, Source, "
            "Comment) SELECT ?1, streettypeid, ?3, ?4 FROM StreetType "
            "WHERE StreetTypeDesc = ?2 COLLATE BINARY",
            row);
      }
      for (const auto& row : ReadTsv(argv[5], 5)) {
        // delivery_form, language, symbol, source, comment. Each symbol
        // belongs to a street type of the table, in one of the two languages.
        if (row[1] != "en" && row[1] != "fr") {
          throw std::runtime_error("symbol of '" + row[0] + "': language must be en or fr, not '" +
                                   row[1] + "'");
        }
        db.Insert(
            "INSERT INTO StreetTypeSymbol (StreetTypeDesc, Language, Symbol, Source, Comment) "
            "SELECT StreetTypeDesc, ?2, ?3, ?4, ?5 FROM StreetType "
            "WHERE StreetTypeDesc = ?1 COLLATE BINARY",
            row);
      }
      if (argc == 7) {
        static const std::string kSymbols[] = {"NL", "NS", "PE", "NB", "QC", "ON", "MB",
                                               "SK", "AB", "BC", "YT", "NT", "NU"};
        for (const auto& row : ReadTsv(argv[6], 4)) {
          // name, province (two-letter symbol), kind, source
          bool known = false;
          for (const std::string& p : kSymbols) known = known || p == row[1];
          if (row[0].empty() || !known) {
            throw std::runtime_error("gazetteer row '" + row[0] + "': a name and one of the " +
                                     "thirteen province symbols are needed, not '" + row[1] + "'");
          }
          db.Insert(
              "INSERT INTO Municipality (Name, Province, Kind, Source) VALUES (?1, ?2, ?3, ?4)",
              row);
        }
      }
      db.Exec("COMMIT");
    }
    if (std::rename(temporary.c_str(), output.c_str()) != 0) {
      throw std::runtime_error("cannot rename " + temporary + " to " + output);
    }
  } catch (const std::exception& e) {
    std::remove(temporary.c_str());
    std::cerr << "make_reference_db: " << e.what() << "\n";
    return 1;
  }
  return 0;
}
