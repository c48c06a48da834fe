#include "zarn_parse/terminal.h"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#else
#include <unistd.h>
#endif

namespace zarn_parse {

#ifdef _WIN32

int FileDescriptor(std::FILE* file) { return _fileno(file); }
bool IsTerminal(std::FILE* file) { return _isatty(_fileno(file)) != 0; }
void SetBinaryMode(std::FILE* file) { _setmode(_fileno(file), _O_BINARY); }

#else

int FileDescriptor(std::FILE* file) { return fileno(file); }
bool IsTerminal(std::FILE* file) { return isatty(fileno(file)) != 0; }
void SetBinaryMode(std::FILE* /*file*/) {}

#endif

}  // namespace zarn_parse
