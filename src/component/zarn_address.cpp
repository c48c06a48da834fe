#include <algorithm>
#include <array>
#include <bit>
#include <cstdlib>
#include <filesystem>
#include <iterator>
#include <new>
#include <system_error>
#include <utility>

#ifndef _WIN32
#include <dlfcn.h>
#endif

#include "base/text.h"
#include "component/access.h"
#include "component/pipeline.h"
#include "platform/thread_scratch.h"
#include "refdb/reference_database.h"
#include "segments/segment_table.h"
#include "segments/source_map.h"
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

namespace {

#ifndef _WIN32
namespace fs = std::filesystem;

// The bundled database of the copy whose code lies in `dir`: data/ beside
// it (the Python package as pip installs it), else share/zarn/ under its
// parent or up to three levels further up (bin/ or lib/ of a prefix or of
// the build tree; lib/python3.X/dist-packages/zarn/ of a prefix).
std::string BundledDatabaseNear(const fs::path& dir) {
  std::error_code ec;
  const fs::path beside = dir / "data" / "qordatavb.DAT";
  if (fs::is_regular_file(beside, ec)) return beside.lexically_normal().string();
  fs::path up = dir;
  for (int level = 0; level < 4 && up.has_relative_path(); ++level) {
    up = up.parent_path();
    const fs::path candidate = up / "share" / "zarn" / "qordatavb.DAT";
    if (fs::is_regular_file(candidate, ec)) return candidate.lexically_normal().string();
  }
  return {};
}

void Anchor() {}
#endif

}  // namespace

}  // namespace zarn

#ifndef _WIN32
// Defined by a program built through the installed CMake package
// (zarnConfig.cmake): the database of the copy it was built against. Absent
// (null) everywhere else.
extern "C" {
__attribute__((weak)) extern const char zarn_installed_database[];
}
#endif

namespace zarn {

std::string ReferenceDatabasePath() {
  const char* env = std::getenv("ZARN_DATABASE");
  if (env != nullptr && *env != '\0') return env;
#ifdef _WIN32
  return "c:\\wendle\\vbdll\\qordatavb.DAT";
#else
  // When nothing is found: the configured path if that file is there, else
  // the first place looked at, so that the error names where the database
  // of this copy belongs.
  std::string first_place;
  try {
    // A program built against an installed copy: that copy's database.
    if (zarn_installed_database != nullptr) {
      std::error_code ec;
      if (fs::is_regular_file(zarn_installed_database, ec)) return zarn_installed_database;
    }
    // The object that holds this code: the program, or a shared object
    // (Python module, SQLite extension) that links the library in.
    Dl_info info{};
    if (dladdr(reinterpret_cast<void*>(&Anchor), &info) != 0 && info.dli_fname != nullptr) {
      std::error_code ec;
      const fs::path self = fs::canonical(info.dli_fname, ec);
      if (!ec) {
        std::string found = BundledDatabaseNear(self.parent_path());
        if (!found.empty()) return found;
        first_place =
            (self.parent_path().parent_path() / "share" / "zarn" / "qordatavb.DAT").string();
      }
    }
    std::error_code ec;
    const fs::path program = fs::read_symlink("/proc/self/exe", ec);
    if (!ec) {
      std::string found = BundledDatabaseNear(program.parent_path());
      if (!found.empty()) return found;
    }
    if (!first_place.empty() && !fs::is_regular_file(ZARN_DEFAULT_DATABASE_PATH, ec)) {
      return first_place;
    }
  } catch (const std::exception&) {
    // No path could be made (out of memory): the configured one below.
  }
  return ZARN_DEFAULT_DATABASE_PATH;
#endif
}

const char* Version() noexcept { return ZARN_VERSION; }

namespace {

constexpr const char* kProfileNames[] = {"specified", "canada"};
static_assert(static_cast<int>(Profile::kSpecified) == 0 &&
              static_cast<int>(Profile::kCanada) == 1);

#define ZARN_FIELD_INFO_(id, name, profiles, meaning) FieldInfo{#name, meaning, profiles},
constexpr FieldInfo kFields[] = {ZARN_FIELDS(ZARN_FIELD_INFO_)};
#undef ZARN_FIELD_INFO_
static_assert(std::size(kFields) == kFieldCount);
static_assert(ZARN_FILLED_BY_SPECIFIED == 1u << static_cast<int>(Profile::kSpecified) &&
              ZARN_FILLED_BY_CANADA == 1u << static_cast<int>(Profile::kCanada));

#define ZARN_FIELD_MEMBER_POINTER_(id, name, profiles, meaning) &AddressParts::name,
constexpr std::string AddressParts::*kFieldMembers[] = {ZARN_FIELDS(ZARN_FIELD_MEMBER_POINTER_)};
#undef ZARN_FIELD_MEMBER_POINTER_

// Each row: the bit, the name every interface uses, what it means.
constexpr FlagInfo kDiagnosticFlags[] = {
    {kFlagNoStreetType, "no_street_type", "no street-type word was found"},
    {kFlagNoStreetNumber, "no_street_number", "no civic number was found"},
    {kFlagNoStreet, "no_street", "no street name was found"},
    {kFlagRangeAssumed, "range_assumed", "a number pair such as 1630-1670 read as a civic range"},
    {kFlagUnitAssumed, "unit_assumed", "a unit taken without a designator (5-123, #5)"},
    {kFlagDirectionAmbiguous, "direction_ambiguous",
     "a direction word that might belong to the name"},
    {kFlagUnknownWords, "unknown_words", "words the rules could not place (see unplaced_words)"},
    {kFlagStreetTypeAssumed, "street_type_assumed",
     "the street type was chosen among several candidates"},
    {kFlagPostalCodeInvalid, "postal_code_invalid",
     "a postal code (A9A 9A9) with a letter Canada Post never uses"},
    {kFlagPostalCodeProvince, "postal_code_province",
     "the postal code's first letter belongs to another province"},
    {kFlagMunicipalityUnknown, "municipality_unknown",
     "the municipality is not in the gazetteer for that province"},
    {kFlagNoProvince, "no_province", "a municipality or postal code, but no province"},
};
static_assert(std::size(kDiagnosticFlags) == std::bit_width(kAllDiagnosticFlags));

}  // namespace

std::span<const FieldInfo> Fields() noexcept { return kFields; }

int FieldIndex(std::string_view name) noexcept {
  for (size_t i = 0; i < std::size(kFields); ++i) {
    if (name == kFields[i].name) return static_cast<int>(i);
  }
  return -1;
}

std::string& AddressParts::Field(size_t index) { return this->*kFieldMembers[index]; }
const std::string& AddressParts::Field(size_t index) const { return this->*kFieldMembers[index]; }

std::span<const char* const> ProfileNames() noexcept { return kProfileNames; }

const char* ProfileName(Profile profile) noexcept {
  const auto index = static_cast<size_t>(profile);
  return index < std::size(kProfileNames) ? kProfileNames[index] : "";
}

const std::string& ProfileChoices() {
  static const std::string choices = [] {
    std::string text;
    const size_t n = std::size(kProfileNames);
    for (size_t i = 0; i < n; ++i) {
      if (i > 0) text += i + 1 == n ? " or " : ", ";
      text += kProfileNames[i];
    }
    return text;
  }();
  return choices;
}

std::span<const FlagInfo> DiagnosticFlags() noexcept { return kDiagnosticFlags; }

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
  for (size_t i = 0; i < std::size(kProfileNames); ++i) {
    if (same(kProfileNames[i])) {
      if (profile != nullptr) *profile = static_cast<Profile>(i);
      return true;
    }
  }
  return false;
}

std::string DiagnosticFlagNames(uint32_t flags) {
  static constexpr auto kNames = [] {
    std::array<const char*, std::size(kDiagnosticFlags)> names{};
    for (size_t i = 0; i < names.size(); ++i) names[i] = kDiagnosticFlags[i].name;
    return names;
  }();
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
// When `whole` is not null, the fields that the segment table does not hold
// (those after unit: a whole address's po_box ... postal_code) are emptied
// and, with the kCanada profile, filled there.
// With `whole_words` not null (and the kCanada profile), also where the
// words of those fields stand in the text as tokenised (emptied by the
// caller first).
// With `map` not null and the kSpecified profile, also where each unit of
// the text as tokenised came from in `address` (the canada profile leaves
// it as it is).
void ParseInto(DatabaseSession& session, const ParseOptions& options, std::string_view address,
               std::u16string& text, SegmentTable& table, Diagnostics* diagnostics,
               AddressParts* whole = nullptr,
               internal::WordPositions (*whole_words)[internal::kWholeFieldCount] = nullptr,
               internal::SourceMap* map = nullptr) {
  session.DropConnectionOnError([&] {
    // Emptied here, within the work, which is made again from the start
    // when the file changes during it.
    if (whole != nullptr) {
      for (size_t f = ZARN_FIELD_UNIT + 1; f < kFieldCount; ++f) whole->Field(f).clear();
    }
    if (whole_words != nullptr) {
      for (internal::WordPositions& w : *whole_words) w.clear();
    }
    if (diagnostics != nullptr) {
      diagnostics->flags = 0;
      diagnostics->unplaced_words.clear();
    }
    if (options.profile == Profile::kCanada) {
      internal::Utf8ToUtf16(address, text);
      internal::AnalyzeAddressCanada(text, table, session, diagnostics, whole, whole_words);
    } else if (map != nullptr) {
      internal::AnalyzeAddressUtf8(address, text, table, session, *map);
    } else {
      internal::AnalyzeAddressUtf8(address, text, table, session);
    }
  });
}

// The five street-line parts, which the segment table holds, one segment
// kind each. The fields after unit are ParseInto's (emptied there first, so
// that a result reused by ParseBatch keeps nothing of an earlier address).
void ReadParts(ThreadScratch& scratch, AddressParts& parts) {
  std::string* out[] = {nullptr,     &parts.street_type, &parts.street, &parts.street_number,
                        &parts.unit, &parts.direction};
  static_assert(kStreetType == 1 && kStreet == 2 && kStreetNumber == 3 && kUnit == 4 &&
                kDirection == 5);
  internal::ReadFivePartsUtf8(scratch.table, out);
}

// The same, also giving the segment each was read from (0 for none; for
// the street, its first word), by kind.
void ReadParts(ThreadScratch& scratch, AddressParts& parts,
               int (&first)[internal::kKindDirection + 1]) {
  std::string* out[] = {nullptr,     &parts.street_type, &parts.street, &parts.street_number,
                        &parts.unit, &parts.direction};
  internal::ReadFivePartsUtf8(scratch.table, out, first);
}

// The segment kind each street-line field (ZARN_FIELD_STREET_NUMBER ..
// ZARN_FIELD_UNIT) is read from.
constexpr int kStreetLineKinds[] = {internal::kKindStreetNumber, internal::kKindStreet,
                                    internal::kKindStreetType, internal::kKindDirection,
                                    internal::kKindUnit};
static_assert(ZARN_FIELD_STREET_NUMBER == 0 && ZARN_FIELD_STREET == 1 &&
              ZARN_FIELD_STREET_TYPE == 2 && ZARN_FIELD_DIRECTION == 3 && ZARN_FIELD_UNIT == 4 &&
              ZARN_FIELD_PO_BOX == 5 &&
              ZARN_FIELD_UNIT + 1 + internal::kWholeFieldCount == ZARN_FIELD_POSTAL_CODE + 1);

// Merges the spans [from, to) where they have only spaces between them (or
// overlap, as a word joined to another one does), sorting them first when
// they are not yet in order. Called with two of them or more; returns the
// end of those kept.
Span* MergeSpans(std::string_view address, Span* from, Span* to) {
  bool sorted = true;
  for (const Span* s = from + 1; s != to; ++s) sorted = sorted && s[-1].start <= s->start;
  if (!sorted) std::sort(from, to, [](const Span& a, const Span& b) { return a.start < b.start; });
  Span* last = from;
  for (const Span* s = from + 1; s != to; ++s) {
    uint32_t k = last->end;
    while (k < s->start && address[k] == ' ') ++k;
    if (k >= s->start) {
      last->end = std::max(last->end, s->end);
    } else {
      *++last = *s;
    }
  }
  return last + 1;
}

// Where each non-empty part of `parts` came from in `address`: the words of
// the finished table (for the street line: the first segment of each kind,
// `first_of` as ReadFivePartsUtf8 found them, and every street word) and
// those of the whole-address fields, mapped back through the clean-up. `map` holds the
// map of the text as tokenised already when `mapped`. The spans are written
// field after field.
void FillSpans(std::string_view address, Profile profile, const SegmentTable& table,
               const internal::WordPositions (&whole_words)[internal::kWholeFieldCount],
               const AddressParts& parts, const int (&first_of)[internal::kKindDirection + 1],
               bool mapped, internal::SourceMap& map, AddressSpans& spans) {
  const bool canada = profile == Profile::kCanada;
  if (!mapped) {
    internal::MapTokenisedText(
        address, canada ? internal::CleanUp::kCanada : internal::CleanUp::kSpecified, map);
  }
  const int count = table.Count();
  std::vector<Span>& all = spans.all;
  all.clear();
  // Adds the span of the tokenised positions first..last (as Segment holds
  // them), when they are a word of the text. The map is read through a copy
  // of its fields, which adding a span cannot change.
  const internal::SourceMap::View view = map.Viewed();
  auto put = [address, view, &all](int first, int last) {
    uint32_t from = 0;
    uint32_t to = 0;
    if (view.Bytes(address, first, last, &from, &to)) all.push_back(Span{from, to});
  };
  // The street's words (from its first on) go straight in, after the
  // street number's (written once found).
  const bool number = !parts.street_number.empty();
  if (number) all.emplace_back();
  if (!parts.street.empty()) {
    for (int i = first_of[internal::kKindStreet]; i != 0 && i <= count; ++i) {
      const internal::Segment& s = table[i];
      if (s.type == internal::kKindStreet) put(s.start, s.end);
    }
  }
  size_t street_from = number ? 1 : 0;
  if (number) {
    const int at = first_of[internal::kKindStreetNumber];
    if (at == 0 ||
        !view.Bytes(address, table[at].start, table[at].end, &all[0].start, &all[0].end)) {
      all.erase(all.begin());  // none after all
      street_from = 0;
    }
  }
  spans.first[ZARN_FIELD_STREET_NUMBER] = 0;
  spans.first[ZARN_FIELD_STREET] = static_cast<uint32_t>(street_from);
  if (all.size() - street_from > 1) {
    Span* const from = all.data() + street_from;
    all.resize(
        static_cast<size_t>(MergeSpans(address, from, all.data() + all.size()) - all.data()));
  }
  // The other three, in the order of the fields.
  spans.first[ZARN_FIELD_STREET_TYPE] = static_cast<uint32_t>(all.size());
  if (const int at = first_of[internal::kKindStreetType]; at != 0 && !parts.street_type.empty()) {
    put(table[at].start, table[at].end);
  }
  spans.first[ZARN_FIELD_DIRECTION] = static_cast<uint32_t>(all.size());
  if (const int at = first_of[internal::kKindDirection]; at != 0 && !parts.direction.empty()) {
    put(table[at].start, table[at].end);
  }
  spans.first[ZARN_FIELD_UNIT] = static_cast<uint32_t>(all.size());
  if (const int at = first_of[internal::kKindUnit]; at != 0 && !parts.unit.empty()) {
    put(table[at].start, table[at].end);
  }
  constexpr size_t kWhole = ZARN_FIELD_UNIT + 1;
  if (canada) {
    for (size_t f = kWhole; f < kFieldCount; ++f) {
      spans.first[f] = static_cast<uint32_t>(all.size());
      const auto& words = whole_words[f - kWhole];
      if (words.empty() || parts.Field(f).empty()) continue;
      const size_t from = all.size();
      for (const auto& [first, last] : words) put(first, last);
      if (all.size() - from > 1) {
        all.resize(static_cast<size_t>(
            MergeSpans(address, all.data() + from, all.data() + all.size()) - all.data()));
      }
    }
    spans.first[kFieldCount] = static_cast<uint32_t>(all.size());
  } else {
    // No whole-address fields: each starts and ends where the unit ends.
    std::fill(spans.first.begin() + kWhole, spans.first.end(), static_cast<uint32_t>(all.size()));
  }
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
    : db_(std::make_shared<detail::ReferenceDatabase>(
          std::move(database_path),
          options.keep_file_open ? internal::DbPolicy::kCached : internal::DbPolicy::kOpenPerPass)),
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

namespace {
template <bool kSpans>
void ParseBatchInto(detail::ReferenceDatabase& db, const ParseOptions& options,
                    std::span<const std::string_view> addresses, std::span<BatchResult> out);
}  // namespace

void ZarnAddress::ParseBatch(std::span<const std::string_view> addresses,
                             std::span<BatchResult> out) const {
  ParseBatchInto<false>(*db_, options_, addresses, out);
}

namespace {

// The batch: each address parsed into its result, with where its parts came
// from when kSpans asks (else no spans). Two functions, so that a batch
// that does not ask runs none of that code.
template <bool kSpans>
void ParseBatchInto(detail::ReferenceDatabase& db, const ParseOptions& options,
                    std::span<const std::string_view> addresses, std::span<BatchResult> out) {
  constexpr bool spans = kSpans;
  const size_t n = std::min(addresses.size(), out.size());
  // A batch of one is a single call (ParseResultOf, the C interface).
  DatabaseSession session(db,
                          n == 1 ? DatabaseSession::Use::kOneCall : DatabaseSession::Use::kBatch);
  ZARN_THREAD_SCRATCH ThreadScratch scratch;
  ZARN_THREAD_SCRATCH internal::WordPositions whole_words[internal::kWholeFieldCount];
  ZARN_THREAD_SCRATCH internal::SourceMap map;
  for (size_t i = 0; i < n; ++i) {
    BatchResult& r = out[i];
    int number = 0;
    try {
      Diagnostics* diagnostics = nullptr;
      if (options.profile != Profile::kSpecified) {
        r.diagnostics.flags = 0;
        r.diagnostics.unplaced_words.clear();
        diagnostics = &r.diagnostics;
      } else if (!r.diagnostics.empty()) {
        r.diagnostics = Diagnostics{};
      }
      internal::WordPositions(*words)[internal::kWholeFieldCount] = nullptr;
      internal::SourceMap* tokenised = nullptr;  // the specified profile maps while cutting
      if constexpr (spans) {
        // Only the canada profile fills them.
        if (options.profile == Profile::kCanada) {
          words = &whole_words;
        } else {
          tokenised = &map;
        }
      }
      ParseInto(session, options, addresses[i], scratch.text, scratch.table, diagnostics, &r.parts,
                words, tokenised);
      if constexpr (spans) {
        int first_of[internal::kKindDirection + 1];
        ReadParts(scratch, r.parts, first_of);
        if (!r.spans) r.spans.emplace();
        FillSpans(addresses[i], options.profile, scratch.table, whole_words, r.parts, first_of,
                  tokenised != nullptr, map, *r.spans);
      } else {
        ReadParts(scratch, r.parts);
        if (r.spans) r.spans.reset();
      }
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
    for (size_t f = 0; f < kFieldCount; ++f) r.parts.Field(f).clear();
    r.diagnostics.flags = 0;
    r.diagnostics.unplaced_words.clear();
    r.spans.reset();
  }
}

}  // namespace

void ZarnAddress::ParseBatch(std::span<const std::string_view> addresses,
                             std::span<ParseResult> out, const OutputOptions& options) const {
  if (options.spans) {
    ParseBatchInto<true>(*db_, options_, addresses, out);
  } else {
    ParseBatchInto<false>(*db_, options_, addresses, out);
  }
  const size_t n = std::min(addresses.size(), out.size());
  if (!options.standard) {
    for (size_t i = 0; i < n; ++i) out[i].standard.reset();
    return;
  }
  std::vector<StandardResult> forms;
  try {
    forms.resize(n);
  } catch (const std::bad_alloc&) {
    for (size_t i = 0; i < n; ++i) {
      out[i].standard.reset();
      if (out[i].ok()) {
        out[i].error_number = kErrorOutOfMemory;
        out[i].error_message.clear();
        out[i].spans.reset();
      }
    }
    return;
  }
  StandardizeBatch(out.first(n), options.language, forms, addresses.first(n));
  for (size_t i = 0; i < n; ++i) {
    ParseResult& r = out[i];
    if (!r.ok()) {
      r.standard.reset();
    } else if (forms[i].ok()) {
      r.standard = std::move(forms[i].standard);
    } else {
      // Parsed, but the standard form failed (a database without the
      // symbols): the result carries that error and no parts.
      r.standard.reset();
      r.error_number = forms[i].error_number;
      r.error_message = std::move(forms[i].error_message);
      for (size_t f = 0; f < kFieldCount; ++f) r.parts.Field(f).clear();
      r.diagnostics = Diagnostics{};
      r.spans.reset();
    }
  }
}

ParseResult ZarnAddress::ParseResultOf(std::string_view address,
                                       const OutputOptions& options) const {
  ParseResult result;
  ParseBatch(std::span<const std::string_view>(&address, 1), std::span<ParseResult>(&result, 1),
             options);
  return result;
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
