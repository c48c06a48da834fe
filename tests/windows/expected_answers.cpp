// Writes what the Linux build of the parser answers for a list of addresses,
// as the table that the Windows component's tests under Wine compare with.
//
//   zarn_expected_answers DATABASE ADDRESSES > expected.tsv
//
// ADDRESSES holds one UTF-8 address per line. Every output line is one call:
//   STATE <TAB> METHOD <TAB> KIND <TAB> ADDRESS <TAB> ERROR-NUMBER <TAB> TEXT
// STATE is "present" (the database at DATABASE) or "missing" (a database path
// that does not exist: the Windows component's fixed path, which is no file
// here); METHOD is AddressSegment or one of the five single-part methods;
// KIND is the segment kind (for the single-part methods, the one they ask
// for); ERROR-NUMBER is 0 on success, and TEXT is the answer or the message.
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

#include "zarn/zarn.hpp"

namespace {

struct Method {
  const char* name;
  int kind;
};

constexpr Method kShortcuts[] = {
    {"Street", zarn::kStreet},
    {"StreetType", zarn::kStreetType},
    {"StreetNumber", zarn::kStreetNumber},
    {"Direction", zarn::kDirection},
    {"Unit", zarn::kUnit},
};

// Kinds asked of AddressSegment: all seven, and values on either side.
constexpr int kKinds[] = {-1, 0, 1, 2, 3, 4, 5, 6, 7};

bool Printable(const std::string& text) {
  return text.find_first_of("\t\r\n") == std::string::npos;
}

void Emit(const char* state, const char* method, int kind, const std::string& address,
          const zarn::ZarnAddress& parser) {
  int number = 0;
  std::string text;
  try {
    text = parser.AddressSegment(address, kind);
  } catch (const zarn::Error& e) {
    number = e.Number();
    text = e.what();
  }
  if (!Printable(text)) {
    throw std::runtime_error("an answer holds a tab or line break: " + address);
  }
  std::cout << state << '\t' << method << '\t' << kind << '\t' << address << '\t' << number << '\t'
            << text << '\n';
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::cerr << "usage: zarn_expected_answers DATABASE ADDRESSES\n";
    return 2;
  }
  std::ifstream in(argv[2], std::ios::binary);
  if (!in) {
    std::cerr << "zarn_expected_answers: cannot read " << argv[2] << "\n";
    return 1;
  }
  std::vector<std::string> addresses;
  for (std::string line; std::getline(in, line);) {
    if (!Printable(line)) {
      std::cerr << "zarn_expected_answers: an address holds a tab or carriage return\n";
      return 1;
    }
    addresses.push_back(line);
  }
  try {
    const zarn::ZarnAddress present(argv[1]);
    const zarn::ZarnAddress missing("c:\\wendle\\vbdll\\qordatavb.DAT");
    for (const auto& [state, parser] :
         {std::pair<const char*, const zarn::ZarnAddress*>{"present", &present},
          std::pair<const char*, const zarn::ZarnAddress*>{"missing", &missing}}) {
      for (const std::string& address : addresses) {
        for (const Method& m : kShortcuts) Emit(state, m.name, m.kind, address, *parser);
        for (int kind : kKinds) Emit(state, "AddressSegment", kind, address, *parser);
      }
    }
  } catch (const std::exception& e) {
    std::cerr << "zarn_expected_answers: " << e.what() << "\n";
    return 1;
  }
  return 0;
}
