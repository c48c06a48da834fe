/* Uses the installed C API: parses an address and checks the parts. With an
 * argument, the parser is opened with zarn_open(NULL, ...), which must find
 * the installed database by itself at the path given; the parts are then
 * also read from a zarn_result, by name. */
#include <stdio.h>
#include <string.h>
#include <zarn/zarn.h>

int main(int argc, char** argv) {
  const char* by_default = argc > 1 ? argv[1] : NULL;
  zarn_parser* parser = NULL;
  zarn_error err;
  zarn_parts parts;
  char buffer[256];
  const char* address = "5-123 rue Saint-Denis Ouest";
  int ok;
  if (zarn_open(by_default ? NULL : ZARN_CONSUMER_DATABASE, &parser, &err) != ZARN_OK) {
    fprintf(stderr, "open: %s\n", err.message);
    return 1;
  }
  if (by_default && strcmp(zarn_database_path(parser), by_default) != 0) {
    fprintf(stderr, "default database %s, not %s\n", zarn_database_path(parser), by_default);
    zarn_close(parser);
    return 1;
  }
  if (zarn_parse(parser, address, strlen(address), buffer, sizeof buffer, NULL, &parts, &err) !=
      ZARN_OK) {
    fprintf(stderr, "parse: %d %s\n", err.number, err.message);
    zarn_close(parser);
    return 1;
  }
  printf("%s|%s|%s|%s|%s\n", parts.street_number.data, parts.street.data, parts.street_type.data,
         parts.direction.data, parts.unit.data);
  ok = strcmp(parts.street_number.data, "123") == 0 &&
       strcmp(parts.street.data, "Saint Denis") == 0 &&
       strcmp(parts.street_type.data, "rue") == 0 && strcmp(parts.direction.data, "W") == 0 &&
       strcmp(parts.unit.data, "5") == 0;
  ok = ok &&
       zarn_street(parser, "12 Ave\xff", 7, buffer, sizeof buffer, NULL, &err) == ZARN_FAILED &&
       err.number == ZARN_ERROR_INVALID_ARGUMENT;
  {
    zarn_result* result = NULL;
    ok = ok && zarn_parse_result(parser, address, strlen(address), 0, &result, &err) == ZARN_OK &&
         zarn_result_field_count(result) >= 5 &&
         strcmp(zarn_result_field_by_name(result, "street_number").data, "123") == 0 &&
         strcmp(zarn_result_field(result, ZARN_FIELD_UNIT).data, "5") == 0;
    zarn_result_free(result);
  }
  zarn_close(parser);
  if (ok) printf("consumer_c: ok (zarn %s)\n", zarn_version());
  return ok ? 0 : 1;
}
