#include "app/SignalClose.h"

#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

#include <csignal>

namespace pemra {
namespace {

// One signal only: a second one while closing ends the process at once, by design.
TEST(SignalClose, TerminationSignalAsksTheWindowToClose) {
  SignalClose closer;
  QSignalSpy spy(&closer, &SignalClose::CloseRequested);
  ASSERT_EQ(std::raise(SIGTERM), 0);
  EXPECT_TRUE(spy.wait(2000));
  EXPECT_EQ(spy.count(), 1);
}

}  // namespace
}  // namespace pemra
