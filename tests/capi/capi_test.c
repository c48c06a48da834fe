/* Tests of the C API, written in C99 so that the header is checked as C.
 *
 *   capi_test GROUP DATABASE SCRATCH_DIR
 *
 * GROUP picks one group of cases (see kGroups); DATABASE is the bundled
 * reference database; SCRATCH_DIR is a directory the test may name missing
 * files under. Exits 0 when every check passed. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "zarn/zarn.h"

static int failures = 0;

#define CHECK(cond)                                                            \
  do {                                                                         \
    if (!(cond)) {                                                             \
      fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #cond); \
      ++failures;                                                              \
    }                                                                          \
  } while (0)

#define CHECK_STR(actual, expected)                                                              \
  do {                                                                                           \
    const char* a_ = (actual);                                                                   \
    const char* e_ = (expected);                                                                 \
    if (strcmp(a_, e_) != 0) {                                                                   \
      fprintf(stderr, "%s:%d: %s is \"%s\", expected \"%s\"\n", __FILE__, __LINE__, #actual, a_, \
              e_);                                                                               \
      ++failures;                                                                                \
    }                                                                                            \
  } while (0)

static const char* database;
static const char* scratch;

static zarn_parser* Open(const char* path) {
  zarn_parser* parser = NULL;
  zarn_error err;
  zarn_status s = zarn_open(path, &parser, &err);
  if (s != ZARN_OK || parser == NULL) {
    fprintf(stderr, "zarn_open(%s) failed: %d %s\n", path, err.number, err.message);
    exit(2);
  }
  return parser;
}

typedef zarn_status (*SingleFn)(const zarn_parser*, const char*, size_t, char*, size_t, size_t*,
                                zarn_error*);

/* The five single-part functions with the segment kind each stands for. */
static const struct {
  SingleFn fn;
  int kind;
  const char* name;
} kSingles[] = {
    {zarn_street_number, ZARN_KIND_STREET_NUMBER, "street_number"},
    {zarn_street, ZARN_KIND_STREET, "street"},
    {zarn_street_type, ZARN_KIND_STREET_TYPE, "street_type"},
    {zarn_direction, ZARN_KIND_DIRECTION, "direction"},
    {zarn_unit, ZARN_KIND_UNIT, "unit"},
};

/* Addresses with their known parts: number, street, type, direction, unit. */
static const struct {
  const char* address;
  const char* parts[5];
} kKnown[] = {
    {"123 Main St. N", {"123", "Main", "Street", "N", ""}},
    {"5-123 rue Saint-Denis Ouest", {"123", "Saint Denis", "rue", "W", "5"}},
    {"Apt 5 21st Ave", {"", "21", "Avenue", "", "5"}},
    {"4500 boul Saint-Laurent Ouest", {"4500", "Saint Laurent", "Boulevard", "W", ""}},
    {"", {"", "", "", "", ""}},
};
#define COUNT(a) (sizeof(a) / sizeof((a)[0]))

static const char* PartOf(const zarn_parts* p, int i) {
  const zarn_text* t[5] = {&p->street_number, &p->street, &p->street_type, &p->direction, &p->unit};
  CHECK(strlen(t[i]->data) == t[i]->size);
  return t[i]->data;
}

static void TestKnownAddresses(void) {
  zarn_parser* parser = Open(database);
  size_t i;
  int k;
  for (i = 0; i < COUNT(kKnown); ++i) {
    const char* a = kKnown[i].address;
    char out[256], buffer[512];
    size_t needed = 0;
    zarn_error err;
    zarn_parts parts;
    for (k = 0; k < 5; ++k) {
      CHECK(kSingles[k].fn(parser, a, strlen(a), out, sizeof out, &needed, &err) == ZARN_OK);
      CHECK_STR(out, kKnown[i].parts[k]);
      CHECK(needed == strlen(kKnown[i].parts[k]) + 1);
      CHECK(err.number == 0 && err.message[0] == '\0');
      CHECK(zarn_address_segment(parser, a, strlen(a), kSingles[k].kind, out, sizeof out, NULL,
                                 NULL) == ZARN_OK);
      CHECK_STR(out, kKnown[i].parts[k]);
    }
    CHECK(zarn_parse(parser, a, strlen(a), buffer, sizeof buffer, &needed, &parts, &err) ==
          ZARN_OK);
    for (k = 0; k < 5; ++k) CHECK_STR(PartOf(&parts, k), kKnown[i].parts[k]);
    /* The answers are packed into the caller's buffer. */
    CHECK(parts.street_number.data == buffer);
    CHECK(parts.unit.data + parts.unit.size + 1 == buffer + needed);
  }
  /* Kinds outside 0..6 give "". */
  {
    static const int kBadKinds[] = {-1, 7, 1000};
    char out[16] = "x";
    for (i = 0; i < COUNT(kBadKinds); ++i) {
      CHECK(zarn_address_segment(parser, "123 Main St", 11, kBadKinds[i], out, sizeof out, NULL,
                                 NULL) == ZARN_OK);
      CHECK_STR(out, "");
    }
  }
  CHECK_STR(zarn_database_path(parser), database);
  zarn_close(parser);
}

static void TestBuffers(void) {
  zarn_parser* parser = Open(database);
  const char* a = "5-123 rue Saint-Denis Ouest";
  char out[64];
  size_t needed = 0, size;
  zarn_error err;
  zarn_parts parts;
  char buffer[64];

  /* Size query: NULL buffer, size 0. */
  CHECK(zarn_street(parser, a, strlen(a), NULL, 0, &needed, &err) == ZARN_BUFFER_TOO_SMALL);
  CHECK(needed == strlen("Saint Denis") + 1);
  /* Every size below the need fails and leaves an empty string. */
  for (size = 1; size < needed; ++size) {
    size_t again = 0;
    memset(out, 'x', sizeof out);
    CHECK(zarn_street(parser, a, strlen(a), out, size, &again, &err) == ZARN_BUFFER_TOO_SMALL);
    CHECK(again == needed);
    CHECK(out[0] == '\0');
    CHECK(out[size] == 'x'); /* nothing written past the buffer */
  }
  memset(out, 'x', sizeof out);
  CHECK(zarn_street(parser, a, strlen(a), out, needed, NULL, &err) == ZARN_OK);
  CHECK_STR(out, "Saint Denis");
  CHECK(out[needed] == 'x');
  /* A NULL buffer with a size is a misuse. */
  CHECK(zarn_street(parser, a, strlen(a), NULL, 8, &needed, &err) == ZARN_MISUSE);
  CHECK(err.number == ZARN_ERROR_INVALID_ARGUMENT && err.message[0] != '\0');

  /* zarn_parse: the five answers with their NULs. */
  CHECK(zarn_parse(parser, a, strlen(a), NULL, 0, &needed, &parts, &err) == ZARN_BUFFER_TOO_SMALL);
  CHECK(needed ==
        strlen("123") + strlen("Saint Denis") + strlen("rue") + strlen("W") + strlen("5") + 5);
  CHECK_STR(parts.street.data, "");
  for (size = 1; size < needed; ++size) {
    memset(buffer, 'x', sizeof buffer);
    CHECK(zarn_parse(parser, a, strlen(a), buffer, size, NULL, &parts, &err) ==
          ZARN_BUFFER_TOO_SMALL);
    CHECK(buffer[size] == 'x');
    CHECK(parts.street.size == 0 && parts.unit.data[0] == '\0');
  }
  CHECK(zarn_parse(parser, a, strlen(a), buffer, needed, NULL, &parts, &err) == ZARN_OK);
  CHECK_STR(parts.unit.data, "5");

  /* The default database path. */
  CHECK(zarn_reference_database_path(NULL, 0, &needed, &err) == ZARN_BUFFER_TOO_SMALL);
  CHECK(needed > 1);
  {
    char* path = malloc(needed);
    CHECK(path != NULL);
    CHECK(zarn_reference_database_path(path, needed, NULL, &err) == ZARN_OK);
    CHECK(strlen(path) + 1 == needed);
    free(path);
  }
  zarn_close(parser);
}

static void CheckMisuse(zarn_status s, const zarn_error* err) {
  CHECK(s == ZARN_MISUSE);
  CHECK(err->number == ZARN_ERROR_INVALID_ARGUMENT);
  CHECK(err->message[0] != '\0');
}

static void TestNullArguments(void) {
  zarn_parser* parser = Open(database);
  zarn_error err;
  zarn_parts parts;
  char out[64];
  size_t needed = 99;
  zarn_batch* batch = (zarn_batch*)&needed; /* must be overwritten */
  int k;

  /* A NULL handle. */
  for (k = 0; k < 5; ++k) {
    err.number = 0;
    CheckMisuse(kSingles[k].fn(NULL, "1 Main St", 9, out, sizeof out, &needed, &err), &err);
    CHECK(needed == 0);
  }
  CheckMisuse(zarn_address_segment(NULL, "1 Main St", 9, 2, out, sizeof out, NULL, &err), &err);
  CheckMisuse(zarn_parse(NULL, "1 Main St", 9, out, sizeof out, NULL, &parts, &err), &err);
  CHECK(parts.street.data != NULL && parts.street.size == 0);
  CheckMisuse(zarn_parse_batch(NULL, NULL, NULL, 0, &batch, &err), &err);
  CHECK(batch == NULL);
  CHECK(zarn_database_path(NULL) == NULL);
  CHECK(zarn_batch_count(NULL) == 0);
  zarn_close(NULL);
  zarn_batch_free(NULL);

  /* NULL required pointers. */
  CheckMisuse(zarn_open(database, NULL, &err), &err);
  CheckMisuse(zarn_parse(parser, "1 Main St", 9, out, sizeof out, NULL, NULL, &err), &err);
  CheckMisuse(zarn_parse_batch(parser, NULL, NULL, 3, &batch, &err), &err);
  CheckMisuse(zarn_parse_batch(parser, NULL, NULL, 0, NULL, &err), &err);
  CheckMisuse(zarn_batch_get(NULL, 0, &parts, &err), &err);

  /* Misuse with a NULL error pointer still reports through the status. */
  CHECK(zarn_street(NULL, "1 Main St", 9, out, sizeof out, NULL, NULL) == ZARN_MISUSE);

  /* A NULL address is the empty string, whatever its size. */
  CHECK(zarn_street_type(parser, NULL, 0, out, sizeof out, &needed, &err) == ZARN_OK);
  CHECK_STR(out, "");
  CHECK(needed == 1);
  CHECK(zarn_parse(parser, NULL, 12345, out, sizeof out, &needed, &parts, &err) == ZARN_OK);
  CHECK(needed == 5);
  for (k = 0; k < 5; ++k) CHECK_STR(PartOf(&parts, k), "");

  /* NULL path: the bundled database of the installed library. */
  {
    zarn_parser* by_default = NULL;
    char path[4096];
    CHECK(zarn_open(NULL, &by_default, &err) == ZARN_OK);
    CHECK(by_default != NULL);
    CHECK(zarn_reference_database_path(path, sizeof path, NULL, &err) == ZARN_OK);
    CHECK_STR(zarn_database_path(by_default), path);
    zarn_close(by_default);
  }
  zarn_close(parser);
}

static void TestInvalidText(void) {
  static const struct {
    const char* bytes;
    size_t size;
  } kInvalid[] = {
      {"\xff", 1},
      {"123 Main St\xc3", 12},           /* cut in the middle of a character */
      {"\xc0\xaf Main St", 10},          /* overlong encoding */
      {"12 rue \xed\xa0\x80 Ouest", 16}, /* UTF-16 surrogate */
      {"12 \xf4\x90\x80\x80 Ave", 11},   /* beyond U+10FFFF */
      {"\x80\x80\x80", 3},               /* lone continuation bytes */
  };
  zarn_parser* parser = Open(database);
  zarn_error err;
  zarn_parts parts;
  char out[64];
  size_t i, needed;
  for (i = 0; i < COUNT(kInvalid); ++i) {
    err.number = 0;
    strcpy(out, "x");
    CHECK(zarn_street(parser, kInvalid[i].bytes, kInvalid[i].size, out, sizeof out, &needed,
                      &err) == ZARN_FAILED);
    CHECK(err.number == ZARN_ERROR_INVALID_ARGUMENT);
    CHECK(err.message[0] != '\0');
    CHECK_STR(out, "");
    CHECK(zarn_parse(parser, kInvalid[i].bytes, kInvalid[i].size, out, sizeof out, &needed, &parts,
                     &err) == ZARN_FAILED);
    CHECK(err.number == ZARN_ERROR_INVALID_ARGUMENT);
    CHECK_STR(parts.street.data, "");
  }
  /* A failure leaves the parser ready for the next address. */
  CHECK(zarn_street(parser, "12 rue Él\xc3\xa9onore", 17, out, sizeof out, NULL, &err) == ZARN_OK);
  CHECK(err.number == 0);

  /* Longer than the parser accepts. */
  {
    const size_t size = 40000;
    char* long_address = malloc(size);
    CHECK(long_address != NULL);
    memset(long_address, 'a', size);
    CHECK(zarn_unit(parser, long_address, size, out, sizeof out, NULL, &err) == ZARN_FAILED);
    CHECK(err.number == ZARN_ERROR_OVERFLOW);
    free(long_address);
  }
  zarn_close(parser);
}

/* True when `s` is valid UTF-8 (enough of a check for error messages). */
static int IsUtf8(const char* s) {
  const unsigned char* p = (const unsigned char*)s;
  while (*p) {
    int extra = *p < 0x80 ? 0 : (*p >> 5) == 6 ? 1 : (*p >> 4) == 14 ? 2 : (*p >> 3) == 30 ? 3 : -1;
    if (extra < 0) return 0;
    ++p;
    while (extra-- > 0) {
      if ((*p & 0xC0) != 0x80) return 0;
      ++p;
    }
  }
  return 1;
}

static void TestMissingDatabase(void) {
  char path[2048];
  zarn_parser* parser;
  zarn_error err;
  zarn_parts parts;
  char out[64];
  size_t needed, i;
  zarn_batch* batch = NULL;
  const char* addresses[] = {"1 Main St", "2 Main St"};

  snprintf(path, sizeof path, "%s/no/such/dir/qordatavb.DAT", scratch);
  parser = Open(path); /* opening does not touch the file */
  CHECK(zarn_street(parser, "1 Main St", 9, out, sizeof out, &needed, &err) == ZARN_FAILED);
  CHECK(err.number == 14); /* SQLITE_CANTOPEN */
  CHECK(strstr(err.message, "no/such/dir") != NULL);
  CHECK(needed == 0);
  /* It keeps failing the same way: nothing is cached from a failure. */
  CHECK(zarn_parse(parser, "1 Main St", 9, out, sizeof out, NULL, &parts, &err) == ZARN_FAILED);
  CHECK(err.number == 14);
  /* A batch on a missing file: every answer carries the error. */
  CHECK(zarn_parse_batch(parser, addresses, NULL, 2, &batch, &err) == ZARN_OK);
  CHECK(zarn_batch_count(batch) == 2);
  for (i = 0; i < 2; ++i) {
    CHECK(zarn_batch_get(batch, i, &parts, &err) == ZARN_FAILED);
    CHECK(err.number == 14);
  }
  zarn_batch_free(batch);
  zarn_close(parser);

  /* A message longer than the error buffer is cut at a character boundary. */
  {
    size_t at = (size_t)snprintf(path, sizeof path, "%s/", scratch);
    while (at + 8 < sizeof path) {
      memcpy(path + at, "\xc3\xa9", 2); /* "é" */
      at += 2;
    }
    path[at] = '\0';
    parser = Open(path);
    CHECK(zarn_street(parser, "1 Main St", 9, out, sizeof out, NULL, &err) == ZARN_FAILED);
    CHECK(err.number != 0);
    CHECK(strlen(err.message) < ZARN_ERROR_MESSAGE_SIZE);
    CHECK(strlen(err.message) > ZARN_ERROR_MESSAGE_SIZE - 8);
    CHECK(IsUtf8(err.message));
    zarn_close(parser);
  }
}

static void TestBatch(void) {
  const char* addresses[] = {"123 Main St. N", NULL, "12 Ave\xff", "Apt 5 21st Ave",
                             "5-123 rue Saint-Denis Ouest"};
  size_t sizes[COUNT(addresses)];
  const size_t n = COUNT(addresses);
  zarn_parser* parser = Open(database);
  zarn_batch* batch = NULL;
  zarn_error err;
  zarn_parts got;
  size_t i;
  int pass, k;
  for (i = 0; i < n; ++i) sizes[i] = addresses[i] ? strlen(addresses[i]) : 77;

  for (pass = 0; pass < 2; ++pass) {
    /* Pass 0 with explicit sizes, pass 1 with NUL-terminated addresses. */
    CHECK(zarn_parse_batch(parser, addresses, pass == 0 ? sizes : NULL, n, &batch, &err) ==
          ZARN_OK);
    CHECK(zarn_batch_count(batch) == n);
    for (i = 0; i < n; ++i) {
      /* Each answer equals what zarn_parse gives for the same address. */
      char buffer[256];
      zarn_parts want;
      zarn_error want_err;
      zarn_status ws =
          zarn_parse(parser, addresses[i], sizes[i], buffer, sizeof buffer, NULL, &want, &want_err);
      zarn_status gs = zarn_batch_get(batch, i, &got, &err);
      CHECK(gs == ws);
      CHECK(err.number == want_err.number);
      CHECK_STR(err.message, want_err.message);
      for (k = 0; k < 5; ++k) CHECK_STR(PartOf(&got, k), PartOf(&want, k));
    }
    CHECK(zarn_batch_get(batch, 2, &got, &err) == ZARN_FAILED);
    CHECK(err.number == ZARN_ERROR_INVALID_ARGUMENT);
    CHECK(zarn_batch_get(batch, 4, &got, &err) == ZARN_OK);
    CHECK_STR(got.street.data, "Saint Denis");
    CHECK(zarn_batch_get(batch, n, &got, &err) == ZARN_MISUSE);
    CHECK(err.number == ZARN_ERROR_SUBSCRIPT_OUT_OF_RANGE);
    zarn_batch_free(batch);
  }
  /* An empty batch. */
  CHECK(zarn_parse_batch(parser, NULL, NULL, 0, &batch, &err) == ZARN_OK);
  CHECK(batch != NULL && zarn_batch_count(batch) == 0);
  CHECK(zarn_batch_get(batch, 0, &got, &err) == ZARN_MISUSE);
  zarn_batch_free(batch);
  zarn_close(parser);
}

static void TestVersion(void) {
  int major = -1, minor = -1, patch = -1;
  const char* v = zarn_version();
  CHECK(v != NULL);
  CHECK(sscanf(v, "%d.%d.%d", &major, &minor, &patch) == 3);
  CHECK(major >= 0 && minor >= 0 && patch >= 0);
}

/* The standard form: from parts and from an address, in both languages, with
 * the buffer rules of zarn_parse, flags, misuse and bad text. */
static zarn_text Text(const char* s) {
  zarn_text t;
  t.data = s;
  t.size = s == NULL ? 0 : strlen(s);
  return t;
}

static void TestStandard(void) {
  static const struct {
    const char* parts[5]; /* number, street, type, direction, unit */
    int language;
    const char* line;
    int written;
  } kForms[] = {
      {{"123", "Main", "Street", "N", ""},
       ZARN_LANGUAGE_DETECT,
       "123 MAIN ST N",
       ZARN_LANGUAGE_ENGLISH},
      {{"123", "Saint-Denis", "rue", "W", "5"},
       ZARN_LANGUAGE_DETECT,
       "5-123 RUE SAINT-DENIS O",
       ZARN_LANGUAGE_FRENCH},
      {{"4500", "Saint-Laurent", "Boulevard", "W", ""},
       ZARN_LANGUAGE_FRENCH,
       "4500 BOUL SAINT-LAURENT O",
       ZARN_LANGUAGE_FRENCH},
      {{"4500", "Saint-Laurent", "Boulevard", "W", ""},
       ZARN_LANGUAGE_ENGLISH,
       "4500 SAINT-LAURENT BLVD W",
       ZARN_LANGUAGE_ENGLISH},
      {{"8", "des \xc3\xa9rables",
        "Mont\xc3\xa9"
        "e",
        "", ""},
       ZARN_LANGUAGE_DETECT,
       "8 MONT\xc3\x89"
       "E DES \xc3\x89RABLES",
       ZARN_LANGUAGE_FRENCH},
  };
  zarn_parser* parser = Open(database);
  zarn_error err;
  zarn_standard form;
  zarn_parts parts;
  char buffer[256];
  size_t needed, i, size;
  for (i = 0; i < COUNT(kForms); ++i) {
    parts.street_number = Text(kForms[i].parts[0]);
    parts.street = Text(kForms[i].parts[1]);
    parts.street_type = Text(kForms[i].parts[2]);
    parts.direction = Text(kForms[i].parts[3]);
    parts.unit = Text(kForms[i].parts[4]);
    CHECK(zarn_standardize(parser, &parts, kForms[i].language, buffer, sizeof buffer, &needed,
                           &form, &err) == ZARN_OK);
    CHECK_STR(form.line.data, kForms[i].line);
    CHECK(form.line.size == strlen(kForms[i].line));
    CHECK(form.language == kForms[i].written);
    CHECK(form.line.data == buffer);
    CHECK(form.unit.data + form.unit.size + 1 == buffer + needed);
  }
  /* From an address: its text is a clue to the language. */
  CHECK(zarn_parse_standard(parser, "4500 boul Saint-Laurent Ouest", 29, ZARN_LANGUAGE_DETECT,
                            buffer, sizeof buffer, &needed, &form, &err) == ZARN_OK);
  CHECK_STR(form.line.data, "4500 BOUL SAINT LAURENT O");
  CHECK_STR(form.street_type.data, "BOUL");
  CHECK_STR(form.direction.data, "O");
  CHECK_STR(form.street.data, "SAINT LAURENT");
  CHECK_STR(form.street_number.data, "4500");
  CHECK(form.flags == 0);
  /* Every smaller buffer: too small, the same size asked, nothing past it. */
  for (size = 0; size < needed; ++size) {
    size_t again = 0;
    memset(buffer, 'x', sizeof buffer);
    CHECK(zarn_parse_standard(parser, "4500 boul Saint-Laurent Ouest", 29, ZARN_LANGUAGE_DETECT,
                              size == 0 ? NULL : buffer, size, &again, &form,
                              &err) == ZARN_BUFFER_TOO_SMALL);
    CHECK(again == needed);
    CHECK(form.line.size == 0 && form.line.data[0] == '\0');
    CHECK(buffer[size] == 'x');
  }
  /* Flags, and their names. */
  parts.street_number = Text("7");
  parts.street = Text("Big");
  parts.street_type = Text("Bayou");
  parts.direction = Text(NULL);
  parts.unit = Text(NULL);
  CHECK(zarn_standardize(parser, &parts, ZARN_LANGUAGE_DETECT, buffer, sizeof buffer, NULL, &form,
                         &err) == ZARN_OK);
  CHECK_STR(form.line.data, "7 BIG BAYOU");
  CHECK(form.flags == ZARN_STANDARD_TYPE_WITHOUT_SYMBOL);
  CHECK(zarn_standard_flag_names(form.flags, buffer, sizeof buffer, &needed) == ZARN_OK);
  CHECK_STR(buffer, "type_without_symbol");
  /* Misuse and bad text. */
  CHECK(zarn_standardize(parser, NULL, ZARN_LANGUAGE_DETECT, buffer, sizeof buffer, NULL, &form,
                         &err) == ZARN_MISUSE);
  CHECK(zarn_standardize(parser, &parts, 7, buffer, sizeof buffer, NULL, &form, &err) ==
        ZARN_MISUSE);
  CHECK(err.number == ZARN_ERROR_INVALID_ARGUMENT);
  CHECK(zarn_standardize(NULL, &parts, 0, buffer, sizeof buffer, NULL, &form, &err) == ZARN_MISUSE);
  CHECK(zarn_standardize(parser, &parts, 0, buffer, sizeof buffer, NULL, NULL, &err) ==
        ZARN_MISUSE);
  parts.street = Text("Ma\xffin");
  CHECK(zarn_standardize(parser, &parts, 0, buffer, sizeof buffer, NULL, &form, &err) ==
        ZARN_FAILED);
  CHECK(err.number == ZARN_ERROR_INVALID_ARGUMENT);
  CHECK(form.line.data != NULL && form.line.size == 0);
  zarn_close(parser);
}

/* Profiles by name, the diagnostics calls and their buffer contract. */
static void TestProfiles(void) {
  zarn_parser* parser = NULL;
  zarn_error err;
  zarn_parts parts;
  zarn_diagnostics diag;
  char buffer[256];
  size_t needed = 0, small_needed = 0;
  const char* a = "Foo bar";
  zarn_batch* batch = NULL;
  const char* const addresses[] = {"123 Main St", "Foo bar", "\xff"};

  CHECK(zarn_open_profile(database, "no-such-profile", &parser, &err) == ZARN_MISUSE);
  CHECK(parser == NULL);
  CHECK(err.number == ZARN_ERROR_INVALID_ARGUMENT && strstr(err.message, "profile") != NULL);
  CHECK(zarn_open_profile(database, NULL, &parser, &err) == ZARN_OK);
  CHECK_STR(zarn_parser_profile(parser), ZARN_PROFILE_SPECIFIED);
  /* The specified rules never report diagnostics. */
  CHECK(zarn_parse_diagnostics(parser, a, strlen(a), buffer, sizeof buffer, &needed, &parts, &diag,
                               &err) == ZARN_OK);
  CHECK(diag.flags == 0 && diag.unplaced_words.size == 0);
  zarn_close(parser);
  CHECK(zarn_parser_profile(NULL) == NULL);

  CHECK(zarn_open_profile(database, "CANADA", &parser, &err) == ZARN_OK);
  CHECK_STR(zarn_parser_profile(parser), ZARN_PROFILE_CANADA);
  CHECK(zarn_parse_diagnostics(parser, a, strlen(a), buffer, sizeof buffer, &needed, &parts, &diag,
                               &err) == ZARN_OK);
  CHECK((diag.flags & ZARN_FLAG_NO_STREET_TYPE) != 0);
  CHECK((diag.flags & ZARN_FLAG_NO_STREET_NUMBER) != 0);
  CHECK(diag.unplaced_words.data != NULL &&
        strlen(diag.unplaced_words.data) == diag.unplaced_words.size);
  /* The unplaced words follow the parts in the buffer and count in *needed. */
  CHECK(diag.unplaced_words.data + diag.unplaced_words.size + 1 == buffer + needed);
  CHECK(zarn_parse_diagnostics(parser, a, strlen(a), buffer, needed - 1, &small_needed, &parts,
                               &diag, &err) == ZARN_BUFFER_TOO_SMALL);
  CHECK(small_needed == needed && diag.flags == 0 && diag.unplaced_words.size == 0);
  /* Invalid text: the error, and empty diagnostics. */
  CHECK(zarn_parse_diagnostics(parser, "\xff", 1, buffer, sizeof buffer, &needed, &parts, &diag,
                               &err) == ZARN_FAILED);
  CHECK(err.number == ZARN_ERROR_INVALID_ARGUMENT && diag.flags == 0);

  CHECK(zarn_parse_batch(parser, addresses, NULL, 3, &batch, &err) == ZARN_OK);
  CHECK(zarn_batch_get_diagnostics(batch, 1, &diag) == ZARN_OK);
  CHECK((diag.flags & ZARN_FLAG_NO_STREET_TYPE) != 0);
  CHECK(zarn_batch_get_diagnostics(batch, 2, &diag) == ZARN_OK);
  CHECK(diag.flags == 0 && diag.unplaced_words.size == 0);
  CHECK(zarn_batch_get_diagnostics(batch, 3, &diag) == ZARN_MISUSE);
  CHECK(zarn_batch_get_diagnostics(NULL, 0, &diag) == ZARN_MISUSE);
  zarn_batch_free(batch);
  zarn_close(parser);

  CHECK(zarn_flag_names(0, buffer, sizeof buffer, &needed) == ZARN_OK);
  CHECK_STR(buffer, "");
  CHECK(zarn_flag_names(ZARN_FLAG_NO_STREET_TYPE | ZARN_FLAG_RANGE_ASSUMED | 0x80000000u, buffer,
                        sizeof buffer, &needed) == ZARN_OK);
  CHECK_STR(buffer, "no_street_type,range_assumed");
  CHECK(needed == strlen("no_street_type,range_assumed") + 1);
  CHECK(zarn_flag_names(ZARN_FLAG_NO_STREET_TYPE, NULL, 0, &needed) == ZARN_BUFFER_TOO_SMALL);
  CHECK(needed == strlen("no_street_type") + 1);
}

/* The opaque result: every field by index and by name, in the field
 * table's order, the same as zarn_parse; diagnostics, standard form, JSON. */
static void TestResult(void) {
  zarn_parser* parser = NULL;
  zarn_error err;
  size_t i;
  int k;
  CHECK(zarn_field_count() == (size_t)ZARN_FIELD_COUNT);
  for (k = 0; k < 5; ++k) {
    CHECK_STR(zarn_field_name((size_t)k), kSingles[k].name);
    CHECK(zarn_field_index(kSingles[k].name) == k);
    CHECK(zarn_field_meaning((size_t)k) != NULL && strlen(zarn_field_meaning((size_t)k)) > 10);
    CHECK(zarn_field_profiles((size_t)k) == ZARN_FILLED_BY_ALL);
  }
  CHECK(zarn_field_name(zarn_field_count()) == NULL);
  CHECK(zarn_field_meaning(zarn_field_count()) == NULL);
  CHECK(zarn_field_profiles(zarn_field_count()) == 0);
  CHECK(zarn_field_index("number") == -1 && zarn_field_index(NULL) == -1);
  CHECK(zarn_profile_count() == 2);
  CHECK_STR(zarn_profile_name(0), ZARN_PROFILE_SPECIFIED);
  CHECK_STR(zarn_profile_name(1), ZARN_PROFILE_CANADA);
  CHECK(zarn_profile_name(2) == NULL);

  parser = Open(database);
  for (i = 0; i < COUNT(kKnown); ++i) {
    const char* a = kKnown[i].address;
    zarn_result* result = NULL;
    zarn_diagnostics diag;
    zarn_standard form;
    CHECK(zarn_parse_result(parser, a, strlen(a), 0, &result, &err) == ZARN_OK);
    CHECK(result != NULL && err.number == 0);
    CHECK(zarn_result_field_count(result) == zarn_field_count());
    for (k = 0; k < 5; ++k) {
      const zarn_text by_index = zarn_result_field(result, (size_t)k);
      CHECK_STR(by_index.data, kKnown[i].parts[k]);
      CHECK(by_index.size == strlen(kKnown[i].parts[k]));
      CHECK_STR(zarn_result_field_by_name(result, kSingles[k].name).data, kKnown[i].parts[k]);
    }
    CHECK_STR(zarn_result_field(result, zarn_field_count()).data, "");
    CHECK_STR(zarn_result_field_by_name(result, "nowhere").data, "");
    CHECK(zarn_result_diagnostics(result, &diag) == ZARN_OK && diag.flags == 0);
    CHECK_STR(diag.unplaced_words.data, "");
    CHECK(zarn_result_standard(result, &form) == ZARN_MISUSE); /* not asked for */
    CHECK_STR(form.line.data, "");
    zarn_result_free(result);
  }
  {
    /* Diagnostics and the standard form, and the JSON of both. */
    zarn_parser* canada = NULL;
    zarn_result* result = NULL;
    zarn_diagnostics diag;
    zarn_standard form;
    char json[1024];
    size_t needed = 0;
    const char* a = "5-123 rue Saint-Denis Ouest";
    CHECK(zarn_open_profile(database, "canada", &canada, &err) == ZARN_OK);
    CHECK(zarn_parse_result(canada, a, strlen(a), ZARN_RESULT_DIAGNOSTICS | ZARN_RESULT_STANDARD,
                            &result, &err) == ZARN_OK);
    CHECK(zarn_result_diagnostics(result, &diag) == ZARN_OK &&
          diag.flags == ZARN_FLAG_UNIT_ASSUMED);
    CHECK(zarn_result_standard(result, &form) == ZARN_OK);
    CHECK_STR(form.line.data, "5-123 RUE SAINT-DENIS O");
    CHECK(form.language == ZARN_LANGUAGE_FRENCH);
    CHECK(zarn_result_json(result, NULL, 0, &needed) == ZARN_BUFFER_TOO_SMALL);
    CHECK(needed > 1 && needed <= sizeof json);
    CHECK(zarn_result_json(result, json, sizeof json, NULL) == ZARN_OK);
    CHECK(strlen(json) + 1 == needed);
    CHECK(strstr(json, "{\"street_number\":\"123\",\"street\":\"Saint-Denis\"") == json);
    CHECK(strstr(json, "\"diagnostics\":{\"flags\":[\"unit_assumed\"]") != NULL);
    CHECK(strstr(json, "\"standard\":{\"line\":\"5-123 RUE SAINT-DENIS O\"") != NULL);
    zarn_result_free(result);
    zarn_close(canada);
  }
  {
    /* Failures: no result, the error of zarn_parse; misuse. */
    zarn_result* result = (zarn_result*)&err;
    CHECK(zarn_parse_result(parser, "12 Ave\xff", 7, 0, &result, &err) == ZARN_FAILED);
    CHECK(result == NULL && err.number == ZARN_ERROR_INVALID_ARGUMENT);
    CHECK(zarn_parse_result(parser, "1 Main St", 9, 0x80u, &result, &err) == ZARN_MISUSE);
    CHECK(zarn_parse_result(NULL, "1 Main St", 9, 0, &result, &err) == ZARN_MISUSE);
    CHECK(zarn_parse_result(parser, "1 Main St", 9, 0, NULL, &err) == ZARN_MISUSE);
    CHECK(zarn_result_field_count(NULL) == 0);
    CHECK_STR(zarn_result_field(NULL, 0).data, "");
    CHECK(zarn_result_json(NULL, NULL, 0, NULL) == ZARN_MISUSE);
    zarn_result_free(NULL);
  }
  zarn_close(parser);
}

static const struct {
  const char* name;
  void (*run)(void);
} kGroups[] = {
    {"result", TestResult},
    {"known", TestKnownAddresses},
    {"buffers", TestBuffers},
    {"nulls", TestNullArguments},
    {"invalid_text", TestInvalidText},
    {"missing_database", TestMissingDatabase},
    {"batch", TestBatch},
    {"version", TestVersion},
    {"standard", TestStandard},
    {"profiles", TestProfiles},
};

int main(int argc, char** argv) {
  size_t i;
  if (argc != 4) {
    fprintf(stderr, "usage: capi_test GROUP DATABASE SCRATCH_DIR\n");
    return 2;
  }
  database = argv[2];
  scratch = argv[3];
  for (i = 0; i < COUNT(kGroups); ++i) {
    if (strcmp(argv[1], kGroups[i].name) == 0) {
      kGroups[i].run();
      if (failures) fprintf(stderr, "%s: %d checks failed\n", argv[1], failures);
      return failures ? 1 : 0;
    }
  }
  fprintf(stderr, "capi_test: unknown group '%s'\n", argv[1]);
  return 2;
}
