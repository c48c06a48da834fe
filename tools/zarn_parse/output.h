// Output of zarn-parse: a buffered sink that reports write failures, and the
// four row formats (aligned table, TSV, CSV, JSON lines).
#ifndef ZARN_TOOLS_ZARN_PARSE_OUTPUT_H_
#define ZARN_TOOLS_ZARN_PARSE_OUTPUT_H_

#include <cstdio>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "zarn/encode.hpp"

namespace zarn_parse {

// Bytes to a FILE*, buffered here so that every failure is seen: a failed
// write or close throws FatalError naming the output.
class OutputSink {
 public:
  OutputSink(std::FILE* file, std::string name, bool owned);
  ~OutputSink();
  OutputSink(const OutputSink&) = delete;
  OutputSink& operator=(const OutputSink&) = delete;

  void Write(std::string_view bytes);
  void Put(char c) { buffer_.push_back(c); }
  // Writes out the buffer if it has grown large.
  void MaybeFlush();
  void Flush();
  // Flushes and closes (or, for standard output, flushes the stream).
  void Close();

 private:
  std::FILE* file_;
  std::string name_;
  bool owned_;
  std::string buffer_;
};

enum class Format { kTable, kTsv, kCsv, kJsonl };

// Formats rows of string fields under a header of column names, appending
// the text to `out`. The header's last column is the error message; `ok`
// says the row has none (JSON writes null). A row may have more values than
// the header (fields of a CSV row beyond its header's): they follow the
// error, named extra1, extra2, ... in JSON.
class RowWriter {
 public:
  virtual ~RowWriter() = default;
  virtual void Header(const std::vector<std::string>& columns, std::string& out) = 0;
  virtual void Row(const std::vector<std::string_view>& values, bool ok, std::string& out) = 0;
  // Called once after the last row.
  virtual void Finish(std::string& /*out*/) {}
  // True when Row keeps no state between rows: after Header, it may then
  // run on several threads at once, each with its own `out`.
  virtual bool Stateless() const { return false; }
};

// `separator` is the CSV format's field separator (the input's, so that a
// file from a French-locale spreadsheet comes back with semicolons).
std::unique_ptr<RowWriter> MakeRowWriter(Format format, char separator = ',');

// The field escaping of TSV and CSV: the library's encoder's.
using zarn::AppendCsvField;
using zarn::AppendTsvField;
// A CSV field with another separator than the comma, quoted when it holds
// that separator, a quote, CR or LF.
void AppendCsvField(std::string& out, std::string_view field, char separator);

}  // namespace zarn_parse

#endif  // ZARN_TOOLS_ZARN_PARSE_OUTPUT_H_
