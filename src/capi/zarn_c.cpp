// The C API: a thin layer over zarn::ZarnAddress. Every entry point catches
// every exception and turns it into a status code plus an error number and
// message, so that nothing C++ ever crosses into the caller's frames.
#include <algorithm>
#include <cstring>
#include <exception>
#include <new>
#include <string>
#include <string_view>
#include <vector>

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

struct zarn_batch {
  std::vector<zarn::BatchResult> results;
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
  if (parser == nullptr) return Misuse(error, "zarn: the handle pointer is NULL");
  *parser = nullptr;
  return Guard(error, [&] {
    std::string path =
        database_path == nullptr ? zarn::ReferenceDatabasePath() : std::string(database_path);
    *parser = new zarn_parser{zarn::ZarnAddress(std::move(path))};
    ClearError(error);
    return ZARN_OK;
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
  if (needed != nullptr) *needed = 0;
  EmptyParts(parts);
  if (parser == nullptr) return Misuse(error, "zarn: the parser handle is NULL");
  if (parts == nullptr) return Misuse(error, "zarn: the parts pointer is NULL");
  if (buffer == nullptr && buffer_size > 0) return Misuse(error, "zarn: the buffer is NULL");
  if (buffer_size > 0) buffer[0] = '\0';
  return Guard(error, [&] {
    const zarn::AddressParts p = parser->parser.Parse(AddressView(address, address_size));
    ClearError(error);
    const std::string* fields[] = {&p.street_number, &p.street, &p.street_type, &p.direction,
                                   &p.unit};
    size_t total = 0;
    for (const std::string* f : fields) total += f->size() + 1;
    if (needed != nullptr) *needed = total;
    if (buffer_size < total) return ZARN_BUFFER_TOO_SMALL;
    zarn_text* slots[] = {&parts->street_number, &parts->street, &parts->street_type,
                          &parts->direction, &parts->unit};
    char* at = buffer;
    for (size_t i = 0; i < 5; ++i) {
      std::memcpy(at, fields[i]->data(), fields[i]->size());
      at[fields[i]->size()] = '\0';
      *slots[i] = zarn_text{at, fields[i]->size()};
      at += fields[i]->size() + 1;
    }
    return ZARN_OK;
  });
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
  *parts = zarn_parts{TextOf(r.parts.street_number), TextOf(r.parts.street),
                      TextOf(r.parts.street_type), TextOf(r.parts.direction), TextOf(r.parts.unit)};
  ClearError(error);
  return ZARN_OK;
}

void zarn_batch_free(zarn_batch* batch) { delete batch; }

}  // extern "C"
