// The manual register window on the simulated sensor: what an entry's choice shows and
// allows, hex writes with the low-power limit over USB, the window kept between openings,
// the listing, its saved file and printing.

#include <QAction>
#include <QComboBox>
#include <QFile>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPrintDialog>
#include <QPrinter>
#include <QPrinterInfo>
#include <QPushButton>
#include <QSpinBox>
#include <QTableWidget>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <string>

#include "core/LowPower.h"
#include "gui/GuiTestSupport.h"
#include "gui/windows/frmManualReg.h"

namespace pemra {
namespace {

using testing::OnModal;

constexpr uint8_t kSmplPrd = 0x36;

struct RegRig : testing::GuiRig {
  frmManualReg& Open(int16_t interfaceType = 1) {
    Load(interfaceType);
    window = std::make_unique<frmManualReg>(app, form.get());
    window->show();
    return *window;
  }
  void Choose(int index) {
    window->cmboRegister->setCurrentIndex(index);
    emit window->cmboRegister->activated(index);
  }
  uint16_t Word(uint8_t address) { return rig.Sensor().PeekRegister(address); }
  std::filesystem::path LogPath() const { return app.options.dataDir / "Registers_LOG.txt"; }
  std::unique_ptr<frmManualReg> window;
};

QByteArray FileBytes(const std::filesystem::path& path) {
  QFile file(QString::fromStdString(path.string()));
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

TEST(ManualRegWindow, ChoosingAnEntryShowsItsFlagsAndReadsIt) {
  struct Case { int index; const char* address; const char* bytes; bool readable; bool writable; };
  const Case cases[] = {
      {31, "003E", "1", false, true},  // COMMAND
      {30, "003C", "2", true, false},  // STATUS
      {13, "001A", "2", true, true},   // XGYRO_ OFF
      {12, "0018", "2", false, false}, // Reserved
  };
  RegRig env;
  frmManualReg& w = env.Open();
  EXPECT_EQ(w.windowTitle(), QStringLiteral("Register Information"));
  ASSERT_EQ(w.cmboRegister->count(), 32);
  EXPECT_EQ(w.cmboRegister->currentIndex(), -1);
  EXPECT_FALSE(w.cmdUpdateFlash->isVisible());
  for (const Case& c : cases) {
    SCOPED_TRACE(c.index);
    w.txtHex->clear();
    w.cmboRegister->setCurrentIndex(c.index);  // chosen by code: taken as a click
    EXPECT_EQ(env.app.SelectedRegister, c.index);
    EXPECT_EQ(w.txtRegAddr->text(), QString::fromLatin1(c.address));
    EXPECT_EQ(w.txtRegByte->text(), QString::fromLatin1(c.bytes));
    EXPECT_EQ(w.txtRegRead->text(), c.readable ? QStringLiteral("True") : QStringLiteral("False"));
    EXPECT_EQ(w.txtRegWrite->text(), c.writable ? QStringLiteral("True") : QStringLiteral("False"));
    EXPECT_EQ(w.cmdRead->isEnabled(), c.readable);
    EXPECT_EQ(w.cmdWrite->isEnabled(), c.writable);
    EXPECT_EQ(w.txtHex->text().isEmpty(), !c.readable);  // read at once when it can be
  }
  env.Choose(13);  // XGYRO_ OFF, 13-bit signed
  w.txtDataWrite->setText(QStringLiteral("FFFF"));
  w.cmdWrite->click();
  w.cmdRead->click();
  EXPECT_EQ(w.txtHex->text(), QStringLiteral("FFFF"));
  EXPECT_EQ(w.txtRegVal->text(), QStringLiteral("-0.018315"));
  w.txtHex->clear();
  emit w.cmboRegister->activated(13);  // the same entry picked again is read again
  EXPECT_EQ(w.txtHex->text(), QStringLiteral("FFFF"));
}

TEST(ManualRegWindow, SamplePeriodIsLimitedOverUsb) {
  struct Case { int16_t interfaceType; const char* typed; uint16_t written; bool warned; };
  const Case cases[] = {{2, "0A", 9, true}, {1, "0A", 10, false}, {2, "9", 9, false},
                        {2, "1G", 9, true}};  // G counts as 0: 0x10
  for (const Case& c : cases) {
    SCOPED_TRACE(c.typed);
    RegRig env;
    frmManualReg& w = env.Open(c.interfaceType);
    env.messages.messages.clear();
    env.Choose(27);  // SMPL_PRD
    w.txtDataWrite->setText(QString::fromLatin1(c.typed));
    w.cmdWrite->click();
    EXPECT_EQ(env.Word(kSmplPrd) & 0xFF, c.written);
    EXPECT_EQ(env.HasMessage(kLowPowerWarning), c.warned);
  }
}

TEST(ManualRegWindow, CloseHidesAndTheTitleBarUnloads) {
  RegRig env;
  env.Load(1);
  ASSERT_TRUE(env.form->mnuRegisters->isEnabled());
  // First opening: choose SMPL_PRD and change the listing by hand, then "Close Window".
  OnModal<frmManualReg>([](frmManualReg& w) {
    w.cmboRegister->setCurrentIndex(27);
    emit w.cmboRegister->activated(27);
    w.Text1->setPlainText(QStringLiteral("edited"));
    w.cmdClose->click();
  });
  env.form->mnuRegisters_Click();
  // Second opening: all still there; the title bar's close box unloads.
  QString listing;
  int shown = -2;
  OnModal<frmManualReg>([&](frmManualReg& w) {
    listing = w.Text1->toPlainText();
    shown = w.cmboRegister->currentIndex();
    w.close();
  });
  env.form->mnuRegisters_Click();
  EXPECT_EQ(listing, QStringLiteral("edited"));
  EXPECT_EQ(shown, 27);
  // Third opening loads afresh; "Write (Hex)" still writes to the entry chosen last.
  OnModal<frmManualReg>([&](frmManualReg& w) {
    listing = w.Text1->toPlainText();
    shown = w.cmboRegister->currentIndex();
    w.txtDataWrite->setText(QStringLiteral("5"));
    w.cmdWrite->click();
    w.cmdClose->click();
  });
  env.form->mnuRegisters_Click();
  EXPECT_TRUE(listing.startsWith(QStringLiteral("Name\t\tAddr")));
  EXPECT_EQ(shown, -1);
  EXPECT_EQ(env.Word(kSmplPrd) & 0xFF, 5);
}

// The window is kept between openings: each one shows the entries' current names and opens
// at the main window's corner, wherever that now is.
TEST(ManualRegWindow, KeptWindowFollowsAModelChangeAndTheMainWindow) {
  RegRig env;
  env.Load(1);
  OnModal<frmManualReg>([](frmManualReg& w) { w.cmdClose->click(); });
  env.form->mnuRegisters_Click();
  env.form->mnuModels[0]->trigger();  // 21410
  env.form->move(41, 0);  // the window is as tall as the small offscreen screen
  QString names;
  QPoint at;
  OnModal<frmManualReg>([&](frmManualReg& w) {
    names = w.cmboRegister->itemText(9) + QLatin1Char(' ') + w.cmboRegister->itemText(10);
    at = w.pos();
    w.cmdClose->click();
  });
  env.form->mnuRegisters_Click();
  EXPECT_EQ(names, QStringLiteral("Pitch_OUT Roll_OUT"));
  EXPECT_EQ(at, QPoint(41, 0));
}

// A read converts with the entry as the model made it.
TEST(ManualRegWindow, ReadsConvertWithTheModelsEntries) {
  const struct {
    int16_t model;
    int16_t index;
    int32_t word;
    const char* hex;
    const char* value;
  } cases[] = {
      {21410, reg::YTEMP_OUT, 0x8FFF, "0FFF", "180.18"},   // pitch: 13 bits at 0.044
      {21420, reg::YTEMP_OUT, 0x8FFF, "FFFF", "24.8547"},  // temperature: 12 bits, -1
      {21490, reg::XGYRO_OUT, 0x0010, "0010", "3.2"},      // 0.2 deg/s at range 4
      {21430, reg::ZACCL_OUT, 0x01A0, "01A0", "0.1943552"},
      {21410, reg::SUPPLY_OUT, 0x0800, "0800", "4.95616"},  // 14 bits at 2.42 mV
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.model) + " entry " + std::to_string(c.index));
    testing::GuiFake env;
    env.Load(1, c.model);
    env.SetWord(c.index, c.word);
    frmManualReg w(env.app, env.form.get());
    w.show();
    w.cmboRegister->setCurrentIndex(c.index);
    EXPECT_EQ(w.txtHex->text().toStdString(), c.hex);
    EXPECT_EQ(w.txtRegVal->text().toStdString(), c.value);
  }
}

// The field panel, driven by object name: the chosen register's fields with their values and
// meanings, and one field written alone with every other bit kept.
TEST(ManualRegWindow, FieldPanelShowsAndWritesOneField) {
  RegRig env;
  frmManualReg& w = env.Open();
  auto* table = w.findChild<QTableWidget*>(QStringLiteral("tblFields"));
  auto* choice = w.findChild<QComboBox*>(QStringLiteral("cmboFieldValue"));
  auto* number = w.findChild<QSpinBox*>(QStringLiteral("spnFieldValue"));
  auto* write = w.findChild<QPushButton*>(QStringLiteral("cmdWriteField"));
  ASSERT_TRUE(table && choice && number && write);
  auto row = [table](int r) {
    QStringList cells;
    for (int c = 0; c < table->columnCount(); ++c) cells << table->item(r, c)->text();
    return cells.join(QLatin1Char('|')).toStdString();
  };
  EXPECT_EQ(table->rowCount(), 0);
  EXPECT_FALSE(write->isEnabled());

  env.rig.Sensor().PokeRegister(0x34, 0x0106);  // MSC_CTRL: self-test on, data ready high
  env.Choose(reg::MSC_CTRL);
  ASSERT_EQ(table->rowCount(), 5);
  EXPECT_EQ(row(0), "dr_line|0|0|DI/O1");
  EXPECT_EQ(row(2), "dr_enable|2|1|on");
  EXPECT_EQ(row(3), "self_test|8|1|on");
  EXPECT_FALSE(write->isEnabled());  // no field chosen yet
  table->selectRow(0);
  ASSERT_TRUE(choice->isVisible());
  EXPECT_FALSE(number->isVisible());
  EXPECT_EQ(choice->currentData().toInt(), 0);
  choice->setCurrentIndex(choice->findData(1));
  write->click();
  EXPECT_EQ(env.Word(0x34), 0x0107);
  EXPECT_EQ(w.txtHex->text(), QStringLiteral("0107"));
  EXPECT_EQ(row(0), "dr_line|0|1|DI/O2");
  EXPECT_EQ(table->currentRow(), 0);  // the field stays chosen

  // A count in a spin box held to the field's width.
  env.Choose(reg::SENS_AVG);
  ASSERT_EQ(row(1), "gyro_range|8-10|4|highest range, 0.07326 deg/s per LSB");
  table->selectRow(0);
  ASSERT_TRUE(number->isVisible());
  EXPECT_EQ(number->minimum(), 0);
  EXPECT_EQ(number->maximum(), 7);
  number->setValue(5);
  write->click();
  EXPECT_EQ(env.Word(0x38), 0x0405);
  EXPECT_EQ(row(0), "taps_exponent|0-2|5|32 taps");

  // Read-only fields cannot be written.
  env.Choose(reg::STATUS);
  table->selectRow(0);
  EXPECT_FALSE(write->isEnabled());
  EXPECT_FALSE(choice->isEnabled());

  // A command: its fields without values, written alone.
  env.Choose(reg::COMMAND);
  ASSERT_EQ(table->rowCount(), 6);
  EXPECT_EQ(row(3), "flash_update|3||");
  table->selectRow(3);
  choice->setCurrentIndex(choice->findData(1));
  write->click();
  env.clock.Advance(std::chrono::milliseconds(60));  // the update takes 50 ms
  EXPECT_EQ(env.Word(0x00), 1);  // ENDURANCE: one flash update
}

TEST(ManualRegWindow, FieldRefusalOverUsbWritesNothing) {
  RegRig env;
  frmManualReg& w = env.Open(2);
  env.messages.messages.clear();
  env.Choose(reg::SMPL_PRD);
  auto* table = w.findChild<QTableWidget*>(QStringLiteral("tblFields"));
  table->selectRow(1);  // time_base
  auto* choice = w.findChild<QComboBox*>(QStringLiteral("cmboFieldValue"));
  choice->setCurrentIndex(choice->findData(1));
  w.findChild<QPushButton*>(QStringLiteral("cmdWriteField"))->click();
  EXPECT_EQ(env.Word(kSmplPrd), 0x0001);
  ASSERT_EQ(env.messages.messages.size(), 1u);
  EXPECT_TRUE(env.messages.messages[0].text.starts_with(
      "SMPL_PRD 0081 would put the sensor into low-power sampling"));
}

TEST(ManualRegWindow, TabPassesTheReadOnlyBoxesBy) {
  RegRig env;
  frmManualReg& w = env.Open();
  for (const QLineEdit* box :
       {w.txtRegAddr, w.txtRegByte, w.txtRegRead, w.txtRegWrite, w.txtHex, w.txtRegVal}) {
    EXPECT_FALSE(box->focusPolicy() & Qt::TabFocus) << box->objectName().toStdString();
    EXPECT_TRUE(box->focusPolicy() & Qt::ClickFocus) << box->objectName().toStdString();
  }
  EXPECT_TRUE(w.txtDataWrite->focusPolicy() & Qt::TabFocus);
}

TEST(ManualRegWindow, ListingAndItsSavedFile) {
  RegRig env;
  frmManualReg& w = env.Open();
  const QStringList lines = w.Text1->toPlainText().split(QLatin1Char('\n'));
  ASSERT_EQ(lines.size(), 35);  // 34 lines, each ended
  EXPECT_EQ(lines[0], QStringLiteral("Name\t\tAddr\thexValue\t   decValue"));
  EXPECT_EQ(lines[14], QStringLiteral("Reserved     \t0018\t----\t   ----"));
  EXPECT_EQ(lines[33], QStringLiteral("COMMAND     \t003E\t----\t   ----"));
  EXPECT_EQ(lines[3], QStringLiteral("SUPPLY_OUT     \t0002\t0AAA\t   4.99999"));  // 5 V rig

  w.cmdWriteFile->click();
  w.Text1->appendPlainText(QStringLiteral("my note"));  // the file holds what the box shows
  w.cmdWriteFile->click();
  QString expected = w.Text1->toPlainText();
  expected.replace(QLatin1Char('\n'), QStringLiteral("\r\n"));
  const QByteArray bytes = FileBytes(env.LogPath());
  EXPECT_EQ(bytes, expected.toLatin1() + "\r\n");

  w.cmdReadUserReg->click();
  w.cmdWriteFile->click();
  EXPECT_TRUE(FileBytes(env.LogPath()).endsWith("\t   ----\r\n\r\n"));
  EXPECT_TRUE(env.messages.messages.empty());
}

TEST(ManualRegWindow, SaveFailureNamesTheFileAndReason) {
  RegRig env;
  frmManualReg& w = env.Open();
  env.app.options.dataDir = env.app.options.dataDir / "missing";
  w.cmdWriteFile->click();
  ASSERT_EQ(env.messages.messages.size(), 1u);
  const std::string& text = env.messages.messages[0].text;
  EXPECT_NE(text.find(env.LogPath().string()), std::string::npos) << text;
  EXPECT_NE(text.find("No such file or directory"), std::string::npos) << text;
}

TEST(ManualRegWindow, PrintsAnImageOfTheWindow) {
  RegRig env;
  frmManualReg& w = env.Open();
  const std::filesystem::path pdf = env.app.options.dataDir / "window.pdf";
  QPrinter printer(QPrinter::HighResolution);
  printer.setOutputFormat(QPrinter::PdfFormat);
  printer.setOutputFileName(QString::fromStdString(pdf.string()));
  ASSERT_TRUE(w.PrintWindowImage(printer));
  const QByteArray bytes = FileBytes(pdf);
  EXPECT_TRUE(bytes.startsWith("%PDF"));
  EXPECT_TRUE(bytes.contains("/Image"));

  // A printer that cannot be started is reported by name.
  printer.setOutputFileName(QString::fromStdString((env.app.options.dataDir / "no" / "x.pdf").string()));
  EXPECT_FALSE(w.PrintWindowImage(printer));
  ASSERT_EQ(env.messages.messages.size(), 1u);
  EXPECT_NE(env.messages.messages[0].text.find("x.pdf"), std::string::npos);
}

TEST(ManualRegWindow, WithoutPrinterACancelledDialogPrintsNothing) {
  if (!QPrinterInfo::defaultPrinter().isNull()) GTEST_SKIP() << "a default printer exists";
  RegRig env;
  frmManualReg& w = env.Open();
  bool offered = false;
  OnModal<QPrintDialog>([&](QPrintDialog& dialog) {
    offered = true;
    dialog.reject();
  });
  w.cmdPrint->click();
  EXPECT_TRUE(offered);
  EXPECT_FALSE(std::filesystem::exists(env.app.options.dataDir / "Registers_LOG.pdf"));
}

}  // namespace
}  // namespace pemra
