// Out of memory: for a few addresses, the Nth allocation fails, for every N
// until a run needs no more than N - 1 allocations. Once through SQLite's
// allocator (installed with SQLITE_CONFIG_MALLOC before SQLite starts, hence
// this program's own main()), once through operator new. Every iteration
// must give the right answer or the out-of-memory error, never a wrong answer
// or another error, and must leave no allocation behind.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <atomic>
#include <cstdlib>
#include <new>

#include "reliability_support.h"

namespace {

// Allocation failure injection. `countdown` counts allocations down while
// armed; the allocation that takes it to zero fails (and, when `persistent`,
// every later one too).
struct Injector {
  std::atomic<bool> armed{false};
  std::atomic<long> countdown{0};
  std::atomic<bool> persistent{false};
  std::atomic<bool> fired{false};

  bool ShouldFail() {
    if (!armed.load(std::memory_order_relaxed)) return false;
    const long left = countdown.fetch_sub(1) - 1;
    if (left == 0 || (left < 0 && persistent.load())) {
      fired = true;
      return true;
    }
    return false;
  }
  void Arm(long n, bool keep_failing) {
    fired = false;
    persistent = keep_failing ? true : false;
    countdown = n;
    armed = true;
  }
  void Disarm() { armed = false; }
};

Injector g_sqlite;
Injector g_new;
std::atomic<long> g_live_news{0};
sqlite3_mem_methods g_default_methods;

void* FailingMalloc(int n) {
  return g_sqlite.ShouldFail() ? nullptr : g_default_methods.xMalloc(n);
}
void* FailingRealloc(void* p, int n) {
  return g_sqlite.ShouldFail() ? nullptr : g_default_methods.xRealloc(p, n);
}

void* CountedNew(std::size_t n) {
  if (g_new.ShouldFail()) return nullptr;
  void* p = std::malloc(n != 0 ? n : 1);
  if (p != nullptr) ++g_live_news;
  return p;
}
// Memory from CountedNew comes from malloc, so free is its match.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
void CountedDelete(void* p) {
  if (p == nullptr) return;
  --g_live_news;
  std::free(p);
}
#pragma GCC diagnostic pop

}  // namespace

void* operator new(std::size_t n) {
  void* p = CountedNew(n);
  if (p == nullptr) throw std::bad_alloc();
  return p;
}
void* operator new[](std::size_t n) {
  void* p = CountedNew(n);
  if (p == nullptr) throw std::bad_alloc();
  return p;
}
void* operator new(std::size_t n, const std::nothrow_t&) noexcept { return CountedNew(n); }
void* operator new[](std::size_t n, const std::nothrow_t&) noexcept { return CountedNew(n); }
void operator delete(void* p) noexcept { CountedDelete(p); }
void operator delete[](void* p) noexcept { CountedDelete(p); }
void operator delete(void* p, std::size_t) noexcept { CountedDelete(p); }
void operator delete[](void* p, std::size_t) noexcept { CountedDelete(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { CountedDelete(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { CountedDelete(p); }

namespace zarn {
namespace {

using testing::Outcome;

enum class Where { kSqlite, kNew };

struct OomCase {
  Where where;
  bool persistent;
  const char* name;
};

std::ostream& operator<<(std::ostream& out, const OomCase& c) { return out << c.name; }

class OutOfMemory : public ::testing::TestWithParam<OomCase> {
 protected:
  static void SetUpTestSuite() {
    dir_ = new testing::TempDir;
    testing::MakeReference(dir_->File("qordatavb.DAT"));
  }
  static void TearDownTestSuite() { delete dir_; }
  static std::string Path() { return dir_->File("qordatavb.DAT"); }
  static testing::TempDir* dir_;
};
testing::TempDir* OutOfMemory::dir_ = nullptr;

// One parse by a fresh parser (so that opening the file is tried too), or a
// batch of the address twice, with `injector` armed to fail allocation `n`
// (0: none) for exactly the library's calls.
std::vector<Outcome> Attempt(const std::string& path, const std::string& address, bool batch,
                             Injector& injector, long n) {
  std::vector<Outcome> out;
  out.reserve(2);
  std::vector<BatchResult> results;
  results.reserve(2);
  const std::string_view addresses[] = {address, address};
  Outcome single;
  if (n > 0) injector.Arm(n, injector.persistent);
  try {
    const ZarnAddress parser(path);
    if (!batch) {
      single.parts = parser.Parse(address);
    } else {
      results = parser.ParseBatch(addresses);
    }
    injector.Disarm();
  } catch (const Error& e) {
    injector.Disarm();
    single.error = e.Number();
    single.message = e.what();
  } catch (const std::bad_alloc&) {
    // Only the parser's constructor may let this through: it allocates its
    // shared state before any call can report anything.
    injector.Disarm();
    single.error = -1;
  }
  if (!batch || single.error != 0) {
    out.push_back(single);
    return out;
  }
  for (const BatchResult& r : results) {
    Outcome o;
    o.parts = r.parts;
    o.error = r.error_number;
    o.message = r.error_message;
    out.push_back(o);
  }
  return out;
}

TEST_P(OutOfMemory, EveryFailedAllocationIsReportedNeverAWrongAnswerOrALeak) {
  const OomCase c = GetParam();
  Injector& injector = c.where == Where::kSqlite ? g_sqlite : g_new;
  long total_iterations = 0;
  for (const std::string address : {"123 Main St. N", "10 Spadina Ave", "Apt 5 44 Kng St W"}) {
    for (const bool batch : {false, true}) {
      SCOPED_TRACE(address + (batch ? " (batch)" : ""));
      injector.persistent = c.persistent;
      const std::vector<Outcome> right = Attempt(Path(), address, batch, injector, 0);
      for (const Outcome& o : right) ASSERT_TRUE(o.ok()) << o;
      // One failing attempt and a clean one before measuring, so that what
      // the first failure sets up once (and keeps) is not counted as a leak,
      // and the per-thread scratch storage is at its size for this address.
      Attempt(Path(), address, batch, injector, 1);
      Attempt(Path(), address, batch, injector, 0);
      const long news_before = g_live_news.load();
      const sqlite3_int64 sqlite_before = sqlite3_memory_used();
      long n = 1;
      for (; n < 20000; ++n) {
        const std::vector<Outcome> got = Attempt(Path(), address, batch, injector, n);
        const bool fired = injector.fired.load();
        for (size_t i = 0; i < got.size(); ++i) {
          const Outcome& o = got[i];
          if (o.ok()) {
            ASSERT_EQ(o.parts, right[i].parts)
                << "a wrong answer when allocation " << n << " failed";
          } else if (o.error != -1) {
            ASSERT_TRUE(fired) << "an error without a failed allocation: " << o;
            ASSERT_EQ(o.error, kErrorOutOfMemory) << "allocation " << n << ": " << o;
            ASSERT_EQ(o.message, "Out of memory");
          } else {
            ASSERT_TRUE(fired);
          }
        }
        // A clean parse puts the scratch storage back as it was; nothing else
        // may remain allocated.
        {
          const std::vector<Outcome> again = Attempt(Path(), address, batch, injector, 0);
          for (size_t i = 0; i < again.size(); ++i) ASSERT_EQ(again[i].parts, right[i].parts);
        }
        // (The test's own vector of outcomes is the one allocation expected.)
        ASSERT_EQ(g_live_news.load(), news_before + 1) << "operator new leak, allocation " << n;
        ASSERT_EQ(sqlite3_memory_used(), sqlite_before) << "SQLite leak, allocation " << n;
        if (!fired) break;  // the whole call needed fewer than n allocations
      }
      EXPECT_LT(n, 20000) << "no clean run";
      total_iterations += n;
    }
  }
  std::printf("[ counts   ] %ld failure points tried\n", total_iterations);
}

INSTANTIATE_TEST_SUITE_P(Allocators, OutOfMemory,
                         ::testing::Values(OomCase{Where::kSqlite, false, "SqliteNth"},
                                           OomCase{Where::kSqlite, true, "SqliteFromNthOn"},
                                           OomCase{Where::kNew, false, "OperatorNewNth"}),
                         [](const ::testing::TestParamInfo<OomCase>& p) {
                           return std::string(p.param.name);
                         });

}  // namespace
}  // namespace zarn

int main(int argc, char** argv) {
  // SQLite takes its allocator only before it starts.
  if (sqlite3_config(SQLITE_CONFIG_GETMALLOC, &g_default_methods) != SQLITE_OK) return 2;
  sqlite3_mem_methods failing = g_default_methods;
  failing.xMalloc = FailingMalloc;
  failing.xRealloc = FailingRealloc;
  if (sqlite3_config(SQLITE_CONFIG_MALLOC, &failing) != SQLITE_OK) return 2;
  if (sqlite3_initialize() != SQLITE_OK) return 2;
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
