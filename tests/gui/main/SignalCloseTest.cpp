#include "gui/main/SignalClose.h"

#include <QDialog>
#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <csignal>

#include "gui/kit/MessageBoxSink.h"

namespace pemra {
namespace {

// One signal per SignalClose: a second one while closing ends the process at once, by
// design.
TEST(SignalClose, TerminationSignalAsksTheWindowToClose) {
  SignalClose closer;
  QSignalSpy spy(&closer, &SignalClose::CloseRequested);
  EXPECT_FALSE(TerminationRequested());
  ASSERT_EQ(std::raise(SIGTERM), 0);
  EXPECT_TRUE(TerminationRequested());
  EXPECT_TRUE(spy.wait(2000));
  EXPECT_EQ(spy.count(), 1);
}

TEST(SignalClose, OpenBoxesAndDialogsCloseAndLaterOnesDoNotWait) {
  SignalClose closer;
  QSignalSpy spy(&closer, &SignalClose::CloseRequested);
  MessageBoxSink boxes;
  // A guard answers any box still open after five seconds, so a failure cannot hang.
  bool guardNeeded = false;
  QTimer guard;
  guard.setInterval(5000);
  QObject::connect(&guard, &QTimer::timeout, [&] {
    guardNeeded = true;
    CloseModalWindows();
  });
  guard.start();

  // A start-up message waiting for its click when SIGINT arrives.
  QTimer::singleShot(50, [] { std::raise(SIGINT); });
  QElapsedTimer elapsed;
  elapsed.start();
  boxes.Show({"Please select an interface before taking data", "", {}});
  EXPECT_FALSE(guardNeeded);
  EXPECT_LT(elapsed.elapsed(), 4000);
  EXPECT_EQ(spy.count(), 1);

  // Opened after the signal: the message goes to standard error, a dialog closes as it
  // shows (as a window opened by a load under way would).
  testing::internal::CaptureStderr();
  boxes.Show({"Cannot write CommPort.cfg: No space left on device", "", MessageIcon::Error});
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "pemra-eval: Cannot write CommPort.cfg: No space left on device\n");
  QDialog dialog;
  EXPECT_EQ(dialog.exec(), QDialog::Rejected);
  EXPECT_FALSE(guardNeeded);
}

}  // namespace
}  // namespace pemra
