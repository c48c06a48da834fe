// The smallest use of the library: parse the addresses given as arguments
// with the reference database in the build tree and print their parts.
//   zarn_example DATABASE "123 Main St. N" "5-123 rue Saint-Denis Ouest"
#include <iostream>

#include "zarn/zarn.hpp"

int main(int argc, char** argv) {
  if (argc < 2) {
    std::cerr << "usage: zarn_example DATABASE ADDRESS...\n";
    return 1;
  }
  const zarn::ZarnAddress parser(argv[1]);
  for (int i = 2; i < argc; ++i) {
    try {
      const zarn::AddressParts p = parser.Parse(argv[i]);
      std::cout << argv[i] << "\n  number: " << p.street_number << "\n  street: " << p.street
                << "\n  type:   " << p.street_type << "\n  dir:    " << p.direction
                << "\n  unit:   " << p.unit << "\n";
    } catch (const zarn::Error& e) {
      std::cout << argv[i] << "\n  error " << e.Number() << ": " << e.what() << "\n";
    }
  }
  return 0;
}
