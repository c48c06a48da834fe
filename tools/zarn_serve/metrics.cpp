#include "zarn_serve/metrics.h"

#include <cstdio>

namespace zarn_serve {

void Metrics::CountRequest(const std::string& endpoint, int status, double seconds, bool timed) {
  const std::lock_guard<std::mutex> lock(mutex_);
  ++requests_[{endpoint, status}];
  if (!timed) return;
  ++timed_count_;
  timed_sum_ += seconds;
  for (size_t i = 0; i < kLatencyBounds.size(); ++i) {
    if (seconds <= kLatencyBounds[i]) {
      ++buckets_[i];
      break;
    }
  }
}

void Metrics::CountAddressError(const std::string& kind) {
  const std::lock_guard<std::mutex> lock(mutex_);
  ++errors_[kind];
}

std::string Metrics::Text() const {
  std::string out;
  char line[256];
  const std::lock_guard<std::mutex> lock(mutex_);
  out += "# HELP zarn_serve_requests_total HTTP requests answered, by endpoint and status.\n";
  out += "# TYPE zarn_serve_requests_total counter\n";
  for (const auto& [key, count] : requests_) {
    std::snprintf(line, sizeof line,
                  "zarn_serve_requests_total{endpoint=\"%s\",status=\"%d\"} %llu\n",
                  key.first.c_str(), key.second, static_cast<unsigned long long>(count));
    out += line;
  }
  out += "# HELP zarn_serve_addresses_parsed_total Addresses parsed, with or without error.\n";
  out += "# TYPE zarn_serve_addresses_parsed_total counter\n";
  std::snprintf(line, sizeof line, "zarn_serve_addresses_parsed_total %llu\n",
                static_cast<unsigned long long>(addresses_.load(std::memory_order_relaxed)));
  out += line;
  out += "# HELP zarn_serve_address_errors_total Addresses answered with an error, by kind.\n";
  out += "# TYPE zarn_serve_address_errors_total counter\n";
  for (const auto& [kind, count] : errors_) {
    std::snprintf(line, sizeof line, "zarn_serve_address_errors_total{kind=\"%s\"} %llu\n",
                  kind.c_str(), static_cast<unsigned long long>(count));
    out += line;
  }
  out +=
      "# HELP zarn_serve_request_duration_seconds Time from a request's headers to its answer.\n";
  out += "# TYPE zarn_serve_request_duration_seconds histogram\n";
  uint64_t cumulative = 0;
  for (size_t i = 0; i < kLatencyBounds.size(); ++i) {
    cumulative += buckets_[i];
    std::snprintf(line, sizeof line, "zarn_serve_request_duration_seconds_bucket{le=\"%g\"} %llu\n",
                  kLatencyBounds[i], static_cast<unsigned long long>(cumulative));
    out += line;
  }
  std::snprintf(line, sizeof line,
                "zarn_serve_request_duration_seconds_bucket{le=\"+Inf\"} %llu\n"
                "zarn_serve_request_duration_seconds_sum %.6f\n"
                "zarn_serve_request_duration_seconds_count %llu\n",
                static_cast<unsigned long long>(timed_count_), timed_sum_,
                static_cast<unsigned long long>(timed_count_));
  out += line;
  out += "# HELP zarn_serve_open_connections Connections being served or waiting for a thread.\n";
  out += "# TYPE zarn_serve_open_connections gauge\n";
  std::snprintf(line, sizeof line, "zarn_serve_open_connections %lld\n",
                static_cast<long long>(connections_.load(std::memory_order_relaxed)));
  out += line;
  out +=
      "# HELP zarn_serve_connections_rejected_total Connections refused over --max-connections.\n";
  out += "# TYPE zarn_serve_connections_rejected_total counter\n";
  std::snprintf(line, sizeof line, "zarn_serve_connections_rejected_total %llu\n",
                static_cast<unsigned long long>(rejected_.load(std::memory_order_relaxed)));
  out += line;
  return out;
}

}  // namespace zarn_serve
