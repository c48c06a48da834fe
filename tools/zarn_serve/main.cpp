// zarn-serve: an HTTP/1.1 JSON service that parses street addresses.

#include <httplib.h>
#include <signal.h>
#include <sys/socket.h>

#include <CLI/CLI.hpp>
#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "zarn/zarn.hpp"
#include "zarn_serve/connection_pool.h"
#include "zarn_serve/http_server.h"
#include "zarn_serve/metrics.h"
#include "zarn_serve/service.h"

namespace zarn_serve {
namespace {

struct Options {
  std::string listen = "127.0.0.1:8080";
  int threads = 0;
  std::string database;
  std::string profile = "canada";
  std::string max_body = "8MiB";
  size_t max_batch = 10000;
  int request_timeout = 10;
  int idle_timeout = 5;
  size_t max_connections = 256;
  size_t keep_alive_requests = 1000;
  bool log_requests = false;
};

constexpr const char* kExamples = R"(Examples:
  zarn-serve
      serve on http://127.0.0.1:8080 with the bundled reference database
  zarn-serve --listen [::1]:9000 --threads 16 --profile canada
  curl 'http://127.0.0.1:8080/v1/parse?address=123+Main+St+N'
  curl -H 'Content-Type: application/json' -d '["123 Main St N",{"id":7,"address":"5-123 rue Saint-Denis Ouest"}]' http://127.0.0.1:8080/v1/parse
  curl -H 'Content-Type: application/x-ndjson' --data-binary @addresses.ndjson http://127.0.0.1:8080/v1/parse

Endpoints: GET /v1/parse?address=...[&profile=canada][&flags=1][&standard=1]
[&spans=1], POST /v1/parse (a JSON array, or NDJSON streamed both ways; the
same parameters), GET /healthz, GET /v1/version, GET /metrics. flags=1 adds
the diagnostics, standard=1 the Canada Post standard form, spans=1 where each
part came from: "spans":{"street":[[start,end],...],...}, byte offsets into
the UTF-8 address, end excluded. SIGTERM or SIGINT stops accepting connections and lets the
requests in flight finish.)";

// "8MiB", "512k", "1000000": a size in bytes. False when it is not one.
bool ParseSize(const std::string& text, size_t* out) {
  size_t at = 0;
  unsigned long long value = 0;
  while (at < text.size() && std::isdigit(static_cast<unsigned char>(text[at]))) {
    if (value > (~0ull) / 10 - 10) return false;
    value = value * 10 + static_cast<unsigned>(text[at] - '0');
    ++at;
  }
  if (at == 0) return false;
  std::string unit = text.substr(at);
  std::transform(unit.begin(), unit.end(), unit.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  unsigned long long scale = 1;
  if (unit.empty() || unit == "b") {
    scale = 1;
  } else if (unit == "k" || unit == "kib" || unit == "kb") {
    scale = 1ull << 10;
  } else if (unit == "m" || unit == "mib" || unit == "mb") {
    scale = 1ull << 20;
  } else if (unit == "g" || unit == "gib" || unit == "gb") {
    scale = 1ull << 30;
  } else {
    return false;
  }
  if (value > (~0ull) / scale) return false;
  *out = static_cast<size_t>(value * scale);
  return true;
}

// "127.0.0.1:8080", "[::1]:8080", "localhost:0": host and port.
bool ParseListen(const std::string& text, std::string* host, int* port) {
  std::string port_text;
  if (!text.empty() && text[0] == '[') {
    const size_t close = text.find(']');
    if (close == std::string::npos || close + 1 >= text.size() || text[close + 1] != ':') {
      return false;
    }
    *host = text.substr(1, close - 1);
    port_text = text.substr(close + 2);
  } else {
    const size_t colon = text.rfind(':');
    if (colon == std::string::npos || text.find(':') != colon) return false;
    *host = text.substr(0, colon);
    port_text = text.substr(colon + 1);
  }
  if (host->empty() || port_text.empty() || port_text.size() > 5) return false;
  for (char c : port_text) {
    if (!std::isdigit(static_cast<unsigned char>(c))) return false;
  }
  *port = std::atoi(port_text.c_str());
  return *port <= 65535;
}

int Run(const Options& options) {
  ServiceConfig config;
  config.database = options.database.empty() ? zarn::ReferenceDatabasePath() : options.database;
  if (!zarn::ProfileFromName(options.profile, &config.default_profile)) {
    std::fprintf(stderr, "zarn-serve: unknown profile \"%s\" (use %s)\n", options.profile.c_str(),
                 zarn::ProfileChoices().c_str());
    return 1;
  }
  if (!ParseSize(options.max_body, &config.max_body) || config.max_body == 0) {
    std::fprintf(stderr, "zarn-serve: --max-body %s is not a size such as 8MiB\n",
                 options.max_body.c_str());
    return 1;
  }
  config.max_batch = options.max_batch;
  config.log_requests = options.log_requests;
  std::string host;
  int port = 0;
  if (!ParseListen(options.listen, &host, &port)) {
    std::fprintf(stderr, "zarn-serve: --listen %s is not HOST:PORT or [IPV6]:PORT\n",
                 options.listen.c_str());
    return 1;
  }
  const size_t threads =
      options.threads > 0
          ? static_cast<size_t>(options.threads)
          : std::max<size_t>(8, 4 * static_cast<size_t>(std::thread::hardware_concurrency()));
  const size_t max_connections = std::max(options.max_connections, threads);

  // Signals are taken by one thread with sigwait(); every other thread,
  // created after this, has them blocked. A closed peer is an error on
  // its socket, not a signal.
  sigset_t stop_signals;
  sigemptyset(&stop_signals);
  sigaddset(&stop_signals, SIGTERM);
  sigaddset(&stop_signals, SIGINT);
  pthread_sigmask(SIG_BLOCK, &stop_signals, nullptr);
  signal(SIGPIPE, SIG_IGN);

  Metrics metrics;
  Service service(config, metrics);
  HttpServer server;
  service.Install(server);
  server.new_task_queue = [&] { return new ConnectionPool(threads, max_connections, metrics); };
  server.set_read_timeout(options.request_timeout, 0);
  server.set_write_timeout(options.request_timeout, 0);
  server.set_keep_alive_timeout(options.idle_timeout);
  server.set_keep_alive_max_count(options.keep_alive_requests);
  server.set_tcp_nodelay(true);
  // The library listens with a backlog of 5, too short for a burst of
  // connections; the listening socket is noted here and given a longer one.
  std::atomic<int> listener{-1};
  server.set_socket_options([&listener](socket_t sock) {
    int yes = 1;
    setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    listener = sock;
  });

  bool bound = false;
  if (port == 0) {
    port = server.bind_to_any_port(host);
    bound = port > 0;
  } else {
    bound = server.bind_to_port(host, port);
  }
  if (!bound) {
    std::fprintf(stderr, "zarn-serve: cannot listen on %s: %s\n", options.listen.c_str(),
                 errno != 0 ? std::strerror(errno) : "address unusable");
    return 2;
  }
  if (listener >= 0) ::listen(listener, 1024);

  const bool v6 = host.find(':') != std::string::npos;
  std::fprintf(stderr,
               "zarn-serve: listening on http://%s%s%s:%d (database %s, profile %s, %zu threads)\n",
               v6 ? "[" : "", host.c_str(), v6 ? "]" : "", port, config.database.c_str(),
               zarn::ProfileName(config.default_profile), threads);
  // Served either way: /healthz and every parse answer 503 until the file
  // can be used, and the file is checked again on every request.
  {
    const zarn::ZarnAddress probe_parser(config.database);
    const std::string_view probe[1] = {"1 Main St"};
    const std::vector<zarn::BatchResult> checked = probe_parser.ParseBatch(probe);
    if (!checked[0].ok() && !zarn::IsAddressError(checked[0].error_number)) {
      std::fprintf(stderr, "zarn-serve: the reference database cannot be used yet: %s\n",
                   checked[0].error_message.c_str());
    }
  }
  std::fflush(stderr);

  std::atomic<bool> done{false};
  std::thread stopper([&] {
    const timespec wait = {0, 200 * 1000 * 1000};
    while (!done) {
      const int signal_number = sigtimedwait(&stop_signals, nullptr, &wait);
      if (signal_number == SIGTERM || signal_number == SIGINT) {
        std::fprintf(stderr, "zarn-serve: %s: finishing the requests in flight\n",
                     signal_number == SIGTERM ? "SIGTERM" : "SIGINT");
        server.stop();
        return;
      }
    }
  });
  const bool listened = server.listen_after_bind();
  done = true;
  stopper.join();
  if (!listened) {
    std::fprintf(stderr, "zarn-serve: the server stopped on an error\n");
    return 2;
  }
  std::fprintf(stderr, "zarn-serve: stopped\n");
  return 0;
}

}  // namespace
}  // namespace zarn_serve

int main(int argc, char** argv) {
  using namespace zarn_serve;
  Options options;
  CLI::App app{"Serves the Canadian street-address parser over HTTP/1.1 with JSON answers.",
               "zarn-serve"};
  app.footer(kExamples);
  app.set_version_flag("--version", std::string("zarn-serve ") + zarn::Version());
  app.add_option("-l,--listen", options.listen,
                 "Address and port to listen on (default 127.0.0.1:8080; [::1]:PORT for IPv6; "
                 "port 0 picks a free one)")
      ->option_text("HOST:PORT");
  app.add_option("-j,--threads", options.threads,
                 "Threads serving connections, one connection each at a time (default: four "
                 "per core, at least 8)")
      ->check(CLI::Range(1, 4096))
      ->option_text("N");
  app.add_option("-d,--database", options.database,
                 "Reference database, opened read-only (default: the bundled "
                 "share/zarn/qordatavb.DAT)")
      ->option_text("PATH");
  app.add_option("-p,--profile", options.profile,
                 "Rules used when a request names none: canada (default) or specified")
      ->check(CLI::IsMember({"specified", "canada"}, CLI::ignore_case))
      ->option_text("NAME");
  app.add_option("--max-body", options.max_body,
                 "Largest JSON request body (default 8MiB; suffixes k, KiB, M, MiB, G, GiB)")
      ->option_text("SIZE");
  app.add_option("--max-batch", options.max_batch,
                 "Most addresses in one JSON request (default 10000)")
      ->check(CLI::Range(size_t{1}, size_t{100000000}))
      ->option_text("N");
  app.add_option("--request-timeout", options.request_timeout,
                 "Seconds a read or a write of a request may wait (default 10)")
      ->check(CLI::Range(1, 3600))
      ->option_text("SECONDS");
  app.add_option("--idle-timeout", options.idle_timeout,
                 "Seconds a kept-alive connection may wait for its next request (default 5)")
      ->check(CLI::Range(1, 3600))
      ->option_text("SECONDS");
  app.add_option("--max-connections", options.max_connections,
                 "Connections open at once, served or waiting; more are answered 503 (default "
                 "256, at least --threads)")
      ->check(CLI::Range(size_t{1}, size_t{1000000}))
      ->option_text("N");
  app.add_option("--keep-alive-requests", options.keep_alive_requests,
                 "Requests one connection may send before it is closed (default 1000)")
      ->check(CLI::Range(size_t{1}, size_t{100000000}))
      ->option_text("N");
  app.add_flag("--log-requests", options.log_requests,
               "Log each request, its query (so the addresses of GET requests) included, to "
               "standard error; by default nothing is logged per request");
  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp& e) {
    return app.exit(e);
  } catch (const CLI::CallForVersion& e) {
    return app.exit(e);
  } catch (const CLI::ParseError& e) {
    std::fprintf(stderr, "zarn-serve: %s (see zarn-serve --help)\n", e.what());
    return 1;
  }
  try {
    return Run(options);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "zarn-serve: %s\n", e.what());
    return 2;
  }
}
