// The C entry points: each checks its arguments, calls the C++ code and turns every failure,
// thrown or returned, into a negative result and the thread's last error.

#include <memory>
#include <utility>

#include "boardmill/boardmill.h"
#include "library/dataset.h"
#include "library/last_error.h"
#include "library/reader.h"
#include "library/record_decoder.h"
#include "library/record_encoder.h"

namespace library = boardmill::library;

struct boardmill_dataset {
  std::unique_ptr<library::Dataset> dataset;
};

struct boardmill_reader {
  std::unique_ptr<library::Reader> reader;
};

extern "C" {

int boardmill_dataset_open(const char* dir, int verify, boardmill_dataset** out) {
  if (out == nullptr) return library::SetLastError("boardmill_dataset_open: out is NULL.");
  *out = nullptr;
  if (dir == nullptr) return library::SetLastError("boardmill_dataset_open: dir is NULL.");
  return library::CatchAtBoundary([&]() -> int {
    auto opened = library::Dataset::Open(dir, verify != 0);
    if (!opened) return library::SetLastError(opened.error());
    *out = new boardmill_dataset{std::move(*opened)};
    return 0;
  });
}

void boardmill_dataset_close(boardmill_dataset* dataset) { delete dataset; }

uint32_t boardmill_dataset_shards(const boardmill_dataset* dataset) {
  return dataset == nullptr ? 0 : static_cast<uint32_t>(dataset->dataset->shards().size());
}

uint64_t boardmill_dataset_records(const boardmill_dataset* dataset) {
  return dataset == nullptr ? 0 : dataset->dataset->records();
}

int boardmill_reader_open(const boardmill_dataset* dataset, const boardmill_reader_options* options,
                          boardmill_reader** out) {
  if (out == nullptr) return library::SetLastError("boardmill_reader_open: out is NULL.");
  *out = nullptr;
  if (dataset == nullptr || options == nullptr) {
    return library::SetLastError("boardmill_reader_open: dataset or options is NULL.");
  }
  return library::CatchAtBoundary([&]() -> int {
    auto opened = library::Reader::Open(*dataset->dataset, *options);
    if (!opened) return library::SetLastError(opened.error());
    *out = new boardmill_reader{std::move(*opened)};
    return 0;
  });
}

int64_t boardmill_reader_next(boardmill_reader* reader, uint8_t* records, size_t max_records) {
  if (reader == nullptr || (records == nullptr && max_records != 0)) {
    return library::SetLastError("boardmill_reader_next: reader or records is NULL.");
  }
  return library::CatchAtBoundary([&]() -> int64_t {
    const auto copied = reader->reader->Next(records, max_records);
    if (!copied) return library::SetLastError(copied.error());
    return static_cast<int64_t>(*copied);
  });
}

void boardmill_reader_close(boardmill_reader* reader) { delete reader; }

int64_t boardmill_decode(const uint8_t* records, size_t n, boardmill_positions* out) {
  if (out == nullptr || (records == nullptr && n != 0)) {
    return library::SetLastError("boardmill_decode: records or out is NULL.");
  }
  return static_cast<int64_t>(library::DecodeRecords(records, n, *out));
}

int boardmill_encode(const boardmill_positions* in, size_t n, uint8_t* records) {
  if (n == 0) return 0;
  if (in == nullptr || records == nullptr || in->pieces == nullptr || in->side_to_move == nullptr ||
      in->castling == nullptr || in->ep_square == nullptr || in->halfmove == nullptr ||
      in->fullmove == nullptr) {
    return library::SetLastError(
        "boardmill_encode: records, or a column encoding needs (pieces, side_to_move, castling, "
        "ep_square, halfmove, fullmove), is NULL.");
  }
  return library::CatchAtBoundary([&]() -> int {
    const boardmill::util::Result<void> encoded = library::EncodeRecords(*in, n, records);
    return encoded ? 0 : library::SetLastError(encoded.error());
  });
}

const char* boardmill_last_error(void) { return library::LastError(); }

const char* boardmill_version(void) { return BOARDMILL_LIBRARY_VERSION; }

}  // extern "C"
