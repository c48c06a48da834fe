/*
 * PostgreSQL extension "zarn": the address parser as SQL functions.
 *
 * Written in C against the library's C API (zarn/zarn.h), which reports every
 * failure as a status code and never lets a C++ exception out. That keeps
 * C++ unwinding and PostgreSQL's longjmp-based ereport() apart: ereport() is
 * only ever called here, in C, after the library call has returned.
 *
 * Each backend (and each parallel worker, a process of its own) keeps one
 * parser per (database file, profile) that it has used. The library checks
 * the file on every call, so a replaced or edited database is seen at once.
 */
/* clang-format off */
/* postgres.h must come first. */
#include "postgres.h"

#include "catalog/pg_type.h"
#include "fmgr.h"
#include "funcapi.h"
#include "mb/pg_wchar.h"
#include "miscadmin.h"
#include "utils/builtins.h"
#include "utils/guc.h"
#include "utils/json.h"
#include "utils/jsonb.h"
/* clang-format on */

#include <string.h>
#include <zarn/zarn.h>

PG_MODULE_MAGIC;

void _PG_init(void);

PG_FUNCTION_INFO_V1(zarn_pg_parse);
PG_FUNCTION_INFO_V1(zarn_pg_parse_json);

/* The setting zarn.database and its boot value, the bundled file. */
static char* zarn_database_setting = NULL;
static char zarn_bundled_database[MAXPGPATH];

/* Parsers opened by this backend, most recently used first. A handful is
 * plenty: one per database and profile in use. */
#define ZARN_MAX_PARSERS 8
typedef struct ZarnCachedParser {
  char* database; /* malloc'd */
  char profile[16];
  zarn_parser* parser;
} ZarnCachedParser;
static ZarnCachedParser zarn_parsers[ZARN_MAX_PARSERS];
static int zarn_parser_count = 0;

/* Parts, in the order of the composite type zarn_parts. */
enum { kPartNumber = 0, kPartStreet, kPartType, kPartDirection, kPartUnit, kPartCount };
static const char* const zarn_part_names[kPartCount] = {"street_number", "street", "street_type",
                                                        "direction", "unit"};

void _PG_init(void) {
  char share_path[MAXPGPATH];
  get_share_path(my_exec_path, share_path);
  snprintf(zarn_bundled_database, sizeof zarn_bundled_database, "%s/zarn/qordatavb.DAT",
           share_path);
  /* Superuser only: the value names a file the server process opens. */
  DefineCustomStringVariable(
      "zarn.database", "Reference database file of the zarn address parser.",
      "Read on every call. The default is the database installed with the extension.",
      &zarn_database_setting, zarn_bundled_database, PGC_SUSET, 0, NULL, NULL, NULL);
  MarkGUCPrefixReserved("zarn");
}

/* The SQLSTATE for one of the library's error numbers. */
static int zarn_sqlstate(int number) {
  switch (number) {
    case ZARN_ERROR_INVALID_ARGUMENT: return ERRCODE_CHARACTER_NOT_IN_REPERTOIRE;
    case ZARN_ERROR_OVERFLOW: return ERRCODE_PROGRAM_LIMIT_EXCEEDED;
    case ZARN_ERROR_OUT_OF_MEMORY: return ERRCODE_OUT_OF_MEMORY;
    case ZARN_ERROR_INTERNAL: return ERRCODE_INTERNAL_ERROR;
    case ZARN_ERROR_INVALID_USE_OF_NULL:
    case ZARN_ERROR_SUBSCRIPT_OUT_OF_RANGE: return ERRCODE_DATA_CORRUPTED;
    default: break;
  }
  /* Otherwise an SQLite result code, possibly extended. */
  switch (number & 0xff) {
    case 14: /* SQLITE_CANTOPEN */ return ERRCODE_UNDEFINED_FILE;
    case 11: /* SQLITE_CORRUPT */
    case 26: /* SQLITE_NOTADB */
    case 1: /* SQLITE_ERROR: missing tables or columns */ return ERRCODE_DATA_CORRUPTED;
    case 5: /* SQLITE_BUSY */
    case 6: /* SQLITE_LOCKED */ return ERRCODE_LOCK_NOT_AVAILABLE;
    case 10: /* SQLITE_IOERR */
    case 3:  /* SQLITE_PERM */
    case 23: /* SQLITE_AUTH */ return ERRCODE_IO_ERROR;
    default: return ERRCODE_EXTERNAL_ROUTINE_EXCEPTION;
  }
}

static void zarn_report(const zarn_error* error) pg_attribute_noreturn();
static void zarn_report(const zarn_error* error) {
  ereport(ERROR,
          (errcode(zarn_sqlstate(error->number)),
           errmsg("zarn: %s", error->message[0] ? error->message : "parse failed"),
           errdetail("Error number %d.", error->number),
           error->number == ZARN_ERROR_OVERFLOW
               ? errhint("An address may hold at most 32,767 UTF-16 code units after clean-up.")
               : 0));
}

/* The parser for the current zarn.database and `profile`, opened on first use. */
static zarn_parser* zarn_get_parser(text* profile_text) {
  const char* database =
      zarn_database_setting && zarn_database_setting[0] ? zarn_database_setting : NULL;
  char profile[16];
  int size = VARSIZE_ANY_EXHDR(profile_text);
  int i;
  zarn_parser* parser = NULL;
  zarn_error error;

  if (database == NULL)
    ereport(ERROR,
            (errcode(ERRCODE_INVALID_PARAMETER_VALUE), errmsg("zarn: zarn.database is empty"),
             errhint("Set it to the path of a reference database, or RESET it.")));
  if (size <= 0 || size >= (int)sizeof profile ||
      memchr(VARDATA_ANY(profile_text), '\0', size) != NULL)
    size = -1;
  else {
    memcpy(profile, VARDATA_ANY(profile_text), size);
    profile[size] = '\0';
  }
  /* The library ignores ASCII case; the cache is keyed by the profile's own
   * name, so that every spelling shares one parser (and one memo). */
  if (size > 0 && pg_strcasecmp(profile, ZARN_PROFILE_SPECIFIED) == 0)
    strlcpy(profile, ZARN_PROFILE_SPECIFIED, sizeof profile);
  else if (size > 0 && pg_strcasecmp(profile, ZARN_PROFILE_CANADA) == 0)
    strlcpy(profile, ZARN_PROFILE_CANADA, sizeof profile);
  else {
    char* shown = text_to_cstring(profile_text);
    ereport(ERROR, (errcode(ERRCODE_INVALID_PARAMETER_VALUE),
                    errmsg("zarn: unknown profile \"%s\"", shown),
                    errhint("Use 'specified' or 'canada'.")));
  }

  for (i = 0; i < zarn_parser_count; i++) {
    if (strcmp(zarn_parsers[i].database, database) == 0 &&
        strcmp(zarn_parsers[i].profile, profile) == 0) {
      if (i > 0) {
        ZarnCachedParser hit = zarn_parsers[i];
        memmove(&zarn_parsers[1], &zarn_parsers[0], i * sizeof(ZarnCachedParser));
        zarn_parsers[0] = hit;
      }
      return zarn_parsers[0].parser;
    }
  }

  if (zarn_open_profile(database, profile, &parser, &error) != ZARN_OK) zarn_report(&error);
  {
    char* key = strdup(database);
    if (key == NULL) {
      zarn_close(parser);
      ereport(ERROR, (errcode(ERRCODE_OUT_OF_MEMORY), errmsg("out of memory")));
    }
    if (zarn_parser_count == ZARN_MAX_PARSERS) {
      ZarnCachedParser* last = &zarn_parsers[ZARN_MAX_PARSERS - 1];
      zarn_close(last->parser);
      free(last->database);
      zarn_parser_count--;
    }
    memmove(&zarn_parsers[1], &zarn_parsers[0], zarn_parser_count * sizeof(ZarnCachedParser));
    zarn_parsers[0].database = key;
    strlcpy(zarn_parsers[0].profile, profile, sizeof zarn_parsers[0].profile);
    zarn_parsers[0].parser = parser;
    zarn_parser_count++;
  }
  return parser;
}

/* Parses `address` (in the server encoding) into the five parts, each a
 * palloc'd string in the server encoding. */
static void zarn_parse_text(text* address, text* profile, char* parts_out[kPartCount]) {
  zarn_parser* parser = zarn_get_parser(profile);
  int size = VARSIZE_ANY_EXHDR(address);
  /* The library reads UTF-8. In a SQL_ASCII database no conversion happens,
   * so bytes that are not UTF-8 reach the parser and fail there. */
  char* utf8 = pg_server_to_any(VARDATA_ANY(address), size, PG_UTF8);
  size_t utf8_size = utf8 == VARDATA_ANY(address) ? (size_t)size : strlen(utf8);
  char local[512];
  char* buffer = local;
  size_t buffer_size = sizeof local;
  size_t needed = 0;
  zarn_parts parts;
  zarn_error error;
  zarn_status status;
  int i;

  status = zarn_parse(parser, utf8, utf8_size, buffer, buffer_size, &needed, &parts, &error);
  if (status == ZARN_BUFFER_TOO_SMALL) {
    buffer_size = needed;
    buffer = palloc(buffer_size);
    status = zarn_parse(parser, utf8, utf8_size, buffer, buffer_size, &needed, &parts, &error);
  }
  if (status != ZARN_OK) zarn_report(&error);
  {
    const zarn_text* texts[kPartCount] = {&parts.street_number, &parts.street, &parts.street_type,
                                          &parts.direction, &parts.unit};
    for (i = 0; i < kPartCount; i++)
      parts_out[i] = pg_any_to_server(texts[i]->data, (int)texts[i]->size, PG_UTF8);
    /* pg_any_to_server may return its input: copy out of the buffer. */
    for (i = 0; i < kPartCount; i++)
      if (parts_out[i] == texts[i]->data) parts_out[i] = pnstrdup(texts[i]->data, texts[i]->size);
  }
  if (buffer != local) pfree(buffer);
}

#define ZARN_PROFILE_ARG(n) (PG_NARGS() > (n) ? PG_GETARG_TEXT_PP(n) : cstring_to_text("specified"))

/* zarn_parse(address text, profile text) RETURNS zarn_parts */
Datum zarn_pg_parse(PG_FUNCTION_ARGS) {
  char* parts[kPartCount];
  Datum values[kPartCount];
  bool nulls[kPartCount] = {false, false, false, false, false};
  TupleDesc desc;
  int i;

  /* The result descriptor, looked up once per call site. */
  desc = (TupleDesc)fcinfo->flinfo->fn_extra;
  if (desc == NULL) {
    MemoryContext old = MemoryContextSwitchTo(fcinfo->flinfo->fn_mcxt);
    if (get_call_result_type(fcinfo, NULL, &desc) != TYPEFUNC_COMPOSITE)
      ereport(ERROR, (errcode(ERRCODE_FEATURE_NOT_SUPPORTED),
                      errmsg("zarn_parse must be called where a composite result is accepted")));
    desc = BlessTupleDesc(desc);
    MemoryContextSwitchTo(old);
    if (desc->natts != kPartCount)
      ereport(ERROR, (errcode(ERRCODE_DATATYPE_MISMATCH),
                      errmsg("zarn: type zarn_parts must have %d columns", kPartCount)));
    fcinfo->flinfo->fn_extra = desc;
  }

  zarn_parse_text(PG_GETARG_TEXT_PP(0), ZARN_PROFILE_ARG(1), parts);
  for (i = 0; i < kPartCount; i++) values[i] = CStringGetTextDatum(parts[i]);
  PG_RETURN_DATUM(HeapTupleGetDatum(heap_form_tuple(desc, values, nulls)));
}

/* zarn_parse_json(address text, profile text) RETURNS jsonb */
Datum zarn_pg_parse_json(PG_FUNCTION_ARGS) {
  char* parts[kPartCount];
  StringInfoData json;
  int i;

  zarn_parse_text(PG_GETARG_TEXT_PP(0), ZARN_PROFILE_ARG(1), parts);
  initStringInfo(&json);
  appendStringInfoChar(&json, '{');
  for (i = 0; i < kPartCount; i++) {
    if (i > 0) appendStringInfoString(&json, ", ");
    escape_json(&json, zarn_part_names[i]);
    appendStringInfoString(&json, ": ");
    escape_json(&json, parts[i]);
  }
  appendStringInfoChar(&json, '}');
  PG_RETURN_DATUM(DirectFunctionCall1(jsonb_in, CStringGetDatum(json.data)));
}

/* zarn_street(address text, profile text) and the other single parts. */
static text* zarn_one_part(FunctionCallInfo fcinfo, int which) {
  char* parts[kPartCount];
  zarn_parse_text(PG_GETARG_TEXT_PP(0), ZARN_PROFILE_ARG(1), parts);
  return cstring_to_text(parts[which]);
}

#define ZARN_PART_FUNCTION(name, which) \
  PG_FUNCTION_INFO_V1(name);            \
  Datum name(PG_FUNCTION_ARGS) { PG_RETURN_TEXT_P(zarn_one_part(fcinfo, which)); }

ZARN_PART_FUNCTION(zarn_pg_street_number, kPartNumber)
ZARN_PART_FUNCTION(zarn_pg_street, kPartStreet)
ZARN_PART_FUNCTION(zarn_pg_street_type, kPartType)
ZARN_PART_FUNCTION(zarn_pg_direction, kPartDirection)
ZARN_PART_FUNCTION(zarn_pg_unit, kPartUnit)
