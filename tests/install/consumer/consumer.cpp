// Uses the installed C++ API: parses two addresses and checks the parts.
// With an argument, the parser is the default one, which must find the
// installed database by itself at the path given.
#include <iostream>
#include <string>
#include <zarn/zarn.hpp>

int main(int argc, char** argv) {
  const bool by_default = argc > 1;
  if (by_default && zarn::ReferenceDatabasePath() != argv[1]) {
    std::cerr << "default database " << zarn::ReferenceDatabasePath() << ", not " << argv[1]
              << "\n";
    return 1;
  }
  const zarn::ZarnAddress parser =
      by_default ? zarn::ZarnAddress() : zarn::ZarnAddress(ZARN_CONSUMER_DATABASE);
  const zarn::AddressParts a = parser.Parse("5-123 rue Saint-Denis Ouest");
  const zarn::AddressParts want{"123", "Saint Denis", "rue", "W", "5"};
  std::cout << a.street_number << "|" << a.street << "|" << a.street_type << "|" << a.direction
            << "|" << a.unit << "\n";
  if (a != want) return 1;
  if (parser.StreetType("123 Main St. N") != "Street") return 1;
  try {
    (void)parser.Street("12 Ave\xff");
    return 1;
  } catch (const zarn::Error& e) {
    if (e.Number() != zarn::kErrorInvalidArgument) return 1;
  }
  std::cout << "consumer_cpp: ok (zarn " << zarn::Version() << ", "
            << (by_default ? "default database" : "database given") << ")\n";
  return 0;
}
