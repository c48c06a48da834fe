// Writes the parse of every line of a file, and of variants of each line, as
// TSV: the input, then the five parts from Parse, from ParseBatch and from
// AddressSegment, or the error number and message; with a profile other than
// the specified rules, also the diagnostics of Parse and of ParseBatch.
// bench/check-identical compares this output before and after a change to
// the parser, which must not change a single byte of it.
//
//   zarn_parse_dump DATABASE ADDRESSES.txt [PROFILE] > parses.tsv
#include <fstream>
#include <iostream>
#include <string>
#include <string_view>
#include <vector>

#include "zarn/zarn.hpp"

namespace {

std::string Lower(std::string s) {
  for (char& c : s) c = (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
  return s;
}

std::string Upper(std::string s) {
  for (char& c : s) c = (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
  return s;
}

// The line and variants that reach the unit, dash, direction, ordinal and
// error paths of the parser.
std::vector<std::string> Variants(const std::string& line) {
  return {line,
          Lower(line),
          Upper(line),
          "Unit 5 " + line,
          line + " Apt 0012",
          line + " #7",
          "12-" + line,
          line + " - 3",
          line + " North",
          "2nd Floor " + line,
          "  " + line + ",  ",
          "1st " + line + " 3rd",
          line.substr(0, line.size() / 2),
          line + "\xff"};
}

void WriteParts(std::ostream& out, const zarn::AddressParts& p) {
  out << '\t' << p.street_number << '\t' << p.street << '\t' << p.street_type << '\t' << p.direction
      << '\t' << p.unit;
}

void WriteDiagnostics(std::ostream& out, const zarn::Diagnostics& d) {
  out << '\t' << d.flags;
  for (const std::string& w : d.unplaced_words) out << '|' << w;
}

}  // namespace

int main(int argc, char** argv) {
  zarn::ParseOptions options;
  if ((argc != 3 && argc != 4) ||
      (argc == 4 && !zarn::ProfileFromName(argv[3], &options.profile))) {
    std::cerr << "usage: zarn_parse_dump DATABASE ADDRESSES.txt [specified|canada]\n";
    return 1;
  }
  const bool diagnose = options.profile != zarn::Profile::kSpecified;
  std::ifstream in(argv[2], std::ios::binary);
  if (!in) {
    std::cerr << "zarn_parse_dump: cannot read " << argv[2] << "\n";
    return 2;
  }
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) {
    for (std::string& v : Variants(line)) lines.push_back(std::move(v));
  }
  const zarn::ZarnAddress parser(argv[1], options);
  const std::vector<std::string_view> views(lines.begin(), lines.end());
  const std::vector<zarn::BatchResult> batch = parser.ParseBatch(views);
  for (size_t i = 0; i < lines.size(); ++i) {
    std::cout << lines[i];
    try {
      zarn::Diagnostics d;
      WriteParts(std::cout, parser.Parse(lines[i], &d));
      if (diagnose) WriteDiagnostics(std::cout, d);
    } catch (const zarn::Error& e) {
      std::cout << "\terror " << e.Number() << ' ' << e.what();
    }
    const zarn::BatchResult& r = batch[i];
    if (r.ok()) {
      WriteParts(std::cout, r.parts);
      if (diagnose) WriteDiagnostics(std::cout, r.diagnostics);
    } else {
      std::cout << "\terror " << r.error_number << ' ' << r.error_message;
    }
    for (int kind = -1; kind <= 7; ++kind) {
      try {
        std::cout << '\t' << parser.AddressSegment(lines[i], kind);
      } catch (const zarn::Error& e) {
        std::cout << "\terror " << e.Number();
      }
    }
    std::cout << '\n';
  }
  return 0;
}
