// Rows as they travel through zarn-parse: read in chunks, parsed (and, for
// the stateless formats, formatted) by worker threads, written in input
// order. Chunks are recycled once written, so their storage is reused and a
// long run does no allocation per row.
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

// A run of consecutive rows, parsed together and written together. The
// fields of all rows are stored back to back in `text`.
struct Chunk {
  static constexpr size_t kChunkBytesHint = 256 * 1024;
  struct Field {
    size_t begin = 0;
    size_t size = 0;
    bool cut = false;  // the input field was longer and was cut to this size
  };
  struct Row {
    size_t first_field = 0;
    size_t field_count = 0;
    // Why the row cannot be parsed, when the reader already knows it.
    std::string problem;
  };

  uint64_t sequence = 0;
  std::string text;
  std::vector<Field> fields;
  std::vector<Row> rows;
  // One per row once parsed; may hold more, left over from an earlier use.
  std::vector<zarn::BatchResult> results;
  // The formatted rows, when the worker threads format them.
  std::string output;
  uint64_t end_offset = 0;  // input bytes consumed up to the end of the last row

  size_t size() const { return rows.size(); }
  std::string_view FieldText(const Field& f) const { return {text.data() + f.begin, f.size}; }
  std::string_view FieldText(size_t row, size_t index) const {
    return FieldText(fields[rows[row].first_field + index]);
  }

  // Empties the chunk and keeps its storage for the next use, unless one
  // enormous row made it grow far beyond the usual size.
  void Clear() {
    if (text.capacity() > 4 * kChunkBytesHint) text = std::string();
    if (output.capacity() > 8 * kChunkBytesHint) output = std::string();
    text.clear();
    fields.clear();
    rows.clear();
    output.clear();
    end_offset = 0;
  }
};

// Chunks close at whichever limit comes first.
inline constexpr size_t kChunkRows = 512;
inline constexpr size_t kChunkBytes = Chunk::kChunkBytesHint;

// Longest line or field kept whole. The parser refuses anything beyond
// 32,767 UTF-16 units anyway; longer text is cut here so that one enormous
// line cannot exhaust memory, and its row reports the cut.
inline constexpr size_t kMaxFieldBytes = 1024 * 1024;

// The error_number given to rows that were refused before parsing.
inline constexpr int kRowRefused = -1;

// The error of a row whose address field was cut at kMaxFieldBytes.
inline constexpr std::string_view kCutFieldProblem =
    "longer than 1048576 bytes: not parsed, and only that much is kept";
static_assert(kMaxFieldBytes == 1048576, "kCutFieldProblem states the limit");

}  // namespace zarn_parse

#endif  // ZARN_TOOLS_ZARN_PARSE_ROWS_H_
