#include <iterator>
#include <new>
#include <utility>

#include "component/access.h"
#include "component/pipeline.h"
#include "component/text.h"
#include "platform/thread_scratch.h"
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

const char* ProfileName(Profile profile) noexcept {
  switch (profile) {
    case Profile::kSpecified: return "specified";
    case Profile::kCanada: return "canada";
  }
  return "";
}

bool ProfileFromName(std::string_view name, Profile* profile) noexcept {
  auto same = [name](std::string_view other) {
    if (name.size() != other.size()) return false;
    for (size_t i = 0; i < name.size(); ++i) {
      char c = name[i];
      if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
      if (c != other[i]) return false;
    }
    return true;
  };
  for (Profile p : {Profile::kSpecified, Profile::kCanada}) {
    if (same(ProfileName(p))) {
      if (profile != nullptr) *profile = p;
      return true;
    }
  }
  return false;
}

std::string DiagnosticFlagNames(uint32_t flags) {
  static constexpr const char* kNames[] = {
      "no_street_type",       "no_street_number",     "no_street",
      "range_assumed",        "unit_assumed",         "direction_ambiguous",
      "unknown_words",        "street_type_assumed",  "postal_code_invalid",
      "postal_code_province", "municipality_unknown", "no_province",
  };
  return internal::JoinFlagNames(flags, kNames);
}

namespace {

// Per-thread scratch storage, reused by every parse on the thread so that a
// steady stream of parses does not allocate for the table or the text.
struct ThreadScratch {
  SegmentTable table;
  std::u16string text;
  std::u16string answer;
};

// Parses `address` into `table`, with `text` as room for its UTF-16 form.
// A database error drops the session's connection, since its file may be
// gone or damaged.
// With the kCanada profile the seven parts of a whole address go to
// `*whole` when that is not null.
void ParseInto(DatabaseSession& session, const ParseOptions& options, std::string_view address,
               std::u16string& text, SegmentTable& table, Diagnostics* diagnostics,
               AddressParts* whole = nullptr) {
  session.DropConnectionOnError([&] {
    if (options.profile == Profile::kCanada) {
      internal::Utf8ToUtf16(address, text);
      internal::AnalyzeAddressCanada(text, table, session, diagnostics, whole);
    } else {
      internal::AnalyzeAddressUtf8(address, text, table, session);
    }
  });
}

void ReadParts(ThreadScratch& scratch, AddressParts& parts) {
  std::string* out[] = {nullptr,     &parts.street_type, &parts.street, &parts.street_number,
                        &parts.unit, &parts.direction};
  static_assert(kStreetType == 1 && kStreet == 2 && kStreetNumber == 3 && kUnit == 4 &&
                kDirection == 5);
  internal::ReadFivePartsUtf8(scratch.table, out);
}

// Runs `body` with a database session for one call; running out of memory
// surfaces as zarn::Error like every other failure.
template <typename Body>
auto WithSession(detail::ReferenceDatabase& db, Body body) {
  try {
    DatabaseSession session(db);
    return body(session);
  } catch (const std::bad_alloc&) {
    throw Error(kErrorOutOfMemory, "Out of memory");
  }
}

}  // namespace

ZarnAddress::ZarnAddress() : ZarnAddress(ReferenceDatabasePath()) {}

ZarnAddress::ZarnAddress(std::string database_path)
    : db_(std::make_shared<detail::ReferenceDatabase>(std::move(database_path))) {}

ZarnAddress::ZarnAddress(ParseOptions options) : ZarnAddress(ReferenceDatabasePath(), options) {}

ZarnAddress::ZarnAddress(std::string database_path, ParseOptions options)
    : db_(std::make_shared<detail::ReferenceDatabase>(std::move(database_path))),
      options_(options) {}

ZarnAddress::~ZarnAddress() = default;
ZarnAddress::ZarnAddress(const ZarnAddress&) = default;
ZarnAddress& ZarnAddress::operator=(const ZarnAddress&) = default;
// A move copies the shared database handle, so that the object moved from
// still parses (with the same database) instead of holding nothing.
ZarnAddress::ZarnAddress(ZarnAddress&& other) noexcept : db_(other.db_), options_(other.options_) {}
ZarnAddress& ZarnAddress::operator=(ZarnAddress&& other) noexcept {
  db_ = other.db_;
  options_ = other.options_;
  return *this;
}

const std::string& ZarnAddress::DatabasePath() const noexcept { return db_->path(); }

std::string ZarnAddress::AddressSegment(std::string_view address, int segment_type) const {
  return WithSession(*db_, [&](DatabaseSession& session) {
    ZARN_THREAD_SCRATCH ThreadScratch scratch;
    ParseInto(session, options_, address, scratch.text, scratch.table, nullptr);
    std::string answer;
    internal::ReadSegmentUtf8(scratch.table, segment_type, scratch.answer, answer);
    return answer;
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

AddressParts ZarnAddress::Parse(std::string_view address) const { return Parse(address, nullptr); }

AddressParts ZarnAddress::Parse(std::string_view address, Diagnostics* diagnostics) const {
  if (diagnostics != nullptr) *diagnostics = Diagnostics{};
  return WithSession(*db_, [&](DatabaseSession& session) {
    ZARN_THREAD_SCRATCH ThreadScratch scratch;
    AddressParts parts;
    ParseInto(session, options_, address, scratch.text, scratch.table, diagnostics, &parts);
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
  const size_t n = std::min(addresses.size(), out.size());
  DatabaseSession session(*db_);
  ZARN_THREAD_SCRATCH ThreadScratch scratch;
  for (size_t i = 0; i < n; ++i) {
    BatchResult& r = out[i];
    int number = 0;
    try {
      Diagnostics* diagnostics = nullptr;
      if (options_.profile != Profile::kSpecified) {
        r.diagnostics.flags = 0;
        r.diagnostics.unplaced_words.clear();
        diagnostics = &r.diagnostics;
      } else if (!r.diagnostics.empty()) {
        r.diagnostics = Diagnostics{};
      }
      ParseInto(session, options_, addresses[i], scratch.text, scratch.table, diagnostics,
                &r.parts);
      ReadParts(scratch, r.parts);
      r.error_number = 0;
      r.error_message.clear();
      continue;
    } catch (const Error& e) {
      number = e.Number();
      try {
        r.error_message = e.what();
      } catch (const std::bad_alloc&) {
        r.error_message.clear();
      }
    } catch (const std::bad_alloc&) {
      number = kErrorOutOfMemory;
      r.error_message.clear();
    }
    r.error_number = number;
    if (number == kErrorOutOfMemory && r.error_message.empty()) {
      try {
        r.error_message = "Out of memory";
      } catch (const std::bad_alloc&) {
      }
    }
    for (std::string* part :
         {&r.parts.street_number, &r.parts.street, &r.parts.street_type, &r.parts.direction,
          &r.parts.unit, &r.parts.po_box, &r.parts.rural_route, &r.parts.general_delivery,
          &r.parts.station, &r.parts.municipality, &r.parts.province, &r.parts.postal_code}) {
      part->clear();
    }
    r.diagnostics.flags = 0;
    r.diagnostics.unplaced_words.clear();
  }
}

}  // namespace zarn

namespace zarn::detail {

ZarnAddress Access::WithPolicy(std::string path, internal::DbPolicy policy, ParseOptions options) {
  ZarnAddress parser(path, options);
  parser.db_ = std::make_shared<ReferenceDatabase>(std::move(path), policy);
  return parser;
}

void Access::ParseToTable(const ZarnAddress& parser, std::string_view address,
                          internal::SegmentTable& table) {
  WithSession(*parser.db_, [&](DatabaseSession& session) {
    std::u16string text;
    ParseInto(session, parser.options_, address, text, table, nullptr);
    return 0;
  });
}

}  // namespace zarn::detail
