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
#include "utils/lsyscache.h"
/* clang-format on */

#include <string.h>
#include <zarn/zarn.h>

PG_MODULE_MAGIC;

void _PG_init(void);

PG_FUNCTION_INFO_V1(zarn_pg_parse);
PG_FUNCTION_INFO_V1(zarn_pg_parse_json);
PG_FUNCTION_INFO_V1(zarn_pg_parse_result);
PG_FUNCTION_INFO_V1(zarn_pg_field);

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
  int size = profile_text != NULL ? (int)VARSIZE_ANY_EXHDR(profile_text) : 0;
  int i;
  zarn_parser* parser = NULL;
  zarn_error error;

  if (database == NULL)
    ereport(ERROR,
            (errcode(ERRCODE_INVALID_PARAMETER_VALUE), errmsg("zarn: zarn.database is empty"),
             errhint("Set it to the path of a reference database, or RESET it.")));
  /* No profile argument: the default one, without building its name as a
   * text on every row. */
  if (profile_text == NULL) {
    strlcpy(profile, "canada", sizeof profile);
    size = (int)strlen(profile);
  } else if (size <= 0 || size >= (int)sizeof profile ||
             memchr(VARDATA_ANY(profile_text), '\0', size) != NULL)
    size = -1;
  else {
    memcpy(profile, VARDATA_ANY(profile_text), size);
    profile[size] = '\0';
  }
  /* The library ignores ASCII case; the cache is keyed by the profile's own
   * name, so that every spelling shares one parser (and one memo). */
  if (size >= 0) {
    size_t known = zarn_profile_count();
    size_t p;
    for (p = 0; p < known; p++)
      if (pg_strcasecmp(profile, zarn_profile_name(p)) == 0) break;
    if (p == known)
      size = -1;
    else
      strlcpy(profile, zarn_profile_name(p), sizeof profile);
  }
  if (size < 0) {
    char* shown = text_to_cstring(profile_text);
    StringInfoData names;
    size_t p;
    initStringInfo(&names);
    for (p = 0; p < zarn_profile_count(); p++)
      appendStringInfo(&names, "%s'%s'",
                       p == 0                          ? ""
                       : p + 1 == zarn_profile_count() ? " or "
                                                       : ", ",
                       zarn_profile_name(p));
    ereport(ERROR, (errcode(ERRCODE_INVALID_PARAMETER_VALUE),
                    errmsg("zarn: unknown profile \"%s\"", shown), errhint("Use %s.", names.data)));
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

/* Parses `address` (in the server encoding) with the result options
 * `options` (ZARN_RESULT_*). The caller frees the result with
 * zarn_result_free before anything that may raise an error. */
static zarn_result* zarn_parse_text(text* address, text* profile, unsigned options) {
  zarn_parser* parser = zarn_get_parser(profile);
  int size = VARSIZE_ANY_EXHDR(address);
  /* The library reads UTF-8. In a SQL_ASCII database no conversion happens,
   * so bytes that are not UTF-8 reach the parser and fail there. */
  char* utf8 = pg_server_to_any(VARDATA_ANY(address), size, PG_UTF8);
  size_t utf8_size = utf8 == VARDATA_ANY(address) ? (size_t)size : strlen(utf8);
  zarn_result* result = NULL;
  zarn_error error;

  if (zarn_parse_result(parser, utf8, utf8_size, options, &result, &error) != ZARN_OK)
    zarn_report(&error);
  return result;
}

/* A text of the library (UTF-8) as a text datum in the server encoding,
 * palloc'd; the caller frees the result it came from if this raises an
 * error. In a UTF-8 database the bytes are checked as pg_any_to_server
 * would and copied once. */
static Datum zarn_text_datum(zarn_text value) {
  char* converted;
  if (GetDatabaseEncoding() == PG_UTF8) {
    (void)pg_verify_mbstr(PG_UTF8, value.data, (int)value.size, false);
    return PointerGetDatum(cstring_to_text_with_len(value.data, (int)value.size));
  }
  converted = pg_any_to_server(value.data, (int)value.size, PG_UTF8);
  if (converted == value.data)
    return PointerGetDatum(cstring_to_text_with_len(value.data, (int)value.size));
  return CStringGetTextDatum(converted);
}

/* values[i] = the text of output field fields[i] of `result`, for i below
 * `count`; one guard for all of them: `result` is freed before an error
 * goes on. */
static void zarn_result_texts(zarn_result* result, const int* fields, int count, Datum* values) {
  PG_TRY();
  {
    int i;
    for (i = 0; i < count; i++)
      values[i] = zarn_text_datum(zarn_result_field(result, (size_t)fields[i]));
  }
  PG_CATCH();
  {
    zarn_result_free(result);
    PG_RE_THROW();
  }
  PG_END_TRY();
}

/* The result as the library's JSON, as jsonb; `result` is freed. */
static Datum zarn_result_jsonb(zarn_result* result) {
  size_t needed = 0;
  char* json;
  if (zarn_result_json(result, NULL, 0, &needed) != ZARN_BUFFER_TOO_SMALL) {
    zarn_result_free(result);
    ereport(ERROR, (errcode(ERRCODE_INTERNAL_ERROR), errmsg("zarn: the result cannot be written")));
  }
  json = palloc(needed);
  zarn_result_json(result, json, needed, NULL);
  zarn_result_free(result);
  json = pg_any_to_server(json, (int)(needed - 1), PG_UTF8);
  return DirectFunctionCall1(jsonb_in, CStringGetDatum(json));
}

#define ZARN_PROFILE_ARG(n) (PG_NARGS() > (n) ? PG_GETARG_TEXT_PP(n) : NULL)

/* The composite type's descriptor and, for each of its columns, the index
 * of the output field of that name, found once per call site. */
typedef struct ZarnRowShape {
  TupleDesc desc;
  int fields[FLEXIBLE_ARRAY_MEMBER];
} ZarnRowShape;

/* zarn_parse(address text, profile text) RETURNS zarn_parts: a column per
 * output field, matched by name. */
Datum zarn_pg_parse(PG_FUNCTION_ARGS) {
  ZarnRowShape* shape = (ZarnRowShape*)fcinfo->flinfo->fn_extra;
  zarn_result* result;
  Datum* values;
  bool* nulls;
  int i;

  if (shape == NULL) {
    MemoryContext old = MemoryContextSwitchTo(fcinfo->flinfo->fn_mcxt);
    TupleDesc desc;
    if (get_call_result_type(fcinfo, NULL, &desc) != TYPEFUNC_COMPOSITE)
      ereport(ERROR, (errcode(ERRCODE_FEATURE_NOT_SUPPORTED),
                      errmsg("zarn_parse must be called where a composite result is accepted")));
    desc = BlessTupleDesc(desc);
    shape = palloc(offsetof(ZarnRowShape, fields) + sizeof(int) * (desc->natts + 1));
    shape->desc = desc;
    for (i = 0; i < desc->natts; i++) {
      shape->fields[i] = zarn_field_index(NameStr(TupleDescAttr(desc, i)->attname));
      if (shape->fields[i] < 0)
        ereport(ERROR,
                (errcode(ERRCODE_DATATYPE_MISMATCH),
                 errmsg("zarn: type zarn_parts has a column \"%s\", which is no output field",
                        NameStr(TupleDescAttr(desc, i)->attname))));
    }
    MemoryContextSwitchTo(old);
    fcinfo->flinfo->fn_extra = shape;
  }

  result = zarn_parse_text(PG_GETARG_TEXT_PP(0), ZARN_PROFILE_ARG(1), 0);
  values = palloc(sizeof(Datum) * (shape->desc->natts + 1));
  nulls = palloc0(sizeof(bool) * (shape->desc->natts + 1));
  zarn_result_texts(result, shape->fields, shape->desc->natts, values);
  zarn_result_free(result);
  PG_RETURN_DATUM(HeapTupleGetDatum(heap_form_tuple(shape->desc, values, nulls)));
}

/* zarn_parse_json(address text, profile text) RETURNS jsonb: the output
 * fields only, as the library's encoder writes them. */
Datum zarn_pg_parse_json(PG_FUNCTION_ARGS) {
  Datum json = zarn_result_jsonb(zarn_parse_text(PG_GETARG_TEXT_PP(0), ZARN_PROFILE_ARG(1), 0));
  /* Every call that returns has no error: the key says nothing here. */
  PG_RETURN_DATUM(DirectFunctionCall2(jsonb_delete, json, CStringGetTextDatum("error")));
}

/* zarn_parse_result(address text, profile text, flags boolean, standard
 * boolean) RETURNS jsonb: the fields, "error" (always null: a failure is an
 * SQL error), "diagnostics" with flags, "standard" with standard. */
Datum zarn_pg_parse_result(PG_FUNCTION_ARGS) {
  unsigned options = 0;
  if (PG_GETARG_BOOL(2)) options |= ZARN_RESULT_DIAGNOSTICS;
  if (PG_GETARG_BOOL(3)) options |= ZARN_RESULT_STANDARD;
  PG_RETURN_DATUM(
      zarn_result_jsonb(zarn_parse_text(PG_GETARG_TEXT_PP(0), PG_GETARG_TEXT_PP(1), options)));
}

/* zarn_<field>(address text, profile text) RETURNS text, for every output
 * field: the field is the one the SQL function is named after. */
Datum zarn_pg_field(PG_FUNCTION_ARGS) {
  int* field = (int*)fcinfo->flinfo->fn_extra;
  zarn_result* result;
  Datum value = (Datum)0;
  if (field == NULL) {
    char* name = get_func_name(fcinfo->flinfo->fn_oid);
    int index = name != NULL && strncmp(name, "zarn_", 5) == 0 ? zarn_field_index(name + 5) : -1;
    if (index < 0)
      ereport(ERROR, (errcode(ERRCODE_UNDEFINED_FUNCTION),
                      errmsg("zarn: function %s names no output field", name ? name : "?")));
    field = MemoryContextAlloc(fcinfo->flinfo->fn_mcxt, sizeof(int));
    *field = index;
    fcinfo->flinfo->fn_extra = field;
  }
  result = zarn_parse_text(PG_GETARG_TEXT_PP(0), ZARN_PROFILE_ARG(1), 0);
  zarn_result_texts(result, field, 1, &value);
  zarn_result_free(result);
  PG_RETURN_DATUM(value);
}
