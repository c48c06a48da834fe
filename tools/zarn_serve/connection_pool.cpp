#include "zarn_serve/connection_pool.h"

#include <utility>

namespace zarn_serve {
namespace {
thread_local bool tl_refusing = false;
}  // namespace

ConnectionPool::ConnectionPool(size_t threads, size_t max_connections, Metrics& metrics)
    : max_connections_(max_connections), metrics_(metrics) {
  threads_.reserve(threads + 1);
  for (size_t i = 0; i < threads; ++i) threads_.emplace_back([this] { Serve(); });
  threads_.emplace_back([this] { Refuse(); });
}

ConnectionPool::~ConnectionPool() { shutdown(); }

bool ConnectionPool::Refusing() { return tl_refusing; }

void ConnectionPool::enqueue(std::function<void()> fn) {
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    if (open_ >= max_connections_) {
      refused_.push_back(std::move(fn));
      metrics_.ConnectionRejected();
    } else {
      ++open_;
      jobs_.push_back(std::move(fn));
      metrics_.ConnectionOpened();
    }
  }
  wake_.notify_all();
}

void ConnectionPool::shutdown() {
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    if (stopping_ && threads_.empty()) return;
    stopping_ = true;
  }
  wake_.notify_all();
  for (std::thread& t : threads_) {
    if (t.joinable()) t.join();
  }
  threads_.clear();
}

void ConnectionPool::Serve() {
  for (;;) {
    std::function<void()> job;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      wake_.wait(lock, [this] { return stopping_ || !jobs_.empty(); });
      if (jobs_.empty()) return;  // stopping, and every connection served
      job = std::move(jobs_.front());
      jobs_.pop_front();
    }
    job();
    job = nullptr;
    {
      const std::lock_guard<std::mutex> lock(mutex_);
      --open_;
    }
    metrics_.ConnectionClosed();
  }
}

void ConnectionPool::Refuse() {
  tl_refusing = true;
  for (;;) {
    std::function<void()> job;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      wake_.wait(lock, [this] { return stopping_ || !refused_.empty(); });
      if (refused_.empty()) return;
      job = std::move(refused_.front());
      refused_.pop_front();
    }
    job();
  }
}

}  // namespace zarn_serve
