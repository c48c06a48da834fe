// Input of zarn-parse: one address per line, or a CSV file with a header.
// Both readers stream: they hand over chunks of rows as they go and never
// hold more than one chunk themselves.
#ifndef ZARN_TOOLS_ZARN_PARSE_INPUT_H_
#define ZARN_TOOLS_ZARN_PARSE_INPUT_H_

#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "zarn_parse/rows.h"

namespace zarn_parse {

// A file or standard input, read in blocks. Read errors throw FatalError
// naming the input.
class InputFile {
 public:
  // "-" is standard input.
  static InputFile Open(const std::string& path);
  InputFile(InputFile&&) noexcept;
  InputFile& operator=(InputFile&&) = delete;
  InputFile(const InputFile&) = delete;
  ~InputFile();

  size_t Read(char* buffer, size_t size);
  const std::string& name() const { return name_; }
  // The size of a regular file, or 0 when the input is a pipe or terminal.
  uint64_t size() const { return size_; }
  bool is_terminal() const;

 private:
  InputFile(std::FILE* file, std::string name, bool owned, uint64_t size);
  std::FILE* file_;
  std::string name_;
  bool owned_;
  uint64_t size_;
};

// Receives each full chunk; returns false to stop reading (output failed).
using ChunkSink = std::function<bool(Chunk&&)>;

// One row per line: LF or CRLF line ends, a UTF-8 byte order mark at the
// start skipped, every line kept (empty ones too). A line that is not valid
// UTF-8 or longer than kMaxFieldBytes gets its problem set.
void ReadLines(InputFile& input, const ChunkSink& sink);

// A CSV file (RFC 4180 quoting) whose first record is the header. `on_header`
// gets the header before any row is handed over and returns the index of
// the field to parse; it may throw to stop. Rows whose field count differs
// from the header's get a problem. Malformed CSV throws FatalError.
void ReadCsv(InputFile& input,
             const std::function<size_t(const std::vector<std::string>&)>& on_header,
             const ChunkSink& sink);

}  // namespace zarn_parse

#endif  // ZARN_TOOLS_ZARN_PARSE_INPUT_H_
