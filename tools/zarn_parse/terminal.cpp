#include "zarn_parse/terminal.h"

#include <csignal>
#include <filesystem>
#include <system_error>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <windows.h>
#else
#include <fcntl.h>
#include <unistd.h>
#endif

namespace zarn_parse {

namespace fs = std::filesystem;

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

namespace {
fs::path RunningProgram() {
  std::wstring buffer(32768, L'\0');
  const DWORD n = GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
  if (n == 0 || n >= buffer.size()) return {};
  buffer.resize(n);
  return fs::path(buffer);
}
}  // namespace

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

namespace {
fs::path RunningProgram() {
  std::error_code ec;
  fs::path self = fs::read_symlink("/proc/self/exe", ec);
  if (ec) return {};
  return self;
}
}  // namespace

#endif

std::string ExecutableDirectory(const char* argv0) {
  fs::path program = RunningProgram();
  if (program.empty() && argv0 != nullptr) {
    // Without /proc: the name the program was started by, if it is a path.
    std::error_code ec;
    const fs::path given(argv0);
    if (given.has_parent_path()) program = fs::weakly_canonical(given, ec);
    if (ec) program.clear();
  }
  if (program.empty()) return {};
  const auto text = program.parent_path().u8string();
  return std::string(text.begin(), text.end());
}

}  // namespace zarn_parse
