#pragma once
// The rows of a capture on their way from the capture thread to the writer: a ring of a fixed
// number of rows with one producer and one consumer and no lock, so the producer never waits
// for the consumer (nor for its priority). A row that finds the ring full is dropped and
// counted; the next row carries the count. The producer makes no system call: while the ring
// is empty the consumer sleeps a few milliseconds at a time and takes what came meanwhile, so
// the writer wakes a few hundred times a second rather than once per row.

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "core/Clock.h"
#include "core/RegisterAccess.h"
#include "datalog/BurstCapture.h"

namespace pemra {

// How long the consumer sleeps when it finds the ring empty.
inline constexpr Nanoseconds kRowQueuePoll = std::chrono::milliseconds(4);

struct QueuedRow {
  Nanoseconds at{0};       // clock time of the row's burst
  int64_t missed = 0;      // the capture's estimate of samples missed before this row, in all
  int64_t duplicates = 0;  // bursts discarded before this row, in all
  int64_t dropped = 0;     // rows dropped at the full ring before this one, in all
  int64_t rereads = 0;     // bursts read again up to this row, in all
  int64_t torn = 0;        // torn rows up to this one, in all
  std::vector<RegisterReading> readings;
};

class RowQueue {
 public:
  // `capacity` rows (at least 1) of `channels` readings each, allocated here once.
  RowQueue(size_t capacity, size_t channels);
  RowQueue(const RowQueue&) = delete;
  RowQueue& operator=(const RowQueue&) = delete;

  // Producer: copies the row in. When the ring is full the row is dropped (counted) and the
  // result is false; it never waits.
  bool Push(Nanoseconds at, int64_t missed, int64_t duplicates,
            std::span<const RegisterReading> readings, int64_t rereads = 0, int64_t torn = 0);
  // Producer: no more rows; `final` is the capture's summary at its end.
  void Close(const BurstSummary& final);

  // Consumer: waits for the next row (true, copied into `row`) or for the end with every
  // row taken (false).
  bool Pop(QueuedRow& row);
  // Consumer, once Pop has returned false: the capture's summary given to Close, and the
  // rows dropped in all.
  const BurstSummary& Final() const { return final_; }
  int64_t FinalDropped() const { return finalDropped_; }

 private:
  std::vector<QueuedRow> slots_;
  // Rows pushed and popped since the start; the ring holds tail - head of them.
  std::atomic<uint64_t> tail_{0};
  std::atomic<uint64_t> head_{0};
  std::atomic<bool> closed_{false};
  int64_t dropped_ = 0;  // producer's own
  // Written by the producer before closed_ is set; read by the consumer after it saw it.
  BurstSummary final_;
  int64_t finalDropped_ = 0;
};

}  // namespace pemra
