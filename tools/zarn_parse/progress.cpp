#include "zarn_parse/progress.h"

#include <algorithm>
#include <cinttypes>

namespace zarn_parse {

namespace {

std::string Duration(double seconds) {
  const auto s = static_cast<uint64_t>(std::max(0.0, seconds) + 0.5);
  char text[32];
  if (s >= 3600) {
    std::snprintf(text, sizeof text, "%" PRIu64 ":%02" PRIu64 ":%02" PRIu64, s / 3600, s / 60 % 60,
                  s % 60);
  } else {
    std::snprintf(text, sizeof text, "%" PRIu64 ":%02" PRIu64, s / 60, s % 60);
  }
  return text;
}

}  // namespace

Progress::Progress(bool enabled, uint64_t total_bytes, std::FILE* out)
    : enabled_(enabled),
      total_(total_bytes),
      out_(out),
      start_(Clock::now()),
      // The first update draws at once.
      last_draw_(start_ - std::chrono::seconds(1)) {}

std::string Progress::Line(uint64_t bytes, uint64_t total, uint64_t rows, double seconds) {
  const double rate = seconds > 0 ? static_cast<double>(rows) / seconds : 0.0;
  char text[160];
  if (total > 0) {
    const double fraction = std::min(1.0, static_cast<double>(bytes) / static_cast<double>(total));
    constexpr int kBar = 30;
    const int filled = static_cast<int>(fraction * kBar);
    std::string bar(static_cast<size_t>(filled), '#');
    bar.append(static_cast<size_t>(kBar - filled), '.');
    const std::string left =
        fraction > 0 ? Duration(seconds * (1.0 - fraction) / fraction) : std::string("?");
    std::snprintf(text, sizeof text, "[%s] %3d%%  %" PRIu64 " rows  %.0f addresses/s  %s left",
                  bar.c_str(), static_cast<int>(fraction * 100), rows, rate, left.c_str());
  } else {
    std::snprintf(text, sizeof text, "%" PRIu64 " rows  %.0f addresses/s  %s elapsed", rows, rate,
                  Duration(seconds).c_str());
  }
  return text;
}

void Progress::Update(uint64_t bytes, uint64_t rows) {
  if (!enabled_) return;
  const Clock::time_point now = Clock::now();
  if (now - last_draw_ < std::chrono::milliseconds(200)) return;
  last_draw_ = now;
  const std::string line =
      Line(bytes, total_, rows, std::chrono::duration<double>(now - start_).count());
  // Pad over a longer previous line.
  std::fprintf(out_, "\r%s%*s", line.c_str(),
               static_cast<int>(last_width_ > line.size() ? last_width_ - line.size() : 0), "");
  std::fflush(out_);
  last_width_ = line.size();
}

void Progress::Done() {
  if (!enabled_ || last_width_ == 0) return;
  std::fprintf(out_, "\r%*s\r", static_cast<int>(last_width_), "");
  std::fflush(out_);
  last_width_ = 0;
}

}  // namespace zarn_parse
