// Addresses per second for the ways of parsing a file of addresses, over a
// corpus of real addresses repeated to a million lines:
//
//   Literal  five AddressSegment calls per address, with the database opened
//            and closed in every database pass and plain statements without
//            caches (DbPolicy::kOpenPerPass); run on a small subset.
//   Single   one Parse call per address (pooled connection, caches).
//   Batch    ParseBatch over blocks of addresses, result storage reused.
//   CanadaBatch  the same with the canada rule profile.
//   BatchSpans, CanadaBatchSpans, CanadaWholeBatchSpans  the three batches
//            above asking also where each part came from
//            (OutputOptions::spans): each against its row without them.
//   CanadaWholeBatch  the canada profile on whole addresses: each corpus line
//            followed by a municipality, province and postal code in one of
//            the styles files write them (commas or none, French brackets,
//            the code without its space, the province last), or a delivery
//            line in its place; ZARN_BENCH_WHOLE_CORPUS names a file of whole
//            addresses to use instead (such as the address column of
//            ../shared/refdata/whole/*.tsv).
//   Floor    only finding the line ends and spaces of the text (SSE2, sixteen
//            bytes at a time), recording every cut, and checking the lines
//            that are not ASCII as UTF-8: work that no parser of this text
//            can skip.
//
// bench/run runs these together with the command-line program and prints the
// ratios. The corpus and database default to the build's; the environment
// variables ZARN_BENCH_CORPUS and ZARN_BENCH_DATABASE override them.
#include <benchmark/benchmark.h>
#include <utf8.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

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

// The municipality lines that the whole-address corpus adds to street lines,
// in turn; a line starting with "|" replaces the street line (a delivery
// line).
constexpr const char* kWholeTails[] = {
    ", Winnipeg, MB R3C 1A1",
    " TORONTO ON  M5W 1A1",
    ", Montréal (Québec)  H2X 3K8",
    " richmond hill on l4c0p5",
    ", Halton Hills, Ontario L7G 6G9",
    " Seeley's Bay ON K0H 2N0",
    ", trois-pistoles J0T 2E0",
    " THOMPSON R8N 1N2 MB",
    "|PO Box 4001 Stn A, Toronto ON M5W 1A1",
    "|RR 2, Site 5, Comp 10, Gibsons BC V0N 1V0",
    ", Saint-Jean-sur-Richelieu, QC J3B 8R8",
    " North Vancouver BC V7J 3P3",
};

const std::vector<std::string>& WholeCorpus() {
  static const std::vector<std::string> lines = [] {
    std::vector<std::string> distinct;
    const std::string path = FromEnv("ZARN_BENCH_WHOLE_CORPUS", "");
    if (!path.empty()) {
      std::ifstream in(path, std::ios::binary);
      if (!in) throw std::runtime_error("cannot read the corpus " + path);
      for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        distinct.push_back(std::move(line));
      }
      if (distinct.empty()) throw std::runtime_error("the corpus " + path + " is empty");
    } else {
      const auto& street = Corpus();
      const size_t tails = std::size(kWholeTails);
      for (size_t i = 0; i < std::min(street.size(), size_t{30'000}); ++i) {
        const std::string_view tail = kWholeTails[i % tails];
        distinct.push_back(tail[0] == '|' ? std::string(tail.substr(1))
                                          : street[i] + std::string(tail));
      }
    }
    std::vector<std::string> all;
    all.reserve(kCorpusLines);
    for (size_t i = 0; i < kCorpusLines; ++i) all.push_back(distinct[i % distinct.size()]);
    return all;
  }();
  return lines;
}

const std::vector<std::string_view>& WholeCorpusViews() {
  static const std::vector<std::string_view> views(WholeCorpus().begin(), WholeCorpus().end());
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

// Parses blocks of the corpus with ParseBatch until `state` stops; with
// `spans`, through the overload of OutputOptions asking for them.
void RunBatches(benchmark::State& state, zarn::ParseOptions options,
                const std::vector<std::string_view>& corpus = CorpusViews(), bool spans = false) {
  const zarn::ZarnAddress parser(DatabasePath(), options);
  const std::span<const std::string_view> lines(corpus);
  std::vector<zarn::BatchResult> out(kBatchSize);
  zarn::OutputOptions output;
  output.profile = options.profile;
  output.spans = true;
  size_t at = 0;
  int64_t failed = 0;
  for (auto _ : state) {
    if (spans) {
      parser.ParseBatch(lines.subspan(at, kBatchSize), out, output);
    } else {
      parser.ParseBatch(lines.subspan(at, kBatchSize), out);
    }
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

void BM_CanadaWholeBatch(benchmark::State& state) {
  RunBatches(state, zarn::ParseOptions{.profile = zarn::Profile::kCanada}, WholeCorpusViews());
}
BENCHMARK(BM_CanadaWholeBatch)->Unit(benchmark::kMicrosecond);

void BM_BatchSpans(benchmark::State& state) { RunBatches(state, {}, CorpusViews(), true); }
BENCHMARK(BM_BatchSpans)->Unit(benchmark::kMicrosecond);

void BM_CanadaBatchSpans(benchmark::State& state) {
  RunBatches(state, zarn::ParseOptions{.profile = zarn::Profile::kCanada}, CorpusViews(), true);
}
BENCHMARK(BM_CanadaBatchSpans)->Unit(benchmark::kMicrosecond);

void BM_CanadaWholeBatchSpans(benchmark::State& state) {
  RunBatches(state, zarn::ParseOptions{.profile = zarn::Profile::kCanada}, WholeCorpusViews(),
             true);
}
BENCHMARK(BM_CanadaWholeBatchSpans)->Unit(benchmark::kMicrosecond);

// The corpus as one text, its lines ended by "\n", and where each block of
// kBatchSize lines starts (the last entry is the text's size).
struct CorpusText {
  std::string text;
  std::vector<size_t> blocks;
};

const CorpusText& JoinedCorpus() {
  static const CorpusText joined = [] {
    CorpusText c;
    size_t lines = 0;
    for (const std::string& line : Corpus()) {
      if (lines++ % kBatchSize == 0) c.blocks.push_back(c.text.size());
      c.text += line;
      c.text += '\n';
    }
    c.blocks.push_back(c.text.size());
    return c;
  }();
  return joined;
}

// The floor's work on one block of lines: every line end and space found,
// every position recorded (the cut into lines and words), and every line
// that holds a byte outside ASCII checked as UTF-8. Sixteen bytes at a time
// with SSE2, byte by byte elsewhere. Returns the number of lines, or -1 for
// invalid UTF-8.
long CutBlock(std::string_view block, std::vector<uint32_t>& cuts) {
  cuts.clear();
  const char* const p = block.data();
  const size_t n = block.size();
  size_t line_start = 0;
  bool non_ascii = false;
  long lines = 0;
  auto end_line = [&](size_t at) {
    if (non_ascii && !utf8::is_valid(p + line_start, p + at)) return false;
    line_start = at + 1;
    non_ascii = false;
    ++lines;
    return true;
  };
  size_t i = 0;
#if defined(__SSE2__)
  const __m128i newline = _mm_set1_epi8('\n');
  const __m128i space = _mm_set1_epi8(' ');
  for (; i + 16 <= n; i += 16) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i));
    const auto nl = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(v, newline)));
    const auto sp = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(v, space)));
    auto high = static_cast<unsigned>(_mm_movemask_epi8(v));
    for (unsigned cut = nl | sp; cut != 0; cut &= cut - 1) {
      const unsigned bit = static_cast<unsigned>(__builtin_ctz(cut));
      const unsigned before = (1u << bit) - 1;
      if ((high & before) != 0) non_ascii = true;
      high &= ~before;
      cuts.push_back(static_cast<uint32_t>(i + bit));
      if (((nl >> bit) & 1) != 0 && !end_line(i + bit)) return -1;
    }
    if (high != 0) non_ascii = true;
  }
#endif
  for (; i < n; ++i) {
    const auto byte = static_cast<unsigned char>(p[i]);
    if (byte >= 0x80) non_ascii = true;
    if (byte != '\n' && byte != ' ') continue;
    cuts.push_back(static_cast<uint32_t>(i));
    if (byte == '\n' && !end_line(i)) return -1;
  }
  return lines;
}

void BM_Floor(benchmark::State& state) {
  const CorpusText& corpus = JoinedCorpus();
  std::vector<uint32_t> cuts;
  cuts.reserve(64 * kBatchSize);
  size_t block = 0;
  int64_t lines = 0;
  for (auto _ : state) {
    const size_t begin = corpus.blocks[block];
    const long n = CutBlock(
        std::string_view(corpus.text).substr(begin, corpus.blocks[block + 1] - begin), cuts);
    if (n < 0) {
      state.SkipWithError("invalid UTF-8 in the corpus");
      break;
    }
    lines += n;
    benchmark::DoNotOptimize(cuts.data());
    benchmark::ClobberMemory();
    if (++block + 1 == corpus.blocks.size()) block = 0;
  }
  state.SetItemsProcessed(lines);
}
BENCHMARK(BM_Floor)->Unit(benchmark::kMicrosecond);

// `zarn_bench --count-batches N [--canada|--whole|--single] [--spans]`:
// parses N blocks of the corpus with ParseBatch (--whole: the whole-address
// corpus with the canada rules; --single: address by address with Parse,
// each call checking the file) and exits, without the benchmark framework,
// for counting instructions under callgrind (bench/count-instructions runs it
// twice and takes the difference, so that start-up and the cold memo cancel
// out). With --spans, the batches ask where each part came from.
int CountBatches(long batches, zarn::ParseOptions options, bool single, bool spans, bool whole) {
  const zarn::ZarnAddress parser(DatabasePath(), options);
  const std::span<const std::string_view> lines(whole ? WholeCorpusViews() : CorpusViews());
  std::vector<zarn::BatchResult> out(kBatchSize);
  zarn::OutputOptions output;
  output.profile = options.profile;
  output.spans = true;
  size_t at = 0;
  long failed = 0;
  for (long b = 0; b < batches; ++b) {
    if (single) {
      for (const std::string_view line : lines.subspan(at, kBatchSize)) {
        try {
          benchmark::DoNotOptimize(parser.Parse(line));
        } catch (const std::exception&) {
          ++failed;
        }
      }
    } else {
      if (spans) {
        parser.ParseBatch(lines.subspan(at, kBatchSize), out, output);
      } else {
        parser.ParseBatch(lines.subspan(at, kBatchSize), out);
      }
      for (const zarn::BatchResult& r : out) failed += r.ok() ? 0 : 1;
    }
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
    bool single = false;
    bool spans = false;
    bool whole = false;
    for (int a = 3; a < argc; ++a) {
      const std::string_view mode = argv[a];
      if (mode == "--canada" || mode == "--whole") options.profile = zarn::Profile::kCanada;
      single = single || mode == "--single";
      spans = spans || mode == "--spans";
      whole = whole || mode == "--whole";
    }
    return CountBatches(std::strtol(argv[2], nullptr, 10), options, single, spans, whole);
  }
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
