// The FTDI and SPI device dialogs from the main window's Interface menu, on the simulated
// FT232H and /dev/spidev0.0: what they list, the "none found" state, what OK and Cancel
// leave behind, and the status bar's name of the interface.

#include <QAction>
#include <QComboBox>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>

#include <gtest/gtest.h>

#include "gui/GuiTestSupport.h"
#include "gui/dialogs/frmFtdiSelect.h"
#include "gui/dialogs/frmSpidevSelect.h"

namespace pemra {
namespace {

using testing::GuiRig;
using testing::OnModal;

QString StatusText(frmForm1& form) {
  return form.findChild<QLabel*>(QStringLiteral("lblInterfaceState"))->text();
}

TEST(DeviceChoiceDialogs, ChoosingFromTheMenuSelectsAndNamesTheInterface) {
  struct Case {
    const char* menu;
    const char* kind;
    QString line;       // the list's only line
    int clockRow;       // 0: 2.0 MHz, 2: 0.5 MHz
    int16_t interface;
    std::string device;
    QString status;
  };
  const Case cases[] = {
      {"mnuFtdi", "Ftdi", QStringLiteral("FT232H  FT5XYZ12  Single RS232-HS  (1-4)"), 0, 3,
       "FT5XYZ12", QStringLiteral("FTDI FT232H FT5XYZ12, 2.0 MHz, stall 10 us")},
      {"mnuSpidev", "Spidev", QStringLiteral("/dev/spidev0.0"), 2, 4, "/dev/spidev0.0",
       QStringLiteral("SPI /dev/spidev0.0, 0.5 MHz, stall 10 us")},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.menu);
    GuiRig r;
    r.rig.Sensor().PokeRegister(0x26, 0x1234);
    frmForm1& form = r.Load(2);
    const QString kind = QString::fromLatin1(c.kind);
    bool checked = false;
    OnModal<DeviceChoiceDialog>([&](DeviceChoiceDialog& d) {
      auto* list = d.findChild<QListWidget*>(QStringLiteral("lst") + kind);
      EXPECT_EQ(list->count(), 1);
      EXPECT_EQ(list->item(0)->text(), c.line);
      EXPECT_EQ(list->currentRow(), 0);
      EXPECT_FALSE(d.findChild<QLabel*>(QStringLiteral("lbl") + kind + QStringLiteral("None"))
                       ->isVisibleTo(&d));
      d.findChild<QComboBox*>(QStringLiteral("cmbo") + kind + QStringLiteral("Clock"))
          ->setCurrentIndex(c.clockRow);
      checked = true;
      d.findChild<QPushButton*>(QStringLiteral("cmd") + kind + QStringLiteral("OK"))->click();
    });
    form.findChild<QAction*>(QString::fromLatin1(c.menu))->trigger();
    ASSERT_TRUE(checked);
    EXPECT_EQ(r.session.selection.InterfaceType, c.interface);
    EXPECT_EQ(r.session.selection.Device, c.device);
    EXPECT_TRUE(form.findChild<QAction*>(QString::fromLatin1(c.menu))->isChecked());
    EXPECT_FALSE(form.findChild<QAction*>(QStringLiteral("mnuUsb"))->isChecked());
    EXPECT_EQ(StatusText(form), c.status);
    r.session.access.ReadRegister(reg::ALM_MAG1);
    EXPECT_EQ(r.session.access.RawValue, 0x1234);
    EXPECT_TRUE(r.messages.messages.empty());
  }
}

TEST(DeviceChoiceDialogs, NothingFoundIsSaidAndCancelChangesNothing) {
  sim::RigOptions bare;
  bare.ftdiBoards = {};
  bare.spidevNodes = {};
  struct Case {
    const char* menu;
    const char* kind;
    QString none;
  };
  const Case cases[] = {
      {"mnuFtdi", "Ftdi", QStringLiteral("No FTDI board found (FT232H, FT2232H or FT4232H)")},
      {"mnuSpidev", "Spidev", QStringLiteral("No SPI device found (/dev/spidev*)")},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.menu);
    GuiRig r(bare);
    frmForm1& form = r.Load(2);
    const QString kind = QString::fromLatin1(c.kind);
    bool checked = false;
    OnModal<DeviceChoiceDialog>([&](DeviceChoiceDialog& d) {
      auto* none = d.findChild<QLabel*>(QStringLiteral("lbl") + kind + QStringLiteral("None"));
      EXPECT_TRUE(none->isVisibleTo(&d));
      EXPECT_EQ(none->text(), c.none);
      EXPECT_FALSE(d.findChild<QListWidget*>(QStringLiteral("lst") + kind)->isVisibleTo(&d));
      EXPECT_FALSE(d.findChild<QPushButton*>(QStringLiteral("cmd") + kind + QStringLiteral("OK"))
                       ->isEnabled());
      checked = true;
      d.findChild<QPushButton*>(QStringLiteral("cmd") + kind + QStringLiteral("Cancel"))->click();
    });
    form.findChild<QAction*>(QString::fromLatin1(c.menu))->trigger();
    ASSERT_TRUE(checked);
    EXPECT_EQ(r.session.selection.InterfaceType, 2);  // the USB adapter is still in use
    EXPECT_TRUE(form.findChild<QAction*>(QStringLiteral("mnuUsb"))->isChecked());
    EXPECT_TRUE(r.messages.messages.empty());
  }
}

TEST(DeviceChoiceDialogs, LoadOpensTheSavedDeviceOrOffersTheChoice) {
  // The saved board opens by itself.
  GuiRig saved;
  saved.session.selection.Device = "FT5XYZ12";
  frmForm1& form = saved.Load(3);
  EXPECT_TRUE(saved.session.ftdi.FtdiSelected);
  EXPECT_TRUE(form.findChild<QAction*>(QStringLiteral("mnuFtdi"))->isChecked());
  EXPECT_EQ(StatusText(form), QStringLiteral("FTDI FT232H FT5XYZ12, 2.0 MHz, stall 10 us"));

  // A saved node that is not there: the message, then the dialog; cancelled, no interface.
  GuiRig missing;
  missing.session.selection.Device = "/dev/spidev7.0";
  bool offered = false;
  OnModal<frmSpidevSelect>([&](frmSpidevSelect& d) {
    offered = true;
    d.reject();
  });
  missing.Load(4);
  EXPECT_TRUE(offered);
  EXPECT_TRUE(missing.HasMessage("SPI device /dev/spidev7.0 not found"));
  EXPECT_EQ(missing.session.selection.InterfaceType, 0);
}

TEST(DeviceChoiceDialogs, BoardPulledOutMidRunIsLostLikeTheUsbAdapter) {
  GuiRig r;
  frmForm1& form = r.Load(3);
  ASSERT_TRUE(r.session.ftdi.FtdiSelected);
  r.messages.messages.clear();
  r.rig.Ftdi().UnplugAfter(0);
  form.CmdUpdateStatus_Click();
  EXPECT_EQ(r.messages.messages.size(), 1u);
  EXPECT_TRUE(r.HasMessage("Error Reading SPI\r\nFTDI FT232H FT5XYZ12: usb bulk write failed "
                           "(LIBUSB_ERROR_NO_DEVICE)"));
  EXPECT_EQ(StatusText(form), QStringLiteral("FTDI board"));
  EXPECT_EQ(form.findChild<QLabel*>(QStringLiteral("lblSensorState"))->text(),
            QStringLiteral("no answer (no adapter selected)"));
}

}  // namespace
}  // namespace pemra
