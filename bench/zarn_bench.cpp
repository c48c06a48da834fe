// Addresses per second for the ways of parsing a file of addresses, over a
// corpus of real addresses repeated to a million lines:
//
//   Literal  five AddressSegment calls per address, with the database opened
//            and closed in every database pass and plain statements without
//            caches (DbPolicy::kOpenPerPass); run on a small subset.
//   Single   one Parse call per address (pooled connection, caches).
//   Batch    ParseBatch over blocks of addresses, result storage reused.
//   CanadaBatch  the same with the canada rule profile.
//   Floor    only UTF-8 decoding and cutting each line into words: work that
//            no parser of this text can skip.
//
// bench/run runs these together with the command-line program and prints the
// ratios. The corpus and database default to the build's; the environment
// variables ZARN_BENCH_CORPUS and ZARN_BENCH_DATABASE override them.
#include <benchmark/benchmark.h>
#include <utf8.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "component/access.h"
#include "zarn/zarn.hpp"

namespace {

constexpr size_t kCorpusLines = 1'000'000;
constexpr size_t kLiteralSubset = 200;
constexpr size_t kBatchSize = 1024;

std::string FromEnv(const char* name, const char* fallback) {
  const char* value = std::getenv(name);
  return value != nullptr && *value != '\0' ? value : fallback;
}

const std::string& DatabasePath() {
  static const std::string path = FromEnv("ZARN_BENCH_DATABASE", ZARN_BENCH_DATABASE);
  return path;
}

// The corpus lines repeated in order to a million, each its own string so
// that the parses walk through a million-line file's worth of memory.
const std::vector<std::string>& Corpus() {
  static const std::vector<std::string> lines = [] {
    const std::string path = FromEnv("ZARN_BENCH_CORPUS", ZARN_BENCH_CORPUS);
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error("cannot read the corpus " + path);
    std::vector<std::string> distinct;
    for (std::string line; std::getline(in, line);) {
      if (!line.empty() && line.back() == '\r') line.pop_back();
      distinct.push_back(std::move(line));
    }
    if (distinct.empty()) throw std::runtime_error("the corpus " + path + " is empty");
    std::vector<std::string> all;
    all.reserve(kCorpusLines);
    for (size_t i = 0; i < kCorpusLines; ++i) all.push_back(distinct[i % distinct.size()]);
    return all;
  }();
  return lines;
}

const std::vector<std::string_view>& CorpusViews() {
  static const std::vector<std::string_view> views(Corpus().begin(), Corpus().end());
  return views;
}

void BM_Literal(benchmark::State& state) {
  const zarn::ZarnAddress parser =
      zarn::detail::Access::WithPolicy(DatabasePath(), zarn::internal::DbPolicy::kOpenPerPass);
  const auto& lines = Corpus();
  size_t i = 0;
  for (auto _ : state) {
    const std::string& address = lines[i];
    for (int kind :
         {zarn::kStreetNumber, zarn::kStreet, zarn::kStreetType, zarn::kDirection, zarn::kUnit}) {
      benchmark::DoNotOptimize(parser.AddressSegment(address, kind));
    }
    if (++i == kLiteralSubset) i = 0;
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
}
BENCHMARK(BM_Literal)->Unit(benchmark::kMicrosecond);

void BM_Single(benchmark::State& state) {
  const zarn::ZarnAddress parser(DatabasePath());
  const auto& lines = Corpus();
  size_t i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(parser.Parse(lines[i]));
    if (++i == lines.size()) i = 0;
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
}
BENCHMARK(BM_Single)->Unit(benchmark::kMicrosecond);

// Parses blocks of the corpus with ParseBatch until `state` stops.
void RunBatches(benchmark::State& state, zarn::ParseOptions options) {
  const zarn::ZarnAddress parser(DatabasePath(), options);
  const std::span<const std::string_view> lines(CorpusViews());
  std::vector<zarn::BatchResult> out(kBatchSize);
  size_t at = 0;
  int64_t failed = 0;
  for (auto _ : state) {
    parser.ParseBatch(lines.subspan(at, kBatchSize), out);
    for (const zarn::BatchResult& r : out) failed += r.ok() ? 0 : 1;
    at += kBatchSize;
    if (at + kBatchSize > lines.size()) at = 0;
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * kBatchSize));
  state.counters["failed"] = static_cast<double>(failed);
}

void BM_Batch(benchmark::State& state) { RunBatches(state, {}); }
BENCHMARK(BM_Batch)->Unit(benchmark::kMicrosecond);

void BM_CanadaBatch(benchmark::State& state) {
  RunBatches(state, zarn::ParseOptions{.profile = zarn::Profile::kCanada});
}
BENCHMARK(BM_CanadaBatch)->Unit(benchmark::kMicrosecond);

void BM_Floor(benchmark::State& state) {
  const auto& lines = Corpus();
  std::u16string text;
  std::vector<std::u16string_view> words;
  size_t i = 0;
  for (auto _ : state) {
    const std::string& line = lines[i];
    if (utf8::find_invalid(line.begin(), line.end()) != line.end()) {
      state.SkipWithError("invalid UTF-8 in the corpus");
      break;
    }
    text.clear();
    utf8::unchecked::utf8to16(line.begin(), line.end(), std::back_inserter(text));
    words.clear();
    const std::u16string_view view(text);
    size_t at = 0;
    while (at < view.size()) {
      const size_t stop = std::min(view.find(u' ', at), view.size());
      if (stop > at) words.push_back(view.substr(at, stop - at));
      at = stop + 1;
    }
    benchmark::DoNotOptimize(words.data());
    benchmark::ClobberMemory();
    if (++i == lines.size()) i = 0;
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
}
BENCHMARK(BM_Floor)->Unit(benchmark::kMicrosecond);

// `zarn_bench --count-batches N [--canada]`: parses N blocks of the corpus
// with ParseBatch and exits, without the benchmark framework, for counting
// instructions under callgrind (bench/count-instructions runs it twice and
// takes the difference, so that start-up and the cold memo cancel out).
int CountBatches(long batches, zarn::ParseOptions options) {
  const zarn::ZarnAddress parser(DatabasePath(), options);
  const std::span<const std::string_view> lines(CorpusViews());
  std::vector<zarn::BatchResult> out(kBatchSize);
  size_t at = 0;
  long failed = 0;
  for (long b = 0; b < batches; ++b) {
    parser.ParseBatch(lines.subspan(at, kBatchSize), out);
    for (const zarn::BatchResult& r : out) failed += r.ok() ? 0 : 1;
    at += kBatchSize;
    if (at + kBatchSize > lines.size()) at = 0;
  }
  std::printf("%ld addresses, %ld failed\n", batches * static_cast<long>(kBatchSize), failed);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc >= 3 && std::string_view(argv[1]) == "--count-batches") {
    zarn::ParseOptions options;
    if (argc >= 4 && std::string_view(argv[3]) == "--canada") options.profile = zarn::Profile::kCanada;
    return CountBatches(std::strtol(argv[2], nullptr, 10), options);
  }
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
