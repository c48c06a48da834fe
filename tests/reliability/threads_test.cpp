// Threads: eight threads parse on one shared parser and on one parser each;
// every answer (and every error, message included) is byte-identical to what
// one thread gives. Then a ninth thread keeps replacing and editing the
// database file: every call gives the old file's answer, the new file's, or
// a clear error naming the file. The number of parses per thread is
// ZARN_THREAD_PARSES when set (fewer under the sanitizers by default).
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <thread>

#include "reliability_support.h"

#ifndef ZARN_DEFAULT_THREAD_PARSES
#define ZARN_DEFAULT_THREAD_PARSES 20000
#endif

namespace zarn {
namespace {

using testing::Outcome;

constexpr int kThreads = 8;

int ParsesPerThread() {
  const char* text = std::getenv("ZARN_THREAD_PARSES");
  const int n = text != nullptr ? std::atoi(text) : ZARN_DEFAULT_THREAD_PARSES;
  return n > 0 ? n : ZARN_DEFAULT_THREAD_PARSES;
}

// Addresses of every shape, including failing ones (invalid UTF-8, overflow).
std::vector<std::string> Addresses() {
  std::vector<std::string> all = testing::SampleAddresses();
  for (const char* a :
       {"12-14 Main St.", "Apt.5,Main", "O'Brien Cres", "1*2 Main St", "Unit# 007 100 King St W",
        "#5 100 Queen St E", "Floor 3 200 Bay St", "2ieme Avenue", "1ere rue Nord",
        "12B Main Street South", "123Main St", "4500 boul Saint-Laurent Ouest", "Flr 2 1 Yonge St",
        "100 Highway 7 E", "  ", "-", "\xFF bad", "1 Ma\xC3 St"}) {
    all.emplace_back(a);
  }
  all.push_back(std::string(40000, 'a'));  // overflow
  return all;
}

// The outcome of parse number `i` of a thread, as bytes: all five parts or
// the error number and message. Even numbers use Parse, odd ones the five
// single-part methods.
std::string Answer(const ZarnAddress& parser, const std::string& address, int i) {
  try {
    if (i % 2 == 0) {
      const AddressParts p = parser.Parse(address);
      return p.street_number + '|' + p.street + '|' + p.street_type + '|' + p.direction + '|' +
             p.unit;
    }
    return parser.StreetNumber(address) + '|' + parser.Street(address) + '|' +
           parser.StreetType(address) + '|' + parser.Direction(address) + '|' +
           parser.Unit(address);
  } catch (const Error& e) {
    return "error " + std::to_string(e.Number()) + ": " + e.what();
  }
}

// Field `k` (from 0) of an answer as Answer() writes it; an error is whole.
std::string Field(const std::string& answer, int k) {
  if (answer.rfind("error ", 0) == 0) return answer;
  size_t at = 0;
  for (int i = 0; i < k; ++i) {
    at = answer.find('|', at);
    if (at == std::string::npos) return answer;
    ++at;
  }
  return answer.substr(at, answer.find('|', at) - at);
}

class Threads : public ::testing::Test {
 protected:
  void SetUp() override {
    path_ = dir_.File("qordatavb.DAT");
    testing::MakeReference(path_);
    addresses_ = Addresses();
    const ZarnAddress single(path_);
    for (size_t i = 0; i < addresses_.size(); ++i) {
      expected_.push_back(Answer(single, addresses_[i], 0));
      // The single-part methods agree with Parse, so either form may be
      // compared with the same expected bytes.
      ASSERT_EQ(Answer(single, addresses_[i], 1), expected_.back()) << addresses_[i];
    }
  }

  // Runs `parses` parses on each of kThreads threads, thread t starting at
  // address t, and counts the answers that differ from one thread's.
  int RunThreads(const std::function<const ZarnAddress&(int)>& parser_of, int parses) {
    std::atomic<int> mismatches{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
      threads.emplace_back([&, t] {
        const ZarnAddress& parser = parser_of(t);
        for (int i = 0; i < parses; ++i) {
          const size_t a = static_cast<size_t>(t + i) % addresses_.size();
          if (Answer(parser, addresses_[a], i) != expected_[a]) ++mismatches;
        }
      });
    }
    for (std::thread& th : threads) th.join();
    return mismatches.load();
  }

  testing::TempDir dir_;
  std::string path_;
  std::vector<std::string> addresses_;
  std::vector<std::string> expected_;
};

TEST_F(Threads, EightThreadsShareOneParser) {
  const ZarnAddress shared(path_);
  const int parses = ParsesPerThread();
  EXPECT_EQ(RunThreads([&](int) -> const ZarnAddress& { return shared; }, parses), 0);
  RecordProperty("parses", kThreads * parses);
}

TEST_F(Threads, EightThreadsWithAParserEach) {
  std::vector<ZarnAddress> parsers;
  for (int t = 0; t < kThreads; ++t) parsers.emplace_back(path_);
  const int parses = ParsesPerThread();
  EXPECT_EQ(RunThreads([&](int t) -> const ZarnAddress& { return parsers[t]; }, parses), 0);
}

TEST_F(Threads, CopiesOfOneParserOnEachThread) {
  const ZarnAddress original(path_);
  std::vector<ZarnAddress> copies(kThreads, original);  // share the connections
  const int parses = ParsesPerThread() / 4;
  EXPECT_EQ(RunThreads([&](int t) -> const ZarnAddress& { return copies[t]; }, parses), 0);
}

TEST_F(Threads, NinthThreadReplacesTheFileMeanwhile) {
  // The second version: "Street" is "Strass" there, so addresses with "St"
  // answer differently in the two.
  const std::string second = dir_.File("second.DAT");
  testing::MakeReference(second);
  testing::ExecSql(second,
                   "UPDATE StreetType SET StreetTypeDesc='Strass' WHERE StreetTypeDesc='Street'");
  const std::string images[] = {testing::ReadFileBytes(path_), testing::ReadFileBytes(second)};
  std::vector<std::string> other;
  {
    const ZarnAddress p(second);
    for (size_t i = 0; i < addresses_.size(); ++i) other.push_back(Answer(p, addresses_[i], 0));
  }
  ASSERT_NE(other, expected_);

  const ZarnAddress shared(path_);
  std::atomic<bool> done{false};
  std::atomic<int> replacements{0};
  std::thread replacer([&] {
    for (int round = 0; !done.load(); ++round) {
      const std::string temporary = dir_.File("next.DAT");
      if (round % 3 == 2) {
        // An edit in place through SQLite, between the two versions.
        testing::ExecSql(path_, round % 2 == 0 ? "UPDATE StreetType SET StreetTypeDesc='Strass'"
                                                 " WHERE StreetTypeDesc='Street'"
                                               : "UPDATE StreetType SET StreetTypeDesc='Street'"
                                                 " WHERE StreetTypeDesc='Strass'");
      } else {
        testing::WriteFileBytes(temporary, images[round % 2]);
        std::filesystem::rename(temporary, path_);
      }
      ++replacements;
      std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
  });
  std::atomic<int> bad{0};
  std::atomic<int> old_answers{0};
  std::atomic<int> new_answers{0};
  std::atomic<int> errors{0};
  const int parses = ParsesPerThread() / 4;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < parses; ++i) {
        const size_t a = static_cast<size_t>(t + i) % addresses_.size();
        // One Parse is one call: all five parts from one version of the file.
        // (Five single-part calls may each see another version, so every
        // other round checks one of them alone: the street type.)
        std::string got = Answer(shared, addresses_[a], 0);
        if (i % 2 == 1) {
          std::string type;
          try {
            type = shared.StreetType(addresses_[a]);
          } catch (const Error& e) {
            type = "error " + std::to_string(e.Number()) + ": " + e.what();
          }
          const std::string old_type = Field(expected_[a], 2);
          const std::string new_type = Field(other[a], 2);
          if (type != old_type && type != new_type && type.find(path_) == std::string::npos) {
            got = "street type " + type + " is neither " + old_type + " nor " + new_type;
          }
        }
        if (got == expected_[a]) {
          ++old_answers;
        } else if (got == other[a]) {
          ++new_answers;
        } else if (got.rfind("error ", 0) == 0 && got.find(path_) != std::string::npos) {
          ++errors;  // e.g. "database is locked" while an edit commits
        } else {
          if (bad.fetch_add(1) < 5) ADD_FAILURE() << addresses_[a] << ": " << got;
        }
      }
    });
  }
  for (std::thread& th : threads) th.join();
  done = true;
  replacer.join();
  EXPECT_EQ(bad.load(), 0);
  EXPECT_GT(replacements.load(), 10);
  std::printf("[ counts   ] %d old, %d new, %d errors, %d replacements\n", old_answers.load(),
              new_answers.load(), errors.load(), replacements.load());
}

}  // namespace
}  // namespace zarn
