// Systems without a watch the library trusts (Windows): every call checks
// the file in full.
#include <string>
#include <utility>

#include "platform/file_watch.h"

namespace zarn::internal {

FileWatch::FileWatch(std::string path) : path_(std::move(path)) {}
FileWatch::~FileWatch() = default;
uint64_t FileWatch::Epoch(uint64_t) { return 0; }
bool FileWatch::Open() { return false; }
void FileWatch::Close() {}
bool FileWatch::Drain() { return false; }

}  // namespace zarn::internal
