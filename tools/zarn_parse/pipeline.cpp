#include "zarn_parse/pipeline.h"

#include <span>
#include <string_view>
#include <utility>

namespace zarn_parse {

bool IsRowError(int error_number) {
  return error_number == kRowRefused || error_number == zarn::kErrorInvalidArgument ||
         error_number == zarn::kErrorOverflow || error_number == zarn::kErrorSubscriptOutOfRange ||
         error_number == zarn::kErrorInvalidUseOfNull;
}

void ParseChunk(const zarn::ZarnAddress& parser, size_t address_index, Chunk& chunk) {
  const size_t n = chunk.size();
  // Results left from an earlier use of the chunk keep their strings, which
  // ParseBatch fills again without allocating.
  if (chunk.results.size() < n) chunk.results.resize(n);
  std::vector<std::string_view> addresses;
  std::vector<size_t> positions;
  addresses.reserve(n);
  positions.reserve(n);
  for (size_t i = 0; i < n; ++i) {
    const Chunk::Row& row = chunk.rows[i];
    std::string problem = row.problem;
    std::string_view address;
    if (problem.empty()) {
      const Chunk::Field& field = chunk.fields[row.first_field + address_index];
      address = chunk.FieldText(field);
      problem = FieldProblem(address, field.cut);
    }
    if (problem.empty()) {
      addresses.push_back(address);
      positions.push_back(i);
      continue;
    }
    zarn::BatchResult& r = chunk.results[i];
    for (std::string* part : {&r.parts.street_number, &r.parts.street, &r.parts.street_type,
                              &r.parts.direction, &r.parts.unit}) {
      part->clear();
    }
    r.error_number = kRowRefused;
    r.error_message = std::move(problem);
  }
  if (addresses.empty()) return;
  if (addresses.size() == n) {
    parser.ParseBatch(std::span<const std::string_view>(addresses),
                      std::span(chunk.results.data(), n));
    return;
  }
  std::vector<zarn::BatchResult> results(addresses.size());
  parser.ParseBatch(std::span<const std::string_view>(addresses), std::span(results));
  for (size_t k = 0; k < positions.size(); ++k) {
    chunk.results[positions[k]] = std::move(results[k]);
  }
}

Pipeline::Pipeline(const zarn::ZarnAddress& parser, size_t address_index, int threads,
                   FormatFn format, WriteFn write)
    : parser_(parser),
      address_index_(address_index),
      // Enough chunks to keep every thread busy while the writer catches up.
      max_in_flight_(2 * static_cast<size_t>(threads) + 2),
      format_(std::move(format)),
      write_(std::move(write)) {
  free_.reserve(max_in_flight_);
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
  chunk.sequence = submitted_++;
  ++in_flight_;
  to_parse_.push_back(std::move(chunk));
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
    ParseChunk(parser_, address_index_, chunk);
    if (format_ && chunk.size() > 0) format_(chunk);
    {
      std::lock_guard<std::mutex> lock(mutex_);
      const uint64_t sequence = chunk.sequence;
      to_write_.emplace(sequence, std::move(chunk));
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
      parsed_.wait(lock, [this] {
        return to_write_.contains(written_) || (closed_ && written_ == submitted_);
      });
      auto it = to_write_.find(written_);
      if (it == to_write_.end()) return;
      chunk = std::move(it->second);
      to_write_.erase(it);
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
