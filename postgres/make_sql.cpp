// Writes the extension's SQL script from its template: the lines
// "--@FIELD_COLUMNS" and "--@FIELD_FUNCTIONS" become the composite type's
// columns and one function per output field, from the library's field table.
//
//   make_sql TEMPLATE OUTPUT
#include <cstdio>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>

#include "zarn/fields.h"

namespace {

struct Field {
  const char* name;
  const char* meaning;
};

#define ZARN_SQL_FIELD_(id, name, profiles, meaning) Field{#name, meaning},
constexpr Field kFields[] = {ZARN_FIELDS(ZARN_SQL_FIELD_)};
#undef ZARN_SQL_FIELD_

std::string Quoted(const std::string& text) {
  std::string out = "'";
  for (char c : text) {
    if (c == '\'') out += '\'';
    out += c;
  }
  return out + "'";
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::cerr << "usage: make_sql TEMPLATE OUTPUT\n";
    return 2;
  }
  std::ifstream in(argv[1]);
  if (!in) {
    std::cerr << "make_sql: cannot read " << argv[1] << "\n";
    return 2;
  }
  std::ostringstream out;
  std::string line;
  while (std::getline(in, line)) {
    if (line == "--@FIELD_COLUMNS") {
      const size_t n = std::size(kFields);
      for (size_t i = 0; i < n; ++i) {
        out << "  " << kFields[i].name << " text" << (i + 1 < n ? "," : "") << "\n";
      }
    } else if (line == "--@FIELD_FUNCTIONS") {
      for (const Field& f : kFields) {
        out << "CREATE FUNCTION zarn_" << f.name
            << "(address text, profile text DEFAULT 'canada')\n"
            << "RETURNS text\nAS 'MODULE_PATHNAME', 'zarn_pg_field'\n"
            << "LANGUAGE C STRICT STABLE PARALLEL SAFE;\n"
            << "COMMENT ON FUNCTION zarn_" << f.name << "(text, text) IS "
            << Quoted(std::string("The field ") + f.name + ": " + f.meaning) << ";\n\n";
      }
    } else {
      out << line << "\n";
    }
  }
  std::ofstream file(argv[2], std::ios::binary);
  file << out.str();
  file.close();
  if (!file) {
    std::cerr << "make_sql: cannot write " << argv[2] << "\n";
    return 2;
  }
  return 0;
}
