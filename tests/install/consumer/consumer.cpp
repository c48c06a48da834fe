// Uses the installed C++ API: parses two addresses and checks the parts.
#include <iostream>
#include <zarn/zarn.hpp>

int main() {
  const zarn::ZarnAddress parser(ZARN_CONSUMER_DATABASE);
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
  std::cout << "consumer_cpp: ok (zarn " << zarn::Version() << ")\n";
  return 0;
}
