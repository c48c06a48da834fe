#include "zarn_serve/request_body.h"

#include <utf8.h>

#include <utility>

namespace zarn_serve {
namespace {

constexpr auto kReplace = nlohmann::json::error_handler_t::replace;

bool ValidUtf8(std::string_view text) {
  return utf8::find_invalid(text.begin(), text.end()) == text.end();
}

// Reads a string, or an object {"id": any, "address": string}.
bool ItemFromJson(Json&& value, Item* item) {
  if (value.is_string()) {
    item->address = std::move(value.get_ref<std::string&>());
    return true;
  }
  if (value.is_object()) {
    auto id = value.find("id");
    if (id != value.end()) item->id = std::move(*id);
    auto address = value.find("address");
    if (address != value.end() && address->is_string()) {
      item->address = std::move(address->get_ref<std::string&>());
      return true;
    }
  }
  item->problem_kind = "bad_item";
  item->problem = "expected a string or an object with a string \"address\"";
  return false;
}

std::string TooDeep(const char* what) {
  return std::string(what) + " nests arrays and objects deeper than the limit of " +
         std::to_string(kMaxNesting);
}

}  // namespace

std::string Dump(const Json& value) { return value.dump(-1, ' ', false, kReplace); }

bool NestingWithin(std::string_view text, size_t limit) {
  size_t depth = 0;
  bool in_string = false;
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (in_string) {
      if (c == '\\') {
        ++i;  // the escaped character, whatever it is, does not end the string
      } else if (c == '"') {
        in_string = false;
      }
      continue;
    }
    switch (c) {
      case '"': in_string = true; break;
      case '[':
      case '{':
        if (++depth > limit) return false;
        break;
      case ']':
      case '}':
        if (depth > 0) --depth;
        break;
      default: break;
    }
  }
  return true;
}

bool ReadJsonBody(std::string_view body, size_t max_batch, std::vector<Item>* items,
                  BodyProblem* problem) {
  items->clear();
  if (!NestingWithin(body, kMaxNesting)) {
    *problem = {400, "too_deep", TooDeep("the body")};
    return false;
  }
  // A raw NUL byte is never JSON (not even inside a string, where control
  // characters must be escaped); the reader would take it for the end of
  // the text and accept what stands before it.
  if (body.find('\0') != std::string_view::npos) {
    *problem = {400, "bad_json", "the body holds a NUL byte, which JSON does not allow"};
    return false;
  }
  Json value;
  try {
    value = Json::parse(body);
  } catch (const Json::exception& e) {
    if (!ValidUtf8(body)) {
      *problem = {422, "invalid_utf8", "the body is not valid UTF-8"};
    } else {
      *problem = {400, "bad_json", e.what()};
    }
    return false;
  }
  if (!value.is_array()) {
    *problem = {400, "bad_json",
                "expected an array of addresses or of objects {\"id\", \"address\"}"};
    return false;
  }
  if (value.size() > max_batch) {
    *problem = {413, "batch_too_large",
                std::to_string(value.size()) + " addresses, over the limit of " +
                    std::to_string(max_batch)};
    return false;
  }
  // An item that is neither a string nor an object with a string
  // "address" keeps its problem ("bad_item") and gets its own answer.
  items->resize(value.size());
  for (size_t i = 0; i < items->size(); ++i) ItemFromJson(std::move(value[i]), &(*items)[i]);
  return true;
}

void ReadNdjsonLine(std::string_view line, Item* item) {
  if (!NestingWithin(line, kMaxNesting)) {
    item->problem_kind = "too_deep";
    item->problem = TooDeep("the line");
    return;
  }
  if (line.find('\0') != std::string_view::npos) {
    item->problem_kind = "bad_json";
    item->problem = "the line holds a NUL byte, which JSON does not allow";
    return;
  }
  try {
    ItemFromJson(Json::parse(line), item);
  } catch (const Json::exception& e) {
    if (!ValidUtf8(line)) {
      item->problem_kind = "invalid_utf8";
      item->problem = "the line is not valid UTF-8";
    } else {
      item->problem_kind = "bad_json";
      item->problem = e.what();
    }
  }
}

}  // namespace zarn_serve
