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

// Makes Ctrl-C (SIGINT) and SIGTERM ask the run to stop instead of ending the
// process: reads then end early and StopSignal() gives the signal's number.
// A second signal ends the process at once, as usual.
void InstallStopHandlers();
// The signal that asked the run to stop, or 0.
int StopSignal();
// Whether the file descriptor of `file` is open (false for `prog <&-`).
bool IsOpen(std::FILE* file);

}  // namespace zarn_parse

#endif  // ZARN_TOOLS_ZARN_PARSE_TERMINAL_H_
