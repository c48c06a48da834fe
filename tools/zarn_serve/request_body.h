// Reading the addresses of a request body: a JSON array, or one line of an
// NDJSON body. Kept apart from the HTTP code so that it can be fuzzed alone.
#ifndef ZARN_TOOLS_ZARN_SERVE_REQUEST_BODY_H_
#define ZARN_TOOLS_ZARN_SERVE_REQUEST_BODY_H_

#include <cstddef>
#include <nlohmann/json.hpp>
#include <string>
#include <string_view>
#include <vector>

namespace zarn_serve {

using Json = nlohmann::ordered_json;

// Deepest nesting of arrays and objects in a JSON body or an NDJSON line: an
// array of objects whose ids may themselves be arrays or objects. A deeper
// text is refused before any tree is built, so that no copy, dump or
// destruction of a tree recurses further than this.
inline constexpr size_t kMaxNesting = 64;

// One address of a request: its caller's id (null when none was given), the
// text, or why the item could not be read.
struct Item {
  Json id;
  std::string address;
  std::string problem_kind;  // "" when the item is usable
  std::string problem;
};

// Why a JSON body was refused: the HTTP status, a short kind and a message.
struct BodyProblem {
  int status = 0;
  std::string kind;
  std::string message;
};

// Whether the arrays and objects of `text` nest at most `limit` deep. Counts
// brackets outside strings in one pass, without recursion or allocation; for
// text that parses as JSON this is exactly its nesting depth, and for text
// that does not, at least the depth the parser reaches before it fails.
bool NestingWithin(std::string_view text, size_t limit);

// Reads a JSON body, an array of strings or of objects {"id": any,
// "address": string}, of at most `max_batch` items. False, with `problem`
// set, when the body is refused as a whole; an item that cannot be used
// has its own problem set (and the others are usable).
bool ReadJsonBody(std::string_view body, size_t max_batch, std::vector<Item>* items,
                  BodyProblem* problem);

// Reads one NDJSON line that is not blank: a string or an object as above.
// A line that cannot be used sets the item's problem.
void ReadNdjsonLine(std::string_view line, Item* item);

// The value as compact JSON; bytes that are not valid UTF-8 are replaced.
std::string Dump(const Json& value);

}  // namespace zarn_serve

#endif  // ZARN_TOOLS_ZARN_SERVE_REQUEST_BODY_H_
