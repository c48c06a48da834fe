#include "zarn_parse/terminal.h"

#include <filesystem>
#include <system_error>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace zarn_parse {

namespace fs = std::filesystem;

#ifdef _WIN32

int FileDescriptor(std::FILE* file) { return _fileno(file); }
bool IsTerminal(std::FILE* file) { return _isatty(_fileno(file)) != 0; }
void SetBinaryMode(std::FILE* file) { _setmode(_fileno(file), _O_BINARY); }

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
