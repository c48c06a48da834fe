// zarn-parse's field writers: every byte value, at every place of the
// eight- and sixteen-byte blocks the scan reads, escaped (TSV) or quoted (CSV) exactly
// as the plain rules say.
#include "zarn_parse/output.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace zarn_parse {
namespace {

std::string TsvByRule(const std::string& field) {
  std::string out;
  for (char c : field) {
    switch (c) {
      case '\t': out += "\\t"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\\': out += "\\\\"; break;
      default: out += c;
    }
  }
  return out;
}

bool CsvNeedsQuotes(const std::string& field) {
  return field.find_first_of(",\"\r\n") != std::string::npos;
}

// A field of `length` letters with `byte` at `at`.
std::string FieldWith(size_t length, size_t at, char byte) {
  std::string field(length, 'x');
  field[at] = byte;
  return field;
}

TEST(TsvField, EveryByteAtEveryPlaceOfTheBlocks) {
  for (size_t length : {1u, 2u, 7u, 8u, 9u, 12u, 15u, 16u, 17u, 31u, 32u, 33u, 47u}) {
    for (size_t at = 0; at < length; ++at) {
      for (int b = 0; b < 256; ++b) {
        const char byte = static_cast<char>(b);
        std::string twice = FieldWith(length, at, byte);
        twice.back() = byte;
        for (const std::string& field : {FieldWith(length, at, byte), twice}) {
          std::string out = "prefix";
          AppendTsvField(out, field);
          ASSERT_EQ(out, "prefix" + TsvByRule(field))
              << "byte " << b << " at " << at << " of " << length;
        }
      }
    }
  }
}

TEST(TsvField, RunsOfEscapesAndEmptyFields) {
  for (const std::string& field :
       {std::string(), std::string("\\"), std::string(40, '\t'), std::string("a\tb\nc\rd\\e"),
        std::string("\0\t\0", 3), std::string(17, 'a') + "\\" + std::string(17, '\n')}) {
    std::string out;
    AppendTsvField(out, field);
    EXPECT_EQ(out, TsvByRule(field));
  }
}

// The TSV row writer writes its fields straight into room made for the
// row; every field of a row must come out as AppendTsvField writes it.
TEST(TsvRow, FieldsAsTheFieldWriterWritesThem) {
  const std::unique_ptr<RowWriter> writer = MakeRowWriter(Format::kTsv);
  std::string out;
  std::string expected;
  for (size_t length : {0u, 1u, 7u, 8u, 15u, 16u, 17u, 40u}) {
    for (size_t at = 0; at < std::max<size_t>(length, 1); ++at) {
      for (int b = 0; b < 256; ++b) {
        const std::string field =
            length == 0 ? std::string() : FieldWith(length, at, static_cast<char>(b));
        const std::vector<std::string_view> values = {field, "", field, std::string_view("a\\b")};
        writer->Row(values, true, out);
        for (size_t i = 0; i < values.size(); ++i) {
          if (i > 0) expected += '\t';
          AppendTsvField(expected, values[i]);
        }
        expected += '\n';
      }
    }
  }
  EXPECT_TRUE(out == expected);
}

TEST(CsvField, QuotedExactlyWhenABytesNeedsIt) {
  for (size_t length : {1u, 7u, 8u, 9u, 15u, 16u, 17u, 33u}) {
    for (size_t at = 0; at < length; ++at) {
      for (int b = 0; b < 256; ++b) {
        const std::string field = FieldWith(length, at, static_cast<char>(b));
        std::string out;
        AppendCsvField(out, field);
        if (!CsvNeedsQuotes(field)) {
          ASSERT_EQ(out, field) << "byte " << b << " at " << at;
          continue;
        }
        std::string quoted = "\"";
        for (char c : field) quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
        quoted += '"';
        ASSERT_EQ(out, quoted) << "byte " << b << " at " << at;
      }
    }
  }
}

}  // namespace
}  // namespace zarn_parse
