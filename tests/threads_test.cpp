// Parsing from several threads gives exactly what one thread gives, through
// one shared object and through one object per thread.
#include <gtest/gtest.h>

#include <thread>

#include "support/test_support.h"
#include "zarn/zarn.hpp"

namespace zarn {
namespace {

const std::vector<std::string> kAddresses = {
    "123 Main St. N",
    "5-123 rue Saint-Denis Ouest",
    "Apt 5 21st Ave",
    "#5 123 Main St",
    "1234 2ieme Avenue",
    "100 N Main St S",
    "123Main",
    "",
    "12 Main St Unit #0042",
    "4500 boul Saint-Laurent Ouest",
    "\xff",
    std::string(40000, 'x'),
};

std::vector<std::string> ParseAll(const ZarnAddress& parser, int rounds) {
  std::vector<std::string> out;
  for (int r = 0; r < rounds; ++r) {
    for (const std::string& address : kAddresses) {
      try {
        const AddressParts p = parser.Parse(address);
        out.push_back(p.street_number + "|" + p.street + "|" + p.street_type + "|" + p.direction +
                      "|" + p.unit + "|" + parser.Unit(address));
      } catch (const Error& e) {
        out.push_back("error " + std::to_string(e.Number()));
      }
    }
  }
  return out;
}

TEST(Threads, SharedAndSeparateObjectsMatchOneThread) {
  constexpr int kRounds = 200;
  const ZarnAddress shared(testing::BundledDatabase());
  const std::vector<std::string> expected =
      ParseAll(ZarnAddress(testing::BundledDatabase()), kRounds);
  std::vector<std::string> results[4];
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      if (t % 2 == 0) {
        results[t] = ParseAll(shared, kRounds);
      } else {
        results[t] = ParseAll(ZarnAddress(testing::BundledDatabase()), kRounds);
      }
    });
  }
  for (std::thread& th : threads) th.join();
  for (const auto& r : results) EXPECT_EQ(r, expected);
}

// The standard form from several threads through one object: the symbol
// table is read once per connection and shared by nothing else.
TEST(Threads, StandardFormMatchesOneThread) {
  constexpr int kRounds = 100;
  auto standardize_all = [](const ZarnAddress& parser) {
    std::vector<std::string> out;
    for (int r = 0; r < kRounds; ++r) {
      for (const std::string& address : kAddresses) {
        try {
          const AddressParts p = parser.Parse(address);
          out.push_back(parser.Standardize(p, Language::kDetect, address).line + "|" +
                        parser.Standardize(p, Language::kFrench).line);
        } catch (const Error& e) {
          out.push_back("error " + std::to_string(e.Number()));
        }
      }
    }
    return out;
  };
  const ZarnAddress shared(testing::BundledDatabase());
  const std::vector<std::string> expected =
      standardize_all(ZarnAddress(testing::BundledDatabase()));
  std::vector<std::string> results[4];
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] { results[t] = standardize_all(shared); });
  }
  for (std::thread& th : threads) th.join();
  for (const auto& r : results) EXPECT_EQ(r, expected);
}

}  // namespace
}  // namespace zarn
