#pragma once
// The faults a simulated back end injects into its transfers for tests: the n-th transfer
// from now fails, or after n more transfers the device is gone (every later transfer fails).

#include <cstdint>
#include <optional>
#include <set>

namespace pemra::sim {

class TransferFaults {
 public:
  // The n-th transfer from now fails (n = 1: the next one).
  void FailNth(uint64_t n) {
    if (n > 0) failAt_.insert(count_ + n);
  }
  // After n more transfers the device is gone.
  void GoneAfter(uint64_t n) { left_ = n; }
  bool Gone() const { return left_.has_value() && *left_ == 0; }
  // Counts one transfer; true when a fault fails it (it was the n-th, or the device is gone).
  bool Next() {
    bool fail = failAt_.erase(++count_) > 0;
    if (left_) {
      if (*left_ == 0) {
        fail = true;
      } else {
        --*left_;
      }
    }
    return fail;
  }
  uint64_t Count() const { return count_; }

 private:
  uint64_t count_ = 0;
  std::set<uint64_t> failAt_;
  std::optional<uint64_t> left_;
};

}  // namespace pemra::sim
