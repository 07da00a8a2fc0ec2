// Start-up and the main window's load on the simulated rig, the interface menus with their
// dialogs, Check_Interface and the shutdown.

#include <QAction>
#include <QCheckBox>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>

#include <gtest/gtest.h>

#include <clocale>
#include <string>

#include "gui/GuiTestSupport.h"
#include "gui/dialogs/frmPort.h"
#include "gui/dialogs/frmUSBselect.h"
#include "gui/kit/StripChart.h"
#include "gui/main/StartProgram.h"

namespace pemra {
namespace {

using testing::GuiRig;
using testing::OnModal;

const char* const kNoAdapters = "No USB Buffers Found, Please Verify Setup and Restart";

sim::RigOptions NoAdapters() {
  sim::RigOptions o;
  o.adapters[0].present = false;
  return o;
}

bool SensorWasRead(GuiRig& env) {
  return env.rig.SimUsb().TransferCount() > 0 ||
         !env.form->txtReadReg[1]->text().isEmpty();
}

TEST(MainWindowLoad, WithoutInterfaceNothingIsRead) {
  GuiRig env;
  frmForm1& form = env.Load(0, 0);
  EXPECT_TRUE(env.HasMessage("Please select an interface before taking data"));
  // The model code 0 of a missing file is reported too.
  ASSERT_GE(env.messages.messages.size(), 2u);
  EXPECT_NE(env.messages.messages[1].text.find("ProductNumber = 0"), std::string::npos);
  EXPECT_FALSE(SensorWasRead(env));
  EXPECT_FALSE(form.ckLoop->isChecked());
  EXPECT_FALSE(form.mnuPort->isChecked());
  EXPECT_FALSE(form.mnuUsb->isChecked());
  EXPECT_EQ(form.windowTitle(), QStringLiteral("Tolvane - Pemra 214xx Evaluation Software - Rev 14"));
}

TEST(MainWindowLoad, ParallelPortGainsAccessAndTakesTheFirstReading) {
  GuiRig env;
  frmForm1& form = env.Load(1);
  EXPECT_TRUE(env.messages.messages.empty());
  EXPECT_TRUE(env.session.parallel.PortIoEnabled);
  EXPECT_TRUE(form.mnuPort->isChecked());
  EXPECT_FALSE(form.mnuUsb->isChecked());
  EXPECT_EQ(form.txtReadReg[1]->text(), QStringLiteral("5.00"));  // the rig's 5 V supply
  EXPECT_EQ(env.rig.SimUsb().TransferCount(), 0u);
  EXPECT_TRUE(form.ckLoop->isChecked());
  EXPECT_EQ(form.cmdReadData->text(), QStringLiteral("Read"));
  EXPECT_EQ(form.pic1->Column(), 1);
}

TEST(MainWindowLoad, UsbAdapterFoundIsUsed) {
  GuiRig env;
  frmForm1& form = env.Load(2);
  EXPECT_TRUE(env.messages.messages.empty());
  EXPECT_TRUE(env.session.adapters.UsbSelected);
  EXPECT_EQ(env.session.selection.InterfaceType, 2);
  EXPECT_TRUE(form.mnuUsb->isChecked());
  EXPECT_EQ(form.txtReadReg[1]->text(), QStringLiteral("5.00"));
  EXPECT_GT(env.rig.SimUsb().TransferCount(), 0u);
  EXPECT_TRUE(form.ckLoop->isChecked());
}

TEST(MainWindowLoad, UsbAdapterMissingOpensTheSelectionAndDeselects) {
  GuiRig env(NoAdapters());
  bool dialogShown = false;
  OnModal<frmUSBselect>([&](frmUSBselect& d) {
    dialogShown = true;
    EXPECT_TRUE(d.optUsbPort[4]->isChecked());
    d.cmdExit->click();
  });
  frmForm1& form = env.Load(2);
  EXPECT_TRUE(dialogShown);
  EXPECT_TRUE(env.HasMessage(kNoAdapters));
  EXPECT_EQ(env.session.selection.InterfaceType, 0);
  EXPECT_FALSE(form.mnuUsb->isChecked());
  EXPECT_FALSE(form.ckLoop->isChecked());
  EXPECT_TRUE(form.txtReadReg[1]->text().isEmpty());
}

TEST(MainWindowLoad, CheckInterface) {
  struct Case {
    int16_t type;
    int16_t port;
    bool usbSelected;
    bool usable;
    int16_t typeAfter;
  };
  for (const Case& c : {Case{1, 0x378, false, true, 1}, Case{1, 0, false, false, 0},
                        Case{2, 0, true, true, 2}, Case{2, 0x378, false, false, 0},
                        Case{0, 0x378, true, false, 0}, Case{5, 0x378, true, false, 5}}) {
    GuiRig env;
    frmForm1& form = env.Form();
    env.session.selection.InterfaceType = c.type;
    env.session.selection.PortAddress = c.port;
    env.session.adapters.UsbSelected = c.usbSelected;
    EXPECT_EQ(form.Check_Interface(), c.usable) << c.type << " " << c.port;
    EXPECT_EQ(env.session.selection.InterfaceType, c.typeAfter);
    EXPECT_EQ(env.HasMessage("Please select an interface first"), !c.usable);
    EXPECT_EQ(form.mnuPort->isChecked(), c.typeAfter == 1);
    EXPECT_EQ(form.mnuUsb->isChecked(), c.typeAfter == 2);
  }
}

TEST(InterfaceMenus, ParallelDialogNormalisesTheAddressAndSelectsThePort) {
  struct Case {
    const char* typed;
    int16_t address;
    const char* shown;
    bool accessGained;
  };
  for (const Case& c : {Case{"378", 0x378, "378", true}, Case{"0378", 0x378, "378", true},
                        Case{"c000", -16384, "C000", false}}) {
    GuiRig env;
    frmForm1& form = env.Load(2);
    QString shownAfterOk;
    QString shownAtOpen;
    OnModal<frmPort>([&](frmPort& d) {
      shownAtOpen = d.txtUser->text();
      d.txtUser->setText(QString::fromLatin1(c.typed));
      QTest::mouseClick(d.cmdOK, Qt::LeftButton);
      shownAfterOk = d.txtUser->text();
    });
    form.mnuPort->trigger();
    EXPECT_EQ(shownAtOpen, QStringLiteral("378"));
    EXPECT_EQ(shownAfterOk, QString::fromLatin1(c.shown));
    EXPECT_EQ(env.session.selection.PortAddress, c.address);
    EXPECT_EQ(env.session.selection.InterfaceType, 1);
    EXPECT_TRUE(form.mnuPort->isChecked());
    EXPECT_FALSE(form.mnuUsb->isChecked());
    EXPECT_EQ(env.session.parallel.PortIoEnabled, c.accessGained);
    // No port answers at C000 in the rig: the access step says so.
    EXPECT_EQ(env.messages.messages.empty(), c.accessGained) << c.typed;
  }
}

TEST(InterfaceMenus, PortAccessIsGainedOncePerRun) {
  GuiRig env;
  frmForm1& form = env.Load(1);
  ASSERT_TRUE(env.session.parallel.PortIoEnabled);
  OnModal<frmPort>([](frmPort& d) {
    d.txtUser->setText(QStringLiteral("C000"));
    d.cmdOK->click();
  });
  form.mnuPort->trigger();
  EXPECT_EQ(env.session.selection.PortAddress, -16384);
  EXPECT_TRUE(env.messages.messages.empty());  // no second access attempt
}

TEST(InterfaceMenus, ParallelDialogCancelAndEmptyEntryChangeNothing) {
  GuiRig env;
  frmForm1& form = env.Load(2);
  env.session.selection.PortAddress = 0x278;
  bool stayedOpen = false;
  OnModal<frmPort>([&](frmPort& d) {
    d.txtUser->clear();
    d.cmdOK->click();  // an empty entry is ignored
    stayedOpen = d.isVisible();
    d.txtUser->setText(QStringLiteral("3BC"));
    d.cmdCancel->click();
  });
  form.mnuPort->trigger();
  EXPECT_TRUE(stayedOpen);
  EXPECT_EQ(env.session.selection.PortAddress, 0x278);
  EXPECT_EQ(env.session.selection.InterfaceType, 2);
  EXPECT_TRUE(form.mnuUsb->isChecked());
  EXPECT_FALSE(form.mnuPort->isChecked());
}

TEST(InterfaceMenus, DialogsOpenAtTheMainWindowsTopLeftCorner) {
  for (const bool usb : {false, true}) {
    GuiRig env;
    frmForm1& form = env.Load(2);
    form.move(140, 90);
    QPoint opened;
    const auto record = [&](QDialog& d) {
      opened = d.frameGeometry().topLeft();
      d.reject();
    };
    if (usb) {
      OnModal<frmUSBselect>(record);
      form.mnuUsb->trigger();
    } else {
      OnModal<frmPort>(record);
      form.mnuPort->trigger();
    }
    EXPECT_EQ(opened, form.frameGeometry().topLeft()) << (usb ? "usb" : "port");
  }
}

TEST(InterfaceMenus, UsbDialogListsTheAdaptersAndSelects) {
  sim::RigOptions options;
  options.adapters[2] = sim::AdapterOptions{true, kProductMcp, false};
  GuiRig env(options);
  frmForm1& form = env.Load(0);
  env.messages.messages.clear();
  QStringList row0;
  QStringList row2;
  std::array<bool, 5> enabled{};
  bool slot0Marked = false;
  OnModal<frmUSBselect>([&](frmUSBselect& d) {
    row0 = {d.txtDescript0[0]->text(), d.txtDriverRev[0]->text(), d.txtSpeed[0]->text()};
    row2 = {d.txtDescript0[2]->text(), d.txtDriverRev[2]->text(), d.txtSpeed[2]->text()};
    for (int i = 0; i < 5; ++i) enabled[i] = d.optUsbPort[i]->isEnabled();
    slot0Marked = d.optUsbPort[0]->isChecked();
    d.cmdExit->click();
  });
  form.mnuUsb->trigger();
  EXPECT_EQ(row0, (QStringList{QStringLiteral("Tolvane"), QStringLiteral("2.1"),
                               QStringLiteral("2.0")}));
  EXPECT_EQ(row2, (QStringList{QStringLiteral("Tolvane"), QStringLiteral("2.1"),
                               QStringLiteral("1.1")}));
  EXPECT_EQ(enabled, (std::array<bool, 5>{true, false, true, false, true}));
  EXPECT_TRUE(slot0Marked);
  EXPECT_EQ(env.session.adapters.SelectedAdapterIndex, 0);
  EXPECT_EQ(env.session.selection.InterfaceType, 2);
  EXPECT_TRUE(form.mnuUsb->isChecked());
  EXPECT_FALSE(form.mnuPort->isChecked());
  EXPECT_TRUE(env.messages.messages.empty());
}

TEST(InterfaceMenus, UsbDialogChoosingASlotSendsItsSettingsAndSearchRefreshesTheRows) {
  sim::RigOptions options;
  options.adapters[2] = sim::AdapterOptions{true, kProductMcp, false};
  GuiRig env(options);
  frmForm1& form = env.Load(0);
  env.messages.messages.clear();
  env.session.usbSpi.StaticBits = 0x55;
  sim::SimulatedUsbDriver& usb = env.rig.SimUsb();
  bool row2ClearedAndDisabled = false;
  OnModal<frmUSBselect>([&](frmUSBselect& d) {
    QTest::mouseClick(d.optUsbPort[2], Qt::LeftButton);
    usb.SetAdapter(2, sim::AdapterOptions{});  // unplugged while the dialog is open
    d.cmdFindEzUsb->click();
    row2ClearedAndDisabled = d.txtDescript0[2]->text().isEmpty() &&
                             d.txtDriverRev[2]->text().isEmpty() &&
                             d.txtSpeed[2]->text().isEmpty() && !d.optUsbPort[2]->isEnabled();
    d.cmdExit->click();
  });
  form.mnuUsb->trigger();
  // Marked by the search, slot 0 was sent the delay the search set for the adapters found
  // (not the firmware's own 25) and the static bits.
  ASSERT_NE(env.session.usbSpi.UsbSpiDelay, 25);
  EXPECT_EQ(usb.Firmware(0).Delay(), env.session.usbSpi.UsbSpiDelay);
  EXPECT_EQ(usb.Firmware(0).StaticBits(), 0x55);
  EXPECT_TRUE(row2ClearedAndDisabled);
  // The new search selected slot 0 again and marked it, which made it the adapter in use.
  EXPECT_EQ(env.session.adapters.SelectedAdapterIndex, 0);
  EXPECT_EQ(env.session.adapters.SelectedAdapter.DeviceName, "Ezusb-0");
  EXPECT_TRUE(env.messages.messages.empty());
}

TEST(InterfaceMenus, UsbDialogChosenSlotBecomesTheAdapterInUse) {
  sim::RigOptions options;
  options.adapters[2] = sim::AdapterOptions{true, kProductMcp, false};
  GuiRig env(options);
  frmForm1& form = env.Load(0);
  env.session.usbSpi.StaticBits = 0x55;
  sim::SimulatedUsbDriver& usb = env.rig.SimUsb();
  OnModal<frmUSBselect>([&](frmUSBselect& d) {
    QTest::mouseClick(d.optUsbPort[2], Qt::LeftButton);
    d.cmdExit->click();
  });
  form.mnuUsb->trigger();
  EXPECT_EQ(env.session.adapters.SelectedAdapter.DeviceName, "Ezusb-2");
  ASSERT_NE(env.session.usbSpi.UsbSpiDelay, 25);
  EXPECT_EQ(usb.Firmware(2).Delay(), env.session.usbSpi.UsbSpiDelay);
  EXPECT_EQ(usb.Firmware(2).StaticBits(), 0x55);
  EXPECT_EQ(env.session.selection.InterfaceType, 2);
  // The readout now goes through slot 2.
  usb.ClearTransfers();
  form.ckLoop->setChecked(false);
  form.cmdReadData->click();
  ASSERT_FALSE(usb.Transfers().empty());
  for (const auto& t : usb.Transfers()) EXPECT_EQ(t.slot, 2);
  EXPECT_EQ(form.txtReadReg[1]->text(), QStringLiteral("5.00"));
}

TEST(InterfaceMenus, UsbDialogNumbersUnderADecimalCommaLocale) {
  // Qt takes the C library's locale from the environment; a decimal-comma locale must not
  // change how the link speed is read.
  const std::string previous = std::setlocale(LC_NUMERIC, nullptr);
  if (!std::setlocale(LC_NUMERIC, "de_DE.UTF-8") && !std::setlocale(LC_NUMERIC, "de_DE.utf8")) {
    GTEST_SKIP() << "no de_DE locale installed";
  }
  sim::RigOptions options;
  options.adapters[2] = sim::AdapterOptions{true, kProductMcp, false};
  GuiRig env(options);
  frmUSBselect dialog(env.session.adapters, env.session.usbSpi, env.app.DebugLoopStop, {}, ',');
  dialog.cmdFindEzUsb_Click();
  const QStringList shown = {dialog.txtDriverRev[0]->text(), dialog.txtSpeed[0]->text(),
                             dialog.txtDriverRev[2]->text(), dialog.txtSpeed[2]->text()};
  std::setlocale(LC_NUMERIC, previous.c_str());
  EXPECT_EQ(shown, (QStringList{QStringLiteral("2,1"), QStringLiteral("2,0"),
                                QStringLiteral("2,1"), QStringLiteral("1,1")}));
}

TEST(InterfaceMenus, UsbDialogNoneDeselects) {
  GuiRig env;
  frmForm1& form = env.Load(2);
  env.app.DebugLoopStop = false;
  OnModal<frmUSBselect>([](frmUSBselect& d) {
    QTest::mouseClick(d.optUsbPort[4], Qt::LeftButton);
    d.close();  // the title bar's close hides it like OK
  });
  form.mnuUsb->trigger();
  EXPECT_FALSE(env.session.adapters.UsbSelected);
  EXPECT_TRUE(env.app.DebugLoopStop);
  EXPECT_EQ(env.session.selection.InterfaceType, 0);
  EXPECT_FALSE(form.mnuUsb->isChecked());
  EXPECT_FALSE(form.mnuPort->isChecked());
}

TEST(InterfaceMenus, UsbDialogWithoutAdapters) {
  GuiRig env(NoAdapters());
  frmForm1& form = env.Load(0);
  std::array<bool, 4> enabled{true, true, true, true};
  OnModal<frmUSBselect>([&](frmUSBselect& d) {
    for (int i = 0; i < 4; ++i) enabled[i] = d.optUsbPort[i]->isEnabled();
    EXPECT_TRUE(d.optUsbPort[4]->isChecked());
    d.cmdExit->click();
  });
  form.mnuUsb->trigger();
  EXPECT_TRUE(env.HasMessage(kNoAdapters));
  EXPECT_EQ(enabled, (std::array<bool, 4>{false, false, false, false}));
  EXPECT_EQ(env.session.selection.InterfaceType, 0);
}

TEST(LiveReadout, AdapterFailureStopsTheLoop) {
  GuiRig env;
  frmForm1& form = env.Load(2);
  env.messages.messages.clear();
  env.rig.SimUsb().UnplugAfter(100);
  int taken = 0;
  QObject::connect(&form, &frmForm1::SampleTaken, [&] {
    if (++taken > 1000) form.cmdReadData->setText(QStringLiteral("Read"));  // runaway guard
  });
  QTest::mouseClick(form.cmdReadData, Qt::LeftButton);
  EXPECT_LT(taken, 100);
  EXPECT_GT(taken, 0);
  EXPECT_EQ(form.cmdReadData->text(), QStringLiteral("Read"));
  EXPECT_FALSE(env.session.adapters.UsbSelected);
  EXPECT_FALSE(env.messages.messages.empty());  // the transport reported the failure
  // A new press does not start a readout on the lost adapter.
  const int before = taken;
  QTest::mouseClick(form.cmdReadData, Qt::LeftButton);
  EXPECT_EQ(taken, before);
  EXPECT_EQ(form.cmdReadData->text(), QStringLiteral("Read"));
}

TEST(LiveReadout, ChoosingNoInterfaceDuringTheLoopStopsIt) {
  GuiRig env;
  frmForm1& form = env.Load(2);
  int taken = 0;
  bool dialogShown = false;
  OnModal<frmUSBselect>([&](frmUSBselect& d) {
    dialogShown = true;
    QTest::mouseClick(d.optUsbPort[4], Qt::LeftButton);  // "None"
    d.close();
  });
  QStringList shown;  // the boxes after the last sample taken
  QObject::connect(&form, &frmForm1::SampleTaken, [&] {
    ++taken;
    shown.clear();
    for (int i = 1; i <= frmForm1::kOutputs; ++i) shown << form.txtReadReg[i]->text();
    if (taken == 3) form.mnuUsb->trigger();  // the menu, used while the loop runs
    if (taken > 1000) form.cmdReadData->setText(QStringLiteral("Read"));  // runaway guard
  });
  QTest::mouseClick(form.cmdReadData, Qt::LeftButton);
  EXPECT_TRUE(dialogShown);
  EXPECT_EQ(env.session.selection.InterfaceType, 0);
  EXPECT_EQ(taken, 3);  // the sample in hand finishes, no further one is taken
  EXPECT_EQ(form.cmdReadData->text(), QStringLiteral("Read"));
  // No read without an interface replaced the values with the table's offsets.
  for (int i = 1; i <= frmForm1::kOutputs; ++i) {
    EXPECT_EQ(form.txtReadReg[i]->text(), shown[i - 1]) << "box " << i;
  }
}

TEST(StartUp, SimulatedFirstRunUsesTheAdapterAndThePrimaryModel) {
  GuiRig env;
  env.session.selection = Selection{};
  PrepareSession(env.app);
  EXPECT_EQ(env.session.selection.InterfaceType, 2);
  EXPECT_EQ(env.session.selection.DeviceType, 21420);
  EXPECT_EQ(env.session.usbSpi.StaticBits, 120);
  EXPECT_EQ(env.session.usbSpi.UsbSpiDelay, 25);
  EXPECT_TRUE(env.app.DebugLoopStop);

  // A configuration file, when there is one, wins; without --simulate a missing file
  // means no interface and model 0.
  ASSERT_TRUE(WriteConfigFile(Selection{1, 0x278, 3, 21410}, env.app.options.configPath));
  PrepareSession(env.app);
  EXPECT_EQ(env.session.selection, (Selection{1, 0x278, 3, 21410}));
  QFile::remove(QString::fromStdString(env.app.options.configPath.string()));
  env.app.options.simulate = false;
  env.session.selection = Selection{};
  PrepareSession(env.app);
  EXPECT_EQ(env.session.selection, Selection{});
}

TEST(StartUp, StartProgramShowsTheLoadedMainWindow) {
  GuiRig env;
  std::unique_ptr<frmForm1> form = StartProgram(env.app);
  ASSERT_NE(form, nullptr);
  EXPECT_TRUE(form->isVisible());
  EXPECT_TRUE(form->mnuUsb->isChecked());
  EXPECT_TRUE(form->ckLoop->isChecked());
  EXPECT_EQ(form->txtReadReg[1]->text(), QStringLiteral("5.00"));
  EXPECT_FALSE(env.app.OsName.empty());
}

TEST(Shutdown, ExitWritesTheConfigurationAfterItsWait) {
  GuiRig env;
  frmForm1& form = env.Load(2);
  env.session.selection.FactoryMode = 7;
  const Nanoseconds before = env.clock.Now();
  bool finished = false;
  QObject::connect(&form, &frmForm1::ShutdownFinished, [&] { finished = true; });
  form.MnuExit->trigger();
  EXPECT_TRUE(finished);
  EXPECT_TRUE(form.ShutdownDone());
  EXPECT_GE(env.clock.Now() - before, std::chrono::milliseconds(250));
  QFile file(QString::fromStdString(env.app.options.configPath.string()));
  ASSERT_TRUE(file.open(QIODevice::ReadOnly));
  EXPECT_EQ(file.readAll().toStdString(), FormatConfigText(Selection{2, 0x378, 7, 21420}));
}

}  // namespace
}  // namespace pemra

namespace pemra {
namespace {

TEST(Shutdown, AFailedConfigurationWriteIsReportedWithTheFile) {
  GuiRig env;
  const std::filesystem::path unwritable =
      std::filesystem::path(env.dir.path().toStdString()) / "missing" / "CommPort.cfg";
  env.app.options.configPath = unwritable;
  frmForm1& form = env.Load(2);
  env.messages.messages.clear();
  form.close();
  EXPECT_TRUE(form.ShutdownDone());
  ASSERT_EQ(env.messages.messages.size(), 1u);
  EXPECT_NE(env.messages.messages[0].text.find("CommPort.cfg"), std::string::npos);
  EXPECT_EQ(env.messages.messages[0].icon, MessageIcon::Error);
}

}  // namespace
TEST(StartUp, SimulatedSensorIsTheSavedModel) {
  // The simulated rig is built for the model the configuration file names, so a saved
  // 21410 shows its angles and a 21450 its 14-bit supply at about 5 V.
  QTemporaryDir dir;
  const std::filesystem::path config = (dir.path() + QStringLiteral("/CommPort.cfg")).toStdString();
  EXPECT_EQ(SimulatedRigOptions(config).model, 21420);  // no file: the primary model
  for (const int16_t model : kModelCodes) {
    ASSERT_TRUE(WriteConfigFile(Selection{2, 0, 0, model}, config));
    const sim::RigOptions options = SimulatedRigOptions(config);
    EXPECT_EQ(options.model, model);
    GuiRig env(options);
    frmForm1& form = env.Load(2, model);
    form.ckLoop->setChecked(false);
    QTest::mouseClick(form.cmdReadData, Qt::LeftButton);  // one reading
    EXPECT_NEAR(form.txtReadReg[1]->text().toDouble(), 5.0, 0.05) << model;
  }
  ASSERT_TRUE(WriteConfigFile(Selection{2, 0, 0, 12345}, config));
  EXPECT_EQ(SimulatedRigOptions(config).model, 21420);  // an unknown code: the primary model
}

}  // namespace pemra
