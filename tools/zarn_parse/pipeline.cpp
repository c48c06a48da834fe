#include "zarn_parse/pipeline.h"

#include <span>
#include <string_view>
#include <utility>

namespace zarn_parse {

bool IsRowError(int error_number) {
  return error_number == kRowRefused || zarn::IsAddressError(error_number);
}

namespace {

// Why the reader refused row `i`, or "" when it is parsed.
std::string_view Refusal(const Chunk& chunk, size_t i, size_t address_index) {
  const Chunk::Row& row = chunk.rows[i];
  if (!row.problem.empty()) return row.problem;
  if (chunk.fields[row.first_field + address_index].cut) return kCutFieldProblem;
  return {};
}

}  // namespace

void ParseChunk(const zarn::ZarnAddress& parser, size_t address_index, Chunk& chunk,
                const zarn::OutputOptions& options) {
  const size_t n = chunk.size();
  // Results left from an earlier use of the chunk keep their strings, which
  // ParseBatch fills again without allocating.
  if (chunk.results.size() < n) chunk.results.resize(n);
  // Every row goes to the parser (a refused one as the empty address, whose
  // answer is then replaced), so that results line up with rows.
  std::vector<std::string_view> addresses(n);
  for (size_t i = 0; i < n; ++i) {
    if (Refusal(chunk, i, address_index).empty()) {
      addresses[i] = chunk.FieldText(i, address_index);
    }
  }
  parser.ParseBatch(std::span<const std::string_view>(addresses),
                    std::span(chunk.results.data(), n), options);
  for (size_t i = 0; i < n; ++i) {
    const std::string_view refusal = Refusal(chunk, i, address_index);
    if (refusal.empty()) continue;
    zarn::BatchResult& r = chunk.results[i];
    r.parts = zarn::AddressParts{};
    r.standard.reset();
    r.error_number = kRowRefused;
    r.error_message = refusal;
  }
}

Pipeline::Pipeline(const zarn::ZarnAddress& parser, size_t address_index, int threads,
                   FormatFn format, WriteFn write, const zarn::OutputOptions& options)
    : parser_(parser),
      address_index_(address_index),
      options_(options),
      // Enough chunks to keep every thread busy while the writer catches up.
      max_in_flight_(2 * static_cast<size_t>(threads) + 2),
      format_(std::move(format)),
      write_(std::move(write)) {
  // Storage for every chunk slot is made now: once running, handing chunks
  // on allocates nothing, so running out of memory cannot lose a chunk.
  free_.reserve(max_in_flight_);
  parsed_slots_.resize(max_in_flight_);
  try {
    for (int i = 0; i < threads; ++i) parsers_.emplace_back([this] { ParseLoop(); });
    writer_ = std::thread([this] { WriteLoop(); });
  } catch (...) {
    Close();
    throw;
  }
}

Pipeline::~Pipeline() { Close(); }

void Pipeline::Close() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    closed_ = true;
  }
  work_.notify_all();
  parsed_.notify_all();
  space_.notify_all();
  for (std::thread& t : parsers_) {
    if (t.joinable()) t.join();
  }
  if (writer_.joinable()) writer_.join();
}

bool Pipeline::Submit(Chunk& chunk) {
  std::unique_lock<std::mutex> lock(mutex_);
  space_.wait(lock, [this] { return in_flight_ < max_in_flight_ || failure_; });
  if (failure_) return false;
  chunk.sequence = submitted_;
  to_parse_.push_back(std::move(chunk));  // counted only once it is queued
  ++submitted_;
  ++in_flight_;
  if (free_.empty()) {
    chunk = Chunk{};
  } else {
    chunk = std::move(free_.back());
    free_.pop_back();
  }
  lock.unlock();
  work_.notify_one();
  return true;
}

void Pipeline::Finish() {
  Close();
  if (failure_) std::rethrow_exception(failure_);
}

void Pipeline::ParseLoop() {
  for (;;) {
    Chunk chunk;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      work_.wait(lock, [this] { return !to_parse_.empty() || closed_; });
      if (to_parse_.empty()) return;
      chunk = std::move(to_parse_.front());
      to_parse_.pop_front();
      if (failure_) chunk.Clear();  // nothing more will be written
    }
    std::exception_ptr error;
    try {
      ParseChunk(parser_, address_index_, chunk, options_);
      if (format_ && chunk.size() > 0) format_(chunk);
    } catch (...) {
      // Out of memory: the run stops, and Finish() reports it.
      error = std::current_exception();
      chunk.Clear();
    }
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (error && !failure_) failure_ = error;
      parsed_slots_[chunk.sequence % max_in_flight_].emplace(std::move(chunk));
    }
    parsed_.notify_one();
  }
}

void Pipeline::WriteLoop() {
  for (;;) {
    Chunk chunk;
    bool failed = false;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      std::optional<Chunk>& slot = parsed_slots_[written_ % max_in_flight_];
      parsed_.wait(lock, [&] { return slot.has_value() || (closed_ && written_ == submitted_); });
      if (!slot) return;
      chunk = std::move(*slot);
      slot.reset();
      failed = static_cast<bool>(failure_);
    }
    std::exception_ptr error;
    try {
      // After a failure, chunks still in the pipeline are only counted off.
      if (!failed && chunk.size() > 0) write_(chunk);
    } catch (...) {
      error = std::current_exception();
    }
    chunk.Clear();
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (error) failure_ = error;
      ++written_;
      --in_flight_;
      // Kept for the reader to fill again; free_ has room reserved, and
      // moving a chunk moves its storage, so this allocates nothing.
      if (!failure_ && free_.size() < max_in_flight_) free_.push_back(std::move(chunk));
    }
    space_.notify_all();
  }
}

}  // namespace zarn_parse
