// The C API must give exactly what the C++ API gives: the same parts, the
// same error numbers and messages, for real addresses and for awkward text.
#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "support/test_support.h"
#include "zarn/zarn.h"
#include "zarn/zarn.hpp"

namespace {

std::vector<std::string> Addresses() {
  std::vector<std::string> out = {
      "",
      "123 Main St. N",
      "5-123 rue Saint-Denis Ouest",
      "Apt 5 21st Ave",
      std::string("123 Main\0 St", 12),
      "   ",
      "#5 - 12 - 14 Ave",
      "12 Ave\xff",
      "\xc3",
      "1/2 Main St",
      "Unit 3 12 Chemin de la Côte-Sainte-Catherine",
  };
  std::ifstream in(ZARN_SAMPLE_ADDRESSES);
  EXPECT_TRUE(in) << ZARN_SAMPLE_ADDRESSES;
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line[0] != '#') out.push_back(line);
  }
  EXPECT_GT(out.size(), 100u);
  return out;
}

struct CAnswer {
  zarn_status status;
  int number;
  std::string message;
  std::string text;
};

// One C call through the size-query protocol: ask for the size, then fetch.
template <typename Call>
CAnswer Fetch(Call call) {
  CAnswer a;
  zarn_error err;
  size_t needed = 0;
  a.status = call(nullptr, 0, &needed, &err);
  if (a.status == ZARN_BUFFER_TOO_SMALL) {
    std::string buffer(needed, 'x');
    a.status = call(buffer.data(), buffer.size(), &needed, &err);
    EXPECT_EQ(needed, buffer.size());
    // The answer is needed - 1 bytes: it may hold a NUL when the address did.
    a.text = buffer.substr(0, needed - 1);
    EXPECT_EQ(buffer[needed - 1], '\0');
  }
  a.number = err.number;
  a.message = err.message;
  return a;
}

class CApiEquivalence : public ::testing::Test {
 protected:
  void SetUp() override {
    zarn_error err;
    ASSERT_EQ(zarn_open(db_.c_str(), &c_, &err), ZARN_OK) << err.message;
  }
  void TearDown() override { zarn_close(c_); }

  std::string db_ = zarn::testing::BundledDatabase();
  zarn::ZarnAddress cpp_{db_};
  zarn_parser* c_ = nullptr;
};

TEST_F(CApiEquivalence, SegmentsMatchTheCppApi) {
  for (const std::string& a : Addresses()) {
    for (int kind = -1; kind <= 7; ++kind) {
      CAnswer got = Fetch([&](char* out, size_t size, size_t* needed, zarn_error* err) {
        return zarn_address_segment(c_, a.data(), a.size(), kind, out, size, needed, err);
      });
      try {
        const std::string want = cpp_.AddressSegment(a, kind);
        EXPECT_EQ(got.status, ZARN_OK) << a;
        EXPECT_EQ(got.text, want) << a << " kind " << kind;
        EXPECT_EQ(got.number, 0);
      } catch (const zarn::Error& e) {
        EXPECT_EQ(got.status, ZARN_FAILED) << a;
        EXPECT_EQ(got.number, e.Number()) << a;
        EXPECT_EQ(got.message, e.what()) << a;
      }
    }
  }
}

TEST_F(CApiEquivalence, ParseAndBatchMatchTheCppApi) {
  const std::vector<std::string> addresses = Addresses();
  std::vector<const char*> pointers;
  std::vector<size_t> sizes;
  for (const std::string& a : addresses) {
    pointers.push_back(a.data());
    sizes.push_back(a.size());
  }
  zarn_batch* batch = nullptr;
  zarn_error err;
  ASSERT_EQ(zarn_parse_batch(c_, pointers.data(), sizes.data(), pointers.size(), &batch, &err),
            ZARN_OK);
  ASSERT_EQ(zarn_batch_count(batch), addresses.size());
  int failures = 0;
  for (size_t i = 0; i < addresses.size(); ++i) {
    const std::string& a = addresses[i];
    std::string buffer(1024, '\0');
    zarn_parts parts, from_batch;
    const zarn_status s =
        zarn_parse(c_, a.data(), a.size(), buffer.data(), buffer.size(), nullptr, &parts, &err);
    const int number = err.number;
    const zarn_status bs = zarn_batch_get(batch, i, &from_batch, &err);
    EXPECT_EQ(bs, s) << a;
    EXPECT_EQ(err.number, number) << a;
    try {
      const zarn::AddressParts want = cpp_.Parse(a);
      ASSERT_EQ(s, ZARN_OK) << a;
      for (const zarn_parts* p : {&parts, &from_batch}) {
        EXPECT_EQ(std::string(p->street_number.data, p->street_number.size), want.street_number);
        EXPECT_EQ(std::string(p->street.data, p->street.size), want.street);
        EXPECT_EQ(std::string(p->street_type.data, p->street_type.size), want.street_type);
        EXPECT_EQ(std::string(p->direction.data, p->direction.size), want.direction);
        EXPECT_EQ(std::string(p->unit.data, p->unit.size), want.unit) << a;
      }
    } catch (const zarn::Error& e) {
      ++failures;
      EXPECT_EQ(s, ZARN_FAILED) << a;
      EXPECT_EQ(number, e.Number()) << a;
    }
  }
  // The list holds a couple of invalid texts on purpose, and they must fail.
  EXPECT_GE(failures, 2);
  zarn_batch_free(batch);
}

}  // namespace
