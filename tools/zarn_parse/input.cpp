#include "zarn_parse/input.h"

#include <csv.h>
#include <sys/stat.h>
#include <utf8.h>

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

// Why a field cannot be parsed, or "" when it can.
std::string FieldProblem(const std::string& text, bool cut) {
  if (cut) {
    return "longer than " + std::to_string(kMaxFieldBytes) +
           " bytes: not parsed, and only that much is kept";
  }
  const auto bad = utf8::find_invalid(text.begin(), text.end());
  if (bad != text.end()) {
    return "not valid UTF-8 (bad byte at offset " + std::to_string(bad - text.begin()) + ")";
  }
  return {};
}

// Collects rows into chunks and hands full ones to the sink.
class Chunker {
 public:
  explicit Chunker(const ChunkSink& sink) : sink_(sink) {}

  // Returns false once the sink wants no more.
  bool Add(InputRow row, uint64_t end_offset) {
    for (const std::string& f : row.fields) chunk_.bytes += f.size() + 16;
    chunk_.rows.push_back(std::move(row));
    chunk_.end_offset = end_offset;
    if (chunk_.rows.size() >= kChunkRows || chunk_.bytes >= kChunkBytes) return Flush();
    return true;
  }

  bool Flush() {
    if (chunk_.rows.empty()) return true;
    Chunk full = std::move(chunk_);
    chunk_ = Chunk{};
    return sink_(std::move(full));
  }

 private:
  const ChunkSink& sink_;
  Chunk chunk_;
};

}  // namespace

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
  std::string line;
  bool cut = false;
  bool first_line = true;
  bool at_line_start = true;
  uint64_t offset = 0;

  auto end_line = [&]() {
    if (first_line && std::string_view(line).starts_with(kBom)) line.erase(0, kBom.size());
    first_line = false;
    if (!cut && !line.empty() && line.back() == '\r') line.pop_back();
    InputRow row;
    row.problem = FieldProblem(line, cut);
    row.fields.push_back(std::move(line));
    line = std::string();
    cut = false;
    at_line_start = true;
    return chunker.Add(std::move(row), offset);
  };

  try {
    for (;;) {
      const size_t n = input.Read(block.data(), block.size());
      if (n == 0) break;
      std::string_view rest(block.data(), n);
      while (!rest.empty()) {
        at_line_start = false;
        const size_t newline = rest.find('\n');
        const std::string_view piece = rest.substr(0, newline);
        const size_t room = kMaxFieldBytes - line.size();
        if (piece.size() > room) cut = true;
        line.append(piece.substr(0, std::min(room, piece.size())));
        if (newline == std::string_view::npos) {
          offset += piece.size();
          break;
        }
        offset += newline + 1;
        rest.remove_prefix(newline + 1);
        if (!end_line()) return;
      }
    }
    // A last line without a line end is still a line.
    if (!at_line_start) end_line();
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
  std::vector<std::string> fields;
  std::vector<bool> cut;
  size_t header_size = 0;
  size_t address_index = 0;
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
    const bool cut = size > kMaxFieldBytes;
    state->fields.emplace_back(static_cast<const char*>(text), cut ? kMaxFieldBytes : size);
    state->cut.push_back(cut);
  } catch (...) {
    state->failure = std::current_exception();
    state->stop = true;
  }
}

void EndRecord(CsvState& state) {
  if (!state.have_header) {
    state.have_header = true;
    state.header_size = state.fields.size();
    state.address_index = (*state.on_header)(state.fields);
  } else {
    InputRow row;
    if (state.fields.size() != state.header_size) {
      row.problem = "row has " + std::to_string(state.fields.size()) + " fields, the header has " +
                    std::to_string(state.header_size);
    } else {
      row.problem = FieldProblem(state.fields[state.address_index], state.cut[state.address_index]);
    }
    row.fields = std::move(state.fields);
    if (!state.chunker->Add(std::move(row), state.offset)) state.stop = true;
  }
  state.fields = std::vector<std::string>();
  state.cut.clear();
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
