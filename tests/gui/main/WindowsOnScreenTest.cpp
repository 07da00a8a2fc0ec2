// Every window the menus open fits the screen (the offscreen screen is 800x600, smaller
// than some windows' controls): its frame stays inside the free area, its controls scroll,
// and it opens at the main window's top-left corner, or as near it as the screen allows.

#include <QDialog>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "gui/GuiTestSupport.h"
#include "gui/kit/ScreenFit.h"

namespace pemra {
namespace {

TEST(WindowsOnScreen, EveryWindowFitsTheScreenAtTheMainWindowsCorner) {
  testing::GuiRig env;
  env.Load(2);
  env.form->move(12, 9);
  const QRect available = env.form->screen()->availableGeometry();
  const std::vector<std::pair<const char*, std::function<void()>>> openers = {
      {"fmCalibration", [&] { env.app.windows.Calibration(env.form.get()); }},
      {"frmOperationalControl", [&] { env.app.windows.OperationControl(env.form.get()); }},
      {"frmAlarms", [&] { env.app.windows.Alarms(env.form.get()); }},
      {"frmDatalog", [&] { env.app.windows.Datalog(env.form.get()); }},
      {"frmManualReg", [&] { env.app.windows.Registers(env.form.get()); }},
      {"frmUSBdebug", [&] { env.app.windows.UsbDebug(env.form.get()); }},
      {"frmPort", [&] { env.form->mnuPort_Click(); }},
      {"frmUSBselect", [&] { env.form->mnuUsb_Click(); }},
  };
  int cut = 0;  // windows whose controls are larger than the screen
  for (const auto& [name, open] : openers) {
    SCOPED_TRACE(name);
    bool seen = false;
    testing::OnModal<QDialog>([&, name = name](QDialog& d) {
      seen = true;
      EXPECT_EQ(d.objectName().toStdString(), name);
      EXPECT_TRUE(available.contains(d.frameGeometry()))
          << d.frameGeometry().width() << "x" << d.frameGeometry().height();
      // At the corner, or as near it as keeps the window on the screen.
      const QRect frame = d.frameGeometry();
      EXPECT_TRUE(frame.x() == 12 || (frame.x() < 12 && frame.right() == available.right()))
          << frame.x();
      EXPECT_TRUE(frame.y() == 9 || (frame.y() < 9 && frame.bottom() == available.bottom()))
          << frame.y();
      const QScrollArea* area = ScrollAreaOf(&d);
      ASSERT_NE(area, nullptr);
      const QSize controls = area->widget()->minimumSizeHint();
      if (controls.width() > available.width() || controls.height() > available.height()) {
        ++cut;
        // What does not fit scrolls.
        EXPECT_TRUE(area->horizontalScrollBar()->maximum() > 0 ||
                    area->verticalScrollBar()->maximum() > 0);
      }
      d.reject();
    });
    open();
    EXPECT_TRUE(seen);
  }
  EXPECT_GE(cut, 1);  // the screen is small enough to need the scrolling somewhere
}

}  // namespace
}  // namespace pemra
