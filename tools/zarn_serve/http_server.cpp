#include "zarn_serve/http_server.h"

#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <string>

#include "zarn_serve/connection_pool.h"

namespace zarn_serve {
namespace {

using Clock = std::chrono::steady_clock;

// Waits for `events` on `sock` for at most `wait`; true when they came.
bool Wait(int sock, short events, std::chrono::milliseconds wait) {
  pollfd p{sock, events, 0};
  for (;;) {
    const int ms = static_cast<int>(std::max<std::chrono::milliseconds::rep>(0, wait.count()));
    const int n = ::poll(&p, 1, ms);
    if (n > 0) return true;
    if (n == 0 || errno != EINTR) return false;
  }
}

void Address(int sock, bool peer, std::string& ip, int& port) {
  sockaddr_storage address{};
  socklen_t length = sizeof address;
  const int rc = peer ? ::getpeername(sock, reinterpret_cast<sockaddr*>(&address), &length)
                      : ::getsockname(sock, reinterpret_cast<sockaddr*>(&address), &length);
  if (rc != 0) return;
  char host[NI_MAXHOST];
  char service[NI_MAXSERV];
  if (::getnameinfo(reinterpret_cast<sockaddr*>(&address), length, host, sizeof host, service,
                    sizeof service, NI_NUMERICHOST | NI_NUMERICSERV) == 0) {
    ip = host;
    port = std::atoi(service);
  }
}

// The socket as the library's stream: reads wait at most the read timeout
// each and, until HeadersRead(), end at the request's deadline; a write
// waits only for room to write (never for the peer's input to be open).
class SocketStream final : public httplib::Stream {
 public:
  SocketStream(int sock, std::chrono::milliseconds read_timeout,
               std::chrono::milliseconds write_timeout)
      : sock_(sock),
        read_timeout_(read_timeout),
        write_timeout_(write_timeout),
        deadline_(Clock::now() + read_timeout) {}

  void LiftDeadline() { deadline_ = Clock::time_point::max(); }

  bool is_readable() const override {
    auto wait = read_timeout_;
    if (deadline_ != Clock::time_point::max()) {
      const auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(deadline_ - Clock::now());
      if (left.count() <= 0) return false;
      wait = std::min(wait, left);
    }
    return Wait(sock_, POLLIN, wait);
  }
  bool is_writable() const override { return Wait(sock_, POLLOUT, write_timeout_); }

  ssize_t read(char* ptr, size_t size) override {
    if (!is_readable()) return -1;
    for (;;) {
      const ssize_t n = ::recv(sock_, ptr, size, 0);
      if (n >= 0 || errno != EINTR) return n;
    }
  }
  ssize_t write(const char* ptr, size_t size) override {
    if (!is_writable()) return -1;
    for (;;) {
      const ssize_t n = ::send(sock_, ptr, size, MSG_NOSIGNAL);
      if (n >= 0 || errno != EINTR) return n;
    }
  }
  void get_remote_ip_and_port(std::string& ip, int& port) const override {
    Address(sock_, true, ip, port);
  }
  void get_local_ip_and_port(std::string& ip, int& port) const override {
    Address(sock_, false, ip, port);
  }
  socket_t socket() const override { return sock_; }

 private:
  const int sock_;
  const std::chrono::milliseconds read_timeout_;
  const std::chrono::milliseconds write_timeout_;
  Clock::time_point deadline_;
};

thread_local SocketStream* tl_stream = nullptr;
thread_local bool tl_linger = false;

// Shuts the sending side, then reads and drops what the peer still sends
// until it closes, for at most two seconds and 64 MiB.
void LingeringClose(int sock) {
  ::shutdown(sock, SHUT_WR);
  const auto until = Clock::now() + std::chrono::seconds(2);
  char buffer[65536];
  size_t dropped = 0;
  while (dropped < (size_t{64} << 20)) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now());
    if (left.count() <= 0 || !Wait(sock, POLLIN, left)) break;
    const ssize_t n = ::recv(sock, buffer, sizeof buffer, 0);
    if (n <= 0) break;
    dropped += static_cast<size_t>(n);
  }
}

// The answer to a connection over the limit whose request has not come.
void Refuse(int sock) {
  static const std::string kBody =
      "{\"error\":{\"status\":503,\"kind\":\"too_many_connections\",\"message\":\"the server is "
      "at its connection limit\"}}\n";
  static const std::string kAnswer =
      "HTTP/1.1 503 Service Unavailable\r\nContent-Type: application/json\r\nContent-Length: " +
      std::to_string(kBody.size()) + "\r\nConnection: close\r\n\r\n" + kBody;
  (void)::send(sock, kAnswer.data(), kAnswer.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
}

}  // namespace

void LingerOnClose() { tl_linger = true; }

void HeadersRead() {
  if (tl_stream != nullptr) tl_stream->LiftDeadline();
}

bool HttpServer::WaitForRequest(socket_t sock) const {
  const auto until = Clock::now() + std::chrono::seconds(keep_alive_timeout_sec_);
  // In slices, so that a stop is seen within one.
  constexpr std::chrono::milliseconds kSlice(100);
  while (svr_sock_ != INVALID_SOCKET) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now());
    if (left.count() <= 0) return false;
    if (Wait(sock, POLLIN, std::min(left, kSlice))) return true;
  }
  return false;
}

bool HttpServer::process_and_close_socket(socket_t sock) {
  bool ret = false;
  if (ConnectionPool::Refusing() && !Wait(sock, POLLIN, std::chrono::milliseconds(0))) {
    Refuse(sock);
  } else {
    const auto read_timeout = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::seconds(read_timeout_sec_) + std::chrono::microseconds(read_timeout_usec_));
    const auto write_timeout = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::seconds(write_timeout_sec_) + std::chrono::microseconds(write_timeout_usec_));
    size_t count = keep_alive_max_count_;
    while (count > 0 && (ConnectionPool::Refusing() || WaitForRequest(sock))) {
      SocketStream stream(sock, read_timeout, write_timeout);
      tl_stream = &stream;
      bool connection_closed = false;
      ret = process_request(stream, count == 1 || ConnectionPool::Refusing(), connection_closed,
                            nullptr);
      tl_stream = nullptr;
      if (!ret || connection_closed || ConnectionPool::Refusing()) break;
      --count;
    }
  }
  if (tl_linger) LingeringClose(sock);
  tl_linger = false;
  ::shutdown(sock, SHUT_RDWR);
  ::close(sock);
  return ret;
}

}  // namespace zarn_serve
