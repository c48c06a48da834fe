// zarn-serve's HTTP server: cpp-httplib's, with its own connection loop and
// socket stream in place of the library's (Debian 12's 0.11.4), for three
// things the library does not do:
//   - a client that half-closes its side after sending its request still
//     gets its answer (the library took end of input for a dead socket);
//   - a request's line and headers must arrive within the read timeout as a
//     whole, not per read, so a client trickling a byte at a time cannot
//     hold a thread (or a stop) for longer;
//   - a connection over the limit (ConnectionPool::Refusing) whose request
//     has not arrived yet is answered 503 at once instead of waited for;
//   - a connection closed with a request body left unread closes gently.
#ifndef ZARN_TOOLS_ZARN_SERVE_HTTP_SERVER_H_
#define ZARN_TOOLS_ZARN_SERVE_HTTP_SERVER_H_

#include <httplib.h>

namespace zarn_serve {

class HttpServer : public httplib::Server {
 private:
  bool process_and_close_socket(socket_t sock) override;
  // Waits up to the idle timeout for a request to begin; false when none
  // does or the server stops.
  bool WaitForRequest(socket_t sock) const;
};

// Called when the current request's body is left unread and the connection
// is to close after the answer: the close then lingers (the server shuts
// its side, reads and drops what the client still sends, for up to two
// seconds and kDrainLimit bytes) so that a client sending the body anyway
// reads the answer instead of a reset.
void LingerOnClose();

// Called once the current request's headers are read: its body, if any, is
// then read under the per-read timeout alone (an NDJSON body may stream for
// as long as it keeps coming).
void HeadersRead();

}  // namespace zarn_serve

#endif  // ZARN_TOOLS_ZARN_SERVE_HTTP_SERVER_H_
