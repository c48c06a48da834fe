// The parser over real addresses nobody here wrote: nothing may fail except
// with a documented error, and the test reports how often each part came
// out and how often it agrees with the source's own labels.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <iostream>
#include <sstream>

#include "support/test_support.h"
#include "zarn/zarn.hpp"

namespace zarn {
namespace {

struct Row {
  std::string address;
  std::string expected[5];  // number street type direction unit
};

std::vector<Row> ReadCorpus() {
  std::istringstream in(testing::ReadFileBytes(testing::TestFile("data/corpus.tsv")));
  std::vector<Row> rows;
  std::string line;
  std::getline(in, line);  // header
  while (std::getline(in, line)) {
    std::vector<std::string> fields;
    std::string field;
    std::istringstream split(line);
    while (std::getline(split, field, '\t')) fields.push_back(field);
    fields.resize(8);
    rows.push_back({fields[0], {fields[1], fields[2], fields[3], fields[4], fields[5]}});
  }
  return rows;
}

std::string Fold(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  s.erase(std::remove(s.begin(), s.end(), '.'), s.end());
  return s;
}

TEST(Corpus, EveryRealAddressParsesWithoutFailure) {
  const std::vector<Row> rows = ReadCorpus();
  ASSERT_GT(rows.size(), 3000u);
  const ZarnAddress parser(testing::BundledDatabase());
  const char* names[5] = {"number", "street", "type", "direction", "unit"};
  int present[5] = {};
  int agree[5] = {};
  int all_agree = 0;
  std::vector<std::string_view> batch;
  for (const Row& row : rows) batch.push_back(row.address);
  const std::vector<BatchResult> results = parser.ParseBatch(batch);
  ASSERT_EQ(results.size(), rows.size());
  for (size_t i = 0; i < rows.size(); ++i) {
    const BatchResult& r = results[i];
    ASSERT_TRUE(r.ok()) << rows[i].address << ": " << r.error_message;
    ASSERT_EQ(r.parts, parser.Parse(rows[i].address)) << "batch and single parse differ";
    const std::string got[5] = {r.parts.street_number, r.parts.street, r.parts.street_type,
                                r.parts.direction, r.parts.unit};
    int agreeing = 0;
    for (int k = 0; k < 5; ++k) {
      present[k] += !got[k].empty();
      const bool same = Fold(got[k]) == Fold(rows[i].expected[k]);
      agree[k] += same;
      agreeing += same;
    }
    all_agree += agreeing == 5;
  }
  std::cout << "corpus: " << rows.size() << " addresses, " << all_agree
            << " agree with their labels on all five parts\n";
  for (int k = 0; k < 5; ++k) {
    std::cout << "  " << names[k] << ": given for " << present[k] << ", agrees on " << agree[k]
              << "\n";
  }
  // Every address with a civic number in front has one in the answer.
  EXPECT_GT(present[0], static_cast<int>(rows.size() * 9 / 10));
}

}  // namespace
}  // namespace zarn
