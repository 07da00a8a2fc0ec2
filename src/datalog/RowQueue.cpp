#include "datalog/RowQueue.h"

#include <algorithm>
#include <thread>

namespace pemra {

RowQueue::RowQueue(size_t capacity, size_t channels) : slots_(std::max<size_t>(capacity, 1)) {
  for (QueuedRow& slot : slots_) slot.readings.resize(channels);
}

bool RowQueue::Push(Nanoseconds at, int64_t missed, int64_t duplicates,
                    std::span<const RegisterReading> readings, int64_t rereads, int64_t torn) {
  const uint64_t tail = tail_.load(std::memory_order_relaxed);
  if (tail - head_.load(std::memory_order_acquire) >= slots_.size()) {
    ++dropped_;
    return false;
  }
  QueuedRow& slot = slots_[tail % slots_.size()];
  slot.at = at;
  slot.missed = missed;
  slot.duplicates = duplicates;
  slot.dropped = dropped_;
  slot.rereads = rereads;
  slot.torn = torn;
  const size_t n = std::min(readings.size(), slot.readings.size());
  std::copy_n(readings.begin(), n, slot.readings.begin());
  tail_.store(tail + 1, std::memory_order_release);
  return true;
}

void RowQueue::Close(const BurstSummary& final) {
  final_ = final;
  finalDropped_ = dropped_;
  closed_.store(true, std::memory_order_release);
}

bool RowQueue::Pop(QueuedRow& row) {
  for (;;) {
    const uint64_t head = head_.load(std::memory_order_relaxed);
    if (head != tail_.load(std::memory_order_acquire)) {
      const QueuedRow& slot = slots_[head % slots_.size()];
      row.at = slot.at;
      row.missed = slot.missed;
      row.duplicates = slot.duplicates;
      row.dropped = slot.dropped;
      row.rereads = slot.rereads;
      row.torn = slot.torn;
      row.readings.assign(slot.readings.begin(), slot.readings.end());
      head_.store(head + 1, std::memory_order_release);
      return true;
    }
    if (closed_.load(std::memory_order_acquire)) {
      // Rows pushed before the close are visible now; take them first.
      if (head != tail_.load(std::memory_order_acquire)) continue;
      return false;
    }
    std::this_thread::sleep_for(kRowQueuePoll);
  }
}

}  // namespace pemra
