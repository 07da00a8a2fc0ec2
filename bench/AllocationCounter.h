#pragma once
// Counts heap allocations, so a benchmark can report allocations per operation. Include it
// in exactly one source file of a benchmark program: it replaces the global operator new.

#include <atomic>
#include <cstdlib>
#include <new>

namespace bench {
inline std::atomic<long long> gAllocations{0};
inline long long Allocations() { return gAllocations.load(std::memory_order_relaxed); }
}  // namespace bench

// The replaced operators pair malloc with free; GCC cannot see that they replace each
// other once both are inlined into the same function.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
#endif

void* operator new(std::size_t size) {
  bench::gAllocations.fetch_add(1, std::memory_order_relaxed);
  if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
  throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
