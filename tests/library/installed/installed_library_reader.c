/* Built by check_installed_library.sh against an installed libboardmill, as a trainer would
 * build: reads every record of a converted directory, decodes them all and checks that the
 * count matches the index and that every record decodes. Usage: PROGRAM DIR VERSION. */
#include <boardmill/boardmill.h>
#include <stdio.h>
#include <string.h>

enum { kBatch = 4096 };

static uint8_t records[kBatch * BOARDMILL_RECORD_SIZE];
static uint8_t pieces[kBatch * 64];
static uint8_t valid[kBatch];

static int fail(const char* what) {
  fprintf(stderr, "%s: %s\n", what, boardmill_last_error());
  return 1;
}

/* Reads and decodes the whole dataset; the number of records that decode, or -1. */
static int64_t count_valid_records(const boardmill_dataset* dataset) {
  boardmill_reader_options options;
  boardmill_reader* reader = NULL;
  boardmill_positions positions;
  int64_t valid_records = 0;
  int64_t read;
  memset(&options, 0, sizeof options);
  options.world = 1;
  options.workers = 1;
  memset(&positions, 0, sizeof positions);
  positions.pieces = pieces;
  positions.valid = valid;
  if (boardmill_reader_open(dataset, &options, &reader) < 0) return -1;
  while ((read = boardmill_reader_next(reader, records, kBatch)) > 0)
    valid_records += boardmill_decode(records, (size_t)read, &positions);
  boardmill_reader_close(reader);
  return read < 0 ? -1 : valid_records;
}

int main(int argc, char** argv) {
  boardmill_dataset* dataset = NULL;
  uint64_t expected;
  int64_t valid_records;
  if (argc != 3) {
    fprintf(stderr, "usage: %s DIR VERSION\n", argv[0]);
    return 2;
  }
  if (strcmp(boardmill_version(), argv[2]) != 0) {
    fprintf(stderr, "version %s, expected %s\n", boardmill_version(), argv[2]);
    return 1;
  }
  if (boardmill_dataset_open(argv[1], 1, &dataset) < 0) return fail("open");
  expected = boardmill_dataset_records(dataset);
  valid_records = count_valid_records(dataset);
  boardmill_dataset_close(dataset);
  if (valid_records < 0) return fail("read");
  if (expected == 0 || (uint64_t)valid_records != expected) {
    fprintf(stderr, "%lld records decode, the index lists %llu\n", (long long)valid_records,
            (unsigned long long)expected);
    return 1;
  }
  printf("%llu records\n", (unsigned long long)expected);
  return 0;
}
