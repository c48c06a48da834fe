/* One C parser handle shared by several threads: every thread parses the same
 * addresses over and over and must get the answers a single thread gets.
 * Built with ThreadSanitizer in the tsan preset.
 *
 *   capi_threads_test DATABASE */
#include <pthread.h>
#include <stdio.h>
#include <string.h>

#include "zarn/zarn.h"

#define THREADS 4
#define ROUNDS 50

static const char* const kAddresses[] = {
    "123 Main St. N",    "5-123 rue Saint-Denis Ouest",
    "Apt 5 21st Ave",    "4500 boul Saint-Laurent Ouest",
    "1082 MANITOBA AVE", "731 ROSSEAU AVE W",
    "12 Ave\xff",        "",
};
#define COUNT (sizeof(kAddresses) / sizeof(kAddresses[0]))

/* What one thread saw for one address: the status, the error number and the
 * five parts packed as zarn_parse writes them. */
typedef struct {
  zarn_status status;
  int number;
  char packed[256];
  size_t size;
} Answer;

static zarn_parser* shared;
static Answer expected[COUNT];

static void ParseOne(size_t i, Answer* a) {
  zarn_parts parts;
  zarn_error err;
  memset(a, 0, sizeof *a);
  a->status = zarn_parse(shared, kAddresses[i], strlen(kAddresses[i]), a->packed, sizeof a->packed,
                         &a->size, &parts, &err);
  a->number = err.number;
}

static void* Worker(void* arg) {
  int* mismatches = arg;
  int round;
  size_t i;
  for (round = 0; round < ROUNDS; ++round) {
    for (i = 0; i < COUNT; ++i) {
      Answer got;
      ParseOne((i + (size_t)round) % COUNT, &got);
      const Answer* want = &expected[(i + (size_t)round) % COUNT];
      if (got.status != want->status || got.number != want->number || got.size != want->size ||
          memcmp(got.packed, want->packed, got.size) != 0) {
        ++*mismatches;
      }
    }
  }
  return NULL;
}

int main(int argc, char** argv) {
  pthread_t threads[THREADS];
  int mismatches[THREADS] = {0};
  int t, total = 0, failed_seen = 0;
  size_t i;
  zarn_error err;
  if (argc != 2) {
    fprintf(stderr, "usage: capi_threads_test DATABASE\n");
    return 2;
  }
  if (zarn_open(argv[1], &shared, &err) != ZARN_OK) {
    fprintf(stderr, "open failed: %s\n", err.message);
    return 2;
  }
  for (i = 0; i < COUNT; ++i) {
    ParseOne(i, &expected[i]);
    if (expected[i].status == ZARN_FAILED)
      ++failed_seen;
    else if (expected[i].status != ZARN_OK)
      ++total;
  }
  if (failed_seen != 1) {
    fprintf(stderr, "expected exactly one failing address, saw %d\n", failed_seen);
    ++total;
  }
  for (t = 0; t < THREADS; ++t) pthread_create(&threads[t], NULL, Worker, &mismatches[t]);
  for (t = 0; t < THREADS; ++t) {
    pthread_join(threads[t], NULL);
    total += mismatches[t];
  }
  zarn_close(shared);
  if (total) fprintf(stderr, "%d answers differed between threads\n", total);
  return total ? 1 : 0;
}
