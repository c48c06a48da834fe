// Rows as they travel through zarn-parse: read in chunks, parsed by worker
// threads, written in input order.
#ifndef ZARN_TOOLS_ZARN_PARSE_ROWS_H_
#define ZARN_TOOLS_ZARN_PARSE_ROWS_H_

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "zarn/zarn.hpp"

namespace zarn_parse {

// A fatal problem with an input or output file or the reference database:
// the program prints the message on one line and exits with status 2.
class FatalError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// One input row: its fields (a single one, the address, for line input) and,
// when the reader already knows the row cannot be parsed, why.
struct InputRow {
  std::vector<std::string> fields;
  std::string problem;
};

// A run of consecutive rows, parsed together and written together.
struct Chunk {
  uint64_t sequence = 0;
  std::vector<InputRow> rows;
  std::vector<zarn::BatchResult> results;
  size_t bytes = 0;         // text held by the rows, to bound the chunk size
  uint64_t end_offset = 0;  // input bytes consumed up to the end of the last row
};

// Chunks close at whichever limit comes first.
inline constexpr size_t kChunkRows = 512;
inline constexpr size_t kChunkBytes = 256 * 1024;

// Longest line or field kept whole. The parser refuses anything beyond
// 32,767 UTF-16 units anyway; longer text is cut here so that one enormous
// line cannot exhaust memory, and its row reports the cut.
inline constexpr size_t kMaxFieldBytes = 1024 * 1024;

// The error_number given to rows that the reader refused before parsing.
inline constexpr int kRowRefused = -1;

}  // namespace zarn_parse

#endif  // ZARN_TOOLS_ZARN_PARSE_ROWS_H_
