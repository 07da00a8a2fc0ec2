// The back-end tests run with umockdev's preload library in front of the C library, so that
// libusb and ppdev reach the emulated nodes. ctest starts them through umockdev-wrapper;
// started directly, the program puts the library in place and starts itself again.

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "backends/EmulatedBench.h"

int main(int argc, char** argv) {
  if (!pemra::test::PreloadInPlace()) {
    const char* preload = std::getenv("LD_PRELOAD");
    std::string libraries = "libumockdev-preload.so.0";
    if (preload != nullptr && *preload != '\0') libraries += std::string(":") + preload;
    setenv("LD_PRELOAD", libraries.c_str(), 1);
    execv("/proc/self/exe", argv);
    std::perror("cannot restart under libumockdev-preload");
    return 1;
  }
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
