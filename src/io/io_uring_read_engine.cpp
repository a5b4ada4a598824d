#include "io/io_uring_read_engine.h"

#include <cerrno>
#include <limits>

namespace boardmill::io {
namespace {

// Marks entries whose completions nobody waits for: cancellations and neutralised reads.
constexpr std::uint64_t kUntrackedEntry = std::numeric_limits<std::uint64_t>::max();

bool SupportsReads(io_uring& ring) {
  io_uring_probe* probe = io_uring_get_probe_ring(&ring);
  if (probe == nullptr) return false;
  const bool supported = io_uring_opcode_supported(probe, IORING_OP_READ) != 0;
  io_uring_free_probe(probe);
  return supported;
}

}  // namespace

IoUringReadEngine::~IoUringReadEngine() {
  if (ring_ready_) io_uring_queue_exit(&ring_);
}

IoUringSetup IoUringReadEngine::Create(std::uint32_t depth) {
  std::unique_ptr<IoUringReadEngine> engine(new IoUringReadEngine());
  const int status = io_uring_queue_init(depth, &engine->ring_, 0);
  if (status < 0) return IoUringSetup{nullptr, -status};
  engine->ring_ready_ = true;
  if (!SupportsReads(engine->ring_)) return IoUringSetup{nullptr, EOPNOTSUPP};
  return IoUringSetup{std::move(engine), 0};
}

int IoUringReadEngine::StartRead(int file_descriptor, std::uint32_t slot, std::uint8_t* destination,
                                 std::uint32_t length, std::uint64_t offset) {
  io_uring_sqe* entry = io_uring_get_sqe(&ring_);
  if (entry == nullptr) return EBUSY;
  io_uring_prep_read(entry, file_descriptor, destination, length, offset);
  io_uring_sqe_set_data64(entry, slot);
  const int submitted = io_uring_submit(&ring_);
  if (submitted > 0) return 0;
  // The kernel did not take the entry. It stays in the queue and would go out with the next
  // submission, writing into a buffer nobody waits for, so it becomes a no-op instead.
  io_uring_prep_nop(entry);
  io_uring_sqe_set_data64(entry, kUntrackedEntry);
  return submitted < 0 ? -submitted : EAGAIN;
}

int IoUringReadEngine::WaitForCompletion(ReadCompletion& completion) {
  for (;;) {
    io_uring_cqe* event = nullptr;
    const int status = io_uring_wait_cqe(&ring_, &event);
    if (status == -EINTR) continue;
    if (status < 0) return -status;
    const std::uint64_t tag = io_uring_cqe_get_data64(event);
    const std::int32_t result = event->res;
    io_uring_cqe_seen(&ring_, event);
    if (tag == kUntrackedEntry) continue;
    completion = ReadCompletion{static_cast<std::uint32_t>(tag), result};
    return 0;
  }
}

void IoUringReadEngine::QueueCancellation(std::uint32_t slot) {
  io_uring_sqe* entry = io_uring_get_sqe(&ring_);
  if (entry == nullptr) {
    io_uring_submit(&ring_);
    entry = io_uring_get_sqe(&ring_);
  }
  // Without an entry the read simply runs to its end, which the drain waits for anyway.
  if (entry == nullptr) return;
  io_uring_prep_cancel64(entry, slot, 0);
  io_uring_sqe_set_data64(entry, kUntrackedEntry);
}

bool IoUringReadEngine::CancelAndDrain(std::span<const std::uint32_t> pending_slots) {
  for (const std::uint32_t slot : pending_slots) QueueCancellation(slot);
  // A failed submission only means the reads finish normally instead of stopping early.
  io_uring_submit(&ring_);
  for (std::size_t remaining = pending_slots.size(); remaining > 0; --remaining) {
    ReadCompletion ignored;
    if (WaitForCompletion(ignored) != 0) return false;
  }
  return true;
}

}  // namespace boardmill::io
