#include "gui/windows/frmManualReg.h"

#include <QCloseEvent>
#include <QShowEvent>
#include <QComboBox>
#include <QFontDatabase>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPrintDialog>
#include <QPrinter>
#include <QPrinterInfo>
#include <QPushButton>
#include <QScrollArea>
#include <QSignalBlocker>
#include <QSpinBox>
#include <QTableWidget>
#include <QVBoxLayout>

#include <algorithm>
#include <memory>
#include <string>
#include <utility>

#include "core/FieldWrite.h"
#include "core/LowPower.h"
#include "core/NumberText.h"
#include "core/Timing.h"
#include "gui/kit/Application.h"
#include "gui/kit/NamedWidget.h"
#include "gui/kit/OpsWindowSupport.h"
#include "gui/kit/ScreenFit.h"
#include "interfaces/RegisterListing.h"

namespace pemra {

namespace {

// A grey box the window fills and the user only reads: a click can select its text, the
// Tab key passes it by.
QLineEdit* ShowBox(const char* name, int characters) {
  auto* box = Named<QLineEdit>(name);
  box->setReadOnly(true);
  box->setFocusPolicy(Qt::ClickFocus);
  QPalette palette = box->palette();
  palette.setColor(QPalette::Base, palette.color(QPalette::Window));
  box->setPalette(palette);
  box->setMinimumWidth(box->fontMetrics().horizontalAdvance(QLatin1Char('0')) * characters + 12);
  return box;
}

// The listing box shows at least this many lines, and all 34 (with room for a few the user
// adds) when the screen is tall enough.
constexpr int kShortestListing = 12;
constexpr int kWholeListing = 36;

QString TrueFalse(bool value) { return value ? QStringLiteral("True") : QStringLiteral("False"); }

}  // namespace

frmManualReg::frmManualReg(Application& app, QWidget* parent)
    : QDialog(parent), app_(app), session_(app.session) {
  setObjectName(QStringLiteral("frmManualReg"));
  setWindowTitle(QStringLiteral("Register Information"));

  cmdClose = Named<QPushButton>("cmdClose", QStringLiteral("Close Window"));
  cmdUpdateFlash = Named<QPushButton>("cmdUpdateFlash", QStringLiteral("Update Flash"));
  auto* buttons = new QHBoxLayout;
  buttons->addWidget(cmdUpdateFlash);
  buttons->addStretch(1);
  buttons->addWidget(cmdClose);
  auto* layout = new QVBoxLayout(ScrollingContent(this));
  layout->addWidget(BuildRegisterGroup());
  auto* tables = new QHBoxLayout;
  tables->addWidget(BuildListingGroup());
  tables->addWidget(BuildFieldsGroup(), 1);
  layout->addLayout(tables, 1);
  layout->addLayout(buttons);

  NoDefaultButtons(*this);

  // A choice is taken whether it comes from the list or from code setting the index; an
  // entry picked again from the list is read again.
  connect(cmboRegister, &QComboBox::currentIndexChanged, this, [this] {
    changedBeforeActivation_ = true;
    cmboRegister_Click();
  });
  connect(cmboRegister, &QComboBox::activated, this, [this] {
    if (!std::exchange(changedBeforeActivation_, false)) cmboRegister_Click();
  });
  connect(cmdRead, &QPushButton::clicked, this, &frmManualReg::cmdRead_Click);
  connect(cmdWrite, &QPushButton::clicked, this, &frmManualReg::cmdWrite_Click);
  connect(cmdReadUserReg, &QPushButton::clicked, this, &frmManualReg::cmdReadUserReg_Click);
  connect(cmdWriteFile, &QPushButton::clicked, this, &frmManualReg::cmdWriteFile_Click);
  connect(cmdPrint, &QPushButton::clicked, this, &frmManualReg::cmdPrint_Click);
  connect(cmdUpdateFlash, &QPushButton::clicked, this, &frmManualReg::cmdUpdateFlash_Click);
  connect(cmdClose, &QPushButton::clicked, this, &frmManualReg::cmdClose_Click);
  connect(tblFields, &QTableWidget::itemSelectionChanged, this, &frmManualReg::tblFields_Click);
  connect(cmdWriteField, &QPushButton::clicked, this, &frmManualReg::cmdWriteField_Click);

  Form_Load();
}

std::function<void(QWidget*)> frmManualReg::Opener(Application& app) {
  auto kept = std::make_shared<QPointer<frmManualReg>>();
  return [&app, kept](QWidget* parent) {
    if (*kept != nullptr && (*kept)->parentWidget() != parent) delete kept->data();
    if (*kept == nullptr) *kept = new frmManualReg(app, parent);
    (*kept)->exec();
    if (*kept != nullptr && (*kept)->Unloaded()) delete kept->data();
  };
}

QWidget* frmManualReg::BuildRegisterGroup() {
  auto* box = new QGroupBox(QStringLiteral("Register Read/Write"));
  cmboRegister = Named<QComboBox>("cmboRegister");
  cmboRegister->setMinimumContentsLength(12);
  txtRegAddr = ShowBox("txtRegAddr", 5);
  txtRegByte = ShowBox("txtRegByte", 3);
  txtRegRead = ShowBox("txtRegRead", 5);
  txtRegWrite = ShowBox("txtRegWrite", 5);
  cmdRead = Named<QPushButton>("cmdRead", QStringLiteral("Read (Hex)"));
  txtHex = ShowBox("txtHex", 5);
  txtRegVal = ShowBox("txtRegVal", 12);
  txtDataWrite = Named<QLineEdit>("txtDataWrite");
  // HexToNumber takes four digits: longer text cannot be typed.
  txtDataWrite->setMaxLength(4);
  cmdWrite = Named<QPushButton>("cmdWrite", QStringLiteral("Write (Hex)"));

  auto* grid = new QGridLayout(box);
  grid->addWidget(cmboRegister, 1, 0);
  grid->addWidget(new QLabel(QStringLiteral("Base Addr (Hex)")), 0, 1);
  grid->addWidget(txtRegAddr, 1, 1);
  grid->addWidget(new QLabel(QStringLiteral("Num Bytes")), 0, 2);
  grid->addWidget(txtRegByte, 1, 2);
  grid->addWidget(new QLabel(QStringLiteral("Read Flag")), 0, 3);
  grid->addWidget(txtRegRead, 1, 3);
  grid->addWidget(new QLabel(QStringLiteral("Write Flag")), 0, 4);
  grid->addWidget(txtRegWrite, 1, 4);
  grid->addWidget(cmdRead, 2, 0);
  grid->addWidget(txtHex, 2, 1);
  grid->addWidget(new QLabel(QStringLiteral("Deci. Value")), 2, 2, Qt::AlignRight);
  grid->addWidget(txtRegVal, 2, 3, 1, 2);
  grid->addWidget(cmdWrite, 3, 0);
  grid->addWidget(txtDataWrite, 3, 1);
  return box;
}

QWidget* frmManualReg::BuildListingGroup() {
  auto* box = new QGroupBox(QStringLiteral("User Registers (Hex Values)"));
  Text1 = Named<QPlainTextEdit>("Text1");
  Text1->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
  Text1->setLineWrapMode(QPlainTextEdit::NoWrap);
  const int column = Text1->fontMetrics().horizontalAdvance(QLatin1Char('0'));
  Text1->setTabStopDistance(8 * column);
  Text1->setMinimumSize(56 * column, kShortestListing * Text1->fontMetrics().lineSpacing());
  cmdReadUserReg = Named<QPushButton>("cmdReadUserReg", QStringLiteral("Read"));
  cmdWriteFile = Named<QPushButton>("cmdWriteFile", QStringLiteral("Save"));
  cmdPrint = Named<QPushButton>("cmdPrint", QStringLiteral("Print"));

  auto* buttons = new QHBoxLayout;
  buttons->addWidget(cmdReadUserReg);
  buttons->addWidget(cmdWriteFile);
  buttons->addWidget(new QLabel(QStringLiteral("Registers_Log")));
  buttons->addStretch(1);
  buttons->addWidget(cmdPrint);
  auto* layout = new QVBoxLayout(box);
  layout->addWidget(Text1, 1);
  layout->addLayout(buttons);
  return box;
}

QWidget* frmManualReg::BuildFieldsGroup() {
  frameFields = Named<QGroupBox>("frameFields", QStringLiteral("Fields"));
  tblFields = Named<QTableWidget>("tblFields", 0, 4);
  tblFields->setHorizontalHeaderLabels(
      {QStringLiteral("Field"), QStringLiteral("Bits"), QStringLiteral("Value"),
       QStringLiteral("Meaning")});
  tblFields->verticalHeader()->setVisible(false);
  tblFields->setEditTriggers(QAbstractItemView::NoEditTriggers);
  tblFields->setSelectionBehavior(QAbstractItemView::SelectRows);
  tblFields->setSelectionMode(QAbstractItemView::SingleSelection);
  tblFields->horizontalHeader()->setStretchLastSection(true);
  tblFields->setWordWrap(true);  // a long meaning takes a second line
  const int column = tblFields->fontMetrics().horizontalAdvance(QLatin1Char('0'));
  // Narrow enough that the window still fits an 800-pixel screen at the main window's
  // corner; a long meaning wraps, and its tooltip shows it whole.
  tblFields->setMinimumWidth(30 * column);
  cmboFieldValue = Named<QComboBox>("cmboFieldValue");
  cmboFieldValue->setMinimumContentsLength(16);
  spnFieldValue = Named<QSpinBox>("spnFieldValue");
  spnFieldValue->setMinimumWidth(10 * column);
  cmdWriteField = Named<QPushButton>("cmdWriteField", QStringLiteral("Write Field"));

  auto* editor = new QHBoxLayout;
  editor->addWidget(cmboFieldValue);
  editor->addWidget(spnFieldValue);
  editor->addWidget(cmdWriteField);
  editor->addStretch(1);
  auto* layout = new QVBoxLayout(frameFields);
  layout->addWidget(tblFields, 1);
  layout->addLayout(editor);
  ShowFields(std::nullopt);
  return frameFields;
}

void frmManualReg::ShowFields(std::optional<int32_t> word) {
  fieldsWord_ = word;
  const int index = cmboRegister->currentIndex();
  const int row = tblFields->currentRow();
  const QSignalBlocker quiet(tblFields);
  tblFields->setRowCount(0);
  if (index >= 0) {
    const auto entry = static_cast<int16_t>(index);
    const FieldContext context{session_.selection.DeviceType, almCtrl_, app_.DecimalSeparator()};
    const std::vector<RegisterField> fields = RegisterFields(session_.table, entry);
    tblFields->setRowCount(static_cast<int>(fields.size()));
    for (size_t i = 0; i < fields.size(); ++i) {
      QStringList cells = {QString::fromUtf8(fields[i].name.data(),
                                             static_cast<qsizetype>(fields[i].name.size())),
                           QString::fromStdString(BitsText(fields[i].bits)), QString(), QString()};
      if (word) {
        const DecodedField decoded = DecodeField(session_.table, entry, fields[i], *word, context);
        cells[2] = QString::number(decoded.value);
        cells[3] = QString::fromStdString(decoded.meaning);
      }
      for (int c = 0; c < 4; ++c) {
        auto* item = new QTableWidgetItem(cells[c]);
        item->setToolTip(cells[c]);
        tblFields->setItem(static_cast<int>(i), c, item);
      }
    }
    for (int c = 0; c < 3; ++c) tblFields->resizeColumnToContents(c);
    tblFields->resizeRowsToContents();
  }
  // The same field stays chosen when the register is read again.
  if (row >= 0 && row < tblFields->rowCount()) tblFields->selectRow(row);
  tblFields_Click();
}

void frmManualReg::tblFields_Click() {
  const int index = cmboRegister->currentIndex();
  const int row = tblFields->currentRow();
  const auto fields =
      index < 0 ? std::vector<RegisterField>{} : RegisterFields(session_.table, static_cast<int16_t>(index));
  const bool chosen = row >= 0 && row < static_cast<int>(fields.size()) &&
                      !tblFields->selectedItems().isEmpty();
  cmboFieldValue->clear();
  if (!chosen) {
    cmboFieldValue->setVisible(false);
    spnFieldValue->setVisible(true);
    spnFieldValue->setEnabled(false);
    cmdWriteField->setEnabled(false);
    return;
  }
  const RegisterField& field = fields[static_cast<size_t>(row)];
  const int32_t present = fieldsWord_ ? field.ValueIn(*fieldsWord_) : 0;
  const bool named = !field.choices.empty();
  cmboFieldValue->setVisible(named);
  spnFieldValue->setVisible(!named);
  if (named) {
    for (const FieldChoice& choice : field.choices) {
      cmboFieldValue->addItem(QStringLiteral("%1  %2").arg(choice.value).arg(
                                  QString::fromUtf8(choice.meaning.data(),
                                                    static_cast<qsizetype>(choice.meaning.size()))),
                              choice.value);
    }
    cmboFieldValue->setCurrentIndex(std::max(0, cmboFieldValue->findData(present)));
  } else {
    spnFieldValue->setRange(field.Min(), field.Max());
    spnFieldValue->setValue(present);
  }
  const bool writable =
      field.Writable() && session_.table[static_cast<size_t>(index)].RegWritable;
  cmboFieldValue->setEnabled(writable);
  spnFieldValue->setEnabled(writable);
  cmdWriteField->setEnabled(writable);
}

void frmManualReg::cmdWriteField_Click() {
  const int index = cmboRegister->currentIndex();
  const int row = tblFields->currentRow();
  if (index < 0 || row < 0) return;
  const auto entry = static_cast<int16_t>(index);
  const std::vector<RegisterField> fields = RegisterFields(session_.table, entry);
  if (row >= static_cast<int>(fields.size())) return;
  const RegisterField& field = fields[static_cast<size_t>(row)];
  const int32_t value =
      field.choices.empty() ? spnFieldValue->value() : cmboFieldValue->currentData().toInt();
  const FieldWriteResult result = WriteField(session_.access, entry, field, value);
  if (!result.Written()) {
    session_.messages.Show(Message{result.refusal, "", MessageIcon::Error});
    return;
  }
  if (!result.readBack) {
    ShowFields(std::nullopt);
    return;
  }
  // What the sensor now holds, as "Read (Hex)" shows it.
  RegisterAccess& access = session_.access;
  txtHex->setText(QString::fromStdString(NumberToHex(access.RawValue)));
  txtRegVal->setText(QString::fromStdString(GeneralText(access.ScaledValue, app_.DecimalSeparator())));
  if (entry == reg::ALM_CTRL) almCtrl_ = result.readBackWord;
  ShowFields(result.readBackWord);
  if (!result.holds && !field.changesBySelf) {
    const RegisterEntry& e = session_.table[static_cast<size_t>(entry)];
    session_.messages.Show(Message{FieldFullName(e, field) + " reads back " +
                                       std::to_string(field.ValueIn(result.readBackWord)) +
                                       ", not the " + std::to_string(value) + " written",
                                   "", MessageIcon::Warning});
  }
}

void frmManualReg::Form_Load() {
  // Each showing fits the window to the screen at the main window's corner (ScreenFit); it
  // would rather be tall enough for the whole listing.
  const QSize least = ScrollAreaOf(this)->widget()->sizeHint();
  SetRoomySize(this, QSize(least.width(), least.height() + (kWholeListing - kShortestListing) *
                                                                Text1->fontMetrics().lineSpacing()));
  // The flash update of this window stays out of reach, as in every release so far; the
  // other configuration windows each have one.
  cmdUpdateFlash->setVisible(false);
  // Filling the list chooses nothing: "Write (Hex)" keeps the entry chosen last in this run.
  const QSignalBlocker quiet(cmboRegister);
  for (int index = 0; index < kFilledRegisters; ++index) cmboRegister->addItem(QString());
  ShowRegisterNames();
  cmboRegister->setCurrentIndex(-1);
  cmdReadUserReg_Click();
}

void frmManualReg::ShowRegisterNames() {
  for (int index = 0; index < kFilledRegisters; ++index) {
    cmboRegister->setItemText(
        index, QString::fromStdString(session_.table[static_cast<size_t>(index)].RegName));
  }
}

void frmManualReg::showEvent(QShowEvent* event) {
  // The window is kept between openings: the model may have changed meanwhile.
  if (!event->spontaneous()) ShowRegisterNames();
  QDialog::showEvent(event);
}

void frmManualReg::cmboRegister_Click() {
  const int index = cmboRegister->currentIndex();
  if (index < 0) return;
  app_.SelectedRegister = static_cast<int16_t>(index);
  const RegisterEntry& entry = session_.table[static_cast<size_t>(index)];
  // Another register: its fields, with no field chosen yet and no values until it is read.
  tblFields->clearSelection();
  tblFields->setCurrentCell(-1, -1);
  ShowFields(std::nullopt);
  txtRegAddr->setText(QString::fromStdString(NumberToHex(entry.RegAddress)));
  txtRegByte->setText(QString::number(entry.RegBytes));
  txtRegRead->setText(TrueFalse(entry.RegReadable));
  txtRegWrite->setText(TrueFalse(entry.RegWritable));
  cmdWrite->setEnabled(entry.RegWritable);
  cmdRead->setEnabled(entry.RegReadable);
  cmdRead_Click();
}

void frmManualReg::cmdRead_Click() {
  const int index = cmboRegister->currentIndex();
  if (index < 0 || !session_.table[static_cast<size_t>(index)].RegReadable) return;
  RegisterAccess& access = session_.access;
  access.ReadRegister(static_cast<int16_t>(index));
  txtHex->setText(QString::fromStdString(NumberToHex(access.RawValue)));
  txtRegVal->setText(QString::fromStdString(GeneralText(access.ScaledValue, app_.DecimalSeparator())));
  if (index == reg::ALM_CTRL) almCtrl_ = access.LastWord;
  ShowFields(access.LastWord);
}

void frmManualReg::cmdWrite_Click() {
  int32_t value = HexToNumber(txtDataWrite->text().toLatin1().toStdString());
  if (session_.selection.InterfaceType == 2 && value > kMaxUsbSamplePeriod &&
      app_.SelectedRegister == reg::SMPL_PRD) {
    session_.messages.Show(Message{kLowPowerWarning, "", MessageIcon::None});
    value = kMaxUsbSamplePeriod;
  }
  session_.access.WriteRegister(app_.SelectedRegister, value);
}

void frmManualReg::cmdReadUserReg_Click() {
  // Lines end with LF in the box; the saved file has CR LF.
  ListingWords words;
  Text1->setPlainText(QString::fromStdString(
      RegisterListing(session_.access, app_.DecimalSeparator(), "\n", &words)));
  if (words[reg::ALM_CTRL]) almCtrl_ = words[reg::ALM_CTRL];
}

void frmManualReg::cmdWriteFile_Click() {
  QString text = Text1->toPlainText();
  text.replace(QLatin1Char('\n'), QStringLiteral("\r\n"));
  const std::filesystem::path path =
      app_.options.dataDir / std::filesystem::path(std::string(kRegisterLogFileName));
  std::string error;
  if (!SaveRegisterListing(path, text.toStdString(), &error)) {
    session_.messages.Show(Message{error, "", MessageIcon::Error});
  }
}

bool frmManualReg::PrintWindowImage(QPrinter& printer) {
  const QPixmap image = grab();
  QPainter painter;
  if (!painter.begin(&printer)) {
    const QString target = printer.outputFileName().isEmpty() ? printer.printerName()
                                                              : printer.outputFileName();
    session_.messages.Show(Message{"Cannot print to " + target.toStdString(), "",
                                   MessageIcon::Error});
    return false;
  }
  // The image as large as the page allows, without distortion, at the page's top-left.
  const QRect page = painter.viewport();
  const QSize size = image.size().scaled(page.size(), Qt::KeepAspectRatio);
  painter.drawPixmap(QRect(page.topLeft(), size), image);
  return painter.end();
}

void frmManualReg::cmdPrint_Click() {
  const QPrinterInfo defaultPrinter = QPrinterInfo::defaultPrinter();
  if (!defaultPrinter.isNull()) {
    QPrinter printer(defaultPrinter, QPrinter::HighResolution);
    PrintWindowImage(printer);
    return;
  }
  // No printer to print on: the print dialog offers printing to a PDF file instead.
  QPrinter printer(QPrinter::HighResolution);
  printer.setOutputFormat(QPrinter::PdfFormat);
  const std::filesystem::path pdf = app_.options.dataDir / "Registers_LOG.pdf";
  printer.setOutputFileName(QString::fromStdString(pdf.string()));
  QPrintDialog dialog(&printer, this);
  if (dialog.exec() != QDialog::Accepted) return;
  PrintWindowImage(printer);
}

void frmManualReg::cmdUpdateFlash_Click() {
  session_.access.WriteRegister(reg::COMMAND, command::FlashUpdate);
  Delay(session_.clock, 250.0f);
}

void frmManualReg::cmdClose_Click() { hide(); }

void frmManualReg::closeEvent(QCloseEvent* event) {
  unloaded_ = true;
  QDialog::closeEvent(event);
}

}  // namespace pemra
