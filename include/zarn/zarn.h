/* ZarnAddressParser C API: splits a one-line Canadian street address into
 * civic number, street name, street type, direction and unit. Plain C99, for
 * C programs and for any language with a C foreign-function interface.
 *
 *   zarn_parser* parser = NULL;
 *   zarn_error err;
 *   if (zarn_open(NULL, &parser, &err) != ZARN_OK) { ... err.message ... }
 *   char street[256];
 *   size_t needed;
 *   zarn_status s = zarn_street(parser, "123 Main St. N", 14, street,
 *                               sizeof street, &needed, &err);
 *   // s == ZARN_OK, street == "Main"
 *   zarn_close(parser);
 *
 * Text: an address is a pointer plus a length in bytes of UTF-8 text; it need
 * not be NUL-terminated and may hold NUL bytes. A NULL address pointer is the
 * empty string, whatever the length. Text that is not valid UTF-8 fails with
 * error number ZARN_ERROR_INVALID_ARGUMENT; it is never silently repaired.
 *
 * Answers: written into buffers that the caller owns, always NUL-terminated
 * UTF-8. `*needed` (when `needed` is not NULL) receives the buffer size the
 * answer needs, in bytes, counting the terminating NUL; the answer is
 * `*needed - 1` bytes long (it holds a NUL byte only where the address
 * did). When the buffer is
 * smaller the call returns ZARN_BUFFER_TOO_SMALL and writes an empty string
 * (if the buffer has room for one); call again with a buffer of `*needed`
 * bytes. A NULL buffer with size 0 asks for the size only.
 *
 * Errors: every function reports failure through its return value, never by
 * aborting or by letting a C++ exception out. When `error` is not NULL it
 * receives the error number (0 on success) and a NUL-terminated message.
 * The numbers are the parser's own (ZARN_ERROR_* below) or the extended
 * result code of the SQLite engine that reads the reference database (for
 * example 14, SQLITE_CANTOPEN, when the file is missing). A failed call
 * changes nothing: the next call parses afresh.
 *
 * Ownership: a zarn_parser is created by zarn_open and destroyed by
 * zarn_close; a zarn_batch is created by zarn_parse_batch and destroyed by
 * zarn_batch_free. Nothing else returned by this API needs freeing.
 *
 * Thread safety: one zarn_parser may be used by any number of threads at
 * once, for every function that takes it as `const zarn_parser*`. zarn_close
 * must not run while another thread still uses the parser. A zarn_batch may
 * be read by several threads at once; zarn_batch_free must not race with
 * them. zarn_error and output buffers belong to the caller: do not share one
 * between threads that call at the same time.
 *
 * Reference database: opened read-only and never written. zarn_open does not
 * touch the file; each call checks that it is still there and still the same,
 * so a missing or unreadable file is reported by the first call that needs
 * it, and a replaced file is seen by the next call.
 */
#ifndef ZARN_ZARN_H_
#define ZARN_ZARN_H_

#include <stddef.h>

#include "zarn/fields.h"

#ifdef __cplusplus
extern "C" {
#endif

/* The opaque parser handle. */
typedef struct zarn_parser zarn_parser;
/* The answers of zarn_parse_batch, owned by the library until freed. */
typedef struct zarn_batch zarn_batch;

typedef enum zarn_status {
  ZARN_OK = 0,
  /* The parser reported an error: see error->number and error->message. */
  ZARN_FAILED = 1,
  /* The answer did not fit: *needed holds the buffer size it needs. */
  ZARN_BUFFER_TOO_SMALL = 2,
  /* The call itself was wrong: a NULL handle, a NULL required pointer, a
   * NULL buffer with a non-zero size, or a batch index out of range. */
  ZARN_MISUSE = 3
} zarn_status;

/* Segment kinds accepted by zarn_address_segment. */
#define ZARN_KIND_NONE 0
#define ZARN_KIND_STREET_TYPE 1
#define ZARN_KIND_STREET 2
#define ZARN_KIND_STREET_NUMBER 3
#define ZARN_KIND_UNIT 4
#define ZARN_KIND_DIRECTION 5
#define ZARN_KIND_DASH 6

/* Error numbers of the parser itself. Any other number is an SQLite extended
 * result code. */
#define ZARN_ERROR_INVALID_ARGUMENT 3001 /* invalid UTF-8, or a misused call */
#define ZARN_ERROR_OVERFLOW 6            /* address longer than 32,767 UTF-16 units */
#define ZARN_ERROR_OUT_OF_MEMORY 7
#define ZARN_ERROR_SUBSCRIPT_OUT_OF_RANGE 9 /* also: batch index out of range */
#define ZARN_ERROR_INTERNAL 51              /* an unexpected failure inside the library */
#define ZARN_ERROR_INVALID_USE_OF_NULL 94   /* a required database value is Null */

/* Room for the message, NUL included; longer messages are cut at a character
 * boundary. */
#define ZARN_ERROR_MESSAGE_SIZE 512

typedef struct zarn_error {
  int number;                            /* 0 on success */
  char message[ZARN_ERROR_MESSAGE_SIZE]; /* "" on success */
} zarn_error;

/* A piece of answer text: `data` is NUL-terminated, `size` excludes the NUL. */
typedef struct zarn_text {
  const char* data;
  size_t size;
} zarn_text;

/* The five classic parts of one address, as the five single-part calls give
 * them. This struct never grows, so that programs built against it keep
 * working: read every output field, the ones added since included, from a
 * zarn_result (zarn_parse_result) by index or name. */
typedef struct zarn_parts {
  zarn_text street_number;
  zarn_text street;
  zarn_text street_type;
  zarn_text direction;
  zarn_text unit;
} zarn_parts;

/* Rule profiles, by name, for zarn_open_profile: "specified" (the default,
 * the parser's documented rules) and "canada" (opt-in rules tuned for real
 * Canadian addresses, which also report diagnostics). */
#define ZARN_PROFILE_SPECIFIED "specified"
#define ZARN_PROFILE_CANADA "canada"

/* The profiles the library has, and the name of profile `index` (a static
 * string; NULL for an index out of range). */
size_t zarn_profile_count(void);
const char* zarn_profile_name(size_t index);

/* Diagnostic flags (zarn_diagnostics.flags): what a parse with the "canada"
 * profile was unsure of. The specified rules report none. */
#define ZARN_FLAG_NO_STREET_TYPE 0x01u
#define ZARN_FLAG_NO_STREET_NUMBER 0x02u
#define ZARN_FLAG_NO_STREET 0x04u
#define ZARN_FLAG_RANGE_ASSUMED 0x08u
#define ZARN_FLAG_UNIT_ASSUMED 0x10u
#define ZARN_FLAG_DIRECTION_AMBIGUOUS 0x20u
#define ZARN_FLAG_UNKNOWN_WORDS 0x40u
#define ZARN_FLAG_STREET_TYPE_ASSUMED 0x80u
#define ZARN_FLAG_POSTAL_CODE_INVALID 0x100u
#define ZARN_FLAG_POSTAL_CODE_PROVINCE 0x200u
#define ZARN_FLAG_MUNICIPALITY_UNKNOWN 0x400u
#define ZARN_FLAG_NO_PROVINCE 0x800u

/* What one parse could not settle: the flags, and the words the rules could
 * not place, as typed, separated by single spaces ("" for none). */
typedef struct zarn_diagnostics {
  unsigned flags;
  zarn_text unplaced_words;
} zarn_diagnostics;

/* The library version, "MAJOR.MINOR.PATCH". A static string. */
const char* zarn_version(void);

/* Writes the path of the reference database that zarn_open(NULL, ...) uses,
 * found at run time: $ZARN_DATABASE when set, else the bundled database of
 * the installed copy in use, found from where the library's code was loaded
 * (see zarn::ReferenceDatabasePath in zarn.hpp). */
zarn_status zarn_reference_database_path(char* out, size_t out_size, size_t* needed,
                                         zarn_error* error);

/* Creates a parser on the reference database at `database_path` (a
 * NUL-terminated UTF-8 path), or on the bundled one when it is NULL. On
 * success *parser receives the handle, to be released with zarn_close; on
 * failure *parser is set to NULL. */
zarn_status zarn_open(const char* database_path, zarn_parser** parser, zarn_error* error);

/* As zarn_open, parsing with the rule profile named `profile`
 * (ZARN_PROFILE_SPECIFIED or ZARN_PROFILE_CANADA; NULL is the specified
 * rules). An unknown name fails with ZARN_MISUSE and
 * ZARN_ERROR_INVALID_ARGUMENT. */
zarn_status zarn_open_profile(const char* database_path, const char* profile, zarn_parser** parser,
                              zarn_error* error);

/* The name of the parser's profile, a static string; NULL for NULL. */
const char* zarn_parser_profile(const zarn_parser* parser);

/* Writes the names of the set flags joined by commas, in bit order
 * ("no_street_type,range_assumed"; "" for none), like the other answers. */
zarn_status zarn_flag_names(unsigned flags, char* out, size_t out_size, size_t* needed);

/* Destroys a parser. NULL is allowed and does nothing. */
void zarn_close(zarn_parser* parser);

/* The database path the parser was opened on, owned by the parser. NULL when
 * `parser` is NULL. */
const char* zarn_database_path(const zarn_parser* parser);

/* The text of the first segment of kind `kind` (ZARN_KIND_*); for
 * ZARN_KIND_STREET, every later street word joined with single spaces. A kind
 * that the address does not hold, or a value outside 0..6, gives "". */
zarn_status zarn_address_segment(const zarn_parser* parser, const char* address,
                                 size_t address_size, int kind, char* out, size_t out_size,
                                 size_t* needed, zarn_error* error);

/* The single parts, each the same as zarn_address_segment with its kind. */
zarn_status zarn_street(const zarn_parser* parser, const char* address, size_t address_size,
                        char* out, size_t out_size, size_t* needed, zarn_error* error);
zarn_status zarn_street_type(const zarn_parser* parser, const char* address, size_t address_size,
                             char* out, size_t out_size, size_t* needed, zarn_error* error);
zarn_status zarn_street_number(const zarn_parser* parser, const char* address, size_t address_size,
                               char* out, size_t out_size, size_t* needed, zarn_error* error);
zarn_status zarn_direction(const zarn_parser* parser, const char* address, size_t address_size,
                           char* out, size_t out_size, size_t* needed, zarn_error* error);
zarn_status zarn_unit(const zarn_parser* parser, const char* address, size_t address_size,
                      char* out, size_t out_size, size_t* needed, zarn_error* error);

/* Parses once and gives all five parts. The five answers are written one
 * after the other, each NUL-terminated, into `buffer`; on ZARN_OK the
 * pointers in *parts point into it. `*needed` is the size of all five
 * together. On any other status every part of *parts is the empty string
 * (a static "", not in the buffer). */
zarn_status zarn_parse(const zarn_parser* parser, const char* address, size_t address_size,
                       char* buffer, size_t buffer_size, size_t* needed, zarn_parts* parts,
                       zarn_error* error);

/* As zarn_parse, and also fills *diagnostics (when not NULL). The unplaced
 * words are written into `buffer` after the five parts and counted in
 * `*needed`. On any status but ZARN_OK, *diagnostics is empty. */
zarn_status zarn_parse_diagnostics(const zarn_parser* parser, const char* address,
                                   size_t address_size, char* buffer, size_t buffer_size,
                                   size_t* needed, zarn_parts* parts, zarn_diagnostics* diagnostics,
                                   zarn_error* error);

/* Parses `count` addresses against one view of the reference database.
 * `addresses[i]` has `sizes[i]` bytes; when `sizes` is NULL every address is
 * NUL-terminated. A NULL `addresses[i]` is the empty string. On ZARN_OK
 * *batch receives the answers, even when some addresses failed: read each
 * one with zarn_batch_get and free them with zarn_batch_free. A failure of
 * the whole call (misuse, or no memory for the answers) sets *batch to NULL. */
zarn_status zarn_parse_batch(const zarn_parser* parser, const char* const* addresses,
                             const size_t* sizes, size_t count, zarn_batch** batch,
                             zarn_error* error);

/* The number of answers in a batch (0 for NULL). */
size_t zarn_batch_count(const zarn_batch* batch);

/* The answer for address `index`: ZARN_OK and its parts (pointing into the
 * batch, valid until zarn_batch_free), or ZARN_FAILED and the error that
 * zarn_parse would have reported for that address, with every part "". */
zarn_status zarn_batch_get(const zarn_batch* batch, size_t index, zarn_parts* parts,
                           zarn_error* error);

/* The diagnostics of address `index` (pointing into the batch, valid until
 * zarn_batch_free); empty for a failed address and for the specified rules.
 * ZARN_MISUSE for a NULL batch or pointer or an index out of range. */
zarn_status zarn_batch_get_diagnostics(const zarn_batch* batch, size_t index,
                                       zarn_diagnostics* diagnostics);

/* Frees a batch. NULL is allowed and does nothing. */
void zarn_batch_free(zarn_batch* batch);

/* Languages of the standard form (zarn_standardize). DETECT takes it from
 * the parts where they show it (a street type with only a French symbol, a
 * French direction, a French particle such as de, du, des, d', l' in the
 * name, a bilingual type typed in lower case), else English. */
#define ZARN_LANGUAGE_ENGLISH 0
#define ZARN_LANGUAGE_FRENCH 1
#define ZARN_LANGUAGE_DETECT 2

/* Flags of a standard form (zarn_standard.flags). */
#define ZARN_STANDARD_TYPE_WITHOUT_SYMBOL 0x01u /* no symbol: type written in full */
#define ZARN_STANDARD_TYPE_OTHER_LANGUAGE 0x02u /* the other language's symbol used */
#define ZARN_STANDARD_DIRECTION_UNKNOWN 0x04u   /* not one of the eight directions */

/* An address in Canada Post's standard form: the street line ("5-123 RUE
 * SAINT-DENIS O", "123 MAIN ST N") and its standardised parts, upper case;
 * `language` is ZARN_LANGUAGE_ENGLISH or ZARN_LANGUAGE_FRENCH as written. */
typedef struct zarn_standard {
  zarn_text line;
  zarn_text street_number;
  zarn_text street;
  zarn_text street_type; /* the symbol: "ST", "AVE", "RUE", "BOUL" */
  zarn_text direction;   /* "N", "SW", "O", "NO" */
  zarn_text unit;
  int language;
  unsigned flags;
} zarn_standard;

/* Writes `parts` (UTF-8; a NULL data pointer is the empty string, sizes
 * are taken from `size`) in the standard form, with the street-type symbols
 * of the parser's reference database (table StreetTypeSymbol). `language`
 * is one of ZARN_LANGUAGE_*; anything else is ZARN_MISUSE. The six texts
 * are written one after the other, each NUL-terminated, into `buffer`, as
 * zarn_parse does, and on ZARN_OK the texts of *standard point into it. A
 * database without the StreetTypeSymbol table fails (ZARN_FAILED, an SQLite
 * error number, the message names the table). On any status but ZARN_OK
 * every text of *standard is "". */
zarn_status zarn_standardize(const zarn_parser* parser, const zarn_parts* parts, int language,
                             char* buffer, size_t buffer_size, size_t* needed,
                             zarn_standard* standard, zarn_error* error);

/* Parses `address` and writes its parts in the standard form: zarn_parse
 * followed by zarn_standardize, with the same buffer rules. */
zarn_status zarn_parse_standard(const zarn_parser* parser, const char* address, size_t address_size,
                                int language, char* buffer, size_t buffer_size, size_t* needed,
                                zarn_standard* standard, zarn_error* error);

/* Writes the names of the set standard-form flags joined by commas
 * ("type_without_symbol"; "" for none), like the other answers. */
zarn_status zarn_standard_flag_names(unsigned flags, char* out, size_t out_size, size_t* needed);

/* Output fields (zarn/fields.h), read by index: 0 .. zarn_field_count() - 1.
 * An index never changes meaning; later versions only add fields. */
size_t zarn_field_count(void);
/* The field's name ("street_number") and one line saying what it holds;
 * static strings, NULL for an index out of range. */
const char* zarn_field_name(size_t index);
const char* zarn_field_meaning(size_t index);
/* ZARN_FILLED_BY_* bits: the profiles that fill the field (0 out of range). */
unsigned zarn_field_profiles(size_t index);
/* The index of the field named `name`, or -1. */
int zarn_field_index(const char* name);

/* One parse's whole answer, owned by the library until zarn_result_free:
 * every output field, the diagnostics and, when asked for, the standard
 * form. Unlike zarn_parts it grows with the library. */
typedef struct zarn_result zarn_result;

/* Options of zarn_parse_result, or-ed. */
#define ZARN_RESULT_DIAGNOSTICS 0x1u /* the JSON of zarn_result_json has "diagnostics" */
#define ZARN_RESULT_STANDARD 0x2u    /* also write the standard form (language: detect) */

/* Parses `address` (as zarn_parse). On ZARN_OK *result receives the answer,
 * to be freed with zarn_result_free; on any other status *result is NULL
 * and `error` says why (an address that fails is ZARN_FAILED, as in
 * zarn_parse). Unknown option bits are ZARN_MISUSE. */
zarn_status zarn_parse_result(const zarn_parser* parser, const char* address, size_t address_size,
                              unsigned options, zarn_result** result, zarn_error* error);

/* The number of fields of a result (zarn_field_count() of the library that
 * made it; 0 for NULL). */
size_t zarn_result_field_count(const zarn_result* result);
/* Field `index` of the result, pointing into it (valid until
 * zarn_result_free); "" for a NULL result or an index out of range. */
zarn_text zarn_result_field(const zarn_result* result, size_t index);
/* The field named `name`; "" when there is none. */
zarn_text zarn_result_field_by_name(const zarn_result* result, const char* name);
/* The diagnostics (flags and unplaced words); empty for the specified
 * rules. ZARN_MISUSE for a NULL pointer. */
zarn_status zarn_result_diagnostics(const zarn_result* result, zarn_diagnostics* diagnostics);
/* The standard form, when the result was made with ZARN_RESULT_STANDARD;
 * else ZARN_MISUSE and every text "". */
zarn_status zarn_result_standard(const zarn_result* result, zarn_standard* standard);
/* The result as one JSON object (zarn/encode.hpp: every field, "error",
 * "diagnostics" with ZARN_RESULT_DIAGNOSTICS, "standard" with
 * ZARN_RESULT_STANDARD), written like the other answers. */
zarn_status zarn_result_json(const zarn_result* result, char* out, size_t out_size, size_t* needed);
/* Frees a result. NULL is allowed and does nothing. */
void zarn_result_free(zarn_result* result);

#ifdef __cplusplus
} /* extern "C" */
#endif

#endif /* ZARN_ZARN_H_ */
