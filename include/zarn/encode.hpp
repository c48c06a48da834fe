// ZarnAddressParser: one encoder of a zarn::ParseResult, shared by every
// interface that writes text (zarn-parse, zarn-serve, the SQLite and
// PostgreSQL extensions, the C API's zarn_result_json).
//
// A result is written as the columns
//   <the output fields that OutputOptions::profile fills>
//                                   street_number street street_type direction unit
//                                   (canada: then po_box ... postal_code)
//   [flags unplaced_words]          with OutputOptions::diagnostics
//   [standard_line standard_type standard_direction]   with OutputOptions::standard
//   [standard_delivery_line standard_last_line]         and the canada profile
//   error
// in TSV or CSV (one row, no line end), or as one JSON object with the same
// field keys:
//   {"street_number":"123",...,"unit":"5","error":null,
//    "diagnostics":{"flags":["unit_assumed"],"unplaced_words":[]},
//    "standard":{"line":"5-123 RUE SAINT DENIS O","street_type":"RUE",
//                "direction":"O","language":"fr","flags":[]}}
// (with the canada profile the standard object also has "delivery_line" and
// "last_line", after "direction")
// and with OutputOptions::spans (JSON only; TSV and CSV leave them out)
//    "spans":{"street_number":[[2,5]],"street":[[10,21]],...}
// where each field the profile fills has its list of [start,end) byte
// offsets into the address (zarn::AddressSpans),
// where a failed parse has "error":{"kind","number","message"} and the
// standard form and the spans are null. Text that is not valid UTF-8 is written to JSON
// with each bad sequence replaced by U+FFFD.
#ifndef ZARN_ENCODE_HPP_
#define ZARN_ENCODE_HPP_

#include <string>
#include <string_view>
#include <vector>

#include "zarn/zarn.hpp"

namespace zarn {

// The column names, in order, for `options`.
std::vector<std::string_view> ResultColumns(const OutputOptions& options);

// The column values of `result`, in the order of ResultColumns(options),
// appended to `values`. They view `result`, or `scratch` for the texts made
// here (the flag names, the unplaced words joined by spaces), which must
// outlive them. A failed result has empty parts and its message in `error`;
// a result without a standard form (not asked for, or failed) empty
// standard columns.
void AppendResultValues(const ParseResult& result, const OutputOptions& options,
                        std::vector<std::string_view>& values, std::string (&scratch)[2]);

// A TSV field: tab, newline, carriage return and backslash written as \t,
// \n, \r and \\.
void AppendTsvField(std::string& out, std::string_view field);
// A CSV field (RFC 4180): quoted, with its quotes doubled, only when it
// holds a comma, a quote, a carriage return or a newline.
void AppendCsvField(std::string& out, std::string_view field);
// A JSON string, quotes included: '"', '\\' and the control characters
// escaped (\b \f \n \r \t, else \u00XX), everything else as it is, each
// sequence that is not valid UTF-8 written as U+FFFD.
void AppendJsonString(std::string& out, std::string_view text);

// One result as a TSV or CSV row of ResultColumns(options), without a line
// end.
void AppendResultTsv(std::string& out, const ParseResult& result, const OutputOptions& options);
void AppendResultCsv(std::string& out, const ParseResult& result, const OutputOptions& options);
// One result as a JSON object (see above). The field keys and "error" are
// always written; "diagnostics", "standard" and "spans" as `options` ask.
void AppendResultJson(std::string& out, const ParseResult& result, const OutputOptions& options);

// The kind of an error number, as JSON answers name it: "invalid_utf8",
// "too_long", "out_of_memory", "address" (another error of the address
// itself) or "database".
const char* ErrorKind(int number) noexcept;

}  // namespace zarn

#endif  // ZARN_ENCODE_HPP_
