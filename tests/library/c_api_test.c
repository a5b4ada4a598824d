/* The public header from plain C99: a record decoded into every column, encoded back, and the
 * errors a C caller sees. Exits 0 when every check holds. */

#include <boardmill/boardmill.h>
#include <stdio.h>
#include <string.h>

static int failures = 0;

#define CHECK(condition)                                                            \
  do {                                                                              \
    if (!(condition)) {                                                             \
      fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition); \
      ++failures;                                                                   \
    }                                                                               \
  } while (0)

/* 8/8/8/8/8/8/8/K6k b - - 100 300 as the converter writes it. */
static const uint8_t kBareKings[BOARDMILL_RECORD_SIZE] = {0x81, 0x03, 0x00, 0x00, 0x00, 0x00, 0x00,
                                                          0x00, 0x00, 0x00, 0x24, 0x4b, 0x40};

int main(void) {
  uint8_t records[2 * BOARDMILL_RECORD_SIZE];
  uint8_t pieces[2][64];
  uint64_t bitboards[2][12];
  uint8_t side[2], castling[2], halfmove[2], valid[2];
  int8_t ep[2];
  uint16_t fullmove[2];
  boardmill_positions positions;
  uint8_t encoded[BOARDMILL_RECORD_SIZE];
  boardmill_dataset* dataset = NULL;

  memcpy(records, kBareKings, BOARDMILL_RECORD_SIZE);
  memset(records + BOARDMILL_RECORD_SIZE, 0, BOARDMILL_RECORD_SIZE); /* both kings on a1 */
  positions.pieces = &pieces[0][0];
  positions.bitboards = &bitboards[0][0];
  positions.side_to_move = side;
  positions.castling = castling;
  positions.ep_square = ep;
  positions.halfmove = halfmove;
  positions.fullmove = fullmove;
  positions.valid = valid;

  CHECK(boardmill_decode(records, 2, &positions) == 1);
  CHECK(valid[0] == 1 && valid[1] == 0);
  CHECK(pieces[0][0] == 11 && pieces[0][7] == 12);
  CHECK(bitboards[0][5] == 1 && bitboards[0][11] == 0x80);
  CHECK(side[0] == 1 && castling[0] == 0 && ep[0] == -1);
  CHECK(halfmove[0] == 100 && fullmove[0] == 300);

  CHECK(boardmill_encode(&positions, 1, encoded) == 0);
  CHECK(memcmp(encoded, kBareKings, BOARDMILL_RECORD_SIZE) == 0);
  halfmove[0] = 128;
  CHECK(boardmill_encode(&positions, 1, encoded) < 0);
  CHECK(strcmp(boardmill_last_error(),
               "Position 0 cannot be encoded: Rule-50 counter exceeds PackedSfen capacity.") == 0);

  CHECK(boardmill_decode(records, 1, NULL) < 0);
  CHECK(boardmill_dataset_open("/nonexistent/boardmill", 0, &dataset) < 0);
  CHECK(dataset == NULL && strlen(boardmill_last_error()) > 0);
  CHECK(strcmp(boardmill_version(), BOARDMILL_EXPECTED_VERSION) == 0);
  return failures == 0 ? 0 : 1;
}
