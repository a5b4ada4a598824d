/*
 * boardmill: read converted chess-position shards and decode their 32-byte PackedSfen records.
 *
 * The whole public interface of libboardmill. It is plain C (C99 and later, and C++), holds no
 * C++ type and lets no exception through. Handles are opaque: create them with the *_open calls
 * and release them with the matching *_close call.
 *
 * Errors: every call that can fail returns a negative number. boardmill_last_error() then gives
 * a one-line message for the calling thread. A call that fails leaves no half-made handle behind
 * (its `*out` is set to NULL).
 *
 * Threads: a handle is used by one thread at a time. Separate handles may be used from separate
 * threads at once; several readers may share one dataset, which they only read.
 */
#ifndef BOARDMILL_BOARDMILL_H
#define BOARDMILL_BOARDMILL_H

#include <stddef.h>
#include <stdint.h>

#if defined(__GNUC__) || defined(__clang__)
#define BOARDMILL_API __attribute__((visibility("default")))
#else
#define BOARDMILL_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* The size of one record in bytes. */
#define BOARDMILL_RECORD_SIZE 32

/*-**************************************************************************
 *  Datasets: a converted directory of shard files
 ****************************************************************************/

typedef struct boardmill_dataset boardmill_dataset;

/* Opens the converted directory `dir`: the shards its shard-index.json lists, or without an index
 * the files named shard-NNN.psfen.zst. With an index, readers check every shard's record count
 * against it; with `verify` non-zero (which needs an index) also its stored size and XXH64,
 * before any of its records are handed out. On success stores a new handle in `*out`, to be
 * released with boardmill_dataset_close, and returns 0. Fails (negative, `*out` NULL) on a
 * missing or unreadable directory, a malformed index, or a directory without shards. */
BOARDMILL_API int boardmill_dataset_open(const char* dir, int verify, boardmill_dataset** out);

/* Releases a dataset. Every reader opened on it must have been closed first. NULL is ignored. */
BOARDMILL_API void boardmill_dataset_close(boardmill_dataset* dataset);

/* The number of shard files of the dataset. */
BOARDMILL_API uint32_t boardmill_dataset_shards(const boardmill_dataset* dataset);

/* The number of records of the whole dataset as its index lists them; 0 without an index. */
BOARDMILL_API uint64_t boardmill_dataset_records(const boardmill_dataset* dataset);

/*-**************************************************************************
 *  Readers: one share of a dataset, in stored or shuffled order
 ****************************************************************************/

typedef struct boardmill_reader boardmill_reader;

typedef struct {
  uint32_t rank, world;     /* processes of a job: this one reads shards s with s % world == rank */
  uint32_t worker, workers; /* data-loader workers inside a process: a further split of those
                               shards, the i-th of them (in id order) going to worker i % workers */
  uint64_t shuffle_buffer;  /* 0: stored order; else records pass through a buffer of this many,
                               drawn at random, and the shards are read in a shuffled order */
  uint64_t seed, epoch;     /* the order depends on both; a new epoch gives a new order */
} boardmill_reader_options;

/* Opens a reader of the share of `dataset` that `options` select. Across one epoch, the readers
 * of every (rank, worker) pair with the same world and workers return every record of the
 * dataset exactly once between them. With a zero shuffle buffer a reader returns its records in
 * stored order (shard by shard, in id order); otherwise the order is a function of the seed and
 * the epoch alone. The reader keeps a pointer to the dataset, which must outlive it. On success
 * stores a new handle in `*out`, to be released with boardmill_reader_close, and returns 0.
 * Fails (negative, `*out` NULL) when world or workers is 0 or rank or worker is out of range. */
BOARDMILL_API int boardmill_reader_open(const boardmill_dataset* dataset,
                                        const boardmill_reader_options* options,
                                        boardmill_reader** out);

/* Copies up to `max_records` of the next records, 32 bytes each, into `records`, which must have
 * room for max_records * BOARDMILL_RECORD_SIZE bytes. Returns the number copied, 0 once the
 * reader's share is exhausted, or negative on a shard that cannot be read, is damaged or does not
 * match the index: a damaged shard never yields records made of its damaged bytes. After an
 * error the reader is spent; every later call fails again. */
BOARDMILL_API int64_t boardmill_reader_next(boardmill_reader* reader, uint8_t* records,
                                            size_t max_records);

/* Releases a reader. NULL is ignored. */
BOARDMILL_API void boardmill_reader_close(boardmill_reader* reader);

/*-**************************************************************************
 *  Decoding and encoding records
 ****************************************************************************/

/* Positions as columns, `n` of each. Squares are numbered rank * 8 + file, a1 = 0, h8 = 63. */
typedef struct {
  uint8_t* pieces;       /* [n][64]: 0 empty, 1..12 = P p N n B b R r Q q K k */
  uint64_t* bitboards;   /* [n][12] in the order P N B R Q K p n b r q k, bit = square */
  uint8_t* side_to_move; /* [n], 0 white, 1 black */
  uint8_t* castling;     /* [n], K 1, Q 2, k 4, q 8 */
  int8_t* ep_square;     /* [n], -1 none */
  uint8_t* halfmove;     /* [n] */
  uint16_t* fullmove;    /* [n] */
  uint8_t* valid;        /* [n], 0 where the record does not decode */
} boardmill_positions;

/* Decodes `n` records of 32 bytes each from `records` into the arrays of `out`. Any array of
 * `out` may be NULL and is then not written. A record that does not decode (equal king squares,
 * an invalid piece code, fields running past bit 255) gets valid 0 and all its other fields 0;
 * the others get valid 1. Returns the number of valid records, or negative when `out` is NULL or
 * `records` is NULL with n > 0. Allocates nothing; safe to call from any number of threads on
 * separate arrays. */
BOARDMILL_API int64_t boardmill_decode(const uint8_t* records, size_t n, boardmill_positions* out);

/* Encodes `n` positions from the arrays of `in` (pieces, side_to_move, castling, ep_square,
 * halfmove and fullmove, all required; bitboards and valid are ignored) into `records`, 32 bytes
 * each, byte for byte as the converter writes them. Returns 0, or negative when a position
 * cannot be held by a record (not exactly one king of each colour, a halfmove clock above 127, a
 * fullmove number of 0, more pieces than fit, a field out of range); boardmill_last_error() then
 * names the first such position by its index. The records before it are written. */
BOARDMILL_API int boardmill_encode(const boardmill_positions* in, size_t n, uint8_t* records);

/*-**************************************************************************
 *  Errors and version
 ****************************************************************************/

/* The one-line message of the calling thread's last failed call; "" when none failed yet. The
 * text stays valid until the thread's next failing call. */
BOARDMILL_API const char* boardmill_last_error(void);

/* The library version, "MAJOR.MINOR.PATCH". */
BOARDMILL_API const char* boardmill_version(void);

#ifdef __cplusplus
}
#endif

#endif /* BOARDMILL_BOARDMILL_H */
