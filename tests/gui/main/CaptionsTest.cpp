// Every caption, tool tip and menu text of the main window and the two interface dialogs,
// found by object name as a user's script or another window would find them.

#include <QAbstractButton>
#include <QAction>
#include <QGroupBox>
#include <QLabel>
#include <QMenu>

#include <gtest/gtest.h>

#include "gui/GuiTestSupport.h"
#include "gui/dialogs/frmPort.h"
#include "gui/dialogs/frmUSBselect.h"

namespace pemra {
namespace {

struct Caption {
  const char* object;
  const char* text;
  const char* toolTip = nullptr;  // checked when given
};

// The visible text of a labelled control or action of `window`; empty when none is found.
QString TextOf(QWidget& window, const QString& name, QString* toolTip) {
  if (auto* a = window.findChild<QAction*>(name)) {
    *toolTip = a->toolTip();
    return a->text();
  }
  if (auto* m = window.findChild<QMenu*>(name)) {
    *toolTip = m->toolTip();
    return m->title();
  }
  QWidget* w = window.findChild<QWidget*>(name);
  if (!w) return QStringLiteral("<missing>");
  *toolTip = w->toolTip();
  if (auto* b = qobject_cast<QAbstractButton*>(w)) return b->text();
  if (auto* l = qobject_cast<QLabel*>(w)) return l->text();
  if (auto* g = qobject_cast<QGroupBox*>(w)) return g->title();
  return QStringLiteral("<no caption>");
}

void ExpectCaptions(QWidget& window, std::initializer_list<Caption> captions) {
  for (const Caption& c : captions) {
    QString toolTip;
    EXPECT_EQ(TextOf(window, QString::fromLatin1(c.object), &toolTip), QString::fromLatin1(c.text))
        << c.object;
    if (c.toolTip) {
      EXPECT_EQ(toolTip, QString::fromLatin1(c.toolTip)) << c.object;
    }
  }
}

TEST(Captions, MainWindow) {
  testing::GuiRig env;
  frmForm1& form = env.Form();
  ExpectCaptions(form, {
      {"mnuInterface", "Interface"}, {"mnuPort", "Parallel"}, {"mnuUsb", "Usb"},
      {"mnuDevice", "Device"}, {"mnu21410", "21410"}, {"mnu21490", "21490"},
      {"mnuConfiguration", "Configuration"}, {"MnuCal", "Calibration"},
      {"mnuOperation", "Operation Control"}, {"MnuAlarms", "Alarms"},
      {"mnuDatalog", "Datalog"}, {"mnuRegisters", "Registers"}, {"MnuExit", "Exit"},
      {"frameSelfTest", "Self Test"}, {"optSTON", "ON"}, {"optSTOFF", "OFF"},
      {"FrmStatus", "Status Register"},
      {"CmdUpdateStatus", "Read Status", "Display the Status Register"},
      {"lblLowSupply", "Power Supply Low"}, {"lblHighSupply", "Power Supply High"},
      {"lblWriteFail", "Control Write Flag"}, {"lblAlarm1Set", "Alarm1 Set"},
      {"lblAlarm2Set", "Alarm2 Set"}, {"lblLowSupplyFlag", "--"}, {"lblSpiWriteFlag", "--"},
      {"lblAlarm2SetFlag", "--"},
      {"framePowerdown", "Powerdown", "Set the Powerdown"}, {"cmdPowerDown", "Run"},
      {"frameDataReg", "Output  Registers"},
      {"cmdReadData", "Read", "Read the Output Registers"}, {"ckLoop", "Loop"},
      {"lblReadReg_1", "Power Supply (V)"}, {"lblReadReg_2", "X_Gyro (d/s)"},
      {"lblReadReg_4", "Z_Gyro (d/s)"}, {"lblReadReg_7", "Z_Accl (g)"},
      {"lblReadReg_8", "X_Temp (degC)"}, {"lblReadReg_11", "Aux_ADC"},
      {"FrameDataPLot", "Data Plot"}, {"cmdScaleGyro", "Scale"}, {"cmdScaleAcc", "Scale"},
      {"lblPlotX_0", "0"}, {"lblPlotX_1", "85"}, {"lblPlotX_2", "175"}, {"lblPlotX_3", "260"},
      {"lblPlotX_4", "350"}, {"LblXaxis", "Sample Number"},
  });
  // Labels without a name of their own, found by their text.
  QStringList texts;
  for (const QLabel* l : form.findChildren<QLabel*>()) texts << l->text();
  for (const char* t : {"SPI Write Flag", "Self-Test", "Set", "sec", "Elapsed",
                        "Loop Delay msec", "Graph", "Rate", "deg / sec", "Accel.", "g", "sample",
                        "value"}) {
    EXPECT_TRUE(texts.contains(QString::fromLatin1(t))) << t;
  }
}

TEST(Captions, InterfaceDialogs) {
  testing::GuiRig env;
  frmPort port(env.session.selection, env.session.parallel);
  EXPECT_EQ(port.windowTitle(), QStringLiteral("Parallel Port Setup"));
  ExpectCaptions(port, {{"Label1", "Port Address (Hex)", "Select the Parallel Port Address"},
                        {"cmdOK", "OK"}, {"cmdCancel", "Cancel"}});

  frmUSBselect usb(env.session.adapters, env.session.usbSpi, env.app.DebugLoopStop, {}, '.');
  EXPECT_EQ(usb.windowTitle(), QStringLiteral("USB SPI Card Selection"));
  ExpectCaptions(usb, {{"frameBufferSetup", "Buffer Select"}, {"optUsbPort_0", "EzUsb0"},
                       {"optUsbPort_3", "EzUsb3"}, {"optUsbPort_4", "None"},
                       {"cmdFindEzUsb", "Search"}, {"cmdDebugUsb", "Debug"},
                       {"cmdExit", "OK"}});
  QStringList headings;
  for (const QLabel* l : usb.findChildren<QLabel*>()) headings << l->text();
  for (const char* t : {"Descriptor0", "Rev", "Speed"}) {
    EXPECT_TRUE(headings.contains(QString::fromLatin1(t))) << t;
  }
}

}  // namespace
}  // namespace pemra
