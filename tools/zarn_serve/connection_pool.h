// The threads that serve zarn-serve's connections, at most --max-connections
// of them open at once.
#ifndef ZARN_TOOLS_ZARN_SERVE_CONNECTION_POOL_H_
#define ZARN_TOOLS_ZARN_SERVE_CONNECTION_POOL_H_

#include <httplib.h>

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "zarn_serve/metrics.h"

namespace zarn_serve {

// Each accepted connection is one job, served from its first request to its
// last by one of `threads` threads; connections beyond the threads wait their
// turn. Once `max_connections` are open (served or waiting), a new connection
// is handed to a separate thread that answers its request with 503 and closes
// it, so that a flood of connections cannot queue without bound.
//
// shutdown() lets every accepted connection finish its requests, then joins.
class ConnectionPool : public httplib::TaskQueue {
 public:
  ConnectionPool(size_t threads, size_t max_connections, Metrics& metrics);
  ~ConnectionPool() override;

  void enqueue(std::function<void()> fn) override;
  void shutdown() override;

  // True on the thread that refuses connections over the limit.
  static bool Refusing();

 private:
  void Serve();
  void Refuse();

  const size_t max_connections_;
  Metrics& metrics_;
  std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<std::function<void()>> jobs_;
  std::deque<std::function<void()>> refused_;
  size_t open_ = 0;
  bool stopping_ = false;
  std::vector<std::thread> threads_;
};

}  // namespace zarn_serve

#endif  // ZARN_TOOLS_ZARN_SERVE_CONNECTION_POOL_H_
