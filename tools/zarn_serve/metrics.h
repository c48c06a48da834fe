// Counters of zarn-serve, written in the Prometheus text format by /metrics.
#ifndef ZARN_TOOLS_ZARN_SERVE_METRICS_H_
#define ZARN_TOOLS_ZARN_SERVE_METRICS_H_

#include <array>
#include <atomic>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <utility>

namespace zarn_serve {

class Metrics {
 public:
  // Upper bounds of the latency histogram's buckets, in seconds.
  static constexpr std::array<double, 12> kLatencyBounds = {
      0.0001, 0.00025, 0.0005, 0.001, 0.0025, 0.005, 0.01, 0.025, 0.05, 0.1, 0.5, 2.5};

  // One answered request: its endpoint ("/v1/parse", ..., or "other"), the
  // status sent and, when known, how long it took from its headers to the end
  // of its answer.
  void CountRequest(const std::string& endpoint, int status, double seconds, bool timed);
  void CountAddresses(uint64_t parsed) { addresses_.fetch_add(parsed, std::memory_order_relaxed); }
  // One address that got an error, by kind ("invalid_utf8", "database", ...).
  void CountAddressError(const std::string& kind);
  void ConnectionOpened() { connections_.fetch_add(1, std::memory_order_relaxed); }
  void ConnectionClosed() { connections_.fetch_sub(1, std::memory_order_relaxed); }
  void ConnectionRejected() { rejected_.fetch_add(1, std::memory_order_relaxed); }

  std::string Text() const;

 private:
  mutable std::mutex mutex_;
  std::map<std::pair<std::string, int>, uint64_t> requests_;
  std::map<std::string, uint64_t> errors_;
  std::array<uint64_t, kLatencyBounds.size()> buckets_{};
  uint64_t timed_count_ = 0;
  double timed_sum_ = 0;
  std::atomic<uint64_t> addresses_{0};
  std::atomic<int64_t> connections_{0};
  std::atomic<uint64_t> rejected_{0};
};

}  // namespace zarn_serve

#endif  // ZARN_TOOLS_ZARN_SERVE_METRICS_H_
