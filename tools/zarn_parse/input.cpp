#include "zarn_parse/input.h"

#include <csv.h>
#include <sys/stat.h>

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

}  // namespace

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

InputFile::InputFile(std::FILE* file, std::string name, bool owned, uint64_t size)
    : file_(file), name_(std::move(name)), owned_(owned), size_(size) {}

InputFile::InputFile(InputFile&& other) noexcept
    : file_(other.file_), name_(std::move(other.name_)), owned_(other.owned_), size_(other.size_) {
  other.file_ = nullptr;
}

InputFile::~InputFile() {
  if (owned_ && file_ != nullptr) std::fclose(file_);
}

InputFile InputFile::Open(const std::string& path) {
  if (path == "-") {
    SetBinaryMode(stdin);
    return InputFile(stdin, "standard input", false, RegularFileSize(stdin));
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
  return InputFile(file, path, true, RegularFileSize(file));
}

size_t InputFile::Read(char* buffer, size_t size) {
  errno = 0;
  const size_t n = std::fread(buffer, 1, size, file_);
  if (n < size && std::ferror(file_)) {
    throw FatalError("cannot read input " + name_ + ": " + std::strerror(errno != 0 ? errno : EIO));
  }
  return n;
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

void ReadCsv(InputFile& input,
             const std::function<size_t(const std::vector<std::string>&)>& on_header,
             const ChunkSink& sink) {
  Chunker chunker(sink);
  CsvState state;
  state.chunker = &chunker;
  state.on_header = &on_header;
  CsvParser parser;
  std::vector<char> block(kBlockSize);
  auto malformed = [&]() {
    return FatalError("cannot read input " + input.name() + ": malformed CSV after record " +
                      std::to_string(state.records) + ": " + csv_strerror(csv_error(parser.get())));
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
      if (parsed != n) throw malformed();
    }
    const int finished = csv_fini(parser.get(), OnField, OnRecord, &state);
    if (state.failure) std::rethrow_exception(state.failure);
    if (finished != 0) throw malformed();
  } catch (...) {
    chunker.Flush();
    throw;
  }
  chunker.Flush();
}

}  // namespace zarn_parse
