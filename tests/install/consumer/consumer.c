/* Uses the installed C API: parses an address and checks the parts. */
#include <stdio.h>
#include <string.h>
#include <zarn/zarn.h>

int main(void) {
  zarn_parser* parser = NULL;
  zarn_error err;
  zarn_parts parts;
  char buffer[256];
  const char* address = "5-123 rue Saint-Denis Ouest";
  int ok;
  if (zarn_open(ZARN_CONSUMER_DATABASE, &parser, &err) != ZARN_OK) {
    fprintf(stderr, "open: %s\n", err.message);
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
  zarn_close(parser);
  if (ok) printf("consumer_c: ok (zarn %s)\n", zarn_version());
  return ok ? 0 : 1;
}
