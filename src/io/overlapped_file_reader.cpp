#include "io/overlapped_file_reader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <memory>
#include <string>
#include <string_view>
#include <system_error>
#include <utility>
#include <vector>

#include "io/async_read_engine.h"
#include "io/io_uring_read_engine.h"
#include "io/positional_read_engine.h"
#include "util/stopwatch.h"

namespace boardmill::io {
namespace {

namespace fs = std::filesystem;

// Reads kept in flight at most: each holds a whole chunk in memory, and more of them would not
// keep a device any busier.
constexpr std::uint64_t kMaxSlots = 64;
// A single read asks for at most this much, well below what one system call transfers;
// larger chunks are filled by several reads in a row.
constexpr std::uint64_t kMaxReadRequestBytes = std::uint64_t{1} << 30;

constexpr std::string_view kOpenFailed = "Failed to open input file";
constexpr std::string_view kSizeQueryFailed = "Failed to query file size for";
constexpr std::string_view kSetupFailed = "Failed to set up asynchronous reads for";
constexpr std::string_view kStartFailed = "Asynchronous read failed for";
constexpr std::string_view kWaitFailed = "Failed while waiting for async reads on";
constexpr std::string_view kCompletionFailed = "Failed to complete async read for";

std::string DescribeFailure(std::string_view prefix, const fs::path& path,
                            std::string_view reason) {
  std::string message(prefix);
  message.append(" ").append(path.string()).append(": ").append(reason);
  return message;
}

util::Error SystemFailure(std::string_view prefix, const fs::path& path, int error) {
  return util::Fail(DescribeFailure(prefix, path, std::system_category().message(error)));
}

class FileDescriptor {
 public:
  explicit FileDescriptor(int descriptor) : descriptor_(descriptor) {}
  ~FileDescriptor() {
    if (descriptor_ >= 0) close(descriptor_);
  }
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;

  int get() const { return descriptor_; }
  bool valid() const { return descriptor_ >= 0; }

 private:
  int descriptor_;
};

// One read that can be in flight. Its buffer is empty until a read is issued into it and
// moves to the visitor when its chunk is delivered.
struct ReadSlot {
  std::vector<std::uint8_t> buffer;
  std::uint64_t offset = 0;
  std::uint64_t sequence = 0;
  std::uint64_t length = 0;
  std::uint64_t transferred = 0;
  // A read into this slot has been started and has not ended.
  bool pending = false;
  // The whole chunk is in the buffer and waits for its turn to be delivered.
  bool completed = false;
};

// Keeps up to `slot_count` reads going and hands their chunks over in file order.
class OrderedChunkReader {
 public:
  OrderedChunkReader(const fs::path& path, int file_descriptor, std::uint64_t file_size,
                     std::uint64_t chunk_size, std::uint32_t slot_count, AsyncReadEngine& engine,
                     AsyncFileReadStats& stats, const AsyncFileChunkVisitor& visitor)
      : path_(path),
        file_descriptor_(file_descriptor),
        file_size_(file_size),
        chunk_size_(chunk_size),
        slots_(std::make_unique<std::vector<ReadSlot>>(slot_count)),
        engine_(engine),
        stats_(stats),
        visitor_(visitor) {}

  ~OrderedChunkReader() {
    if (reads_in_flight_ > 0) CancelOutstandingReads();
  }
  OrderedChunkReader(const OrderedChunkReader&) = delete;
  OrderedChunkReader& operator=(const OrderedChunkReader&) = delete;

  // False once reads were left running that the engine could not confirm as ended: the engine
  // may still report them, so it must not serve another file.
  bool EngineReusable() const { return engine_reusable_; }

  util::Result<bool> Run() {
    stopwatch_.Restart();
    for (std::uint32_t slot = 0; slot < Slots().size(); ++slot) {
      if (util::Result<void> issued = IssueNextRead(slot); !issued) {
        return Abort(std::move(issued).TakeError());
      }
    }
    while (reads_in_flight_ > 0) {
      ReadCompletion completion;
      if (const int error = engine_.WaitForCompletion(completion); error != 0) {
        return Abort(SystemFailure(kWaitFailed, path_, error));
      }
      if (util::Result<void> handled = HandleCompletion(completion); !handled) {
        return Abort(std::move(handled).TakeError());
      }
      util::Result<bool> delivering = DeliverReadyChunks();
      if (!delivering) return Abort(std::move(delivering).TakeError());
      if (!*delivering) {
        CancelOutstandingReads();
        RecordDelivery();
        return false;
      }
    }
    RecordDelivery();
    return true;
  }

 private:
  std::vector<ReadSlot>& Slots() { return *slots_; }

  util::Result<void> IssueNextRead(std::uint32_t index) {
    if (next_read_offset_ >= file_size_) return {};
    ReadSlot& slot = Slots()[index];
    slot.offset = next_read_offset_;
    slot.sequence = next_sequence_++;
    slot.length = std::min(file_size_ - slot.offset, chunk_size_);
    slot.transferred = 0;
    slot.buffer.resize(slot.length);
    next_read_offset_ += slot.length;
    return ContinueRead(index);
  }

  // Starts a read of the part of the slot's chunk not transferred yet.
  util::Result<void> ContinueRead(std::uint32_t index) {
    ReadSlot& slot = Slots()[index];
    const std::uint64_t request = std::min(slot.length - slot.transferred, kMaxReadRequestBytes);
    const int error =
        engine_.StartRead(file_descriptor_, index, slot.buffer.data() + slot.transferred,
                          static_cast<std::uint32_t>(request), slot.offset + slot.transferred);
    if (error != 0) return SystemFailure(kStartFailed, path_, error);
    slot.pending = true;
    ++reads_in_flight_;
    return {};
  }

  util::Result<void> HandleCompletion(const ReadCompletion& completion) {
    if (completion.slot >= Slots().size() || !Slots()[completion.slot].pending) {
      return util::Fail("Unexpected async read wait result for: " + path_.string());
    }
    ReadSlot& slot = Slots()[completion.slot];
    slot.pending = false;
    --reads_in_flight_;
    if (completion.result < 0) {
      return SystemFailure(kCompletionFailed, path_, static_cast<int>(-completion.result));
    }
    // The file shrank after its size was taken: the missing bytes will never come.
    if (completion.result == 0) {
      return util::Fail(DescribeFailure(kCompletionFailed, path_, "unexpected end of file"));
    }
    slot.transferred += static_cast<std::uint64_t>(completion.result);
    // A short read is not the end of the chunk: ask again for the rest.
    if (slot.transferred < slot.length) return ContinueRead(completion.slot);
    slot.completed = true;
    return {};
  }

  // Hands over every chunk that is next in file order; false when the visitor stopped.
  util::Result<bool> DeliverReadyChunks() {
    for (;;) {
      const auto next = std::find_if(Slots().begin(), Slots().end(), [this](const ReadSlot& slot) {
        return slot.completed && slot.offset == next_delivery_offset_;
      });
      if (next == Slots().end()) return true;
      next->completed = false;
      next_delivery_offset_ += next->length;
      ++stats_.chunks;
      util::Result<bool> verdict =
          visitor_(AsyncFileReadChunk{std::move(next->buffer), next->sequence, next->offset});
      if (!verdict || !*verdict) return verdict;
      const auto index = static_cast<std::uint32_t>(next - Slots().begin());
      if (util::Result<void> issued = IssueNextRead(index); !issued) {
        return std::move(issued).TakeError();
      }
    }
  }

  util::Error Abort(util::Error error) {
    CancelOutstandingReads();
    return error;
  }

  void CancelOutstandingReads() {
    std::vector<std::uint32_t> pending;
    for (std::uint32_t index = 0; index < Slots().size(); ++index) {
      if (Slots()[index].pending) pending.push_back(index);
      Slots()[index].pending = false;
    }
    reads_in_flight_ = 0;
    // The system may still write into these buffers; leaking them is the only safe choice.
    if (!engine_.CancelAndDrain(pending)) {
      static_cast<void>(slots_.release());
      engine_reusable_ = false;
    }
  }

  void RecordDelivery() {
    stats_.elapsed_seconds = stopwatch_.ElapsedSeconds();
    stats_.bytes = next_delivery_offset_;
  }

  const fs::path& path_;
  const int file_descriptor_;
  const std::uint64_t file_size_;
  const std::uint64_t chunk_size_;
  // Behind a pointer so that the buffers can be given up for good when the system cannot
  // confirm that their reads have ended.
  std::unique_ptr<std::vector<ReadSlot>> slots_;
  AsyncReadEngine& engine_;
  AsyncFileReadStats& stats_;
  const AsyncFileChunkVisitor& visitor_;
  util::Stopwatch stopwatch_;
  std::uint64_t next_read_offset_ = 0;
  std::uint64_t next_sequence_ = 0;
  std::uint64_t next_delivery_offset_ = 0;
  std::uint64_t reads_in_flight_ = 0;
  bool engine_reusable_ = true;
};

util::Result<std::unique_ptr<AsyncReadEngine>> CreateEngine(const AsyncFileReadRequest& request,
                                                            std::uint32_t depth) {
  if (request.backend == AsyncReadBackend::kPositionalReads) {
    return std::unique_ptr<AsyncReadEngine>(std::make_unique<PositionalReadEngine>());
  }
  IoUringSetup setup = IoUringReadEngine::Create(depth);
  if (setup.engine) return std::unique_ptr<AsyncReadEngine>(std::move(setup.engine));
  if (request.backend == AsyncReadBackend::kIoUring) {
    return SystemFailure(kSetupFailed, request.path, setup.error);
  }
  return std::unique_ptr<AsyncReadEngine>(std::make_unique<PositionalReadEngine>());
}

std::uint32_t SlotCount(std::uint64_t file_size, std::uint64_t chunk_size,
                        std::uint64_t max_reads_in_flight) {
  const std::uint64_t chunk_count = file_size / chunk_size + (file_size % chunk_size != 0 ? 1 : 0);
  const std::uint64_t slots = std::min({max_reads_in_flight, chunk_count, kMaxSlots});
  return static_cast<std::uint32_t>(std::max<std::uint64_t>(slots, 1));
}

}  // namespace

AsyncFileReader::AsyncFileReader() = default;
AsyncFileReader::~AsyncFileReader() = default;

util::Result<AsyncReadEngine*> AsyncFileReader::EngineFor(const AsyncFileReadRequest& request,
                                                          std::uint32_t depth) {
  if (!engine_ || engine_backend_ != request.backend || engine_depth_ < depth) {
    engine_.reset();
    util::Result<std::unique_ptr<AsyncReadEngine>> created = CreateEngine(request, depth);
    if (!created) return std::move(created).TakeError();
    engine_ = std::move(*created);
    engine_backend_ = request.backend;
    engine_depth_ = depth;
  }
  return engine_.get();
}

util::Result<bool> AsyncFileReader::Visit(const AsyncFileReadRequest& request,
                                          AsyncFileReadStats& stats,
                                          const AsyncFileChunkVisitor& visitor) {
  if (!visitor) return util::Fail("Async file chunk visitor must be callable.");
  const FileDescriptor file(open(request.path.c_str(), O_RDONLY | O_CLOEXEC));
  if (!file.valid()) return SystemFailure(kOpenFailed, request.path, errno);
  struct stat status {};
  if (fstat(file.get(), &status) != 0) return SystemFailure(kSizeQueryFailed, request.path, errno);
  // Only a hint for the page cache; reading works the same without it.
  posix_fadvise(file.get(), 0, 0, POSIX_FADV_SEQUENTIAL);

  const auto file_size = static_cast<std::uint64_t>(status.st_size);
  stats.bytes = file_size;
  if (file_size == 0) {
    stats.elapsed_seconds = 0.0;
    return true;
  }
  const std::uint64_t chunk_size = std::max<std::uint64_t>(request.chunk_size, 1);
  const std::uint32_t slot_count = SlotCount(file_size, chunk_size, request.max_reads_in_flight);
  // A ring deep enough for the most reads a request may keep going serves every later file.
  const std::uint32_t depth = SlotCount(UINT64_MAX, 1, request.max_reads_in_flight);
  util::Result<AsyncReadEngine*> engine = EngineFor(request, depth);
  if (!engine) return std::move(engine).TakeError();
  util::Result<bool> delivered = false;
  bool engine_reusable = true;
  {
    OrderedChunkReader reader(request.path, file.get(), file_size, chunk_size, slot_count, **engine,
                              stats, visitor);
    delivered = reader.Run();
    engine_reusable = reader.EngineReusable();
  }
  // Reads it could not confirm as ended could still complete into the next file's slots.
  if (!engine_reusable) engine_.reset();
  return delivered;
}

util::Result<bool> VisitFileChunksAsync(const AsyncFileReadRequest& request,
                                        AsyncFileReadStats& stats,
                                        const AsyncFileChunkVisitor& visitor) {
  AsyncFileReader reader;
  return reader.Visit(request, stats, visitor);
}

}  // namespace boardmill::io
