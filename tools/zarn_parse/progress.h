// The progress bar of zarn-parse, drawn on standard error.
#ifndef ZARN_TOOLS_ZARN_PARSE_PROGRESS_H_
#define ZARN_TOOLS_ZARN_PARSE_PROGRESS_H_

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>

namespace zarn_parse {

class Progress {
 public:
  // `total_bytes` is the input size, or 0 when unknown (then only counts and
  // speed are shown).
  Progress(bool enabled, uint64_t total_bytes, std::FILE* out = stderr);
  ~Progress() { Done(); }
  Progress(const Progress&) = delete;
  Progress& operator=(const Progress&) = delete;

  // `bytes` of input done so far and `rows` written. Redraws at most a few
  // times a second.
  void Update(uint64_t bytes, uint64_t rows);
  // Clears the bar.
  void Done();

  // One line of the bar, without the leading carriage return.
  static std::string Line(uint64_t bytes, uint64_t total, uint64_t rows, double seconds);

 private:
  using Clock = std::chrono::steady_clock;
  bool enabled_;
  uint64_t total_;
  std::FILE* out_;
  Clock::time_point start_;
  Clock::time_point last_draw_;
  size_t last_width_ = 0;
};

}  // namespace zarn_parse

#endif  // ZARN_TOOLS_ZARN_PARSE_PROGRESS_H_
