// The reference database changes between calls: renamed over, deleted,
// edited in place through SQLite, and overwritten in place by a file of the
// same size. After every change, a long-lived parser must answer exactly as
// a fresh one does for the file as it now is (or fail with the missing-file
// error), and it must never write the file or leave anything beside it.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <set>
#include <thread>

#include "reliability_support.h"

namespace zarn {
namespace {

using testing::Outcome;
using testing::ReadFileBytes;

namespace fs = std::filesystem;

// Overwrites the file's bytes without replacing or truncating it.
void OverwriteInPlace(const std::string& path, const std::string& bytes) {
  const int fd = ::open(path.c_str(), O_WRONLY);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(::pwrite(fd, bytes.data(), bytes.size(), 0), static_cast<ssize_t>(bytes.size()));
  ::close(fd);
}

std::string Describe(const std::vector<Outcome>& outcomes) {
  std::string s;
  for (const Outcome& o : outcomes) s += ::testing::PrintToString(o) + " ";
  return s;
}

TEST(ChangingReferenceFile, ThousandAlternationsAnswerAsAFreshParserWould) {
  testing::TempDir dir;
  testing::TempDir work;
  const std::string path = dir.File("qordatavb.DAT");

  // Two versions of the same size that answer differently: in the second,
  // "Street" is "Strass" and 10 Spadina Avenue is delivered as 14 Spadina.
  const std::string first = work.File("first.DAT");
  const std::string second = work.File("second.DAT");
  testing::MakeReference(first);
  testing::MakeReference(second);
  testing::ExecSql(second,
                   "UPDATE StreetType SET StreetTypeDesc='Strass' WHERE StreetTypeDesc='Street';"
                   "UPDATE AlternateAddress SET DeliveryNumber='14' WHERE DeliveryNumber='12'");
  const std::string images[] = {ReadFileBytes(first), ReadFileBytes(second)};
  ASSERT_EQ(images[0].size(), images[1].size());
  ASSERT_NE(images[0], images[1]);

  const std::vector<std::string> addresses = {"123 Main St. N", "10 Spadina Ave", "44 Kng St W"};
  const std::vector<std::string_view> batch(addresses.begin(), addresses.end());
  const ZarnAddress parser(path);
  const ZarnAddress copy = parser;  // shares the pool of connections
  std::set<std::string> answer_sets;
  int present = 0;
  constexpr int kAlternations = 1000;
  for (int i = 0; i < kAlternations; ++i) {
    // Each round of four starts from the other version than the last round.
    const int version = (i / 4) % 2;
    switch (i % 4) {
      case 0: {  // a new file renamed over the old one (or over nothing)
        const std::string temporary = work.File("next.DAT");
        testing::WriteFileBytes(temporary, images[version]);
        fs::rename(temporary, path);
        break;
      }
      case 1:  // edited in place through SQLite, to the content of the other one
        testing::ExecSql(path, version == 0 ? "UPDATE StreetType SET StreetTypeDesc='Strass' "
                                              "WHERE StreetTypeDesc='Street';"
                                              "UPDATE AlternateAddress SET DeliveryNumber='14' "
                                              "WHERE DeliveryNumber='12'"
                                            : "UPDATE StreetType SET StreetTypeDesc='Street' "
                                              "WHERE StreetTypeDesc='Strass';"
                                              "UPDATE AlternateAddress SET DeliveryNumber='12' "
                                              "WHERE DeliveryNumber='14'");
        break;
      case 2:  // overwritten in place with the first version again, same size
        OverwriteInPlace(path, images[version]);
        break;
      case 3:  // deleted
        fs::remove(path);
        break;
    }
    const bool exists = fs::exists(path);
    const std::string bytes = exists ? ReadFileBytes(path) : std::string();
    const std::vector<Outcome> fresh = testing::FreshAnswers(path, addresses);
    const std::vector<Outcome> got = testing::ParseAll(i % 2 == 0 ? parser : copy, addresses);
    const std::vector<BatchResult> batched = parser.ParseBatch(batch);
    for (size_t a = 0; a < addresses.size(); ++a) {
      ASSERT_TRUE(got[a].SameAs(fresh[a]))
          << "alternation " << i << ", \"" << addresses[a] << "\": " << got[a] << " but a fresh "
          << "parser gives " << fresh[a];
      ASSERT_EQ(batched[a].error_number, fresh[a].error) << "alternation " << i;
      if (fresh[a].ok()) {
        ASSERT_EQ(batched[a].parts, fresh[a].parts) << "alternation " << i;
      }
      if (!exists) {
        ASSERT_EQ(got[a].error, SQLITE_CANTOPEN) << got[a];
        ASSERT_NE(got[a].message.find(path), std::string::npos);
      } else {
        ASSERT_TRUE(got[a].ok()) << "alternation " << i << ": " << got[a];
      }
    }
    if (exists) {
      ++present;
      answer_sets.insert(Describe(got));
      ASSERT_EQ(ReadFileBytes(path), bytes) << "the file was written, alternation " << i;
    }
    const testing::Snapshot listing = testing::TakeSnapshot(dir.path());
    ASSERT_EQ(listing.size(), exists ? 1u : 0u) << "files left beside the database";
  }
  EXPECT_EQ(present, kAlternations - kAlternations / 4);
  // Both versions were seen, so the comparison above was not trivially true.
  EXPECT_EQ(answer_sets.size(), 2u);
}

}  // namespace
}  // namespace zarn

namespace zarn {
namespace {

// One call reads the file many times (one look-up per word). An edit that
// commits while a call runs must not give that call half of each version.
TEST(ChangingReferenceFile, EditDuringACallGivesOneVersionOrTheOther) {
  testing::TempDir dir;
  const std::string path = dir.File("qordatavb.DAT");
  testing::MakeReference(path);
  std::string words;
  std::string address = "1";
  for (int i = 0; i < 300; ++i) {
    const std::string word = std::string("W").append(std::to_string(i));
    words.append(i == 0 ? "('" : ",('").append(word).append("')");
    address.append(" ").append(word);
  }
  testing::ExecSql(path, "INSERT INTO StreetType (StreetTypeDesc) VALUES " + words);
  const char* to_x =
      "UPDATE StreetType SET StreetTypeDesc='X'||substr(StreetTypeDesc,2) "
      "WHERE StreetTypeDesc GLOB 'W[0-9]*'";
  const char* to_w =
      "UPDATE StreetType SET StreetTypeDesc='W'||substr(StreetTypeDesc,2) "
      "WHERE StreetTypeDesc GLOB 'X[0-9]*'";
  const Outcome with_w = testing::FreshAnswers(path, {address})[0];
  testing::ExecSql(path, to_x);
  const Outcome with_x = testing::FreshAnswers(path, {address})[0];
  testing::ExecSql(path, to_w);
  ASSERT_TRUE(with_w.ok() && with_x.ok()) << with_w << " " << with_x;
  ASSERT_NE(with_w.parts, with_x.parts);

  const ZarnAddress parser(path);
  std::atomic<bool> done{false};
  std::atomic<int> edits{0};
  std::thread editor([&] {
    sqlite3* db = nullptr;
    sqlite3_open(path.c_str(), &db);
    sqlite3_busy_timeout(db, 10000);
    for (int round = 0; !done.load(); ++round) {
      if (sqlite3_exec(db, round % 2 == 0 ? to_x : to_w, nullptr, nullptr, nullptr) == SQLITE_OK) {
        ++edits;
      }
      std::this_thread::sleep_for(std::chrono::microseconds(100));
    }
    sqlite3_close(db);
  });
  int mixed = 0;
  int calls = 0;
  int w_answers = 0;
  // Parse for at least two seconds and until the editor has committed a
  // fair number of edits; under valgrind threads take turns, so that takes
  // longer. The time cap keeps a starved editor from hanging the test.
  const auto start = std::chrono::steady_clock::now();
  const auto at_least = start + std::chrono::seconds(2);
  const auto at_most = start + std::chrono::seconds(60);
  for (;;) {
    const auto now = std::chrono::steady_clock::now();
    if (now >= at_most || (now >= at_least && edits.load() >= 40)) break;
    const Outcome o = testing::ParseOutcome(parser, address);
    ++calls;
    w_answers += o.SameAs(with_w) ? 1 : 0;
    if (o.ok() && !o.SameAs(with_w) && !o.SameAs(with_x)) {
      if (++mixed == 1) ADD_FAILURE() << "a mixed answer: " << o;
    }
  }
  done = true;
  editor.join();
  EXPECT_EQ(mixed, 0) << "of " << calls << " calls";
  EXPECT_GT(edits.load(), 10) << "the file hardly changed, so the test proved little";
  std::printf("[ counts   ] %d calls, %d with the first version, %d edits\n", calls, w_answers,
              edits.load());
}

}  // namespace
}  // namespace zarn
