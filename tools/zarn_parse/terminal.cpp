#include "zarn_parse/terminal.h"

#include <csignal>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#else
#include <fcntl.h>
#include <unistd.h>
#endif

namespace zarn_parse {

namespace {
volatile std::sig_atomic_t stop_signal = 0;
}  // namespace

int StopSignal() { return stop_signal; }

#ifdef _WIN32

int FileDescriptor(std::FILE* file) { return _fileno(file); }
bool IsTerminal(std::FILE* file) { return _isatty(_fileno(file)) != 0; }
void SetBinaryMode(std::FILE* file) { _setmode(_fileno(file), _O_BINARY); }
bool IsOpen(std::FILE* file) { return file != nullptr && _fileno(file) >= 0; }

namespace {
void OnStopSignal(int signal) {
  stop_signal = signal;
  std::signal(signal, SIG_DFL);
}
}  // namespace

void InstallStopHandlers() {
  std::signal(SIGINT, OnStopSignal);
  std::signal(SIGTERM, OnStopSignal);
}

#else

int FileDescriptor(std::FILE* file) { return fileno(file); }
bool IsTerminal(std::FILE* file) { return isatty(fileno(file)) != 0; }
void SetBinaryMode(std::FILE* /*file*/) {}
bool IsOpen(std::FILE* file) { return file != nullptr && fcntl(fileno(file), F_GETFD) != -1; }

namespace {
void OnStopSignal(int signal) { stop_signal = signal; }
}  // namespace

void InstallStopHandlers() {
  // No SA_RESTART: a read waiting on a pipe or terminal returns at once.
  // SA_RESETHAND: the second signal has its default effect.
  struct sigaction action {};
  action.sa_handler = OnStopSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESETHAND;
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
}

#endif

}  // namespace zarn_parse
