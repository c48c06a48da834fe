// Input of zarn-parse: one address per line, or a CSV file with a header.
// Both readers stream: they hand over chunks of rows as they go and never
// hold more than one chunk themselves.
#ifndef ZARN_TOOLS_ZARN_PARSE_INPUT_H_
#define ZARN_TOOLS_ZARN_PARSE_INPUT_H_

#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "zarn_parse/rows.h"

namespace zarn_parse {

// The character encoding of an input. Windows-1252 and ISO 8859-1 files (as
// Excel and Access export them in Canada) are read as UTF-8.
enum class Encoding { kUtf8, kCp1252, kLatin1 };

// Reads "utf-8", "cp1252" (also "windows-1252") or "latin-1" (also
// "iso-8859-1"), in any case; false for any other name.
bool EncodingFromName(std::string_view name, Encoding* encoding);

// True when `text` has bytes above ASCII and none that Windows-1252 leaves
// undefined: for text that is not valid UTF-8, the hint to give.
bool LooksLikeCp1252(std::string_view text);

// A file or standard input, read in blocks, as UTF-8. Read errors throw
// FatalError naming the input. A stop requested by a signal (StopRequested)
// ends the input early, as if the file ended there.
class InputFile {
 public:
  // "-" is standard input.
  static InputFile Open(const std::string& path, Encoding encoding = Encoding::kUtf8);
  InputFile(InputFile&&) noexcept;
  InputFile& operator=(InputFile&&) = delete;
  InputFile(const InputFile&) = delete;
  ~InputFile();

  size_t Read(char* buffer, size_t size);
  // The start of the input (up to one block, as UTF-8), read ahead without
  // consuming it: Read still returns it first.
  std::string_view Head();
  // Whether the input starts with a UTF-8 byte order mark.
  bool HasBom() { return Head().starts_with("\xEF\xBB\xBF"); }
  const std::string& name() const { return name_; }
  // The size of a regular file, or 0 when the input is a pipe or terminal.
  uint64_t size() const { return size_; }
  bool is_terminal() const;
  // Whether reading stopped early on a signal.
  bool interrupted() const { return interrupted_; }

 private:
  InputFile(std::FILE* file, std::string name, bool owned, uint64_t size, Encoding encoding);
  size_t ReadRaw(char* buffer, size_t size);
  std::FILE* file_;
  std::string name_;
  bool owned_;
  uint64_t size_;
  Encoding encoding_;
  std::string head_;      // read ahead by Head(), not yet returned by Read()
  size_t head_used_ = 0;  // bytes of head_ already returned
  bool head_read_ = false;
  bool interrupted_ = false;
  std::string raw_;  // a block before decoding
};

// Receives each full chunk, takes its rows and leaves an empty chunk (with
// storage to reuse) in its place; returns false to stop reading (output
// failed).
using ChunkSink = std::function<bool(Chunk&)>;

// Builds chunks row by row and hands each full one to the sink.
class Chunker {
 public:
  explicit Chunker(const ChunkSink& sink) : sink_(sink) {}

  // Appends a field to the row being built. Text beyond kMaxFieldBytes is
  // dropped and the field marked as cut.
  void AddField(std::string_view text, bool cut = false);
  // Appends bytes to the last field added (a line read in pieces).
  void ExtendField(std::string_view text);
  bool LastFieldCut() const { return chunk_.fields.back().cut; }
  // Removes `count` bytes from the start or the end of the last field.
  void TrimLastFieldStart(size_t count);
  void TrimLastFieldEnd(size_t count);
  std::string_view LastField() const { return chunk_.FieldText(chunk_.fields.back()); }
  // Fields added to the row being built.
  size_t PendingFields() const { return chunk_.fields.size() - row_start_; }
  std::string_view PendingField(size_t i) const {
    return chunk_.FieldText(chunk_.fields[row_start_ + i]);
  }
  // Drops the fields of the row being built (the CSV header is no row).
  void DiscardRow();
  // Ends the row being built; returns false once the sink wants no more.
  bool EndRow(std::string problem, uint64_t end_offset);
  // Hands over the finished rows; an unfinished row is dropped.
  bool Flush();

 private:
  const ChunkSink& sink_;
  Chunk chunk_;
  size_t row_start_ = 0;  // first field of the row being built
};

// One row per line: LF or CRLF line ends, a UTF-8 byte order mark at the
// start skipped, every line kept (empty ones too). A line that is not valid
// UTF-8 or longer than kMaxFieldBytes gets its problem set.
void ReadLines(InputFile& input, const ChunkSink& sink);

// The field separator of a CSV file whose input starts with `head`: the
// one of , ; tab | that occurs most often (outside quotes) on its first
// line, the header; a comma when none does.
char DetectDelimiter(std::string_view head);

// A CSV file (RFC 4180 quoting, fields separated by `delimiter`) whose first
// record is the header. `on_header` gets the header before any row is handed
// over and returns the index of the field to parse; it may throw to stop.
// Rows whose field count differs from the header's get a problem (their
// fields are all kept). Malformed CSV throws FatalError naming the line,
// after every row before it has been handed over.
void ReadCsv(InputFile& input, char delimiter,
             const std::function<size_t(const std::vector<std::string>&)>& on_header,
             const ChunkSink& sink);

}  // namespace zarn_parse

#endif  // ZARN_TOOLS_ZARN_PARSE_INPUT_H_
