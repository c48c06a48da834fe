// Fuzz target over zarn-serve's reading of request bodies (no HTTP, no
// parser): a JSON body or one NDJSON line, as tools/zarn_serve/request_body.h
// reads them.
//
// Input: the first byte chooses a JSON body (even) or an NDJSON line (odd);
// the rest is the text. Checks: nothing but std::bad_alloc escapes; a body
// accepted holds at most the batch limit of items; every id is dumped (the
// answer writes it back) within the nesting limit; and the nesting count
// agrees with a parser that builds no tree: for text that is JSON, it is
// within the limit exactly when the parser's deepest nesting is.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz_check.h"
#include "zarn_serve/request_body.h"

namespace {

using zarn::fuzz::Check;
using zarn_serve::Json;

// The deepest nesting SAX events reach; parsing builds nothing.
struct DepthSax : nlohmann::json_sax<Json> {
  size_t depth = 0;
  size_t deepest = 0;
  bool Open() {
    deepest = std::max(deepest, ++depth);
    return true;
  }
  bool Close() {
    --depth;
    return true;
  }
  bool null() override { return true; }
  bool boolean(bool) override { return true; }
  bool number_integer(number_integer_t) override { return true; }
  bool number_unsigned(number_unsigned_t) override { return true; }
  bool number_float(number_float_t, const string_t&) override { return true; }
  bool string(string_t&) override { return true; }
  bool binary(binary_t&) override { return true; }
  bool start_object(std::size_t) override { return Open(); }
  bool key(string_t&) override { return true; }
  bool end_object() override { return Close(); }
  bool start_array(std::size_t) override { return Open(); }
  bool end_array() override { return Close(); }
  bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception&) override {
    return false;
  }
};

constexpr size_t kMaxBatch = 64;

void CheckItem(const zarn_serve::Item& item) {
  if (!item.id.is_null()) Check(!zarn_serve::Dump(item.id).empty(), "an id dumps to nothing");
  if (!item.problem_kind.empty()) Check(!item.problem.empty(), "a problem without a message");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const bool ndjson = (data[0] & 1) != 0;
  const std::string_view text(reinterpret_cast<const char*>(data) + 1, size - 1);

  DepthSax sax;
  // The JSON library's reader takes a NUL byte for the end of its input, so
  // the two counts are compared on text without one.
  const bool is_json = Json::sax_parse(text.begin(), text.end(), &sax);
  if (is_json && text.find('\0') == std::string_view::npos) {
    Check(zarn_serve::NestingWithin(text, sax.deepest), "the count is below the parser's depth");
    if (sax.deepest > 0) {
      Check(!zarn_serve::NestingWithin(text, sax.deepest - 1),
            "the count is above the parser's depth");
    }
  }
  const bool within = zarn_serve::NestingWithin(text, zarn_serve::kMaxNesting);

  if (ndjson) {
    zarn_serve::Item item;
    zarn_serve::ReadNdjsonLine(text, &item);
    if (!within) Check(item.problem_kind == "too_deep", "a deep line was read");
    if (text.find('\0') != std::string_view::npos) {
      Check(!item.problem_kind.empty(), "a line with a NUL byte was read");
    }
    CheckItem(item);
    return 0;
  }
  std::vector<zarn_serve::Item> items;
  zarn_serve::BodyProblem problem;
  if (zarn_serve::ReadJsonBody(text, kMaxBatch, &items, &problem)) {
    Check(within && is_json, "a body read that is too deep or not JSON");
    Check(text.find('\0') == std::string_view::npos, "a body with a NUL byte was read");
    Check(items.size() <= kMaxBatch, "more items than the batch limit");
    for (const zarn_serve::Item& item : items) CheckItem(item);
  } else {
    Check(problem.status == 400 || problem.status == 413 || problem.status == 422,
          "a refusal with an unexpected status");
    Check(!problem.kind.empty() && !problem.message.empty(), "a refusal without a message");
    Check(items.empty(), "items left after a refusal");
    if (!within) Check(problem.kind == "too_deep", "a deep body refused for another reason");
  }
  return 0;
}
