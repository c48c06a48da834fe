// The one encoder of a ParseResult to TSV, CSV and JSON (zarn/encode.hpp).
#include "zarn/encode.hpp"

#include <cstdint>
#include <iterator>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "zarn/zarn.hpp"

namespace zarn {

namespace {

constexpr std::string_view kDiagnosticColumns[] = {"flags", "unplaced_words"};
constexpr std::string_view kStandardColumns[] = {"standard_line", "standard_type",
                                                 "standard_direction"};
// With the canada profile, after those: a whole address's standard lines.
constexpr std::string_view kWholeStandardColumns[] = {"standard_delivery_line",
                                                      "standard_last_line"};

bool WritesWholeLines(const OutputOptions& options) { return options.profile == Profile::kCanada; }

// The length of the valid UTF-8 sequence at the start of `s` (1 to 4), or,
// negated, the length of its longest start that could begin one (0 for a
// byte that begins none): the bytes replaced by one U+FFFD.
int Utf8Sequence(std::string_view s) {
  const auto b0 = static_cast<unsigned char>(s[0]);
  if (b0 < 0x80) return 1;
  int length;
  unsigned char low = 0x80;
  unsigned char high = 0xBF;
  if (b0 >= 0xC2 && b0 <= 0xDF) {
    length = 2;
  } else if (b0 >= 0xE0 && b0 <= 0xEF) {
    length = 3;
    if (b0 == 0xE0) low = 0xA0;   // no overlong forms
    if (b0 == 0xED) high = 0x9F;  // no surrogates
  } else if (b0 >= 0xF0 && b0 <= 0xF4) {
    length = 4;
    if (b0 == 0xF0) low = 0x90;   // no overlong forms
    if (b0 == 0xF4) high = 0x8F;  // nothing beyond U+10FFFF
  } else {
    return 0;
  }
  for (int i = 1; i < length; ++i) {
    if (static_cast<size_t>(i) >= s.size()) return -i;
    const auto b = static_cast<unsigned char>(s[static_cast<size_t>(i)]);
    if (b < low || b > high) return -i;
    low = 0x80;
    high = 0xBF;
  }
  return length;
}

void AppendJsonStringList(std::string& out, const std::vector<std::string>& items) {
  out.push_back('[');
  for (size_t i = 0; i < items.size(); ++i) {
    if (i > 0) out.push_back(',');
    AppendJsonString(out, items[i]);
  }
  out.push_back(']');
}

// The names of `flags` ("a,b") as a JSON list of strings.
void AppendJsonFlagList(std::string& out, const std::string& names) {
  out.push_back('[');
  size_t start = 0;
  while (start < names.size()) {
    size_t end = names.find(',', start);
    if (end == std::string::npos) end = names.size();
    if (start > 0) out.push_back(',');
    AppendJsonString(out, std::string_view(names).substr(start, end - start));
    start = end + 1;
  }
  out.push_back(']');
}

template <typename AppendField>
void AppendRow(std::string& out, const ParseResult& result, const OutputOptions& options,
               char separator, AppendField append) {
  std::vector<std::string_view> values;
  std::string scratch[2];
  AppendResultValues(result, options, values, scratch);
  for (size_t i = 0; i < values.size(); ++i) {
    if (i > 0) out.push_back(separator);
    append(out, values[i]);
  }
}

}  // namespace

std::vector<std::string_view> ResultColumns(const OutputOptions& options) {
  std::vector<std::string_view> columns;
  for (const FieldInfo& field : Fields()) {
    if (field.FilledBy(options.profile)) columns.emplace_back(field.name);
  }
  if (options.diagnostics)
    columns.insert(columns.end(), std::begin(kDiagnosticColumns), std::end(kDiagnosticColumns));
  if (options.standard) {
    columns.insert(columns.end(), std::begin(kStandardColumns), std::end(kStandardColumns));
    if (WritesWholeLines(options)) {
      columns.insert(columns.end(), std::begin(kWholeStandardColumns),
                     std::end(kWholeStandardColumns));
    }
  }
  columns.emplace_back("error");
  return columns;
}

void AppendResultValues(const ParseResult& result, const OutputOptions& options,
                        std::vector<std::string_view>& values, std::string (&scratch)[2]) {
  const std::span<const FieldInfo> fields = Fields();
  for (size_t f = 0; f < fields.size(); ++f) {
    if (fields[f].FilledBy(options.profile)) values.emplace_back(result.parts.Field(f));
  }
  if (options.diagnostics) {
    scratch[0] = DiagnosticFlagNames(result.diagnostics.flags);
    scratch[1].clear();
    for (const std::string& word : result.diagnostics.unplaced_words) {
      if (!scratch[1].empty()) scratch[1] += ' ';
      scratch[1] += word;
    }
    values.emplace_back(scratch[0]);
    values.emplace_back(scratch[1]);
  }
  if (options.standard) {
    if (result.standard) {
      values.emplace_back(result.standard->line);
      values.emplace_back(result.standard->street_type);
      values.emplace_back(result.standard->direction);
      if (WritesWholeLines(options)) {
        values.emplace_back(result.standard->delivery_line);
        values.emplace_back(result.standard->last_line);
      }
    } else {
      values.insert(values.end(), WritesWholeLines(options) ? 5 : 3, std::string_view());
    }
  }
  values.emplace_back(result.error_message);
}

void AppendTsvField(std::string& out, std::string_view field) {
  size_t plain = 0;
  for (size_t i = 0; i < field.size(); ++i) {
    const char* escape = nullptr;
    switch (field[i]) {
      case '\t': escape = "\\t"; break;
      case '\n': escape = "\\n"; break;
      case '\r': escape = "\\r"; break;
      case '\\': escape = "\\\\"; break;
      default: continue;
    }
    out.append(field.data() + plain, i - plain);
    out.append(escape, 2);
    plain = i + 1;
  }
  out.append(field.data() + plain, field.size() - plain);
}

void AppendCsvField(std::string& out, std::string_view field) {
  if (field.find_first_of(std::string_view(",\"\r\n", 4)) == std::string_view::npos) {
    out.append(field);
    return;
  }
  out.push_back('"');
  for (char c : field) {
    if (c == '"') out.push_back('"');
    out.push_back(c);
  }
  out.push_back('"');
}

void AppendJsonString(std::string& out, std::string_view text) {
  static constexpr char kHex[] = "0123456789abcdef";
  out.push_back('"');
  size_t plain = 0;
  size_t i = 0;
  while (i < text.size()) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c >= 0x20 && c < 0x80 && c != '"' && c != '\\') {
      ++i;
      continue;
    }
    if (c >= 0x80) {
      const int n = Utf8Sequence(text.substr(i));
      if (n > 0) {
        i += static_cast<size_t>(n);
        continue;
      }
      // The bad bytes (at least one) become one U+FFFD; a byte that ended
      // a sequence too early is read again as the start of the next.
      out.append(text.data() + plain, i - plain);
      out.append("\xEF\xBF\xBD");
      i += n == 0 ? 1 : static_cast<size_t>(-n);
      plain = i;
      continue;
    }
    out.append(text.data() + plain, i - plain);
    switch (c) {
      case '"': out.append("\\\""); break;
      case '\\': out.append("\\\\"); break;
      case '\b': out.append("\\b"); break;
      case '\f': out.append("\\f"); break;
      case '\n': out.append("\\n"); break;
      case '\r': out.append("\\r"); break;
      case '\t': out.append("\\t"); break;
      default:
        out.append("\\u00");
        out.push_back(kHex[c >> 4]);
        out.push_back(kHex[c & 15]);
    }
    ++i;
    plain = i;
  }
  out.append(text.data() + plain, text.size() - plain);
  out.push_back('"');
}

void AppendResultTsv(std::string& out, const ParseResult& result, const OutputOptions& options) {
  AppendRow(out, result, options, '\t',
            [](std::string& o, std::string_view v) { AppendTsvField(o, v); });
}

void AppendResultCsv(std::string& out, const ParseResult& result, const OutputOptions& options) {
  AppendRow(out, result, options, ',',
            [](std::string& o, std::string_view v) { AppendCsvField(o, v); });
}

void AppendResultJson(std::string& out, const ParseResult& result, const OutputOptions& options) {
  out.push_back('{');
  const std::span<const FieldInfo> fields = Fields();
  for (size_t f = 0; f < fields.size(); ++f) {
    if (!fields[f].FilledBy(options.profile)) continue;
    out.push_back('"');
    out.append(fields[f].name);
    out.append("\":");
    AppendJsonString(out, result.parts.Field(f));
    out.push_back(',');
  }
  out.append("\"error\":");
  if (result.ok()) {
    out.append("null");
  } else {
    out.append("{\"kind\":");
    AppendJsonString(out, ErrorKind(result.error_number));
    out.append(",\"number\":");
    out.append(std::to_string(result.error_number));
    out.append(",\"message\":");
    AppendJsonString(out, result.error_message);
    out.push_back('}');
  }
  if (options.diagnostics) {
    out.append(",\"diagnostics\":{\"flags\":");
    AppendJsonFlagList(out, DiagnosticFlagNames(result.diagnostics.flags));
    out.append(",\"unplaced_words\":");
    AppendJsonStringList(out, result.diagnostics.unplaced_words);
    out.push_back('}');
  }
  if (options.standard) {
    out.append(",\"standard\":");
    if (!result.standard) {
      out.append("null");
    } else {
      const StandardAddress& s = *result.standard;
      out.append("{\"line\":");
      AppendJsonString(out, s.line);
      out.append(",\"street_type\":");
      AppendJsonString(out, s.street_type);
      out.append(",\"direction\":");
      AppendJsonString(out, s.direction);
      if (WritesWholeLines(options)) {
        out.append(",\"delivery_line\":");
        AppendJsonString(out, s.delivery_line);
        out.append(",\"last_line\":");
        AppendJsonString(out, s.last_line);
      }
      out.append(",\"language\":");
      AppendJsonString(out, LanguageName(s.language));
      out.append(",\"flags\":");
      AppendJsonFlagList(out, StandardFlagNames(s.flags));
      out.push_back('}');
    }
  }
  if (options.spans) {
    out.append(",\"spans\":");
    if (!result.spans) {
      out.append("null");
    } else {
      // Each field the profile fills, as its list of [start,end] pairs.
      char sep = '{';
      for (size_t f = 0; f < fields.size(); ++f) {
        if (!fields[f].FilledBy(options.profile)) continue;
        out.push_back(sep);
        sep = ',';
        out.push_back('"');
        out.append(fields[f].name);
        out.append("\":[");
        const std::span<const Span> spans = result.spans->Field(f);
        for (size_t k = 0; k < spans.size(); ++k) {
          if (k > 0) out.push_back(',');
          out.push_back('[');
          out.append(std::to_string(spans[k].start));
          out.push_back(',');
          out.append(std::to_string(spans[k].end));
          out.push_back(']');
        }
        out.push_back(']');
      }
      out.push_back('}');
    }
  }
  out.push_back('}');
}

const char* ErrorKind(int number) noexcept {
  switch (number) {
    case kErrorInvalidArgument: return "invalid_utf8";
    case kErrorOverflow: return "too_long";
    case kErrorOutOfMemory: return "out_of_memory";
    default: return IsAddressError(number) ? "address" : "database";
  }
}

}  // namespace zarn
