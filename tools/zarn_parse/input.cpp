#include "zarn_parse/input.h"

#include <csv.h>
#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <exception>
#include <string_view>

#include "zarn_parse/terminal.h"

namespace zarn_parse {

namespace {

constexpr size_t kBlockSize = 64 * 1024;
constexpr std::string_view kBom = "\xEF\xBB\xBF";

// The size of `file` when it is a regular file, else 0.
uint64_t RegularFileSize(std::FILE* file) {
  struct stat st {};
  if (fstat(FileDescriptor(file), &st) != 0) return 0;
  if ((st.st_mode & S_IFMT) != S_IFREG) return 0;
  return static_cast<uint64_t>(st.st_size);
}

// Windows-1252's characters for 0x80 to 0x9F (0 where it defines none);
// the other bytes are the same code points as ISO 8859-1.
constexpr char16_t kCp1252High[32] = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

// Appends the UTF-8 of code point `c` (below U+10000).
void AppendUtf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out.push_back(static_cast<char>(c));
  } else if (c < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (c >> 6)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xE0 | (c >> 12)));
    out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  }
}

// Each byte of `in` as the character it stands for in `encoding`. A byte
// that Windows-1252 leaves undefined becomes U+FFFD.
void DecodeSingleByte(std::string_view in, Encoding encoding, std::string& out) {
  for (const char ch : in) {
    const auto b = static_cast<unsigned char>(ch);
    char32_t c = b;
    if (b >= 0x80 && b < 0xA0 && encoding == Encoding::kCp1252) {
      c = kCp1252High[b - 0x80];
      if (c == 0) c = 0xFFFD;
    }
    AppendUtf8(out, c);
  }
}

}  // namespace

bool EncodingFromName(std::string_view name, Encoding* encoding) {
  std::string lower;
  for (const char c : name)
    lower.push_back(static_cast<char>(std::tolower(static_cast<unsigned char>(c))));
  if (lower == "utf-8" || lower == "utf8") {
    *encoding = Encoding::kUtf8;
  } else if (lower == "cp1252" || lower == "windows-1252") {
    *encoding = Encoding::kCp1252;
  } else if (lower == "latin-1" || lower == "latin1" || lower == "iso-8859-1") {
    *encoding = Encoding::kLatin1;
  } else {
    return false;
  }
  return true;
}

bool LooksLikeCp1252(std::string_view text) {
  bool high = false;
  for (const char ch : text) {
    const auto b = static_cast<unsigned char>(ch);
    if (b >= 0x80 && b < 0xA0 && kCp1252High[b - 0x80] == 0) return false;
    if (b >= 0x80) high = true;
  }
  return high;
}

void Chunker::AddField(std::string_view text, bool cut) {
  Chunk::Field field;
  field.begin = chunk_.text.size();
  field.cut = cut || text.size() > kMaxFieldBytes;
  field.size = std::min(text.size(), kMaxFieldBytes);
  chunk_.text.append(text.substr(0, field.size));
  chunk_.fields.push_back(field);
}

void Chunker::ExtendField(std::string_view text) {
  Chunk::Field& field = chunk_.fields.back();
  const size_t room = kMaxFieldBytes - field.size;
  if (text.size() > room) field.cut = true;
  const size_t n = std::min(room, text.size());
  chunk_.text.append(text.substr(0, n));
  field.size += n;
}

void Chunker::TrimLastFieldStart(size_t count) {
  Chunk::Field& field = chunk_.fields.back();
  chunk_.text.erase(field.begin, count);
  field.size -= count;
}

void Chunker::TrimLastFieldEnd(size_t count) {
  Chunk::Field& field = chunk_.fields.back();
  chunk_.text.resize(chunk_.text.size() - count);
  field.size -= count;
}

bool Chunker::EndRow(std::string problem, uint64_t end_offset) {
  Chunk::Row& row = chunk_.rows.emplace_back();
  row.first_field = row_start_;
  row.field_count = chunk_.fields.size() - row_start_;
  row.problem = std::move(problem);
  row_start_ = chunk_.fields.size();
  chunk_.end_offset = end_offset;
  // Sixteen bytes a field besides its text, as the old per-row accounting did.
  if (chunk_.rows.size() >= kChunkRows ||
      chunk_.text.size() + 16 * chunk_.fields.size() >= kChunkBytes) {
    return Flush();
  }
  return true;
}

void Chunker::DiscardRow() {
  if (row_start_ < chunk_.fields.size()) chunk_.text.resize(chunk_.fields[row_start_].begin);
  chunk_.fields.resize(row_start_);
}

bool Chunker::Flush() {
  DiscardRow();
  if (chunk_.rows.empty()) return true;
  const bool go_on = sink_(chunk_);
  chunk_.Clear();  // the sink left a recycled chunk, normally empty already
  row_start_ = 0;
  return go_on;
}

InputFile::InputFile(std::FILE* file, std::string name, bool owned, uint64_t size,
                     Encoding encoding)
    : file_(file), name_(std::move(name)), owned_(owned), size_(size), encoding_(encoding) {}

InputFile::InputFile(InputFile&& other) noexcept
    : file_(other.file_),
      name_(std::move(other.name_)),
      owned_(other.owned_),
      size_(other.size_),
      encoding_(other.encoding_),
      head_(std::move(other.head_)),
      head_used_(other.head_used_),
      head_read_(other.head_read_),
      interrupted_(other.interrupted_) {
  other.file_ = nullptr;
}

InputFile::~InputFile() {
  if (owned_ && file_ != nullptr) std::fclose(file_);
}

InputFile InputFile::Open(const std::string& path, Encoding encoding) {
  if (path == "-") {
    SetBinaryMode(stdin);
    return InputFile(stdin, "standard input", false, RegularFileSize(stdin), encoding);
  }
  errno = 0;
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) {
    throw FatalError("cannot open input " + path + ": " + std::strerror(errno != 0 ? errno : EIO));
  }
  struct stat st {};
  if (fstat(FileDescriptor(file), &st) == 0 && (st.st_mode & S_IFMT) == S_IFDIR) {
    std::fclose(file);
    throw FatalError("cannot open input " + path + ": " + std::strerror(EISDIR));
  }
  return InputFile(file, path, true, RegularFileSize(file), encoding);
}

size_t InputFile::ReadRaw(char* buffer, size_t size) {
  if (interrupted_) return 0;
  errno = 0;
  const size_t n = std::fread(buffer, 1, size, file_);
  if (StopSignal() != 0) {
    // A signal asked to stop: the input ends here (a read it interrupted
    // returns what it had, or an error that is no error of the file's).
    interrupted_ = true;
    std::clearerr(file_);
    return n;
  }
  if (n < size && std::ferror(file_)) {
    throw FatalError("cannot read input " + name_ + ": " + std::strerror(errno != 0 ? errno : EIO));
  }
  return n;
}

size_t InputFile::Read(char* buffer, size_t size) {
  if (head_used_ < head_.size()) {
    const size_t n = std::min(size, head_.size() - head_used_);
    std::memcpy(buffer, head_.data() + head_used_, n);
    head_used_ += n;
    return n;
  }
  head_read_ = true;  // reading went past the head (or there was none)
  if (encoding_ == Encoding::kUtf8) return ReadRaw(buffer, size);
  // A single-byte character takes at most three bytes in UTF-8.
  raw_.resize(std::max<size_t>(size / 3, 1));
  const size_t n = ReadRaw(raw_.data(), raw_.size());
  std::string decoded;
  DecodeSingleByte(std::string_view(raw_.data(), n), encoding_, decoded);
  std::memcpy(buffer, decoded.data(), decoded.size());
  return decoded.size();
}

std::string_view InputFile::Head() {
  if (!head_read_) {
    std::string block(kBlockSize, '\0');
    block.resize(Read(block.data(), block.size()));  // sets head_read_
    head_ = std::move(block);
    head_used_ = 0;
  }
  return std::string_view(head_).substr(head_used_);
}

bool InputFile::is_terminal() const { return IsTerminal(file_); }

void ReadLines(InputFile& input, const ChunkSink& sink) {
  Chunker chunker(sink);
  std::vector<char> block(kBlockSize);
  bool first_line = true;
  bool in_line = false;  // a field holds the start of the current line
  uint64_t offset = 0;

  auto end_line = [&]() {
    if (first_line && chunker.LastField().starts_with(kBom)) {
      chunker.TrimLastFieldStart(kBom.size());
    }
    first_line = false;
    if (!chunker.LastFieldCut() && chunker.LastField().ends_with('\r')) {
      chunker.TrimLastFieldEnd(1);
    }
    in_line = false;
    return chunker.EndRow({}, offset);
  };

  try {
    for (;;) {
      const size_t n = input.Read(block.data(), block.size());
      if (n == 0) break;
      std::string_view rest(block.data(), n);
      while (!rest.empty()) {
        const size_t newline = rest.find('\n');
        const std::string_view piece = rest.substr(0, newline);
        if (in_line) {
          chunker.ExtendField(piece);
        } else {
          chunker.AddField(piece);
          in_line = true;
        }
        if (newline == std::string_view::npos) {
          offset += piece.size();
          break;
        }
        offset += newline + 1;
        rest.remove_prefix(newline + 1);
        if (!end_line()) return;
      }
    }
    // A last line without a line end is still a line; but a file holding
    // nothing but a byte order mark (an "empty" file saved by some editors)
    // has no lines.
    if (in_line && !(first_line && chunker.LastField() == kBom)) end_line();
  } catch (...) {
    // Rows read before a read error are still written.
    chunker.Flush();
    throw;
  }
  chunker.Flush();
}

namespace {

struct CsvState {
  Chunker* chunker = nullptr;
  const std::function<size_t(const std::vector<std::string>&)>* on_header = nullptr;
  size_t header_size = 0;
  bool have_header = false;
  bool stop = false;
  uint64_t offset = 0;  // input bytes given to the parser so far
  uint64_t records = 0;
  std::exception_ptr failure;
};

void OnField(void* text, size_t size, void* data) {
  auto* state = static_cast<CsvState*>(data);
  if (state->stop) return;
  try {
    state->chunker->AddField(std::string_view(static_cast<const char*>(text), size));
  } catch (...) {
    state->failure = std::current_exception();
    state->stop = true;
  }
}

void EndRecord(CsvState& state) {
  Chunker& chunker = *state.chunker;
  const size_t count = chunker.PendingFields();
  if (!state.have_header) {
    state.have_header = true;
    state.header_size = count;
    std::vector<std::string> header;
    for (size_t i = 0; i < count; ++i) header.emplace_back(chunker.PendingField(i));
    chunker.DiscardRow();
    (*state.on_header)(header);
    return;
  }
  // The address field itself is checked by the parsing threads.
  std::string problem;
  if (count != state.header_size) {
    problem = "row has " + std::to_string(count) + " fields, the header has " +
              std::to_string(state.header_size);
  }
  if (!chunker.EndRow(std::move(problem), state.offset)) state.stop = true;
}

// Called from C code: exceptions must not cross it, so they are kept and
// raised again once the parser has returned.
void OnRecord(int /*terminator*/, void* data) {
  auto* state = static_cast<CsvState*>(data);
  ++state->records;
  if (state->stop) return;
  try {
    EndRecord(*state);
  } catch (...) {
    state->failure = std::current_exception();
    state->stop = true;
  }
}

// Spaces and tabs around unquoted fields are data: the file is passed
// through unchanged.
int NoSpace(unsigned char /*c*/) { return 0; }

class CsvParser {
 public:
  CsvParser() {
    if (csv_init(&parser_, CSV_STRICT | CSV_STRICT_FINI) != 0) {
      throw FatalError("cannot start the CSV reader: out of memory");
    }
    csv_set_space_func(&parser_, NoSpace);
  }
  ~CsvParser() { csv_free(&parser_); }
  CsvParser(const CsvParser&) = delete;
  CsvParser& operator=(const CsvParser&) = delete;
  csv_parser* get() { return &parser_; }

 private:
  csv_parser parser_{};
};

}  // namespace

char DetectDelimiter(std::string_view head) {
  constexpr std::string_view kCandidates = ",;\t|";
  size_t counts[4] = {};
  bool quoted = false;
  for (const char c : head) {
    if (c == '"') {
      quoted = !quoted;
    } else if (!quoted) {
      if (c == '\n') break;
      const size_t i = kCandidates.find(c);
      if (i != std::string_view::npos) ++counts[i];
    }
  }
  size_t best = 0;
  for (size_t i = 1; i < kCandidates.size(); ++i) {
    if (counts[i] > counts[best]) best = i;
  }
  return kCandidates[best];
}

void ReadCsv(InputFile& input, char delimiter,
             const std::function<size_t(const std::vector<std::string>&)>& on_header,
             const ChunkSink& sink) {
  Chunker chunker(sink);
  CsvState state;
  state.chunker = &chunker;
  state.on_header = &on_header;
  CsvParser parser;
  csv_set_delim(parser.get(), static_cast<unsigned char>(delimiter));
  std::vector<char> block(kBlockSize);
  uint64_t lines = 0;     // line ends in the input given to the parser so far
  bool ends_line = true;  // the input so far ends with a line end
  // In plain words: the only errors of a strict reader are a quote where a
  // field may not hold one, and a quoted field never closed.
  auto malformed = [&](uint64_t line, bool at_end) {
    std::string what =
        at_end ? "a quoted field is never closed (the file ends before its closing quote)"
               : "a quote inside a field that does not start with a quote, or text right after "
                 "the closing quote of a quoted field";
    return FatalError("cannot read input " + input.name() + ": malformed CSV on line " +
                      std::to_string(line) + ": " + what +
                      " (a quote inside a quoted field is written twice: \"\")");
  };
  try {
    bool first_block = true;
    for (;;) {
      size_t n = input.Read(block.data(), block.size());
      if (n == 0) break;
      const char* data = block.data();
      if (first_block && std::string_view(data, n).starts_with(kBom)) {
        data += kBom.size();
        n -= kBom.size();
      }
      first_block = false;
      state.offset += n;
      const size_t parsed = csv_parse(parser.get(), data, n, OnField, OnRecord, &state);
      if (state.failure) std::rethrow_exception(state.failure);
      if (state.stop) return;
      const std::string_view done(data, parsed);
      lines += static_cast<uint64_t>(std::count(done.begin(), done.end(), '\n'));
      if (parsed != n) throw malformed(lines + 1, false);
      if (n > 0) ends_line = data[n - 1] == '\n';
    }
    const int finished = csv_fini(parser.get(), OnField, OnRecord, &state);
    if (state.failure) std::rethrow_exception(state.failure);
    if (finished != 0) throw malformed(ends_line ? lines : lines + 1, true);
  } catch (...) {
    chunker.Flush();
    throw;
  }
  chunker.Flush();
}

}  // namespace zarn_parse
