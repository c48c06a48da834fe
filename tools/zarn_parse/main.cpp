// zarn-parse: parses street addresses given as arguments, one per line of a
// file, or in one column of a CSV file, and writes their five parts.

#include <CLI/CLI.hpp>
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "zarn/encode.hpp"
#include "zarn/zarn.hpp"
#include "zarn_parse/input.h"
#include "zarn_parse/output.h"
#include "zarn_parse/pipeline.h"
#include "zarn_parse/progress.h"
#include "zarn_parse/terminal.h"

#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace zarn_parse {
namespace {

namespace fs = std::filesystem;

// Paths on the command line are UTF-8.
fs::path Utf8Path(const std::string& text) {
  return fs::path(std::u8string(text.begin(), text.end()));
}

constexpr int kExitOk = 0;
constexpr int kExitUsage = 1;
constexpr int kExitFatal = 2;

// Arguments that cannot be used together or do not fit the input.
class UsageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct Options {
  std::vector<std::string> addresses;
  std::string input;
  std::string output;
  std::string database;
  std::string format;
  std::string column = "address";
  bool csv = false;
  std::string profile = "canada";
  bool flags = false;
  bool standard = false;
  std::string standard_language = "detect";
  int threads = 0;
  std::optional<bool> progress;
  bool quiet = false;
  std::string encoding = "utf-8";
  std::string delimiter;  // empty: detected from the header
  std::optional<bool> bom;
  std::optional<std::string> prefix;  // given: before every output column
  std::string fields;                 // the parts to write, comma-separated
};

// The row error of an address too long to parse, in words that say what to do.
constexpr std::string_view kTooLong =
    "address longer than 32,767 characters (after clean-up): split it or check the column";

// --delimiter: one character, or the word "tab".
char DelimiterFromOption(const std::string& text) {
  if (text == "tab" || text == "\\t" || text == "\t") return '\t';
  if (text.size() == 1 && text[0] != '"' && text[0] != '\n' && text[0] != '\r') return text[0];
  throw std::invalid_argument("--delimiter must be one character (, ; | ...) or tab, not \"" +
                              text + "\"");
}

// --output FILE is written to a temporary file beside it, renamed over FILE
// only when the run completes: an interrupted or failed run leaves an earlier
// FILE untouched, and its partial output (when it wrote rows) in FILE.partial.
// A FILE that exists and is no plain file (a device such as /dev/null, a
// FIFO, a symbolic link) is written directly, as it is.
class OutputFile {
 public:
  explicit OutputFile(std::string path) : path_(std::move(path)) {
#ifndef _WIN32
    struct stat st {};
    if (lstat(path_.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) {
      errno = 0;
      file_ = std::fopen(path_.c_str(), "wb");
      if (file_ == nullptr) Fail(path_);
      return;
    }
    std::string pattern = path_ + ".zarn-XXXXXX";
    errno = 0;
    const int fd = mkstemp(pattern.data());
    if (fd < 0) Fail(path_);
    // The permissions fopen would have given a new file.
    const mode_t mask = umask(0);
    umask(mask);
    fchmod(fd, 0666 & ~mask);
    file_ = fdopen(fd, "wb");
    if (file_ == nullptr) {
      close(fd);
      std::remove(pattern.c_str());
      Fail(path_);
    }
    temp_ = pattern;
#else
    temp_ = path_ + ".zarn-partial";
    errno = 0;
    file_ = std::fopen(temp_.c_str(), "wb");
    if (file_ == nullptr) Fail(path_);
#endif
  }
  ~OutputFile() {
    if (!temp_.empty()) std::remove(temp_.c_str());
  }
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  std::FILE* file() const { return file_; }
  // After the sink closed the file: puts it in place.
  void Commit() {
    if (temp_.empty()) return;  // written directly
    if (std::rename(temp_.c_str(), path_.c_str()) != 0) {
      throw FatalError("cannot write output " + path_ + ": " + std::strerror(errno));
    }
    temp_.clear();
  }
  // After the sink closed the file of a run that did not complete: keeps the
  // partial output as FILE.partial and returns that name, or removes it
  // (nothing was written) and returns "".
  std::string KeepPartial(bool keep) {
    if (temp_.empty()) return {};
    const std::string partial = path_ + ".partial";
    if (keep && std::rename(temp_.c_str(), partial.c_str()) == 0) {
      temp_.clear();
      return partial;
    }
    return {};
  }

 private:
  [[noreturn]] static void Fail(const std::string& path) {
    throw FatalError("cannot write output " + path + ": " +
                     std::strerror(errno != 0 ? errno : EIO));
  }
  std::string path_;
  std::string temp_;
  std::FILE* file_ = nullptr;
};

constexpr const char* kExamples = R"(Examples:
  zarn-parse "123 Main St. N" "5-123 rue Saint-Denis Ouest"
      parse the addresses given as arguments (an aligned table on a terminal)
  zarn-parse < addresses.txt > parsed.tsv
  zarn-parse --input addresses.txt --output parsed.tsv
      one address per input line, one TSV row per line, in input order
  zarn-parse --csv --column address < clients.csv > clients-parsed.csv
      keep every column of a CSV file and add the parsed parts after them
  zarn-parse --format jsonl --threads 4 --input addresses.txt

  zarn-parse --profile canada --flags "305 SANDFORD ST UNIT 303"
      the rules tuned for real Canadian addresses, with what they were unsure of
  zarn-parse --standard "5-123 rue Saint-Denis Ouest" "123 Main St. N"
      add each address in Canada Post's standard form (5-123 RUE SAINT DENIS O)

  zarn-parse --csv --encoding cp1252 -i export.csv -o parsed.csv
      a CSV file saved by Excel in Windows-1252, ; or , separated (detected)

Output columns: address (or the CSV file's own columns), street_number,
street, street_type, direction, unit, (with --profile canada: po_box,
rural_route, general_delivery, station, municipality, province, postal_code,)
(with --flags: flags, unplaced_words,) (with --standard: standard_line,
standard_type, standard_direction, and with --profile canada
standard_delivery_line, standard_last_line,) error. A row that cannot be
parsed keeps its place, with empty parts and the reason in the error column.
A CSV row with more fields than the header keeps them after the error
column. In TSV, tab, newline, carriage return and backslash inside a field are written as \t, \n,
\r and \\. A CSV file is written with its input's delimiter.

Ctrl-C or SIGTERM stops the run: the rows read so far are written, the
summary says "interrupted after N rows", and the exit status is 130 or 143.

Exit status: 0 when the run completed (even if some rows failed), 1 for
unusable arguments, 2 when the reference database, an input or an output
file cannot be used (a database that fails during the run leaves its error in
the rows it hit, and the status is 2).)";

// Parses one address before any row is written, so that a missing or
// unusable database is reported at once. The address has a street type, so
// the parse reaches the database whatever passes come before.
// With --standard the street-type symbols are read too, so that a database
// without them (an older file) is refused before any row is written.
void CheckDatabase(const zarn::ZarnAddress& parser, bool standard) {
  const std::string_view probe[1] = {"1 Main St"};
  const std::vector<zarn::BatchResult> result = parser.ParseBatch(probe);
  if (!result[0].ok()) throw FatalError(result[0].error_message);
  if (!standard) return;
  zarn::StandardResult form[1];
  parser.StandardizeBatch(result, zarn::Language::kDetect, form);
  if (!form[0].ok()) {
    throw FatalError(form[0].error_message + " (--standard needs the StreetTypeSymbol table)");
  }
}

bool SameFile(const std::string& a, const std::string& b) {
  std::error_code ec;
  return fs::equivalent(Utf8Path(a), Utf8Path(b), ec) && !ec;
}

std::string Summary(const RunStats& stats, const char* profile, double seconds) {
  char text[240];
  std::snprintf(text, sizeof text,
                "zarn-parse: %" PRIu64 " rows read, %" PRIu64 " parsed, %" PRIu64
                " failed, %.2f s (%.0f addresses/s), profile %s",
                stats.rows, stats.parsed, stats.failed, seconds,
                seconds > 0 ? static_cast<double>(stats.rows) / seconds : 0.0, profile);
  return text;
}

// Exit status of a run stopped by `signal`, as a shell reports it.
int InterruptedStatus(int signal) { return 128 + signal; }

int Run(const Options& options) {
  const auto start = std::chrono::steady_clock::now();

  if (!options.addresses.empty() && (!options.input.empty() || options.csv)) {
    throw UsageError("addresses given as arguments cannot be combined with --input or --csv");
  }
  if (!options.input.empty() && !options.output.empty() && options.input != "-" &&
      options.output != "-" && SameFile(options.input, options.output)) {
    throw UsageError("--input and --output name the same file " + options.input);
  }

  // The database first: when it cannot be used, nothing is created or written.
  const std::string database =
      options.database.empty() ? zarn::ReferenceDatabasePath() : options.database;
  zarn::ParseOptions parse_options;
  if (!zarn::ProfileFromName(options.profile, &parse_options.profile)) {
    throw UsageError("unknown profile \"" + options.profile + "\" (use " + zarn::ProfileChoices() +
                     ")");
  }
  zarn::Language standard_language = zarn::Language::kDetect;
  if (!zarn::LanguageFromName(options.standard_language, &standard_language)) {
    throw UsageError("unknown language \"" + options.standard_language +
                     "\" (use en, fr or detect)");
  }
  Encoding encoding = Encoding::kUtf8;
  if (!EncodingFromName(options.encoding, &encoding)) {
    throw UsageError("--encoding: unknown encoding \"" + options.encoding +
                     "\" (use utf-8, cp1252 or latin-1)");
  }
  char delimiter = 0;
  if (!options.delimiter.empty()) {
    try {
      delimiter = DelimiterFromOption(options.delimiter);
    } catch (const std::invalid_argument& e) {
      throw UsageError(e.what());
    }
  }
  zarn::OutputOptions output_options;
  output_options.diagnostics = options.flags;
  output_options.standard = options.standard;
  output_options.profile = parse_options.profile;
  output_options.language = standard_language;
  const zarn::ZarnAddress parser(database, parse_options);
  CheckDatabase(parser, options.standard);

  std::optional<InputFile> input;
  if (options.addresses.empty()) {
    input.emplace(InputFile::Open(options.input.empty() ? "-" : options.input, encoding));
  }
  if (options.csv && delimiter == 0) {
    std::string_view head = input->Head();
    if (head.starts_with("\xEF\xBB\xBF")) head.remove_prefix(3);
    delimiter = DetectDelimiter(head);
  }
  // A byte order mark for spreadsheets: asked for, or kept from the input.
  // Never on a terminal; reading ahead on one would wait for typing.
  const bool bom_wanted = options.bom.value_or(input && !input->is_terminal() && input->HasBom());

  std::FILE* out_file = stdout;
  std::string out_name = "standard output";
  const bool to_file = !options.output.empty() && options.output != "-";
  std::optional<OutputFile> output_file;
  if (to_file) {
    output_file.emplace(options.output);
    out_file = output_file->file();
    out_name = options.output;
  } else {
    SetBinaryMode(stdout);
  }
  OutputSink sink(out_file, out_name, to_file);

  Format format = Format::kTsv;
  if (options.format == "table") {
    format = Format::kTable;
  } else if (options.format == "csv") {
    format = Format::kCsv;
  } else if (options.format == "jsonl") {
    format = Format::kJsonl;
  } else if (options.format.empty()) {
    if (options.csv) {
      format = Format::kCsv;
    } else if (!to_file && IsTerminal(stdout)) {
      format = Format::kTable;
    }
  }
  std::unique_ptr<RowWriter> writer =
      MakeRowWriter(format, options.csv && delimiter != 0 ? delimiter : ',');
  if (bom_wanted && (format == Format::kCsv || format == Format::kTsv)) sink.Write("\xEF\xBB\xBF");

  // The bar is drawn only where it cannot mix with the output: not when the
  // rows go to the same terminal (unless asked for with --progress).
  const bool rows_on_terminal = !to_file && IsTerminal(stdout);
  const bool progress_wanted =
      !options.quiet && options.progress.value_or(input && input->size() > 0 &&
                                                  IsTerminal(stderr) && !rows_on_terminal);
  Progress progress(progress_wanted, input ? input->size() : 0);

  if (input && input->is_terminal() && !options.quiet) {
    std::fprintf(stderr,
                 "zarn-parse: reading addresses from the terminal, one per line; "
                 "end with Ctrl-D\n");
  }

  // --fields: which of the result's columns are written (all when empty).
  std::vector<bool> keep_column;
  if (!options.fields.empty()) {
    std::vector<std::string> wanted;
    for (size_t at = 0; at <= options.fields.size();) {
      const size_t comma = std::min(options.fields.find(',', at), options.fields.size());
      if (comma > at) wanted.push_back(options.fields.substr(at, comma - at));
      at = comma + 1;
    }
    std::string known;
    for (const zarn::FieldInfo& f : zarn::Fields())
      known += (known.empty() ? "" : ", ") + std::string(f.name);
    for (const std::string& w : wanted) {
      if (zarn::FieldIndex(w) < 0) {
        throw UsageError("--fields: no part named \"" + w + "\" (the parts: " + known + ")");
      }
    }
    for (std::string_view column : zarn::ResultColumns(output_options)) {
      const bool part = zarn::FieldIndex(column) >= 0;
      keep_column.push_back(!part ||
                            std::find(wanted.begin(), wanted.end(), column) != wanted.end());
    }
  }

  RunStats stats;
  bool cp1252_hinted = false;
  size_t columns = 1;
  size_t address_index = 0;
  // Appends the chunk's rows to `out`: each row's own fields, then the five
  // parts and the error. A CSV row with fewer or more fields than the header
  // is padded or cut to the header's, so that the parsed parts and the error
  // stay in their columns; its error gives its field count.
  auto format_rows = [&](const Chunk& chunk, std::vector<std::string_view>& values,
                         std::string& out) {
    std::string scratch[2];
    for (size_t i = 0; i < chunk.size(); ++i) {
      const Chunk::Row& row = chunk.rows[i];
      const zarn::ParseResult& r = chunk.results[i];
      values.clear();
      for (size_t f = 0; f < std::min(row.field_count, columns); ++f) {
        values.push_back(chunk.FieldText(i, f));
      }
      while (values.size() < columns) values.emplace_back();
      // The parts, the --flags and --standard columns and the error, as
      // the library's encoder gives them; an address too long to parse
      // says what to do.
      const size_t first = values.size();
      zarn::AppendResultValues(r, output_options, values, scratch);
      if (r.error_number == zarn::kErrorOverflow) values.back() = kTooLong;
      if (!keep_column.empty()) {
        size_t to = first;
        for (size_t c = 0; c < keep_column.size(); ++c) {
          if (keep_column[c]) values[to++] = values[first + c];
        }
        values.resize(to);
      }
      // Fields beyond the header's are kept, after the error column.
      for (size_t f = columns; f < row.field_count; ++f) values.push_back(chunk.FieldText(i, f));
      writer->Row(values, r.ok(), out);
    }
  };
  // The stateless formats are written by the parsing threads, several
  // chunks at once; the aligned table, which keeps state, by the writer.
  Pipeline::FormatFn format_chunk;
  if (writer->Stateless()) {
    format_chunk = [&](Chunk& chunk) {
      std::vector<std::string_view> values;
      format_rows(chunk, values, chunk.output);
    };
  }
  std::vector<std::string_view> writer_values;
  std::string writer_text;
  auto write_chunk = [&](const Chunk& chunk) {
    if (format_chunk) {
      sink.Write(chunk.output);
    } else {
      writer_text.clear();
      format_rows(chunk, writer_values, writer_text);
      sink.Write(writer_text);
    }
    sink.MaybeFlush();
    for (size_t i = 0; i < chunk.size(); ++i) {
      const zarn::BatchResult& r = chunk.results[i];
      ++stats.rows;
      if (r.ok()) {
        ++stats.parsed;
      } else {
        ++stats.failed;
        if (r.error_number == zarn::kErrorInvalidArgument && encoding == Encoding::kUtf8 &&
            !cp1252_hinted && address_index < chunk.rows[i].field_count &&
            LooksLikeCp1252(chunk.FieldText(i, address_index))) {
          cp1252_hinted = true;
          std::fprintf(stderr,
                       "zarn-parse: %s is not UTF-8 (row %" PRIu64
                       "), but reads as Windows-1252: run again with --encoding cp1252\n",
                       input ? input->name().c_str() : "the input", stats.rows);
        }
        if (!IsRowError(r.error_number) && stats.database_failures++ == 0) {
          stats.first_database_error = r.error_message;
        }
      }
    }
    progress.Update(chunk.end_offset, stats.rows);
  };

  auto header_for = [&](const std::vector<std::string>& first) {
    std::vector<std::string> header = first;
    const std::vector<std::string_view> result_columns = zarn::ResultColumns(output_options);
    for (size_t c = 0; c < result_columns.size(); ++c) {
      if (!keep_column.empty() && !keep_column[c]) continue;
      // Never a second column of the same name: a name the input already
      // has gets a prefix (--prefix puts one before every output column).
      std::string name = options.prefix.value_or("") + std::string(result_columns[c]);
      while (std::find(header.begin(), header.end(), name) != header.end()) {
        name = "parsed_" + name;
      }
      header.push_back(std::move(name));
    }
    std::string text;
    writer->Header(header, text);
    sink.Write(text);
  };

  std::exception_ptr read_failure;
  int threads =
      options.threads > 0 ? options.threads : static_cast<int>(std::thread::hardware_concurrency());
  threads = std::max(threads, 1);

  if (options.csv) {
    // The header decides which field is parsed, so the pipeline starts once
    // it has been read.
    std::optional<Pipeline> pipeline;
    auto on_header = [&](const std::vector<std::string>& header) -> size_t {
      const auto it = std::find(header.begin(), header.end(), options.column);
      if (it == header.end()) {
        std::string names;
        for (const std::string& h : header) names += (names.empty() ? "" : ", ") + h;
        throw UsageError("input " + input->name() + " has no column named \"" + options.column +
                         "\" (its columns: " + names + ")");
      }
      address_index = static_cast<size_t>(it - header.begin());
      columns = header.size();
      header_for(header);
      pipeline.emplace(parser, address_index, threads, format_chunk, write_chunk, output_options);
      return address_index;
    };
    try {
      ReadCsv(*input, delimiter, on_header, [&](Chunk& c) { return pipeline->Submit(c); });
    } catch (const FatalError&) {
      // Malformed or unreadable input: every row before it is still written.
      if (pipeline) pipeline->Finish();
      read_failure = std::current_exception();
    } catch (...) {
      if (pipeline) pipeline->Finish();
      throw;
    }
    if (pipeline) pipeline->Finish();
  } else {
    header_for({"address"});
    Pipeline pipeline(parser, address_index, threads, format_chunk, write_chunk, output_options);
    const ChunkSink submit = [&](Chunk& c) { return pipeline.Submit(c); };
    try {
      if (input) {
        ReadLines(*input, submit);
      } else {
        Chunker chunker(submit);
        for (const std::string& a : options.addresses) {
          if (StopSignal() != 0) break;
          chunker.AddField(a);
          if (!chunker.EndRow({}, 0)) break;
        }
        chunker.Flush();
      }
    } catch (const FatalError&) {
      pipeline.Finish();
      read_failure = std::current_exception();
    } catch (...) {
      pipeline.Finish();
      throw;
    }
    pipeline.Finish();
  }
  std::string tail;
  writer->Finish(tail);
  sink.Write(tail);
  progress.Done();
  sink.Close();

  const int stop = StopSignal();
  const bool complete = stop == 0 && !read_failure && stats.database_failures == 0;
  std::string partial;
  if (output_file) {
    if (complete) {
      output_file->Commit();
    } else {
      partial = output_file->KeepPartial(stats.rows > 0);
    }
  }

  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  if (!options.quiet) {
    std::string line = Summary(stats, zarn::ProfileName(parse_options.profile), seconds);
    if (stop != 0) line += "; interrupted after " + std::to_string(stats.rows) + " rows";
    std::fprintf(stderr, "%s\n", line.c_str());
  }
  if (!partial.empty()) {
    std::fprintf(stderr, "zarn-parse: %s was left as it was; the partial output is in %s\n",
                 options.output.c_str(), partial.c_str());
  }
  if (stop != 0) return InterruptedStatus(stop);
  if (read_failure) std::rethrow_exception(read_failure);
  if (stats.rows == 0 && input && !options.quiet) {
    std::fprintf(stderr, "zarn-parse: warning: %s held no addresses\n", input->name().c_str());
  }
  if (stats.database_failures > 0) {
    throw FatalError(stats.first_database_error + " (" + std::to_string(stats.database_failures) +
                     " rows failed)");
  }
  return kExitOk;
}

}  // namespace
}  // namespace zarn_parse

int main(int argc, char** argv) {
  using namespace zarn_parse;
  // Before any file is opened, which could otherwise take descriptor 0.
  const bool stdin_open = IsOpen(stdin);
  Options options;
  CLI::App app{
      "Parses Canadian street addresses (English and French) into civic number, "
      "street name, street type, direction and unit.",
      "zarn-parse"};
  app.footer(kExamples);
  app.set_version_flag("--version", std::string("zarn-parse ") + zarn::Version());
  app.add_option("addresses", options.addresses,
                 "Addresses to parse; without them, addresses are read one per line from "
                 "--input or standard input");
  app.add_option("-i,--input", options.input, "Read from FILE instead of standard input")
      ->option_text("FILE");
  app.add_option("-o,--output", options.output, "Write to FILE instead of standard output")
      ->option_text("FILE");
  app.add_option("-f,--format", options.format,
                 "Output format: table (default on a terminal), tsv (default otherwise), "
                 "csv (default with --csv), jsonl")
      ->check(CLI::IsMember({"table", "tsv", "csv", "jsonl"}))
      ->option_text("FORMAT");
  app.add_flag("--csv", options.csv,
               "Input is a CSV file with a header; every column is kept and the parsed "
               "parts are added after them");
  app.add_option("--column", options.column,
                 "With --csv: the column holding the addresses (default: address)")
      ->option_text("NAME");
  app.add_option("-d,--database", options.database,
                 "Reference database (default: the bundled share/zarn/qordatavb.DAT)")
      ->option_text("PATH");
  app.add_option("-p,--profile", options.profile,
                 "Rules: canada (default: whole Canadian addresses, English and French, with "
                 "municipality, province, postal code and delivery forms) or specified (the "
                 "documented street-line rules of the library's own default, five columns)")
      ->check(CLI::IsMember({"specified", "canada"}, CLI::ignore_case))
      ->option_text("NAME");
  app.add_flag("--flags", options.flags,
               "Add the columns flags (what the canada profile was unsure of) and "
               "unplaced_words (words it could not place)");
  app.add_flag("--standard", options.standard,
               "Add the columns standard_line (the address in Canada Post's standard form), "
               "standard_type and standard_direction (their symbols)");
  app.add_option("--standard-language", options.standard_language,
                 "With --standard: en, fr, or detect (default: French where the parts show it, "
                 "else English)")
      ->check(CLI::IsMember({"en", "fr", "detect", "english", "french"}, CLI::ignore_case))
      ->option_text("LANG");
  app.add_option("-j,--threads", options.threads, "Parsing threads (default: every core)")
      ->check(CLI::Range(1, 1024))
      ->option_text("N");
  app.add_flag_callback(
      "--progress", [&options] { options.progress = true; },
      "Show the progress bar on standard error even when it is not a "
      "terminal or the input size is unknown");
  app.add_flag_callback(
      "--no-progress", [&options] { options.progress = false; }, "Never show the progress bar");
  app.add_flag("-q,--quiet", options.quiet, "No progress bar and no summary line");
  app.add_option("--encoding", options.encoding,
                 "Input encoding: utf-8 (default), cp1252 (Windows-1252, as Excel and Access "
                 "export) or latin-1")
      ->option_text("NAME");
  app.add_option("--delimiter", options.delimiter,
                 "With --csv: the field separator, one character or tab (default: detected "
                 "from the header among , ; tab |); a CSV output uses the same")
      ->option_text("CHAR");
  app.add_flag_callback(
      "--bom", [&options] { options.bom = true; },
      "Start a CSV or TSV output with a UTF-8 byte order mark, for Excel (default: when "
      "the input has one)");
  app.add_flag_callback(
      "--no-bom", [&options] { options.bom = false; }, "Never write a byte order mark");
  app.add_option("--prefix", options.prefix,
                 "Put TEXT before the name of every output column (default: parsed_ before "
                 "those that the input already has)")
      ->option_text("TEXT");
  app.add_option("--fields", options.fields,
                 "The parts to write, comma-separated, e.g. street_number,street,unit "
                 "(default: every part of the profile)")
      ->option_text("LIST");

  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp& e) {
    return app.exit(e);
  } catch (const CLI::CallForVersion& e) {
    return app.exit(e);
  } catch (const CLI::ParseError& e) {
    std::fprintf(stderr, "zarn-parse: %s (see zarn-parse --help)\n", e.what());
    return 1;
  }
  if (app.count("--standard-language") > 0 && !options.standard) {
    std::fprintf(stderr,
                 "zarn-parse: --standard-language needs --standard (see zarn-parse --help)\n");
    return 1;
  }
  if (app.count("--column") > 0 && !options.csv) {
    std::fprintf(stderr, "zarn-parse: --column needs --csv (see zarn-parse --help)\n");
    return 1;
  }
  if (app.count("--delimiter") > 0 && !options.csv) {
    std::fprintf(stderr, "zarn-parse: --delimiter needs --csv (see zarn-parse --help)\n");
    return 1;
  }
  // The easy mistake of naming a file where an address is expected.
  if (options.addresses.size() == 1) {
    std::error_code ec;
    if (fs::is_regular_file(Utf8Path(options.addresses[0]), ec)) {
      std::fprintf(stderr,
                   "zarn-parse: warning: \"%s\" is the name of a file, parsed here as an address; "
                   "to parse the addresses in it, use: zarn-parse -i %s\n",
                   options.addresses[0].c_str(), options.addresses[0].c_str());
    }
  }
  const bool reads_stdin =
      options.addresses.empty() && (options.input.empty() || options.input == "-");
  if (reads_stdin && !stdin_open) {
    std::fprintf(stderr,
                 "zarn-parse: standard input is closed: give addresses as arguments, or a file "
                 "with --input FILE\n");
    return 1;
  }
  InstallStopHandlers();

  try {
    return Run(options);
  } catch (const UsageError& e) {
    std::fprintf(stderr, "zarn-parse: %s\n", e.what());
    return 1;
  } catch (const FatalError& e) {
    std::fprintf(stderr, "zarn-parse: %s\n", e.what());
    return 2;
  } catch (const zarn::Error& e) {
    std::fprintf(stderr, "zarn-parse: %s\n", e.what());
    return 2;
  } catch (const std::bad_alloc&) {
    std::fprintf(stderr, "zarn-parse: out of memory\n");
    return 2;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "zarn-parse: %s\n", e.what());
    return 2;
  }
}
