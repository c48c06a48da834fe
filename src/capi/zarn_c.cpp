// The C API: a thin layer over zarn::ZarnAddress. Every entry point catches
// every exception and turns it into a status code plus an error number and
// message, so that nothing C++ ever crosses into the caller's frames.
#include <algorithm>
#include <cstring>
#include <exception>
#include <memory>
#include <new>
#include <string>
#include <string_view>
#include <vector>

#include "zarn/encode.hpp"
#include "zarn/zarn.h"
#include "zarn/zarn.hpp"

static_assert(ZARN_KIND_NONE == zarn::kNone && ZARN_KIND_STREET_TYPE == zarn::kStreetType &&
              ZARN_KIND_STREET == zarn::kStreet && ZARN_KIND_STREET_NUMBER == zarn::kStreetNumber &&
              ZARN_KIND_UNIT == zarn::kUnit && ZARN_KIND_DIRECTION == zarn::kDirection &&
              ZARN_KIND_DASH == zarn::kDash);
static_assert(ZARN_ERROR_INVALID_ARGUMENT == zarn::kErrorInvalidArgument &&
              ZARN_ERROR_OVERFLOW == zarn::kErrorOverflow &&
              ZARN_ERROR_OUT_OF_MEMORY == zarn::kErrorOutOfMemory &&
              ZARN_ERROR_SUBSCRIPT_OUT_OF_RANGE == zarn::kErrorSubscriptOutOfRange &&
              ZARN_ERROR_INVALID_USE_OF_NULL == zarn::kErrorInvalidUseOfNull);

struct zarn_parser {
  zarn::ZarnAddress parser;
};

static_assert(ZARN_FLAG_NO_STREET_TYPE == zarn::kFlagNoStreetType &&
              ZARN_FLAG_NO_STREET_NUMBER == zarn::kFlagNoStreetNumber &&
              ZARN_FLAG_NO_STREET == zarn::kFlagNoStreet &&
              ZARN_FLAG_RANGE_ASSUMED == zarn::kFlagRangeAssumed &&
              ZARN_FLAG_UNIT_ASSUMED == zarn::kFlagUnitAssumed &&
              ZARN_FLAG_DIRECTION_AMBIGUOUS == zarn::kFlagDirectionAmbiguous &&
              ZARN_FLAG_UNKNOWN_WORDS == zarn::kFlagUnknownWords &&
              ZARN_FLAG_STREET_TYPE_ASSUMED == zarn::kFlagStreetTypeAssumed &&
              ZARN_FLAG_POSTAL_CODE_INVALID == zarn::kFlagPostalCodeInvalid &&
              ZARN_FLAG_POSTAL_CODE_PROVINCE == zarn::kFlagPostalCodeProvince &&
              ZARN_FLAG_MUNICIPALITY_UNKNOWN == zarn::kFlagMunicipalityUnknown &&
              ZARN_FLAG_NO_PROVINCE == zarn::kFlagNoProvince);

static_assert(ZARN_LANGUAGE_ENGLISH == static_cast<int>(zarn::Language::kEnglish) &&
              ZARN_LANGUAGE_FRENCH == static_cast<int>(zarn::Language::kFrench) &&
              ZARN_LANGUAGE_DETECT == static_cast<int>(zarn::Language::kDetect));
static_assert(ZARN_STANDARD_TYPE_WITHOUT_SYMBOL == zarn::kStandardTypeWithoutSymbol &&
              ZARN_STANDARD_TYPE_OTHER_LANGUAGE == zarn::kStandardTypeOtherLanguage &&
              ZARN_STANDARD_DIRECTION_UNKNOWN == zarn::kStandardDirectionUnknown);

struct zarn_result {
  zarn::ParseResult result;
  zarn::OutputOptions options;
  std::string unplaced;  // the unplaced words joined by spaces
};

struct zarn_batch {
  std::vector<zarn::BatchResult> results;
  // The unplaced words of each result joined by spaces; empty (no entry per
  // result) when no result has any.
  std::vector<std::string> unplaced;
};

namespace {

constexpr char kEmpty[] = "";

// Copies `message` into the fixed error buffer, cutting it before a UTF-8
// continuation byte so that a long message stays valid text.
void SetError(zarn_error* error, int number, std::string_view message) noexcept {
  if (error == nullptr) return;
  error->number = number;
  size_t n = std::min(message.size(), sizeof(error->message) - 1);
  if (n < message.size()) {
    while (n > 0 && (static_cast<unsigned char>(message[n]) & 0xC0) == 0x80) --n;
  }
  std::memcpy(error->message, message.data(), n);
  error->message[n] = '\0';
}

void ClearError(zarn_error* error) noexcept {
  if (error == nullptr) return;
  error->number = 0;
  error->message[0] = '\0';
}

zarn_status Misuse(zarn_error* error, std::string_view message,
                   int number = ZARN_ERROR_INVALID_ARGUMENT) noexcept {
  SetError(error, number, message);
  return ZARN_MISUSE;
}

// Runs `body`, which returns a zarn_status, and reports any exception it
// throws as ZARN_FAILED.
template <typename Body>
zarn_status Guard(zarn_error* error, Body body) noexcept {
  try {
    return body();
  } catch (const zarn::Error& e) {
    SetError(error, e.Number(), e.what());
  } catch (const std::bad_alloc&) {
    SetError(error, ZARN_ERROR_OUT_OF_MEMORY, "Out of memory");
  } catch (const std::exception& e) {
    SetError(error, ZARN_ERROR_INTERNAL, e.what());
  } catch (...) {
    SetError(error, ZARN_ERROR_INTERNAL, "Unknown internal error");
  }
  return ZARN_FAILED;
}

std::string_view AddressView(const char* address, size_t size) {
  return address == nullptr ? std::string_view() : std::string_view(address, size);
}

// Writes `answer` and its NUL into `out` when it fits.
zarn_status WriteAnswer(std::string_view answer, char* out, size_t out_size, size_t* needed) {
  const size_t want = answer.size() + 1;
  if (needed != nullptr) *needed = want;
  if (out_size < want) {
    if (out_size > 0) out[0] = '\0';
    return ZARN_BUFFER_TOO_SMALL;
  }
  std::memcpy(out, answer.data(), answer.size());
  out[answer.size()] = '\0';
  return ZARN_OK;
}

void EmptyParts(zarn_parts* parts) noexcept {
  if (parts == nullptr) return;
  const zarn_text empty{kEmpty, 0};
  *parts = zarn_parts{empty, empty, empty, empty, empty};
}

zarn_text TextOf(const std::string& s) { return zarn_text{s.c_str(), s.size()}; }

std::string JoinWords(const std::vector<std::string>& words) {
  std::string out;
  for (const std::string& w : words) {
    if (!out.empty()) out += ' ';
    out += w;
  }
  return out;
}

void EmptyDiagnostics(zarn_diagnostics* diagnostics) noexcept {
  if (diagnostics == nullptr) return;
  diagnostics->flags = 0;
  diagnostics->unplaced_words = zarn_text{kEmpty, 0};
}

// zarn_parse and zarn_parse_diagnostics: the five parts, then (when
// `diagnostics` is not null) the unplaced words, one after the other in
// `buffer`.
zarn_status ParseParts(const zarn_parser* parser, const char* address, size_t address_size,
                       char* buffer, size_t buffer_size, size_t* needed, zarn_parts* parts,
                       zarn_diagnostics* diagnostics, zarn_error* error) noexcept {
  if (needed != nullptr) *needed = 0;
  EmptyParts(parts);
  EmptyDiagnostics(diagnostics);
  if (parser == nullptr) return Misuse(error, "zarn: the parser handle is NULL");
  if (parts == nullptr) return Misuse(error, "zarn: the parts pointer is NULL");
  if (buffer == nullptr && buffer_size > 0) return Misuse(error, "zarn: the buffer is NULL");
  if (buffer_size > 0) buffer[0] = '\0';
  return Guard(error, [&] {
    zarn::Diagnostics found;
    const zarn::AddressParts p = parser->parser.Parse(AddressView(address, address_size),
                                                      diagnostics != nullptr ? &found : nullptr);
    ClearError(error);
    const std::string unplaced = JoinWords(found.unplaced_words);
    const std::string* fields[] = {&p.street_number, &p.street, &p.street_type,
                                   &p.direction,     &p.unit,   &unplaced};
    const size_t count = diagnostics != nullptr ? 6 : 5;
    size_t total = 0;
    for (size_t i = 0; i < count; ++i) total += fields[i]->size() + 1;
    if (needed != nullptr) *needed = total;
    if (buffer_size < total) return ZARN_BUFFER_TOO_SMALL;
    zarn_text words{kEmpty, 0};
    zarn_text* slots[] = {&parts->street_number, &parts->street, &parts->street_type,
                          &parts->direction,     &parts->unit,   &words};
    char* at = buffer;
    for (size_t i = 0; i < count; ++i) {
      std::memcpy(at, fields[i]->data(), fields[i]->size());
      at[fields[i]->size()] = '\0';
      *slots[i] = zarn_text{at, fields[i]->size()};
      at += fields[i]->size() + 1;
    }
    if (diagnostics != nullptr) {
      diagnostics->flags = found.flags;
      diagnostics->unplaced_words = words;
    }
    return ZARN_OK;
  });
}

void EmptyStandard(zarn_standard* standard) noexcept {
  if (standard == nullptr) return;
  const zarn_text empty{kEmpty, 0};
  *standard = zarn_standard{empty, empty, empty, empty, empty, empty, ZARN_LANGUAGE_ENGLISH, 0};
}

std::string TextOfPart(const zarn_text& text) {
  return text.data == nullptr ? std::string() : std::string(text.data, text.size);
}

// zarn_standardize and zarn_parse_standard: `make` gives the standard form;
// its six texts are written one after the other into `buffer`.
template <typename Make>
zarn_status WriteStandard(const zarn_parser* parser, int language, char* buffer, size_t buffer_size,
                          size_t* needed, zarn_standard* standard, zarn_error* error,
                          Make make) noexcept {
  if (needed != nullptr) *needed = 0;
  EmptyStandard(standard);
  if (parser == nullptr) return Misuse(error, "zarn: the parser handle is NULL");
  if (standard == nullptr) return Misuse(error, "zarn: the standard pointer is NULL");
  if (buffer == nullptr && buffer_size > 0) return Misuse(error, "zarn: the buffer is NULL");
  if (language != ZARN_LANGUAGE_ENGLISH && language != ZARN_LANGUAGE_FRENCH &&
      language != ZARN_LANGUAGE_DETECT) {
    return Misuse(error, "zarn: unknown language (use ZARN_LANGUAGE_ENGLISH, _FRENCH or _DETECT)");
  }
  if (buffer_size > 0) buffer[0] = '\0';
  return Guard(error, [&] {
    const zarn::StandardAddress form = make(static_cast<zarn::Language>(language));
    ClearError(error);
    const std::string* fields[] = {&form.line,        &form.street_number, &form.street,
                                   &form.street_type, &form.direction,     &form.unit};
    size_t total = 0;
    for (const std::string* f : fields) total += f->size() + 1;
    if (needed != nullptr) *needed = total;
    if (buffer_size < total) return ZARN_BUFFER_TOO_SMALL;
    zarn_text* slots[] = {&standard->line,        &standard->street_number, &standard->street,
                          &standard->street_type, &standard->direction,     &standard->unit};
    char* at = buffer;
    for (size_t i = 0; i < std::size(fields); ++i) {
      std::memcpy(at, fields[i]->data(), fields[i]->size());
      at[fields[i]->size()] = '\0';
      *slots[i] = zarn_text{at, fields[i]->size()};
      at += fields[i]->size() + 1;
    }
    standard->language = static_cast<int>(form.language);
    standard->flags = form.flags;
    return ZARN_OK;
  });
}

zarn_status Segment(const zarn_parser* parser, const char* address, size_t address_size, int kind,
                    char* out, size_t out_size, size_t* needed, zarn_error* error) noexcept {
  if (needed != nullptr) *needed = 0;
  if (parser == nullptr) return Misuse(error, "zarn: the parser handle is NULL");
  if (out == nullptr && out_size > 0) return Misuse(error, "zarn: the output buffer is NULL");
  if (out_size > 0) out[0] = '\0';
  return Guard(error, [&] {
    const std::string answer =
        parser->parser.AddressSegment(AddressView(address, address_size), kind);
    ClearError(error);
    return WriteAnswer(answer, out, out_size, needed);
  });
}

}  // namespace

extern "C" {

const char* zarn_version(void) { return zarn::Version(); }

zarn_status zarn_reference_database_path(char* out, size_t out_size, size_t* needed,
                                         zarn_error* error) {
  if (needed != nullptr) *needed = 0;
  if (out == nullptr && out_size > 0) return Misuse(error, "zarn: the output buffer is NULL");
  return Guard(error, [&] {
    const std::string path = zarn::ReferenceDatabasePath();
    ClearError(error);
    return WriteAnswer(path, out, out_size, needed);
  });
}

zarn_status zarn_open(const char* database_path, zarn_parser** parser, zarn_error* error) {
  return zarn_open_profile(database_path, nullptr, parser, error);
}

zarn_status zarn_open_profile(const char* database_path, const char* profile, zarn_parser** parser,
                              zarn_error* error) {
  if (parser == nullptr) return Misuse(error, "zarn: the handle pointer is NULL");
  *parser = nullptr;
  zarn::ParseOptions options;
  if (profile != nullptr && !zarn::ProfileFromName(profile, &options.profile)) {
    return Misuse(error, "zarn: unknown profile (use " + zarn::ProfileChoices() + ")");
  }
  return Guard(error, [&] {
    std::string path =
        database_path == nullptr ? zarn::ReferenceDatabasePath() : std::string(database_path);
    *parser = new zarn_parser{zarn::ZarnAddress(std::move(path), options)};
    ClearError(error);
    return ZARN_OK;
  });
}

const char* zarn_parser_profile(const zarn_parser* parser) {
  return parser == nullptr ? nullptr : zarn::ProfileName(parser->parser.Options().profile);
}

zarn_status zarn_flag_names(unsigned flags, char* out, size_t out_size, size_t* needed) {
  if (needed != nullptr) *needed = 0;
  if (out == nullptr && out_size > 0) return ZARN_MISUSE;
  return Guard(nullptr, [&] {
    return WriteAnswer(zarn::DiagnosticFlagNames(flags), out, out_size, needed);
  });
}

void zarn_close(zarn_parser* parser) { delete parser; }

const char* zarn_database_path(const zarn_parser* parser) {
  return parser == nullptr ? nullptr : parser->parser.DatabasePath().c_str();
}

zarn_status zarn_address_segment(const zarn_parser* parser, const char* address,
                                 size_t address_size, int kind, char* out, size_t out_size,
                                 size_t* needed, zarn_error* error) {
  return Segment(parser, address, address_size, kind, out, out_size, needed, error);
}

zarn_status zarn_street(const zarn_parser* parser, const char* address, size_t address_size,
                        char* out, size_t out_size, size_t* needed, zarn_error* error) {
  return Segment(parser, address, address_size, ZARN_KIND_STREET, out, out_size, needed, error);
}

zarn_status zarn_street_type(const zarn_parser* parser, const char* address, size_t address_size,
                             char* out, size_t out_size, size_t* needed, zarn_error* error) {
  return Segment(parser, address, address_size, ZARN_KIND_STREET_TYPE, out, out_size, needed,
                 error);
}

zarn_status zarn_street_number(const zarn_parser* parser, const char* address, size_t address_size,
                               char* out, size_t out_size, size_t* needed, zarn_error* error) {
  return Segment(parser, address, address_size, ZARN_KIND_STREET_NUMBER, out, out_size, needed,
                 error);
}

zarn_status zarn_direction(const zarn_parser* parser, const char* address, size_t address_size,
                           char* out, size_t out_size, size_t* needed, zarn_error* error) {
  return Segment(parser, address, address_size, ZARN_KIND_DIRECTION, out, out_size, needed, error);
}

zarn_status zarn_unit(const zarn_parser* parser, const char* address, size_t address_size,
                      char* out, size_t out_size, size_t* needed, zarn_error* error) {
  return Segment(parser, address, address_size, ZARN_KIND_UNIT, out, out_size, needed, error);
}

zarn_status zarn_parse(const zarn_parser* parser, const char* address, size_t address_size,
                       char* buffer, size_t buffer_size, size_t* needed, zarn_parts* parts,
                       zarn_error* error) {
  return ParseParts(parser, address, address_size, buffer, buffer_size, needed, parts, nullptr,
                    error);
}

zarn_status zarn_parse_diagnostics(const zarn_parser* parser, const char* address,
                                   size_t address_size, char* buffer, size_t buffer_size,
                                   size_t* needed, zarn_parts* parts, zarn_diagnostics* diagnostics,
                                   zarn_error* error) {
  return ParseParts(parser, address, address_size, buffer, buffer_size, needed, parts, diagnostics,
                    error);
}

zarn_status zarn_parse_batch(const zarn_parser* parser, const char* const* addresses,
                             const size_t* sizes, size_t count, zarn_batch** batch,
                             zarn_error* error) {
  if (batch == nullptr) return Misuse(error, "zarn: the batch pointer is NULL");
  *batch = nullptr;
  if (parser == nullptr) return Misuse(error, "zarn: the parser handle is NULL");
  if (addresses == nullptr && count > 0) return Misuse(error, "zarn: the address array is NULL");
  return Guard(error, [&] {
    std::vector<std::string_view> views(count);
    for (size_t i = 0; i < count; ++i) {
      const char* a = addresses[i];
      if (a != nullptr)
        views[i] = sizes != nullptr ? std::string_view(a, sizes[i]) : std::string_view(a);
    }
    auto* result = new zarn_batch;
    try {
      result->results.resize(count);
      parser->parser.ParseBatch(views, result->results);
      for (size_t i = 0; i < count; ++i) {
        const std::vector<std::string>& words = result->results[i].diagnostics.unplaced_words;
        if (words.empty()) continue;
        result->unplaced.resize(count);
        result->unplaced[i] = JoinWords(words);
      }
    } catch (...) {
      delete result;
      throw;
    }
    *batch = result;
    ClearError(error);
    return ZARN_OK;
  });
}

size_t zarn_batch_count(const zarn_batch* batch) {
  return batch == nullptr ? 0 : batch->results.size();
}

zarn_status zarn_batch_get(const zarn_batch* batch, size_t index, zarn_parts* parts,
                           zarn_error* error) {
  EmptyParts(parts);
  if (batch == nullptr) return Misuse(error, "zarn: the batch is NULL");
  if (parts == nullptr) return Misuse(error, "zarn: the parts pointer is NULL");
  if (index >= batch->results.size()) {
    return Misuse(error, "zarn: batch index out of range", ZARN_ERROR_SUBSCRIPT_OUT_OF_RANGE);
  }
  const zarn::BatchResult& r = batch->results[index];
  if (!r.ok()) {
    SetError(error, r.error_number, r.error_message);
    return ZARN_FAILED;
  }
  // The five classic fields, which zarn_parts holds.
  *parts = zarn_parts{TextOf(r.parts.street_number), TextOf(r.parts.street),
                      TextOf(r.parts.street_type), TextOf(r.parts.direction), TextOf(r.parts.unit)};
  ClearError(error);
  return ZARN_OK;
}

zarn_status zarn_batch_get_diagnostics(const zarn_batch* batch, size_t index,
                                       zarn_diagnostics* diagnostics) {
  EmptyDiagnostics(diagnostics);
  if (batch == nullptr || diagnostics == nullptr || index >= batch->results.size()) {
    return ZARN_MISUSE;
  }
  diagnostics->flags = batch->results[index].diagnostics.flags;
  if (!batch->unplaced.empty()) diagnostics->unplaced_words = TextOf(batch->unplaced[index]);
  return ZARN_OK;
}

void zarn_batch_free(zarn_batch* batch) { delete batch; }

zarn_status zarn_standardize(const zarn_parser* parser, const zarn_parts* parts, int language,
                             char* buffer, size_t buffer_size, size_t* needed,
                             zarn_standard* standard, zarn_error* error) {
  if (parts == nullptr) {
    if (needed != nullptr) *needed = 0;
    EmptyStandard(standard);
    return Misuse(error, "zarn: the parts pointer is NULL");
  }
  return WriteStandard(
      parser, language, buffer, buffer_size, needed, standard, error, [&](zarn::Language lang) {
        const zarn::AddressParts p{TextOfPart(parts->street_number), TextOfPart(parts->street),
                                   TextOfPart(parts->street_type), TextOfPart(parts->direction),
                                   TextOfPart(parts->unit)};
        return parser->parser.Standardize(p, lang);
      });
}

zarn_status zarn_parse_standard(const zarn_parser* parser, const char* address, size_t address_size,
                                int language, char* buffer, size_t buffer_size, size_t* needed,
                                zarn_standard* standard, zarn_error* error) {
  return WriteStandard(parser, language, buffer, buffer_size, needed, standard, error,
                       [&](zarn::Language lang) {
                         const std::string_view text = AddressView(address, address_size);
                         return parser->parser.Standardize(parser->parser.Parse(text), lang, text);
                       });
}

size_t zarn_profile_count(void) { return zarn::ProfileNames().size(); }

const char* zarn_profile_name(size_t index) {
  const auto names = zarn::ProfileNames();
  return index < names.size() ? names[index] : nullptr;
}

size_t zarn_field_count(void) { return zarn::kFieldCount; }

const char* zarn_field_name(size_t index) {
  return index < zarn::kFieldCount ? zarn::Fields()[index].name : nullptr;
}

const char* zarn_field_meaning(size_t index) {
  return index < zarn::kFieldCount ? zarn::Fields()[index].meaning : nullptr;
}

unsigned zarn_field_profiles(size_t index) {
  return index < zarn::kFieldCount ? zarn::Fields()[index].profiles : 0u;
}

int zarn_field_index(const char* name) { return name == nullptr ? -1 : zarn::FieldIndex(name); }

zarn_status zarn_parse_result(const zarn_parser* parser, const char* address, size_t address_size,
                              unsigned options, zarn_result** result, zarn_error* error) {
  if (result == nullptr) return Misuse(error, "zarn: the result pointer is NULL");
  *result = nullptr;
  if (parser == nullptr) return Misuse(error, "zarn: the parser handle is NULL");
  if ((options & ~(ZARN_RESULT_DIAGNOSTICS | ZARN_RESULT_STANDARD)) != 0) {
    return Misuse(error, "zarn: unknown result options");
  }
  return Guard(error, [&] {
    auto made = std::make_unique<zarn_result>();
    made->options.diagnostics = (options & ZARN_RESULT_DIAGNOSTICS) != 0;
    made->options.standard = (options & ZARN_RESULT_STANDARD) != 0;
    made->options.profile = parser->parser.Options().profile;
    made->result = parser->parser.ParseResultOf(AddressView(address, address_size), made->options);
    if (!made->result.ok()) {
      SetError(error, made->result.error_number, made->result.error_message);
      return ZARN_FAILED;
    }
    made->unplaced = JoinWords(made->result.diagnostics.unplaced_words);
    *result = made.release();
    ClearError(error);
    return ZARN_OK;
  });
}

size_t zarn_result_field_count(const zarn_result* result) {
  return result == nullptr ? 0 : zarn::kFieldCount;
}

zarn_text zarn_result_field(const zarn_result* result, size_t index) {
  if (result == nullptr || index >= zarn::kFieldCount) return zarn_text{kEmpty, 0};
  return TextOf(result->result.parts.Field(index));
}

zarn_text zarn_result_field_by_name(const zarn_result* result, const char* name) {
  const int index = zarn_field_index(name);
  return index < 0 ? zarn_text{kEmpty, 0} : zarn_result_field(result, static_cast<size_t>(index));
}

zarn_status zarn_result_diagnostics(const zarn_result* result, zarn_diagnostics* diagnostics) {
  EmptyDiagnostics(diagnostics);
  if (result == nullptr || diagnostics == nullptr) return ZARN_MISUSE;
  diagnostics->flags = result->result.diagnostics.flags;
  diagnostics->unplaced_words = TextOf(result->unplaced);
  return ZARN_OK;
}

zarn_status zarn_result_standard(const zarn_result* result, zarn_standard* standard) {
  EmptyStandard(standard);
  if (result == nullptr || standard == nullptr || !result->result.standard) return ZARN_MISUSE;
  const zarn::StandardAddress& s = *result->result.standard;
  *standard = zarn_standard{TextOf(s.line),
                            TextOf(s.street_number),
                            TextOf(s.street),
                            TextOf(s.street_type),
                            TextOf(s.direction),
                            TextOf(s.unit),
                            static_cast<int>(s.language),
                            s.flags};
  return ZARN_OK;
}

zarn_status zarn_result_json(const zarn_result* result, char* out, size_t out_size,
                             size_t* needed) {
  if (needed != nullptr) *needed = 0;
  if (result == nullptr || (out == nullptr && out_size > 0)) return ZARN_MISUSE;
  return Guard(nullptr, [&] {
    std::string json;
    zarn::AppendResultJson(json, result->result, result->options);
    return WriteAnswer(json, out, out_size, needed);
  });
}

void zarn_result_free(zarn_result* result) { delete result; }

zarn_status zarn_standard_flag_names(unsigned flags, char* out, size_t out_size, size_t* needed) {
  if (needed != nullptr) *needed = 0;
  if (out == nullptr && out_size > 0) return ZARN_MISUSE;
  return Guard(nullptr,
               [&] { return WriteAnswer(zarn::StandardFlagNames(flags), out, out_size, needed); });
}

}  // extern "C"
