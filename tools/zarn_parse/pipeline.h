// The parallel part of zarn-parse: chunks of rows go from the reader to N
// parsing threads and on to one writing thread, which writes them in input
// order. At most a fixed number of chunks exist at once, and written chunks
// go back to the reader to be filled again, so memory stays flat however
// long the input and the steady state allocates nothing per row.
#ifndef ZARN_TOOLS_ZARN_PARSE_PIPELINE_H_
#define ZARN_TOOLS_ZARN_PARSE_PIPELINE_H_

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <exception>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "zarn/zarn.hpp"
#include "zarn_parse/rows.h"

namespace zarn_parse {

// Counts kept by the writing thread.
struct RunStats {
  uint64_t rows = 0;
  uint64_t parsed = 0;
  uint64_t failed = 0;
  // Rows that failed because the reference database could not be used.
  uint64_t database_failures = 0;
  std::string first_database_error;
};

// True for errors that belong to the row itself (bad text, too long, an
// unusable value), false for failures of the reference database.
bool IsRowError(int error_number);

// Parses field `address_index` of every row of `chunk` into chunk.results
// (one per row). A row the reader refused, or whose field is cut or not
// valid UTF-8, gets error kRowRefused and the reason. The results carry the
// diagnostics and the standard form as `options` ask.
void ParseChunk(const zarn::ZarnAddress& parser, size_t address_index, Chunk& chunk,
                const zarn::OutputOptions& options = {});

class Pipeline {
 public:
  // `format` (may be empty) runs on the parsing threads, after each chunk is
  // parsed, several at once; `write` runs on the writing thread, once per
  // chunk, in input order, and may throw FatalError, which stops the run.
  using FormatFn = std::function<void(Chunk&)>;
  using WriteFn = std::function<void(const Chunk&)>;

  Pipeline(const zarn::ZarnAddress& parser, size_t address_index, int threads, FormatFn format,
           WriteFn write, const zarn::OutputOptions& options);
  ~Pipeline();
  Pipeline(const Pipeline&) = delete;
  Pipeline& operator=(const Pipeline&) = delete;

  // Takes the rows of `chunk` and leaves an empty chunk in its place, with
  // storage to reuse when one is free. Blocks while the pipeline is full.
  // Returns false once writing failed.
  bool Submit(Chunk& chunk);
  // Waits until every submitted chunk is written; throws what `write` threw.
  void Finish();

 private:
  void ParseLoop();
  void WriteLoop();
  void Close();

  const zarn::ZarnAddress& parser_;
  const size_t address_index_;
  const zarn::OutputOptions options_;
  const size_t max_in_flight_;
  FormatFn format_;
  WriteFn write_;

  std::mutex mutex_;
  std::condition_variable space_;   // a chunk slot is free
  std::condition_variable work_;    // a chunk waits to be parsed
  std::condition_variable parsed_;  // a chunk was parsed
  std::deque<Chunk> to_parse_;
  // Parsed chunks waiting for the writer, chunk k in slot k % max_in_flight_
  // (at most max_in_flight_ chunks exist, so slots are never shared).
  std::vector<std::optional<Chunk>> parsed_slots_;
  std::vector<Chunk> free_;  // written chunks, emptied, to be filled again
  size_t in_flight_ = 0;
  uint64_t submitted_ = 0;
  uint64_t written_ = 0;
  bool closed_ = false;
  std::exception_ptr failure_;

  std::vector<std::thread> parsers_;
  std::thread writer_;
};

}  // namespace zarn_parse

#endif  // ZARN_TOOLS_ZARN_PARSE_PIPELINE_H_
