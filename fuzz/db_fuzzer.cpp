// Fuzz target over the reference database file itself.
//
// Input: the first byte is the length of the address (capped by what is
// there), then the address, then the bytes of the database file, which are
// written to a temporary file for a fresh parser. Whatever the file holds, a
// call gives an answer or a zarn::Error with a message (a database error names
// the file), Parse and ParseBatch agree, answers are valid UTF-8, and the file
// and its directory are left exactly as they were.
#include <dirent.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <string_view>

#include "fuzz_check.h"
#include "zarn/zarn.hpp"

namespace {

using zarn::fuzz::Check;

// One temporary directory for the process, removed at exit.
class Scratch {
 public:
  Scratch() {
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base != nullptr ? base : "/tmp") + "/zarn-dbfuzz-XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr) zarn::fuzz::Fail("mkdtemp failed");
    dir_ = pattern;
    file_ = dir_ + "/qordatavb.DAT";
  }
  ~Scratch() {
    ::unlink(file_.c_str());
    ::rmdir(dir_.c_str());
  }
  const std::string& file() const { return file_; }
  const std::string& dir() const { return dir_; }

 private:
  std::string dir_;
  std::string file_;
};

int EntriesIn(const std::string& dir) {
  DIR* d = ::opendir(dir.c_str());
  if (d == nullptr) return -1;
  int n = 0;
  while (const dirent* e = ::readdir(d)) {
    const std::string_view name(e->d_name);
    if (name != "." && name != "..") ++n;
  }
  ::closedir(d);
  return n;
}

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  static Scratch scratch;
  const size_t address_size = std::min<size_t>(data[0], size - 1);
  const std::string_view address(reinterpret_cast<const char*>(data + 1), address_size);
  const std::string_view bytes(reinterpret_cast<const char*>(data + 1 + address_size),
                               size - 1 - address_size);
  {
    std::ofstream out(scratch.file(), std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    Check(static_cast<bool>(out), "cannot write the database file");
  }

  const zarn::ZarnAddress parser(scratch.file());
  zarn::AddressParts parts;
  int error = 0;
  try {
    parts = parser.Parse(address);
    zarn::fuzz::CheckParts(parts);
  } catch (const zarn::Error& e) {
    error = e.Number();
    const std::string message = e.what();
    Check(!message.empty(), "an error without a message");
    if (error != zarn::kErrorInvalidArgument && error != zarn::kErrorOverflow &&
        error != zarn::kErrorInvalidUseOfNull && error != zarn::kErrorOutOfMemory) {
      Check(message.find(scratch.file()) != std::string::npos,
            "a database error does not name the file: " + message);
    }
  }
  // The file is checked before the address, so a bad file may be reported
  // first; but invalid UTF-8 never gets an answer.
  if (!zarn::fuzz::IsUtf8(address)) Check(error != 0, "invalid UTF-8 got an answer");

  const std::string_view batch[] = {address};
  const std::vector<zarn::BatchResult> results = parser.ParseBatch(batch);
  Check(results.size() == 1 && results[0].error_number == error,
        "ParseBatch error differs from Parse");
  if (error == 0) Check(results[0].parts == parts, "ParseBatch parts differ from Parse");

  Check(ReadAll(scratch.file()) == bytes, "the database file was changed");
  Check(EntriesIn(scratch.dir()) == 1, "a file was left beside the database");
  return 0;
}
