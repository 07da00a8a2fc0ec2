// Puts the build type of the code under measurement into every benchmark's context lines.
// Debian's Google Benchmark library is itself built without NDEBUG and always warns that it
// "was built as DEBUG"; this line says what the measured code was built as.
#include <benchmark/benchmark.h>

namespace {

const bool kContextAdded = [] {
  benchmark::AddCustomContext("pemra build", PEMRA_BENCH_BUILD_TYPE);
  return true;
}();

}  // namespace
