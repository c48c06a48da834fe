// ZarnAddressParser: splits a one-line Canadian street address, English or
// French, into civic number, street name, street type, direction and unit.
//
//   zarn::ZarnAddress parser;                 // the bundled reference database
//   zarn::AddressParts p = parser.Parse("123 Main St. N");
//   // p.street_number == "123", p.street == "Main", p.street_type == "Street",
//   // p.direction == "N", p.unit == ""
//
// Text: every address and every answer is UTF-8. An address that is not valid
// UTF-8 is an error (number kErrorInvalidArgument), never silently repaired.
//
// Errors: a failing call throws zarn::Error, which carries an error number and
// a message. The numbers are either the parser's own (the kError* constants
// below) or the extended result code of the SQLite engine that reads the
// reference database; the message then names the file and what failed.
// A failed call changes nothing: the next call parses afresh.
//
// Thread safety: a ZarnAddress may be shared by any number of threads; every
// const method may be called concurrently. Each call owns its parse state, and
// connections to the reference database are never used by two threads at once.
//
// The reference database is opened read-only and never written. Every call
// checks that the file is still there and still the same: a file that was
// deleted, replaced or edited since the previous call is seen by the next one.
#ifndef ZARN_ZARN_HPP_
#define ZARN_ZARN_HPP_

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "zarn/fields.h"

namespace zarn {

// Segment kinds: the values accepted by AddressSegment().
enum SegmentKind : int {
  kNone = 0,
  kStreetType = 1,
  kStreet = 2,
  kStreetNumber = 3,
  kUnit = 4,
  kDirection = 5,
  kDash = 6,
};

// Error numbers raised by the parser itself. Every other number is a SQLite
// extended result code (for example 14, SQLITE_CANTOPEN, for a missing file,
// or 5, SQLITE_BUSY, when a writer holds the file locked too long). The
// parser's own numbers never collide with a code SQLite can give here; out of
// memory is 7 either way.
inline constexpr int kErrorInvalidArgument = 3001;  // address is not valid UTF-8
inline constexpr int kErrorOverflow = 6;            // address longer than 32,767 UTF-16 units
inline constexpr int kErrorSubscriptOutOfRange = 9;
inline constexpr int kErrorInvalidUseOfNull = 94;  // a required database value is Null
inline constexpr int kErrorOutOfMemory = 7;

// True for errors that belong to the address itself or to a value read for
// it (bad text, too long, a Null where a value is needed): the same address
// fails the same way again, while other addresses may parse. False for
// failures of the reference database or of memory.
constexpr bool IsAddressError(int number) noexcept {
  return number == kErrorInvalidArgument || number == kErrorOverflow ||
         number == kErrorSubscriptOutOfRange || number == kErrorInvalidUseOfNull;
}

// The longest address (after clean-up) that can be parsed, in UTF-16 code
// units. Characters outside the Basic Multilingual Plane count twice.
inline constexpr int kMaxAddressUnits = 32767;

class Error : public std::runtime_error {
 public:
  Error(int number, const std::string& message);
  int Number() const noexcept { return number_; }

 private:
  int number_;
};

// Rule profiles. kSpecified is the parser's documented rule set and the
// default everywhere; its answers never change. kCanada is an opt-in rule set
// tuned for real Canadian addresses as people type them (any letter case,
// more unit designators, French generics before the name, hyphenated names,
// civic number suffixes and ranges, highways and routes), and it also reports
// how sure it is (Diagnostics). Both read the same reference database.
enum class Profile : int {
  kSpecified = 0,
  kCanada = 1,
};

// Every profile's name, indexed by its number: {"specified", "canada"}.
std::span<const char* const> ProfileNames() noexcept;
// "specified" or "canada".
const char* ProfileName(Profile profile) noexcept;
// The profile with the name `name` ("specified", "canada"; ASCII letter case
// ignored), or false when there is none.
bool ProfileFromName(std::string_view name, Profile* profile) noexcept;
// The names for a message about a name that is none of them: "specified or
// canada".
const std::string& ProfileChoices();

// How a ZarnAddress parses. The default is the specified rules.
struct ParseOptions {
  Profile profile = Profile::kSpecified;
  // True (the default): connections to the file stay open between calls,
  // with their look-ups memoised (and checked against the file on every
  // call). False: every call opens the file and closes it again and nothing
  // is kept; slower, but the file is never held open between calls (on
  // Windows, where an open file cannot be replaced, the COM component
  // parses this way).
  bool keep_file_open = true;
};

// Diagnostic flags: what a parse with the kCanada profile was unsure of.
// The specified rules report none.
enum DiagnosticFlag : uint32_t {
  kFlagNoStreetType = 1u << 0,        // no street-type word was found
  kFlagNoStreetNumber = 1u << 1,      // no civic number was found
  kFlagNoStreet = 1u << 2,            // no street name was found
  kFlagRangeAssumed = 1u << 3,        // "1630-1670" read as a civic range
  kFlagUnitAssumed = 1u << 4,         // a unit taken without a designator ("5-123", "#5")
  kFlagDirectionAmbiguous = 1u << 5,  // a direction word that might belong to the name
  kFlagUnknownWords = 1u << 6,        // words the rules could not place (see unplaced_words)
  kFlagStreetTypeAssumed = 1u << 7,   // the street type was chosen among several candidates
  // Whole addresses (municipality, province and postal code after the street
  // or delivery line):
  kFlagPostalCodeInvalid = 1u << 8,     // A9A 9A9 with a letter Canada Post never uses
  kFlagPostalCodeProvince = 1u << 9,    // its first letter belongs to another province
  kFlagMunicipalityUnknown = 1u << 10,  // not in the gazetteer for that province
  kFlagNoProvince = 1u << 11,           // a municipality or postal code, but no province
};
inline constexpr uint32_t kAllDiagnosticFlags = (1u << 12) - 1;

// One diagnostic flag: its bit, its name in every interface, what it means.
struct FlagInfo {
  uint32_t bit;
  const char* name;     // "no_street_type"
  const char* meaning;  // "no street-type word was found"
};
// Every diagnostic flag, in bit order: the one list the names come from.
std::span<const FlagInfo> DiagnosticFlags() noexcept;

// The flags as names joined by commas, in bit order ("no_street_type,
// range_assumed"); "" for none. Unknown bits are left out.
std::string DiagnosticFlagNames(uint32_t flags);

// What a parse could not settle. Empty (no flags, no words) for the
// specified rules and for a clean parse.
struct Diagnostics {
  uint32_t flags = 0;
  // Words of the address that the rules could not place, as typed.
  std::vector<std::string> unplaced_words;

  bool empty() const noexcept { return flags == 0 && unplaced_words.empty(); }
  friend bool operator==(const Diagnostics&, const Diagnostics&) = default;
};

// One output field of a parse (a row of ZARN_FIELDS in zarn/fields.h).
struct FieldInfo {
  const char* name;     // "street_number": the name in every interface
  const char* meaning;  // one line saying what it holds
  uint32_t profiles;    // ZARN_FILLED_BY_* bits: the profiles that fill it
  bool FilledBy(Profile profile) const noexcept {
    return ((profiles >> static_cast<int>(profile)) & 1u) != 0;
  }
};
// The number of output fields; field i is AddressParts::Field(i).
inline constexpr size_t kFieldCount = ZARN_FIELD_COUNT_;
// Every output field, in order (index = ZARN_FIELD_*).
std::span<const FieldInfo> Fields() noexcept;
// The index of the field named `name` (exact, case-sensitive), or -1.
int FieldIndex(std::string_view name) noexcept;

// The parts of one address, one member per output field (street_number,
// street, street_type, direction, unit: the street line; then po_box,
// rural_route, general_delivery, station, municipality, province,
// postal_code: a whole address, filled by the kCanada profile only; in that
// order; see zarn/fields.h). Every member has an initialiser, so that
// callers may list only the first five.
struct AddressParts {
#define ZARN_FIELD_MEMBER_(id, name, profiles, meaning) std::string name = {};
  ZARN_FIELDS(ZARN_FIELD_MEMBER_)
#undef ZARN_FIELD_MEMBER_

  // Field `index` (ZARN_FIELD_*, below kFieldCount).
  std::string& Field(size_t index);
  const std::string& Field(size_t index) const;

  friend bool operator==(const AddressParts&, const AddressParts&) = default;
};

// The language of an address's standard form. kDetect takes it from the
// parts where they show it (see ZarnAddress::Standardize), else English.
enum class Language : int {
  kEnglish = 0,
  kFrench = 1,
  kDetect = 2,
};

// "en", "fr" or "detect".
const char* LanguageName(Language language) noexcept;
// The language named `name` ("en"/"english", "fr"/"french", "detect"; ASCII
// letter case ignored), or false when there is none.
bool LanguageFromName(std::string_view name, Language* language) noexcept;

// What the standard form could not write the Canada Post way.
enum StandardFlag : uint32_t {
  // The street type has no symbol in the StreetTypeSymbol table: it is
  // written in full, upper case.
  kStandardTypeWithoutSymbol = 1u << 0,
  // The street type has a symbol only in the other language, which is used.
  kStandardTypeOtherLanguage = 1u << 1,
  // The direction is not one of the eight directions: written upper case.
  kStandardDirectionUnknown = 1u << 2,
};
inline constexpr uint32_t kAllStandardFlags = (1u << 3) - 1;

// The flags as names joined by commas, in bit order ("type_without_symbol");
// "" for none.
std::string StandardFlagNames(uint32_t flags);

// An address written in Canada Post's standard form: upper case, no
// punctuation but hyphens, the street type as its symbol, the direction as
// its symbol in the address's language, and the unit before the civic
// number with a hyphen. English puts the type after the name
// ("123 MAIN ST N"), French before it ("5-123 RUE SAINT-DENIS O").
struct StandardAddress {
  std::string line;                        // the whole street line
  std::string street_number;               // "123", "123A"
  std::string street;                      // the name, upper case, accents and hyphens kept
  std::string street_type;                 // the symbol: "ST", "AVE", "RUE", "BOUL"
  std::string direction;                   // "N", "SW", "O", "NO"
  std::string unit;                        // "5"
  Language language = Language::kEnglish;  // kEnglish or kFrench, as written
  uint32_t flags = 0;                      // StandardFlag bits
  // A whole address (the seven parts the kCanada profile fills), empty
  // without them. The delivery line: the PO box, rural route or general
  // delivery, then the station ("PO BOX 4001 STN A", "CP 123 SUCC
  // BUREAU-CHEF", "RR 2 STN MAIN", "GD STN MAIN", "PR SUCC A"). The last
  // line: municipality, province and postal code, one space between the
  // first two and two before the code ("WINNIPEG MB  R3C 1A1").
  std::string delivery_line = {};
  std::string last_line = {};

  friend bool operator==(const StandardAddress&, const StandardAddress&) = default;
};

// Where a part came from: the bytes [start, end) of the address exactly as
// the caller gave it (UTF-8, before any clean-up).
struct Span {
  uint32_t start = 0;
  uint32_t end = 0;

  friend bool operator==(const Span&, const Span&) = default;
};

// Where each part of a parse came from in the address as given: for each
// output field (index ZARN_FIELD_*, as AddressParts::Field), the spans of
// the words its value was made from, in the order they stand in the
// address. Each word counts from its first to its last character kept by
// the clean-up: punctuation dropped at its edges is left out ("St." gives
// "St"), kept inside it ("l'Église", "Saint-Denis"). Words of one field
// with only spaces between them make one span ("Saint Denis": one span;
// "Main, Suite": two). A field with an empty value has none.
// A part the rules rewrote points at the words it came from: a street type
// written as its delivery form ("St" for Street), a direction ("Ouest" for
// O), a civic number and unit cut from "5-123" (each at its own
// characters; so is a unit cut from "Apt5" by the canada profile, while the
// specified rules point at the whole word "Apt5"), a civic range joined
// from "1630 - 1670" (one span over all three words). The whole-address fields of the canada
// profile point at their words as typed: po_box, rural_route and
// general_delivery at their whole delivery form, designator included
// ("PO Box 4001"), station at its symbol and name, municipality, province
// ("Québec", "ON") and postal_code ("M5W 1A1") at theirs. A part that the
// reference database's alternate addresses replaced points at the words it
// replaced; one the database adds where the address had none has no span.
struct AddressSpans {
  // The spans of every field, field after field: those of field f are
  // all[first[f]] up to, not including, all[first[f + 1]].
  std::vector<Span> all;
  std::array<uint32_t, kFieldCount + 1> first{};

  // The spans of field `index` (ZARN_FIELD_*, below kFieldCount).
  std::span<const Span> Field(size_t index) const {
    return std::span<const Span>(all).subspan(first[index], first[index + 1] - first[index]);
  }

  friend bool operator==(const AddressSpans&, const AddressSpans&) = default;
};

// Everything one parse answers: the parts, or the error that the
// single-address call would have thrown (error_number 0 means success), the
// diagnostics, and the standard form when it was asked for.
struct ParseResult {
  AddressParts parts;
  int error_number = 0;
  std::string error_message;
  // Filled by the kCanada profile; always empty for the specified rules.
  Diagnostics diagnostics;
  // With OutputOptions::standard, for a parse that succeeded.
  std::optional<StandardAddress> standard;
  // With OutputOptions::spans, for a parse that succeeded: where each part
  // came from in the address.
  std::optional<AddressSpans> spans;

  bool ok() const noexcept { return error_number == 0; }
  friend bool operator==(const ParseResult&, const ParseResult&) = default;
};
// The answers of ParseBatch() are ParseResults.
using BatchResult = ParseResult;

// What a ParseResult carries beyond the parts, and what an encoder of it
// writes (zarn/encode.hpp).
struct OutputOptions {
  bool diagnostics = false;  // flags and unplaced words
  bool standard = false;     // the standard form, in `language`
  bool spans = false;        // where each part came from (ParseResult::spans)
  Language language = Language::kDetect;
  // The profile the results come from: an encoder (zarn/encode.hpp) writes
  // only the fields that profile fills, and with kCanada the standard form's
  // delivery and last lines as well.
  Profile profile = Profile::kSpecified;
};

// One answer of StandardizeBatch(): error_number 0 means success.
struct StandardResult {
  StandardAddress standard;
  int error_number = 0;
  std::string error_message;

  bool ok() const noexcept { return error_number == 0; }
};

// The reference database a parser uses when given none, found at run time:
// $ZARN_DATABASE when set and not empty; else, in a program built through
// the installed CMake package (find_package(zarn)), the database of that
// installed copy; else the bundled qordatavb.DAT of the copy in use, found
// from where the library's code was loaded (the
// program, or the shared object that holds the library: a Python module, the
// SQLite extension) as share/zarn/qordatavb.DAT under that directory's
// parent or up to three levels further up, or as data/qordatavb.DAT beside
// it (a pip install); else the path the library was configured to install
// it at. Every interface uses it, so an installed copy finds its own
// database wherever it was installed.
std::string ReferenceDatabasePath();

namespace detail {
class ReferenceDatabase;
struct Access;
}  // namespace detail

class ZarnAddress {
 public:
  // Uses ReferenceDatabasePath(). The file is not opened until the first call.
  ZarnAddress();
  // Uses the reference database at `database_path`.
  explicit ZarnAddress(std::string database_path);
  // Either database, parsing with `options` (for example the kCanada profile).
  explicit ZarnAddress(ParseOptions options);
  ZarnAddress(std::string database_path, ParseOptions options);
  ~ZarnAddress();

  ZarnAddress(const ZarnAddress&);  // shares the database connections
  ZarnAddress& operator=(const ZarnAddress&);
  ZarnAddress(ZarnAddress&&) noexcept;
  ZarnAddress& operator=(ZarnAddress&&) noexcept;

  // The text of the first segment of kind `segment_type` (see SegmentKind);
  // for kStreet, every later street word joined with single spaces. A kind
  // that the address does not hold, or a value outside 0..6, gives "".
  std::string AddressSegment(std::string_view address, int segment_type) const;

  std::string Street(std::string_view address) const;
  std::string StreetType(std::string_view address) const;
  std::string StreetNumber(std::string_view address) const;
  std::string Direction(std::string_view address) const;
  std::string Unit(std::string_view address) const;

  // Parses once and returns every part: the same answers as the five
  // single-part methods, for a fifth of the work.
  AddressParts Parse(std::string_view address) const;
  // The same, also filling `*diagnostics` (when not null) with what the
  // parse could not settle; it is emptied first.
  AddressParts Parse(std::string_view address, Diagnostics* diagnostics) const;

  // Parses many addresses against one view of the reference database, checked
  // once for the whole batch. Never throws: an address that fails gets the
  // error the single-address call would have thrown in its own result, and
  // when the database cannot be used every result carries that error.
  std::vector<BatchResult> ParseBatch(std::span<const std::string_view> addresses) const;
  // The same, writing into `out` (out.size() must equal addresses.size()) so
  // that a caller can reuse its result storage between batches.
  void ParseBatch(std::span<const std::string_view> addresses, std::span<BatchResult> out) const;
  // The same with the diagnostics and the standard form as `options` ask
  // (the kCanada profile fills the diagnostics whatever they ask). Never
  // throws; a standard form that fails gives the result its error.
  void ParseBatch(std::span<const std::string_view> addresses, std::span<ParseResult> out,
                  const OutputOptions& options) const;
  // One address, with everything `options` ask for; never throws but for
  // lack of memory: an error is in the result.
  ParseResult ParseResultOf(std::string_view address, const OutputOptions& options = {}) const;

  // The parts written in Canada Post's standard form, with the street-type
  // symbols of the reference database's StreetTypeSymbol table (checked
  // like every other call). The parts are those of Parse(), or any the
  // caller fills in (UTF-8; the street type as a delivery form such as
  // "Avenue", or a form the alternate street types know, such as "Ave").
  // kDetect writes English when the street type has only an English symbol,
  // French when the parts show it: a street type that has only a French
  // symbol (rue, chemin, montée), a French direction (O, NO, SO, Ouest...),
  // a French ordinal name (52e), a French particle in the name (de, du, des,
  // de la, d', l'), or a street type with symbols in both languages typed in
  // lower case (avenue, boulevard); otherwise English. Throws zarn::Error: invalid
  // UTF-8 (kErrorInvalidArgument), a database without the StreetTypeSymbol
  // table (an SQLite error naming the table), a Null symbol
  // (kErrorInvalidUseOfNull).
  StandardAddress Standardize(const AddressParts& parts,
                              Language language = Language::kDetect) const;
  // The same, with the address the parts were parsed from as a further clue
  // for kDetect, since the parts no longer show how it was typed: French
  // when its first word after the civic number is the street type (French
  // puts it before the name: "12725, boul. Rodolphe-Forget") or it holds a
  // French direction word in full (Ouest, Nord-Est). Text that is not valid
  // UTF-8 is no clue and no error.
  StandardAddress Standardize(const AddressParts& parts, Language language,
                              std::string_view address) const;
  // The same for every successful result of a batch, against one check of
  // the database; never throws. A result that had failed gets its error
  // again and an empty form. out.size() must equal parsed.size();
  // `addresses` (empty, or one per result) are the parsed addresses.
  void StandardizeBatch(std::span<const BatchResult> parsed, Language language,
                        std::span<StandardResult> out,
                        std::span<const std::string_view> addresses = {}) const;

  const std::string& DatabasePath() const noexcept;
  const ParseOptions& Options() const noexcept { return options_; }

 private:
  friend struct detail::Access;
  std::shared_ptr<detail::ReferenceDatabase> db_;
  ParseOptions options_;
};

// The library version, "MAJOR.MINOR.PATCH".
const char* Version() noexcept;

}  // namespace zarn

#endif  // ZARN_ZARN_HPP_
