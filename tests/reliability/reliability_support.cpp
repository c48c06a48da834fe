#include "reliability_support.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>

#include "component/access.h"

namespace zarn::testing {

std::string ReliabilityReferenceSql() {
  return SmallReferenceSql() + R"sql(;
INSERT INTO AlternateAddress (AlternateDeliveryAddress, AlternateAddressTypeID,
                              DeliveryStreet, DeliveryNumber, DeliveryType, DeliveryAddress)
VALUES ('10 Spadina Avenue', 4, 'Spadina', '12', 'Road', NULL),
       ('Kng', 1, NULL, NULL, NULL, 'King');
)sql";
}

void MakeReference(const std::string& path) {
  const std::string temporary = path + ".new";
  std::remove(temporary.c_str());
  MakeDatabase(temporary, ReliabilityReferenceSql());
  std::filesystem::rename(temporary, path);
}

const std::vector<std::string>& SampleAddresses() {
  static const std::vector<std::string> addresses = {
      "123 Main St. N",
      "5-123 rue Saint-Denis Ouest",
      "Apt 5 21st Ave",
      "10 Spadina Ave",
      "44 Kng St W",
      "Unit# 007 100 Boul Saint-Laurent",
      "12 Hwy 7 E",
      "",
      "Mall Unit 5 Eaton Mall",
  };
  return addresses;
}

std::ostream& operator<<(std::ostream& out, const Outcome& o) {
  if (!o.ok()) return out << "error " << o.error << " (" << o.message << ")";
  const AddressParts& p = o.parts;
  return out << "[" << p.street_number << "|" << p.street << "|" << p.street_type << "|"
             << p.direction << "|" << p.unit << "]";
}

Outcome ParseOutcome(const ZarnAddress& parser, std::string_view address) {
  Outcome o;
  try {
    o.parts = parser.Parse(address);
  } catch (const Error& e) {
    o.error = e.Number();
    o.message = e.what();
  }
  return o;
}

std::vector<Outcome> ParseAll(const ZarnAddress& parser,
                              const std::vector<std::string>& addresses) {
  std::vector<Outcome> out;
  for (const std::string& a : addresses) out.push_back(ParseOutcome(parser, a));
  return out;
}

std::vector<Outcome> FreshAnswers(const std::string& path,
                                  const std::vector<std::string>& addresses) {
  const ZarnAddress fresh = detail::Access::WithPolicy(path, internal::DbPolicy::kOpenPerPass);
  return ParseAll(fresh, addresses);
}

Snapshot TakeSnapshot(const std::string& dir) {
  Snapshot snapshot;
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(dir, ec)) {
    const std::string name = entry.path().filename().string();
    if (entry.is_regular_file()) {
      // Size and a hash of the bytes keep failure messages short.
      try {
        const std::string bytes = ReadFileBytes(entry.path().string());
        snapshot[name] = std::to_string(bytes.size()) + " bytes, hash " +
                         std::to_string(std::hash<std::string>{}(bytes));
      } catch (const std::exception&) {
        snapshot[name] = "<unreadable>";
      }
    } else {
      snapshot[name] = "<dir>";
    }
  }
  return snapshot;
}

}  // namespace zarn::testing
