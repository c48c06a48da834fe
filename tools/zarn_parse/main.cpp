// zarn-parse: parses street addresses given as arguments, one per line of a
// file, or in one column of a CSV file, and writes their five parts.

#include <CLI/CLI.hpp>
#include <algorithm>
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

#include "zarn/zarn.hpp"
#include "zarn_parse/input.h"
#include "zarn_parse/output.h"
#include "zarn_parse/pipeline.h"
#include "zarn_parse/progress.h"
#include "zarn_parse/terminal.h"

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

const std::vector<std::string> kPartColumns = {"number", "street", "street_type", "direction",
                                               "unit"};
// With --flags, before the error column: the diagnostic flags' names and the
// words the rules could not place.
const std::vector<std::string> kFlagColumns = {"flags", "unplaced_words"};
// With the canada profile, after the five parts: a whole address's delivery
// forms, municipality, province and postal code.
const std::vector<std::string> kWholeColumns = {"po_box",     "rural_route",  "general_delivery",
                                                "station",    "municipality", "province",
                                                "postal_code"};
// With --standard, just before the error column: the address in Canada
// Post's standard form, and its street-type and direction symbols.
const std::vector<std::string> kStandardColumns = {"standard_line", "standard_type",
                                                   "standard_direction"};
// With --standard and the canada profile, after those: a whole address's
// delivery line and last line.
const std::vector<std::string> kWholeStandardColumns = {"standard_delivery_line",
                                                        "standard_last_line"};

struct Options {
  std::vector<std::string> addresses;
  std::string input;
  std::string output;
  std::string database;
  std::string format;
  std::string column = "address";
  bool csv = false;
  std::string profile = "specified";
  bool flags = false;
  bool standard = false;
  std::string standard_language = "detect";
  int threads = 0;
  std::optional<bool> progress;
  bool quiet = false;
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

Output columns: address (or the CSV file's own columns), number, street,
street_type, direction, unit, (with --profile canada: po_box, rural_route,
general_delivery, station, municipality, province, postal_code,) (with --flags:
flags, unplaced_words,) (with --standard: standard_line, standard_type,
standard_direction, and with --profile canada standard_delivery_line,
standard_last_line,) error. A row that cannot be parsed keeps its
place, with empty parts and the reason in the error column. In TSV, tab,
newline, carriage return and backslash inside a field are written as \t, \n,
\r and \\.

Exit status: 0 when the run completed (even if some rows failed), 1 for
unusable arguments, 2 when the reference database, an input or an output
file cannot be used (a database that fails during the run leaves its error in
the rows it hit, and the status is 2).)";

// The bundled database: share/zarn/ beside the bin/ directory holding this
// program, the layout of both the build tree and an installed copy; else the
// path the library was built to be installed at.
std::string DefaultDatabase(const char* argv0) {
  const std::string dir = ExecutableDirectory(argv0);
  std::string beside;
  if (!dir.empty()) {
    const fs::path path = fs::path(dir) / ".." / "share" / "zarn" / "qordatavb.DAT";
    const auto text = path.lexically_normal().u8string();
    beside.assign(text.begin(), text.end());
    std::error_code ec;
    if (fs::exists(path, ec)) return beside;
  }
  const std::string installed = zarn::ReferenceDatabasePath();
  std::error_code ec;
  if (beside.empty() || fs::exists(Utf8Path(installed), ec)) return installed;
  return beside;  // missing: the error names where it was looked for
}

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

int Run(const Options& options, const char* argv0) {
  const auto start = std::chrono::steady_clock::now();

  if (!options.addresses.empty() && (!options.input.empty() || options.csv)) {
    throw UsageError("addresses given as arguments cannot be combined with --input or --csv");
  }
  if (!options.input.empty() && !options.output.empty() && options.input != "-" &&
      options.output != "-" && SameFile(options.input, options.output)) {
    throw UsageError("--input and --output name the same file " + options.input);
  }

  // The database first: when it cannot be used, nothing is created or written.
  const std::string database = options.database.empty() ? DefaultDatabase(argv0) : options.database;
  zarn::ParseOptions parse_options;
  if (!zarn::ProfileFromName(options.profile, &parse_options.profile)) {
    throw UsageError("unknown profile \"" + options.profile + "\" (use specified or canada)");
  }
  zarn::Language standard_language = zarn::Language::kDetect;
  if (!zarn::LanguageFromName(options.standard_language, &standard_language)) {
    throw UsageError("unknown language \"" + options.standard_language +
                     "\" (use en, fr or detect)");
  }
  const zarn::ZarnAddress parser(database, parse_options);
  CheckDatabase(parser, options.standard);
  // The columns follow the parts the profile fills.
  const bool whole_columns = parse_options.profile == zarn::Profile::kCanada;

  std::optional<InputFile> input;
  if (options.addresses.empty()) {
    input.emplace(InputFile::Open(options.input.empty() ? "-" : options.input));
  }

  std::FILE* out_file = stdout;
  std::string out_name = "standard output";
  const bool to_file = !options.output.empty() && options.output != "-";
  if (to_file) {
    errno = 0;
    out_file = std::fopen(options.output.c_str(), "wb");
    if (out_file == nullptr) {
      throw FatalError("cannot write output " + options.output + ": " +
                       std::strerror(errno != 0 ? errno : EIO));
    }
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
  std::unique_ptr<RowWriter> writer = MakeRowWriter(format);

  const bool progress_wanted =
      !options.quiet && options.progress.value_or(input && input->size() > 0 && IsTerminal(stderr));
  Progress progress(progress_wanted, input ? input->size() : 0);

  if (input && input->is_terminal() && !options.quiet) {
    std::fprintf(stderr,
                 "zarn-parse: reading addresses from the terminal, one per line; "
                 "end with Ctrl-D\n");
  }

  RunStats stats;
  size_t columns = 1;
  size_t address_index = 0;
  // Appends the chunk's rows to `out`: each row's own fields, then the five
  // parts and the error. A CSV row with fewer or more fields than the header
  // is padded or cut to the header's, so that the parsed parts and the error
  // stay in their columns; its error gives its field count.
  auto format_rows = [&](const Chunk& chunk, std::vector<std::string_view>& values,
                         std::string& out) {
    std::vector<std::string> flag_text;
    std::vector<zarn::StandardResult> forms;
    if (options.standard) {
      // The addresses as typed help tell a French address from an English one.
      std::vector<std::string_view> typed(chunk.size());
      for (size_t i = 0; i < chunk.size(); ++i) {
        if (address_index < chunk.rows[i].field_count) {
          typed[i] = chunk.FieldText(i, address_index);
        }
      }
      forms.resize(chunk.size());
      parser.StandardizeBatch(std::span(chunk.results.data(), chunk.size()), standard_language,
                              forms, typed);
    }
    for (size_t i = 0; i < chunk.size(); ++i) {
      const Chunk::Row& row = chunk.rows[i];
      const zarn::BatchResult& r = chunk.results[i];
      values.clear();
      for (size_t f = 0; f < std::min(row.field_count, columns); ++f) {
        values.push_back(chunk.FieldText(i, f));
      }
      while (values.size() < columns) values.emplace_back();
      values.emplace_back(r.parts.street_number);
      values.emplace_back(r.parts.street);
      values.emplace_back(r.parts.street_type);
      values.emplace_back(r.parts.direction);
      values.emplace_back(r.parts.unit);
      if (whole_columns) {
        for (const std::string* part :
             {&r.parts.po_box, &r.parts.rural_route, &r.parts.general_delivery, &r.parts.station,
              &r.parts.municipality, &r.parts.province, &r.parts.postal_code}) {
          values.emplace_back(*part);
        }
      }
      if (options.flags) {
        flag_text.clear();
        flag_text.push_back(zarn::DiagnosticFlagNames(r.diagnostics.flags));
        std::string words;
        for (const std::string& w : r.diagnostics.unplaced_words) {
          if (!words.empty()) words += ' ';
          words += w;
        }
        flag_text.push_back(std::move(words));
        values.emplace_back(flag_text[0]);
        values.emplace_back(flag_text[1]);
      }
      bool ok = r.ok();
      std::string_view error = r.error_message;
      if (options.standard) {
        const zarn::StandardResult& f = forms[i];
        values.emplace_back(f.standard.line);
        values.emplace_back(f.standard.street_type);
        values.emplace_back(f.standard.direction);
        if (whole_columns) {
          values.emplace_back(f.standard.delivery_line);
          values.emplace_back(f.standard.last_line);
        }
        // A row parsed but not written in standard form (the database
        // changed during the run) reports why.
        if (ok && !f.ok()) {
          ok = false;
          error = f.error_message;
        }
      }
      values.emplace_back(error);
      writer->Row(values, ok, out);
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
        if (!IsRowError(r.error_number) && stats.database_failures++ == 0) {
          stats.first_database_error = r.error_message;
        }
      }
    }
    progress.Update(chunk.end_offset, stats.rows);
  };

  auto header_for = [&](const std::vector<std::string>& first) {
    std::vector<std::string> header = first;
    header.insert(header.end(), kPartColumns.begin(), kPartColumns.end());
    if (whole_columns) header.insert(header.end(), kWholeColumns.begin(), kWholeColumns.end());
    if (options.flags) header.insert(header.end(), kFlagColumns.begin(), kFlagColumns.end());
    if (options.standard) {
      header.insert(header.end(), kStandardColumns.begin(), kStandardColumns.end());
      if (whole_columns) {
        header.insert(header.end(), kWholeStandardColumns.begin(), kWholeStandardColumns.end());
      }
    }
    header.emplace_back("error");
    std::string text;
    writer->Header(header, text);
    sink.Write(text);
  };

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
      pipeline.emplace(parser, address_index, threads, format_chunk, write_chunk);
      return address_index;
    };
    try {
      ReadCsv(*input, on_header, [&](Chunk& c) { return pipeline->Submit(c); });
    } catch (...) {
      if (pipeline) pipeline->Finish();
      throw;
    }
    if (pipeline) pipeline->Finish();
  } else {
    header_for({"address"});
    Pipeline pipeline(parser, address_index, threads, format_chunk, write_chunk);
    const ChunkSink submit = [&](Chunk& c) { return pipeline.Submit(c); };
    try {
      if (input) {
        ReadLines(*input, submit);
      } else {
        Chunker chunker(submit);
        for (const std::string& a : options.addresses) {
          chunker.AddField(a);
          if (!chunker.EndRow({}, 0)) break;
        }
        chunker.Flush();
      }
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

  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  if (!options.quiet)
    std::fprintf(stderr, "%s\n",
                 Summary(stats, zarn::ProfileName(parse_options.profile), seconds).c_str());
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
                 "Rules: specified (default, the documented rules) or canada (tuned for real "
                 "Canadian addresses, English and French)")
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

  try {
    return Run(options, argc > 0 ? argv[0] : nullptr);
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
