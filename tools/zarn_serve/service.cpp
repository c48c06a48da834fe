#include "zarn_serve/service.h"

#include <utf8.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <nlohmann/json.hpp>
#include <string_view>
#include <utility>
#include <vector>

#include "zarn/encode.hpp"
#include "zarn_serve/connection_pool.h"
#include "zarn_serve/http_server.h"
#include "zarn_serve/page.h"
#include "zarn_serve/request_body.h"

namespace zarn_serve {
namespace {

// Addresses parsed at once from an NDJSON body.
constexpr size_t kStreamBatch = 256;

const char* const kJsonType = "application/json";
const char* const kNdjsonType = "application/x-ndjson";

// When the current request's headers were read, for the latency histogram.
// A thread serves one request at a time.
thread_local std::chrono::steady_clock::time_point tl_start;
thread_local bool tl_timed = false;

void SendError(httplib::Response& res, int status, const std::string& kind,
               const std::string& message) {
  Json error;
  error["status"] = status;
  error["kind"] = kind;
  error["message"] = message;
  Json body;
  body["error"] = std::move(error);
  res.status = status;
  res.set_content(Dump(body) + "\n", kJsonType);
}

// The request's body, or what is left of it, stays unread, so the connection
// cannot carry another request. The library closes a connection only when
// the request asks for it or a write fails: the answer is written by a
// provider that reports a failure once it has written it all.
void CloseAfter(httplib::Response& res) {
  res.set_header("Connection", "close");
  if (res.content_provider_) return;
  const std::string type = res.get_header_value("Content-Type");
  res.headers.erase("Content-Type");
  auto body = std::make_shared<std::string>(std::move(res.body));
  res.body.clear();
  res.set_content_provider(body->size(), type.empty() ? kJsonType : type.c_str(),
                           [body](size_t offset, size_t length, httplib::DataSink& sink) {
                             sink.write(body->data() + offset, length);
                             return false;
                           });
}

// Most of a refused body read and dropped before answering. Closing a
// connection with input still unread resets it, and a client still sending
// may then lose the answer; past this much the connection is closed anyway.
constexpr size_t kDrainLimit = 64u << 20;

// Reads and drops the body, which must not have been read yet. True when it
// ended within kDrainLimit (the connection can carry the next request).
bool Drain(const httplib::Request& req, const httplib::ContentReader& reader) {
  const std::string declared = req.get_header_value("Content-Length");
  if (!declared.empty() && std::strtoull(declared.c_str(), nullptr, 10) > kDrainLimit) {
    return false;
  }
  size_t seen = 0;
  bool over = false;
  const bool read = reader([&](const char*, size_t length) {
    seen += length;
    over = seen > kDrainLimit;
    return !over;
  });
  return read && !over;
}

// Answers an error to a request whose body has not been read: the body is
// drained first when that is cheap enough, else the connection is closed.
void RefuseBody(const httplib::Request& req, httplib::Response& res,
                const httplib::ContentReader& reader) {
  if (!Drain(req, reader)) CloseAfter(res);
}

Json ErrorJson(const std::string& kind, int number, const std::string& message) {
  Json error;
  error["kind"] = kind;
  if (number != 0) error["number"] = number;
  error["message"] = message;
  return error;
}

// Appends one answer: the id when the caller gave one, then the result as
// the library's encoder writes it (every field, the error, null when none,
// and the diagnostics, standard form and spans when asked for).
void AppendResult(std::string& out, const Item* item, const zarn::ParseResult& r,
                  const zarn::OutputOptions& output) {
  if (item == nullptr || item->id.is_null()) {
    zarn::AppendResultJson(out, r, output);
    return;
  }
  const size_t start = out.size();
  zarn::AppendResultJson(out, r, output);
  // After the opening brace: "id" first.
  out.insert(start + 1, "\"id\":" + Dump(item->id) + ",");
}

// The answer for an item that could not be read: empty fields and its problem.
Json ProblemJson(const Item& item) {
  Json out;
  if (!item.id.is_null()) out["id"] = item.id;
  for (const zarn::FieldInfo& field : zarn::Fields()) out[field.name] = "";
  out["error"] = ErrorJson(item.problem_kind, 0, item.problem);
  return out;
}

// The media type of the request, without parameters, in lower case.
std::string MediaType(const httplib::Request& req) {
  std::string type = req.get_header_value("Content-Type");
  type = type.substr(0, type.find(';'));
  while (!type.empty() && (type.back() == ' ' || type.back() == '\t')) type.pop_back();
  size_t start = type.find_first_not_of(" \t");
  type = start == std::string::npos ? std::string() : type.substr(start);
  std::transform(type.begin(), type.end(), type.begin(), [](unsigned char c) {
    return static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  });
  return type;
}

// The endpoints and the methods each answers; every other path is 404.
struct Endpoint {
  const char* path;
  const char* allow;
};
constexpr Endpoint kEndpoints[] = {
    {"/", "GET, HEAD"},           {"/v1/parse", "GET, HEAD, POST"}, {"/healthz", "GET, HEAD"},
    {"/v1/version", "GET, HEAD"}, {"/metrics", "GET, HEAD"},
};

const Endpoint* FindEndpoint(const std::string& path) {
  for (const Endpoint& e : kEndpoints) {
    if (path == e.path) return &e;
  }
  return nullptr;
}

bool Allows(const Endpoint& e, const std::string& method) {
  const std::string_view allow = e.allow;
  size_t at = 0;
  while (at < allow.size()) {
    size_t end = allow.find(',', at);
    if (end == std::string_view::npos) end = allow.size();
    if (allow.substr(at, end - at) == method) return true;
    at = end + 2;
  }
  return false;
}

const char* StatusText(int status) {
  switch (status) {
    case 400: return "malformed request";
    case 404: return "no such endpoint";
    case 408: return "the request took too long";
    case 413: return "the request is too large";
    case 414: return "the request line is too long";
    case 416: return "range not satisfiable";
    case 417: return "expectation failed";
    default: return "the request cannot be answered";
  }
}

bool HasBody(const httplib::Request& req) {
  if (req.has_header("Transfer-Encoding")) return true;
  const std::string declared = req.get_header_value("Content-Length");
  return !declared.empty() && declared != "0";
}

}  // namespace

Service::Service(ServiceConfig config, Metrics& metrics)
    : config_(std::move(config)),
      metrics_(metrics),
      specified_(config_.database, zarn::ParseOptions{.profile = zarn::Profile::kSpecified}),
      canada_(config_.database, zarn::ParseOptions{.profile = zarn::Profile::kCanada}) {}

void Service::CountErrors(const zarn::BatchResult& result) const {
  if (!result.ok()) metrics_.CountAddressError(zarn::ErrorKind(result.error_number));
}

namespace {

// Reads a yes/no parameter; false (and a 400 answer) for an unusable value.
bool ReadSwitch(const httplib::Request& req, httplib::Response& res, const char* name,
                bool* value) {
  *value = false;
  if (!req.has_param(name)) return true;
  const std::string text = req.get_param_value(name);
  if (text == "1" || text == "true") {
    *value = true;
  } else if (!(text.empty() || text == "0" || text == "false")) {
    SendError(res, 400, "bad_parameter", std::string(name) + " must be 1, true, 0 or false");
    return false;
  }
  return true;
}

// Reads ?profile=, ?flags=, ?standard=, ?spans= and ?language=; false (and a 400
// answer) for unusable values.
bool ReadParseOptions(const httplib::Request& req, httplib::Response& res, zarn::Profile fallback,
                      zarn::Profile* profile, zarn::OutputOptions* output) {
  *profile = fallback;
  if (req.has_param("profile")) {
    const std::string name = req.get_param_value("profile");
    if (!zarn::ProfileFromName(name, profile)) {
      SendError(res, 400, "bad_parameter", "unknown profile (use " + zarn::ProfileChoices() + ")");
      return false;
    }
  }
  *output = zarn::OutputOptions{};
  output->profile = *profile;
  if (!ReadSwitch(req, res, "flags", &output->diagnostics) ||
      !ReadSwitch(req, res, "standard", &output->standard) ||
      !ReadSwitch(req, res, "spans", &output->spans)) {
    return false;
  }
  if (req.has_param("language") &&
      !zarn::LanguageFromName(req.get_param_value("language"), &output->language)) {
    SendError(res, 400, "bad_parameter", "language must be en, fr or detect");
    return false;
  }
  return true;
}

}  // namespace

void Service::GetParse(const httplib::Request& req, httplib::Response& res) const {
  zarn::Profile profile;
  zarn::OutputOptions output;
  if (!ReadParseOptions(req, res, config_.default_profile, &profile, &output)) return;
  if (!req.has_param("address")) {
    SendError(res, 400, "missing_parameter", "the query needs address=...");
    return;
  }
  const std::string address = req.get_param_value("address");
  const std::string_view one[1] = {address};
  zarn::ParseResult result;
  Parser(profile).ParseBatch(one, std::span<zarn::ParseResult>(&result, 1), output);
  metrics_.CountAddresses(1);
  CountErrors(result);
  if (!result.ok()) {
    res.status = zarn::IsAddressError(result.error_number) ? 422 : 503;
  }
  std::string out;
  AppendResult(out, nullptr, result, output);
  out += '\n';
  res.set_content(std::move(out), kJsonType);
}

void Service::PostParse(const httplib::Request& req, httplib::Response& res,
                        const httplib::ContentReader& reader) const {
  zarn::Profile profile;
  zarn::OutputOptions output;
  if (!ReadParseOptions(req, res, config_.default_profile, &profile, &output)) {
    RefuseBody(req, res, reader);
    return;
  }
  const std::string type = MediaType(req);
  if (type == kJsonType) {
    PostJson(req, res, reader, Parser(profile), output);
  } else if (type == kNdjsonType) {
    PostNdjson(res, reader, Parser(profile), output);
  } else {
    SendError(res, 415, "unsupported_media_type",
              "send application/json (an array) or application/x-ndjson (one address a line)");
    RefuseBody(req, res, reader);
  }
}

void Service::PostJson(const httplib::Request& req, httplib::Response& res,
                       const httplib::ContentReader& reader, const zarn::ZarnAddress& parser,
                       const zarn::OutputOptions& output) const {
  const std::string too_big =
      "the body is over the limit of " + std::to_string(config_.max_body) + " bytes";
  // Declared too large: answered at once, the body unread. The connection
  // closes after the answer, gently, so that a client sending the body
  // anyway still reads the 413.
  const std::string declared = req.get_header_value("Content-Length");
  if (!declared.empty() && std::strtoull(declared.c_str(), nullptr, 10) > config_.max_body) {
    SendError(res, 413, "body_too_large", too_big);
    CloseAfter(res);
    LingerOnClose();
    return;
  }
  // A body found over the limit while reading is read on, dropped, up to
  // kDrainLimit, so that the 413 reaches a client still sending.
  std::string body;
  size_t seen = 0;
  bool read_on = true;
  const bool read = reader([&](const char* data, size_t length) {
    seen += length;
    if (seen <= config_.max_body) {
      body.append(data, length);
    } else {
      body = std::string();
      read_on = seen <= kDrainLimit;
    }
    return read_on;
  });
  if (seen > config_.max_body) {
    SendError(res, 413, "body_too_large", too_big);
    if (!read || !read_on) CloseAfter(res);
    return;
  }
  if (!read) {
    SendError(res, 400, "bad_body", "the body could not be read");
    CloseAfter(res);
    return;
  }

  std::vector<Item> items;
  BodyProblem problem;
  const bool usable = ReadJsonBody(body, config_.max_batch, &items, &problem);
  body = std::string();
  if (!usable) {
    SendError(res, problem.status, problem.kind, problem.message);
    return;
  }

  std::vector<std::string_view> addresses;
  addresses.reserve(items.size());
  for (const Item& item : items) {
    if (item.problem_kind.empty()) addresses.push_back(item.address);
  }
  std::vector<zarn::ParseResult> results(addresses.size());
  parser.ParseBatch(addresses, results, output);
  metrics_.CountAddresses(results.size());
  for (const Item& item : items) {
    if (!item.problem_kind.empty()) metrics_.CountAddressError(item.problem_kind);
  }
  for (const zarn::ParseResult& r : results) {
    CountErrors(r);
    if (!r.ok() && !zarn::IsAddressError(r.error_number)) {
      SendError(res, 503, "database", r.error_message);
      return;
    }
  }
  std::string out = "[";
  out.reserve(items.size() * 120);
  size_t next = 0;
  for (size_t i = 0; i < items.size(); ++i) {
    if (i > 0) out += ',';
    if (items[i].problem_kind.empty()) {
      AppendResult(out, &items[i], results[next++], output);
    } else {
      out += Dump(ProblemJson(items[i]));
    }
  }
  out += "]\n";
  res.set_content(std::move(out), kJsonType);
}

namespace {

// Splits an NDJSON body into items as it arrives and answers them in order,
// a batch at a time, so that memory stays bounded whatever the body's size.
class NdjsonStream {
 public:
  NdjsonStream(const zarn::ZarnAddress& parser, const zarn::OutputOptions& output, Metrics& metrics,
               httplib::DataSink& sink)
      : parser_(parser), output_(output), metrics_(metrics), sink_(sink) {}

  // Takes the next piece of the body; false once the answer cannot be written.
  bool Add(const char* data, size_t length) {
    const char* end = data + length;
    while (data < end) {
      const char* newline = static_cast<const char*>(std::memchr(data, '\n', end - data));
      const char* stop = newline != nullptr ? newline : end;
      if (!skipping_) {
        const size_t piece = static_cast<size_t>(stop - data);
        if (line_.size() + piece > kMaxLine) {
          skipping_ = true;
          line_.clear();
        } else {
          line_.append(data, piece);
        }
      }
      if (newline == nullptr) break;
      EndLine();
      data = newline + 1;
    }
    return Flush();
  }

  bool Finish() {
    if (!line_.empty() || skipping_) EndLine();
    return Flush();
  }

 private:
  void EndLine() {
    Item item;
    if (skipping_) {
      item.problem_kind = "line_too_long";
      item.problem = "a line is over the limit of " + std::to_string(kMaxLine) + " bytes";
      skipping_ = false;
    } else {
      if (!line_.empty() && line_.back() == '\r') line_.pop_back();
      if (line_.find_first_not_of(" \t") == std::string::npos) {
        line_.clear();
        return;  // blank lines are not items
      }
      ReadNdjsonLine(line_, &item);
    }
    line_.clear();
    items_.push_back(std::move(item));
    if (items_.size() >= kStreamBatch) Flush();
  }

  // Parses and writes the items read so far.
  bool Flush() {
    if (items_.empty()) return ok_;
    addresses_.clear();
    for (const Item& item : items_) {
      if (item.problem_kind.empty()) addresses_.push_back(item.address);
    }
    results_.resize(addresses_.size());
    parser_.ParseBatch(addresses_, results_, output_);
    metrics_.CountAddresses(results_.size());
    out_.clear();
    size_t next = 0;
    for (const Item& item : items_) {
      if (item.problem_kind.empty()) {
        const zarn::BatchResult& r = results_[next++];
        if (!r.ok()) metrics_.CountAddressError(zarn::ErrorKind(r.error_number));
        AppendResult(out_, &item, r, output_);
      } else {
        metrics_.CountAddressError(item.problem_kind);
        out_ += Dump(ProblemJson(item));
      }
      out_ += '\n';
    }
    items_.clear();
    if (ok_) ok_ = sink_.is_writable() && sink_.write(out_.data(), out_.size());
    return ok_;
  }

  const zarn::ZarnAddress& parser_;
  const zarn::OutputOptions output_;
  Metrics& metrics_;
  httplib::DataSink& sink_;
  std::string line_;
  bool skipping_ = false;
  bool ok_ = true;
  std::vector<Item> items_;
  std::vector<std::string_view> addresses_;
  std::vector<zarn::BatchResult> results_;
  std::string out_;
};

}  // namespace

void Service::PostNdjson(httplib::Response& res, const httplib::ContentReader& reader,
                         const zarn::ZarnAddress& parser, const zarn::OutputOptions& output) const {
  // The status goes out before the first line is read: check the database
  // first, so that a database that cannot be used is a 503, not 200 and
  // a failed line for each address.
  const std::string_view probe[1] = {"1 Main St"};
  const std::vector<zarn::BatchResult> checked = parser.ParseBatch(probe);
  if (!checked[0].ok() && !zarn::IsAddressError(checked[0].error_number)) {
    SendError(res, 503, "database", checked[0].error_message);
    CloseAfter(res);
    return;
  }
  // The answer is written while the body is still being read: the reader
  // is used from the content provider, which runs on this connection's
  // thread before the request is over.
  res.set_chunked_content_provider(
      kNdjsonType, [this, reader, &parser, output](size_t, httplib::DataSink& sink) {
        NdjsonStream stream(parser, output, metrics_, sink);
        const bool read =
            reader([&](const char* data, size_t length) { return stream.Add(data, length); });
        if (!read || !stream.Finish()) return false;
        sink.done();
        return true;
      });
}

void Service::Healthz(httplib::Response& res) const {
  const std::string_view probe[1] = {"1 Main St"};
  const std::vector<zarn::BatchResult> checked = Parser(config_.default_profile).ParseBatch(probe);
  Json body;
  if (checked[0].ok() || zarn::IsAddressError(checked[0].error_number)) {
    body["status"] = "ok";
  } else {
    res.status = 503;
    body["status"] = "unavailable";
    body["error"] = ErrorJson("database", checked[0].error_number, checked[0].error_message);
  }
  res.set_content(Dump(body) + "\n", kJsonType);
}

void Service::Install(httplib::Server& server) {
  server.set_pre_routing_handler([](const httplib::Request& req, httplib::Response& res) {
    HeadersRead();
    tl_start = std::chrono::steady_clock::now();
    tl_timed = true;
    if (ConnectionPool::Refusing()) {
      SendError(res, 503, "too_many_connections", "the server is at its connection limit");
      CloseAfter(res);
      return httplib::Server::HandlerResponse::Handled;
    }
    const Endpoint* endpoint = FindEndpoint(req.path);
    if (endpoint == nullptr) {
      SendError(res, 404, "not_found", "no such endpoint");
      if (HasBody(req)) CloseAfter(res);
      return httplib::Server::HandlerResponse::Handled;
    }
    if (!Allows(*endpoint, req.method)) {
      res.set_header("Allow", endpoint->allow);
      SendError(res, 405, "method_not_allowed",
                std::string("this endpoint answers ") + endpoint->allow);
      if (HasBody(req)) CloseAfter(res);
      return httplib::Server::HandlerResponse::Handled;
    }
    // Only POST reads a body, and with its own limits; a body on any other
    // request is not read into memory.
    if (req.method != "POST" && HasBody(req)) {
      SendError(res, 413, "body_not_accepted", "this request takes no body");
      CloseAfter(res);
      return httplib::Server::HandlerResponse::Handled;
    }
    return httplib::Server::HandlerResponse::Unhandled;
  });

  // A client that waits for "100 Continue" before sending a body that is
  // over the limit is told so before it sends it.
  server.set_expect_100_continue_handler(
      [this](const httplib::Request& req, httplib::Response& res) {
        const std::string declared = req.get_header_value("Content-Length");
        if (req.method == "POST" && req.path == "/v1/parse" && MediaType(req) == kJsonType &&
            !declared.empty() && std::strtoull(declared.c_str(), nullptr, 10) > config_.max_body) {
          SendError(res, 413, "body_too_large",
                    "the body is over the limit of " + std::to_string(config_.max_body) + " bytes");
          CloseAfter(res);
          return 413;
        }
        return 100;
      });

  server.Get("/v1/parse",
             [this](const httplib::Request& req, httplib::Response& res) { GetParse(req, res); });
  server.Post("/v1/parse",
              [this](const httplib::Request& req, httplib::Response& res,
                     const httplib::ContentReader& reader) { PostParse(req, res, reader); });
  server.Get("/healthz", [this](const httplib::Request&, httplib::Response& res) { Healthz(res); });
  server.Get("/", [](const httplib::Request& req, httplib::Response& res) {
    const std::string language = PageLanguage(req.get_header_value("Accept-Language"));
    res.set_header("Content-Security-Policy", kPagePolicy);
    res.set_header("X-Content-Type-Options", "nosniff");
    res.set_header("Cache-Control", "no-cache");
    res.set_header("Content-Language", language);
    res.set_header("Vary", "Accept-Language");
    res.set_content(PageHtml(language), "text/html; charset=utf-8");
  });
  server.Get("/v1/version", [this](const httplib::Request&, httplib::Response& res) {
    Json body;
    body["service"] = "zarn-serve";
    body["version"] = zarn::Version();
    body["httplib"] = CPPHTTPLIB_VERSION;
    body["default_profile"] = zarn::ProfileName(config_.default_profile);
    body["profiles"] = zarn::ProfileNames();
    body["max_body"] = config_.max_body;
    body["max_batch"] = config_.max_batch;
    body["max_line"] = kMaxLine;
    res.set_content(Dump(body) + "\n", kJsonType);
  });
  server.Get("/metrics", [this](const httplib::Request&, httplib::Response& res) {
    res.set_content(metrics_.Text(), "text/plain; version=0.0.4");
  });

  // Answers the library gives by itself (a malformed request, a request
  // line or header over its limit) get a JSON body like every other error.
  server.set_error_handler(
      httplib::Server::HandlerWithResponse([](const httplib::Request&, httplib::Response& res) {
        if (!res.body.empty() || res.content_provider_) {
          return httplib::Server::HandlerResponse::Unhandled;
        }
        SendError(res, res.status, res.status == 404 ? "not_found" : "bad_request",
                  StatusText(res.status));
        return httplib::Server::HandlerResponse::Handled;
      }));
  server.set_exception_handler(
      [](const httplib::Request&, httplib::Response& res, std::exception_ptr error) {
        std::string what = "internal error";
        try {
          if (error) std::rethrow_exception(error);
        } catch (const std::bad_alloc&) {
          what = "out of memory";
        } catch (const std::exception& e) {
          what = e.what();
        } catch (...) {
        }
        SendError(res, 500, "internal", what);
        CloseAfter(res);
      });

  server.set_logger([this](const httplib::Request& req, const httplib::Response& res) {
    const bool timed = tl_timed;
    tl_timed = false;
    const double seconds =
        timed ? std::chrono::duration<double>(std::chrono::steady_clock::now() - tl_start).count()
              : 0.0;
    const Endpoint* endpoint = FindEndpoint(req.path);
    metrics_.CountRequest(endpoint != nullptr ? endpoint->path : "other", res.status, seconds,
                          timed);
    if (config_.log_requests) {
      std::string target = req.target.empty() ? req.path : req.target;
      std::fprintf(stderr, "zarn-serve: %s %s %s %d %.3f ms\n", req.remote_addr.c_str(),
                   req.method.c_str(), target.c_str(), res.status, seconds * 1000);
    }
  });
}

}  // namespace zarn_serve
