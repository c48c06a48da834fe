// The HTTP endpoints of zarn-serve: parsing one address or many, readiness,
// version and metrics.
#ifndef ZARN_TOOLS_ZARN_SERVE_SERVICE_H_
#define ZARN_TOOLS_ZARN_SERVE_SERVICE_H_

#include <httplib.h>

#include <cstddef>
#include <string>

#include "zarn/zarn.hpp"
#include "zarn_serve/metrics.h"

namespace zarn_serve {

struct ServiceConfig {
  std::string database;
  zarn::Profile default_profile = zarn::Profile::kSpecified;
  // Largest JSON request body, in bytes. NDJSON bodies are read line by line
  // and have no total limit; each line has kMaxLine.
  size_t max_body = 8u << 20;
  // Most addresses in one JSON request.
  size_t max_batch = 10000;
  // Write one line per request (which shows the query, so addresses) to
  // standard error.
  bool log_requests = false;
};

// Longest line of an NDJSON body, in bytes.
inline constexpr size_t kMaxLine = 64u << 10;

class Service {
 public:
  Service(ServiceConfig config, Metrics& metrics);

  // Registers the endpoints, the error answers and the request log on `server`.
  void Install(httplib::Server& server);

 private:
  const zarn::ZarnAddress& Parser(zarn::Profile profile) const {
    return profile == zarn::Profile::kCanada ? canada_ : specified_;
  }
  void GetParse(const httplib::Request& req, httplib::Response& res) const;
  void PostParse(const httplib::Request& req, httplib::Response& res,
                 const httplib::ContentReader& reader) const;
  void PostJson(const httplib::Request& req, httplib::Response& res,
                const httplib::ContentReader& reader, const zarn::ZarnAddress& parser,
                const zarn::OutputOptions& output) const;
  void PostNdjson(httplib::Response& res, const httplib::ContentReader& reader,
                  const zarn::ZarnAddress& parser, const zarn::OutputOptions& output) const;
  void Healthz(httplib::Response& res) const;
  void CountErrors(const zarn::BatchResult& result) const;

  ServiceConfig config_;
  Metrics& metrics_;
  zarn::ZarnAddress specified_;
  zarn::ZarnAddress canada_;
};

}  // namespace zarn_serve

#endif  // ZARN_TOOLS_ZARN_SERVE_SERVICE_H_
