#include <new>
#include <utility>

#include "component/access.h"
#include "component/pipeline.h"
#include "component/text.h"
#include "refdb/reference_database.h"
#include "segments/segment_table.h"
#include "zarn/zarn.hpp"

#ifndef ZARN_VERSION
#error "ZARN_VERSION must be defined by the build"
#endif
#ifndef ZARN_DEFAULT_DATABASE_PATH
#error "ZARN_DEFAULT_DATABASE_PATH must be defined by the build"
#endif

namespace zarn {

using internal::Connection;
using internal::DatabaseSession;
using internal::SegmentTable;

Error::Error(int number, const std::string& message)
    : std::runtime_error(message), number_(number) {}

std::string ReferenceDatabasePath() {
#ifdef _WIN32
  return "c:\\wendle\\vbdll\\qordatavb.DAT";
#else
  return ZARN_DEFAULT_DATABASE_PATH;
#endif
}

const char* Version() noexcept { return ZARN_VERSION; }

namespace {

// Per-thread scratch storage, reused by every parse on the thread so that a
// steady stream of parses does not allocate for the table or the text.
struct ThreadScratch {
  SegmentTable table;
  std::u16string text;
  std::u16string answer;
};

ThreadScratch& Scratch() {
  thread_local ThreadScratch scratch;
  return scratch;
}

// Holds a pooled connection for one call and gives it back afterwards, unless
// the call failed: then the connection is dropped, since its file may be gone
// or damaged.
class ConnectionLease {
 public:
  explicit ConnectionLease(detail::ReferenceDatabase& db) : db_(db), connection_(db.Acquire()) {}
  ~ConnectionLease() {
    if (healthy_) db_.Release(std::move(connection_));
  }
  ConnectionLease(const ConnectionLease&) = delete;
  ConnectionLease& operator=(const ConnectionLease&) = delete;
  Connection* get() { return connection_.get(); }
  void MarkFailed() { healthy_ = false; }

 private:
  detail::ReferenceDatabase& db_;
  std::unique_ptr<Connection> connection_;
  bool healthy_ = true;
};

void ParseInto(detail::ReferenceDatabase& db, Connection* connection, std::string_view address,
               ThreadScratch& scratch) {
  internal::Utf8ToUtf16(address, scratch.text);
  DatabaseSession session(db.path(), db.policy(), connection);
  internal::AnalyzeAddress(scratch.text, scratch.table, session);
}

void ReadParts(ThreadScratch& scratch, AddressParts& parts) {
  auto read = [&scratch](int kind, std::string& out) {
    internal::ReadSegmentUtf8(scratch.table, kind, scratch.answer, out);
  };
  read(kStreetNumber, parts.street_number);
  read(kStreet, parts.street);
  read(kStreetType, parts.street_type);
  read(kDirection, parts.direction);
  read(kUnit, parts.unit);
}

// Errors that come from the address or the values read, not from the
// connection: it stays good for the next call.
bool IsAddressError(int number) {
  return number == kErrorInvalidArgument || number == kErrorOverflow ||
         number == kErrorSubscriptOutOfRange || number == kErrorInvalidUseOfNull;
}

// Runs `body` with a leased connection; failures surface as zarn::Error.
template <typename Body>
auto WithConnection(detail::ReferenceDatabase& db, Body body) {
  try {
    ConnectionLease lease(db);
    try {
      return body(lease.get());
    } catch (const Error& e) {
      if (!IsAddressError(e.Number())) lease.MarkFailed();
      throw;
    } catch (...) {
      lease.MarkFailed();
      throw;
    }
  } catch (const std::bad_alloc&) {
    throw Error(kErrorOutOfMemory, "Out of memory");
  }
}

}  // namespace

ZarnAddress::ZarnAddress() : ZarnAddress(ReferenceDatabasePath()) {}

ZarnAddress::ZarnAddress(std::string database_path)
    : db_(std::make_shared<detail::ReferenceDatabase>(std::move(database_path))) {}

ZarnAddress::~ZarnAddress() = default;
ZarnAddress::ZarnAddress(const ZarnAddress&) = default;
ZarnAddress& ZarnAddress::operator=(const ZarnAddress&) = default;
ZarnAddress::ZarnAddress(ZarnAddress&&) noexcept = default;
ZarnAddress& ZarnAddress::operator=(ZarnAddress&&) noexcept = default;

const std::string& ZarnAddress::DatabasePath() const noexcept { return db_->path(); }

std::string ZarnAddress::AddressSegment(std::string_view address, int segment_type) const {
  return WithConnection(*db_, [&](Connection* connection) {
    ThreadScratch& scratch = Scratch();
    ParseInto(*db_, connection, address, scratch);
    return internal::Utf16ToUtf8(internal::ReadSegment(scratch.table, segment_type));
  });
}

std::string ZarnAddress::Street(std::string_view address) const {
  return AddressSegment(address, kStreet);
}
std::string ZarnAddress::StreetType(std::string_view address) const {
  return AddressSegment(address, kStreetType);
}
std::string ZarnAddress::StreetNumber(std::string_view address) const {
  return AddressSegment(address, kStreetNumber);
}
std::string ZarnAddress::Direction(std::string_view address) const {
  return AddressSegment(address, kDirection);
}
std::string ZarnAddress::Unit(std::string_view address) const {
  return AddressSegment(address, kUnit);
}

AddressParts ZarnAddress::Parse(std::string_view address) const {
  return WithConnection(*db_, [&](Connection* connection) {
    ThreadScratch& scratch = Scratch();
    ParseInto(*db_, connection, address, scratch);
    AddressParts parts;
    ReadParts(scratch, parts);
    return parts;
  });
}

std::vector<BatchResult> ZarnAddress::ParseBatch(
    std::span<const std::string_view> addresses) const {
  std::vector<BatchResult> out(addresses.size());
  ParseBatch(addresses, out);
  return out;
}

void ZarnAddress::ParseBatch(std::span<const std::string_view> addresses,
                             std::span<BatchResult> out) const {
  auto fail = [](BatchResult& r, int number, const char* message) {
    r.parts = AddressParts{};
    r.error_number = number;
    try {
      r.error_message = message;
    } catch (const std::bad_alloc&) {
      r.error_message.clear();
    }
  };
  const size_t n = std::min(addresses.size(), out.size());
  std::unique_ptr<Connection> connection;
  try {
    connection = db_->Acquire();
  } catch (const Error& e) {
    for (size_t i = 0; i < n; ++i) fail(out[i], e.Number(), e.what());
    return;
  } catch (const std::bad_alloc&) {
    for (size_t i = 0; i < n; ++i) fail(out[i], kErrorOutOfMemory, "Out of memory");
    return;
  }
  bool healthy = true;
  ThreadScratch& scratch = Scratch();
  for (size_t i = 0; i < n; ++i) {
    BatchResult& r = out[i];
    try {
      ParseInto(*db_, connection.get(), addresses[i], scratch);
      ReadParts(scratch, r.parts);
      r.error_number = 0;
      r.error_message.clear();
    } catch (const Error& e) {
      fail(r, e.Number(), e.what());
      // Errors of the address itself leave the connection usable.
      if (!IsAddressError(e.Number())) healthy = false;
    } catch (const std::bad_alloc&) {
      fail(r, kErrorOutOfMemory, "Out of memory");
      healthy = false;
    }
    if (!healthy && i + 1 < n) {
      // Get a fresh view of the file for the rest of the batch.
      try {
        connection = db_->Acquire();
        healthy = true;
      } catch (const Error& e) {
        for (size_t j = i + 1; j < n; ++j) fail(out[j], e.Number(), e.what());
        return;
      } catch (const std::bad_alloc&) {
        for (size_t j = i + 1; j < n; ++j) fail(out[j], kErrorOutOfMemory, "Out of memory");
        return;
      }
    }
  }
  if (healthy) db_->Release(std::move(connection));
}

}  // namespace zarn

namespace zarn::detail {

ZarnAddress Access::WithPolicy(std::string path, internal::DbPolicy policy) {
  ZarnAddress parser(path);
  parser.db_ = std::make_shared<ReferenceDatabase>(std::move(path), policy);
  return parser;
}

void Access::ParseToTable(const ZarnAddress& parser, std::string_view address,
                          internal::SegmentTable& table) {
  WithConnection(*parser.db_, [&](Connection* connection) {
    std::u16string text;
    internal::Utf8ToUtf16(address, text);
    DatabaseSession session(parser.db_->path(), parser.db_->policy(), connection);
    internal::AnalyzeAddress(text, table, session);
    return 0;
  });
}

}  // namespace zarn::detail
