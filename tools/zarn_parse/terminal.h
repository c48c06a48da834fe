// The little of zarn-parse that differs between operating systems: file
// descriptors, terminals, binary mode.
#ifndef ZARN_TOOLS_ZARN_PARSE_TERMINAL_H_
#define ZARN_TOOLS_ZARN_PARSE_TERMINAL_H_

#include <cstdio>

namespace zarn_parse {

int FileDescriptor(std::FILE* file);
bool IsTerminal(std::FILE* file);
// Stops the C library from translating line ends (Windows only).
void SetBinaryMode(std::FILE* file);

}  // namespace zarn_parse

#endif  // ZARN_TOOLS_ZARN_PARSE_TERMINAL_H_
