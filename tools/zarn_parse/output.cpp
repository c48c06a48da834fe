#include "zarn_parse/output.h"

#include <utf8.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "zarn_parse/rows.h"

namespace zarn_parse {

namespace {

constexpr size_t kFlushAt = 64 * 1024;

[[noreturn]] void ThrowWriteError(const std::string& name, int error) {
  throw FatalError("cannot write output " + name + ": " + std::strerror(error));
}

}  // namespace

OutputSink::OutputSink(std::FILE* file, std::string name, bool owned)
    : file_(file), name_(std::move(name)), owned_(owned) {
  buffer_.reserve(2 * kFlushAt);
}

OutputSink::~OutputSink() {
  if (owned_ && file_ != nullptr) std::fclose(file_);
}

void OutputSink::Write(std::string_view bytes) { buffer_.append(bytes); }

void OutputSink::MaybeFlush() {
  if (buffer_.size() >= kFlushAt) Flush();
}

void OutputSink::Flush() {
  if (file_ == nullptr) return;
  if (!buffer_.empty()) {
    errno = 0;
    const size_t written = std::fwrite(buffer_.data(), 1, buffer_.size(), file_);
    if (written != buffer_.size()) ThrowWriteError(name_, errno != 0 ? errno : EIO);
    buffer_.clear();
  }
  errno = 0;
  if (std::fflush(file_) != 0) ThrowWriteError(name_, errno != 0 ? errno : EIO);
}

void OutputSink::Close() {
  Flush();
  if (file_ == nullptr) return;
  std::FILE* file = file_;
  file_ = nullptr;
  if (owned_) {
    errno = 0;
    if (std::fclose(file) != 0) ThrowWriteError(name_, errno != 0 ? errno : EIO);
  } else if (std::ferror(file)) {
    ThrowWriteError(name_, EIO);
  }
}

namespace {

// The bytes a format must escape or quote, as a table with one entry per
// byte value.
struct ByteSet {
  bool has[256] = {};
  char list[4] = {};
};

constexpr ByteSet MakeByteSet(char a, char b, char c, char d) {
  ByteSet set;
  const char all[4] = {a, b, c, d};
  for (int i = 0; i < 4; ++i) {
    set.has[static_cast<unsigned char>(all[i])] = true;
    set.list[i] = all[i];
  }
  return set;
}

constexpr ByteSet kTsvSpecial = MakeByteSet('\t', '\n', '\r', '\\');

#if defined(__SSE2__)
// The bits of the bytes of `v` that are in `set`.
inline unsigned Hits(__m128i v, const ByteSet& set) {
  const __m128i hit = _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(v, _mm_set1_epi8(set.list[0])),
                                                _mm_cmpeq_epi8(v, _mm_set1_epi8(set.list[1]))),
                                   _mm_or_si128(_mm_cmpeq_epi8(v, _mm_set1_epi8(set.list[2])),
                                                _mm_cmpeq_epi8(v, _mm_set1_epi8(set.list[3]))));
  return static_cast<unsigned>(_mm_movemask_epi8(hit));
}
#endif

// CSV rows: fields joined by the separator, each quoted where it must be.
class DelimitedWriter : public RowWriter {
 public:
  explicit DelimitedWriter(char separator) : separator_(separator) {}
  void Header(const std::vector<std::string>& columns, std::string& out) override {
    std::vector<std::string_view> views(columns.begin(), columns.end());
    Row(views, true, out);
  }
  void Row(const std::vector<std::string_view>& values, bool /*ok*/, std::string& out) override {
    for (size_t i = 0; i < values.size(); ++i) {
      if (i > 0) out.push_back(separator_);
      AppendCsvField(out, values[i], separator_);
    }
    out.push_back('\n');
  }
  bool Stateless() const override { return true; }

 private:
  const char separator_;
};

// Copies the bytes of `in` before the first one of `set` to `p` and returns
// how many: with SSE2 sixteen at a time (and the last ones in a block ending
// at the field's end), else, and for short fields, byte by byte. `p` has room
// for all n bytes.
size_t CopyUntil(char* p, const char* in, size_t n, const ByteSet& set) {
  size_t i = 0;
#if defined(__SSE2__)
  if (n >= 16) {
    for (; i + 16 <= n; i += 16) {
      const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + i));
      const unsigned mask = Hits(v, set);
      if (mask != 0) {
        const size_t k = static_cast<size_t>(__builtin_ctz(mask));
        std::memcpy(p + i, in + i, k);
        return i + k;
      }
      _mm_storeu_si128(reinterpret_cast<__m128i*>(p + i), v);
    }
    if (i == n) return n;
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + n - 16));
    const unsigned mask = Hits(v, set) >> (16 - (n - i));
    const size_t k = mask != 0 ? static_cast<size_t>(__builtin_ctz(mask)) : n - i;
    if (k == n - i) {
      _mm_storeu_si128(reinterpret_cast<__m128i*>(p + n - 16), v);
    } else {
      std::memcpy(p + i, in + i, k);
    }
    return i + k;
  }
#endif
  for (; i < n; ++i) {
    const char c = in[i];
    if (set.has[static_cast<unsigned char>(c)]) return i;
    p[i] = c;
  }
  return n;
}

// Writes one TSV field at `p`, escaped, and returns the end. The room after
// `p` holds at least twice the field's size: every byte escaped.
char* WriteTsvField(char* p, std::string_view field) {
  const char* in = field.data();
  size_t n = field.size();
  for (;;) {
    const size_t run = CopyUntil(p, in, n, kTsvSpecial);
    p += run;
    if (run == n) return p;
    *p++ = '\\';
    switch (in[run]) {
      case '\t': *p++ = 't'; break;
      case '\n': *p++ = 'n'; break;
      case '\r': *p++ = 'r'; break;
      default: *p++ = '\\'; break;
    }
    in += run + 1;
    n -= run + 1;
  }
}

// TSV rows: the room for the whole row (every byte escaped) is made once,
// each field written into it, and the text cut to what was written: one
// resize per row instead of an append per field.
class TsvWriter : public RowWriter {
 public:
  void Header(const std::vector<std::string>& columns, std::string& out) override {
    std::vector<std::string_view> views(columns.begin(), columns.end());
    Row(views, true, out);
  }
  void Row(const std::vector<std::string_view>& values, bool /*ok*/, std::string& out) override {
    size_t room = values.size() + 1;
    for (std::string_view v : values) room += 2 * v.size();
    const size_t start = out.size();
    // Storage grows geometrically; the room is filled (a short memset) and
    // cut back to what was written below.
    if (out.capacity() < start + room) out.reserve(2 * (start + room));
    out.resize(start + room);
    char* const begin = out.data() + start;
    char* p = begin;
    for (size_t i = 0; i < values.size(); ++i) {
      if (i > 0) *p++ = '\t';
      p = WriteTsvField(p, values[i]);
    }
    *p++ = '\n';
    out.resize(start + static_cast<size_t>(p - begin));
  }
  bool Stateless() const override { return true; }
};

// A JSON string, as the library's encoder writes it.
std::string JsonString(std::string_view text) {
  std::string out;
  zarn::AppendJsonString(out, text);
  return out;
}

class JsonlWriter : public RowWriter {
 public:
  void Header(const std::vector<std::string>& columns, std::string& /*out*/) override {
    keys_.clear();
    for (const std::string& c : columns) keys_.push_back(JsonString(c));
  }
  void Row(const std::vector<std::string_view>& values, bool ok, std::string& out) override {
    // Written key by key rather than through a json object so that CSV
    // columns keep their order, and repeated column names all appear.
    out.push_back('{');
    const size_t error_index = keys_.empty() ? values.size() - 1 : keys_.size() - 1;
    for (size_t i = 0; i < values.size(); ++i) {
      if (i > 0) out.push_back(',');
      out += i < keys_.size() ? keys_[i] : JsonString("extra" + std::to_string(i - error_index));
      out.push_back(':');
      const bool error_column = i == error_index;
      if (error_column && ok) {
        out += "null";
      } else {
        zarn::AppendJsonString(out, values[i]);
      }
    }
    out += "}\n";
  }
  bool Stateless() const override { return true; }

 private:
  std::vector<std::string> keys_;
};

// Aligned columns for reading on a terminal. Widths come from the header
// and the first rows; later rows are cut or padded to the same widths, so
// the output still streams.
class TableWriter : public RowWriter {
 public:
  void Header(const std::vector<std::string>& columns, std::string& /*out*/) override {
    columns_ = columns;
    widths_.assign(columns.size(), 0);
    for (size_t i = 0; i < columns.size(); ++i) widths_[i] = Display(columns[i]).second;
  }

  void Row(const std::vector<std::string_view>& values, bool /*ok*/, std::string& out) override {
    if (!started_) {
      std::vector<std::string> row;
      for (std::string_view v : values) row.emplace_back(v);
      pending_.push_back(std::move(row));
      if (pending_.size() >= kWidthRows) Start(out);
      return;
    }
    WriteLine(values, out);
  }

  void Finish(std::string& out) override {
    if (!started_) Start(out);
  }

 private:
  static constexpr size_t kWidthRows = 200;
  static constexpr size_t kMaxWidth = 40;

  // Printable text of a field (control characters as spaces, bad UTF-8 as
  // U+FFFD) and its width in characters.
  static std::pair<std::string, size_t> Display(std::string_view field) {
    std::string text(field);
    for (char& c : text) {
      if (c == '\t' || c == '\n' || c == '\r') c = ' ';
    }
    if (!utf8::is_valid(text.begin(), text.end())) text = utf8::replace_invalid(text);
    const auto width = static_cast<size_t>(utf8::distance(text.begin(), text.end()));
    return {std::move(text), width};
  }

  void Start(std::string& out) {
    started_ = true;
    for (const auto& row : pending_) {
      for (size_t i = 0; i < row.size() && i < widths_.size(); ++i) {
        widths_[i] = std::max(widths_[i], Display(row[i]).second);
      }
    }
    for (size_t& w : widths_) w = std::min(w, kMaxWidth);
    std::vector<std::string_view> header(columns_.begin(), columns_.end());
    WriteLine(header, out);
    std::string rule;
    for (size_t i = 0; i < widths_.size(); ++i) {
      if (i > 0) rule += "  ";
      rule.append(widths_[i], '-');
    }
    rule.push_back('\n');
    out += rule;
    for (const auto& row : pending_) {
      std::vector<std::string_view> views(row.begin(), row.end());
      WriteLine(views, out);
    }
    pending_.clear();
  }

  void WriteLine(const std::vector<std::string_view>& values, std::string& out) {
    std::string line;
    for (size_t i = 0; i < values.size(); ++i) {
      if (i > 0) line += "  ";
      auto [text, width] = Display(values[i]);
      const size_t limit = i < widths_.size() ? widths_[i] : kMaxWidth;
      if (width > limit) {
        // Keep limit-1 characters and mark the cut with an ellipsis.
        auto it = text.begin();
        utf8::advance(it, limit - 1, text.end());
        text.erase(it, text.end());
        text += "\xE2\x80\xA6";
        width = limit;
      }
      line += text;
      const bool last = i + 1 == values.size();
      if (!last) line.append(limit - width, ' ');
    }
    while (!line.empty() && line.back() == ' ') line.pop_back();
    line.push_back('\n');
    out += line;
  }

  std::vector<std::string> columns_;
  std::vector<size_t> widths_;
  std::vector<std::vector<std::string>> pending_;
  bool started_ = false;
};

}  // namespace

void AppendCsvField(std::string& out, std::string_view field, char separator) {
  if (separator == ',') {
    zarn::AppendCsvField(out, field);
    return;
  }
  if (field.find_first_of(std::string{separator, '"', '\r', '\n'}) == std::string_view::npos) {
    out.append(field);
    return;
  }
  out.push_back('"');
  for (const char c : field) {
    if (c == '"') out.push_back('"');
    out.push_back(c);
  }
  out.push_back('"');
}

std::unique_ptr<RowWriter> MakeRowWriter(Format format, char separator) {
  switch (format) {
    case Format::kTable: return std::make_unique<TableWriter>();
    case Format::kTsv: return std::make_unique<TsvWriter>();
    case Format::kCsv: return std::make_unique<DelimitedWriter>(separator);
    case Format::kJsonl: return std::make_unique<JsonlWriter>();
  }
  return std::make_unique<TsvWriter>();
}

}  // namespace zarn_parse
