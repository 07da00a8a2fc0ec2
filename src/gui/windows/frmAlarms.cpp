#include "gui/windows/frmAlarms.h"

#include <QButtonGroup>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QShowEvent>
#include <QVBoxLayout>

#include "core/AlarmLevels.h"
#include "core/NumberText.h"
#include "core/Timing.h"
#include "gui/kit/Application.h"
#include "gui/kit/EntryRules.h"
#include "gui/kit/NamedWidget.h"
#include "gui/kit/OpsWindowSupport.h"
#include "gui/kit/ScreenFit.h"

namespace pemra {

namespace {

// A label and an exclusive pair of option buttons beside it.
QHBoxLayout* OptionPair(QWidget* owner, QRadioButton* first, QRadioButton* second) {
  auto* group = new QButtonGroup(owner);
  group->addButton(first);
  group->addButton(second);
  auto* row = new QHBoxLayout;
  row->addWidget(first);
  row->addWidget(second);
  row->addStretch(1);
  return row;
}

QLabel* HexLabel(const char* name) {
  auto* label = Named<QLabel>(name);
  label->setFrameShape(QFrame::Panel);
  label->setFrameShadow(QFrame::Sunken);
  label->setMinimumWidth(label->fontMetrics().horizontalAdvance(QStringLiteral("0000")) + 12);
  return label;
}

}  // namespace

frmAlarms::frmAlarms(Application& app, QWidget* parent)
    : QDialog(parent), app_(app), session_(app.session) {
  setObjectName(QStringLiteral("frmAlarms"));
  setWindowTitle(QStringLiteral("ALARM CONFIGURATION AND CONTROL"));

  cmdFlash = Named<QPushButton>("cmdFlash", QStringLiteral("Flash Memory Register Update"));
  cmdClose = Named<QPushButton>("cmdClose", QStringLiteral("Close Window"));

  auto* alarms = new QHBoxLayout;
  alarms->addWidget(BuildAlarm(1));
  alarms->addWidget(BuildAlarm(2));
  auto* buttons = new QHBoxLayout;
  buttons->addWidget(cmdFlash);
  buttons->addStretch(1);
  buttons->addWidget(cmdClose);
  auto* layout = new QVBoxLayout(ScrollingContent(this));
  layout->addLayout(alarms);
  layout->addWidget(BuildIndicator());
  layout->addLayout(buttons);
  layout->setSizeConstraint(QLayout::SetFixedSize);

  NoDefaultButtons(*this);

  connect(cmdWiteA1, &QPushButton::clicked, this, &frmAlarms::cmdWiteA1_Click);
  connect(cmdWriteA2, &QPushButton::clicked, this, &frmAlarms::cmdWriteA2_Click);
  connect(cmdWriteAlmSmpl1, &QPushButton::clicked, this, &frmAlarms::cmdWriteAlmSmpl1_Click);
  connect(cmdWriteAlmSmpl2, &QPushButton::clicked, this, &frmAlarms::cmdWriteAlmSmpl2_Click);
  connect(cmdAdio, &QPushButton::clicked, this, &frmAlarms::cmdAdio_Click);
  connect(cmdFlash, &QPushButton::clicked, this, &frmAlarms::cmdFlash_Click);
  connect(cmdClose, &QPushButton::clicked, this, &frmAlarms::cmdClose_Click);

  // Form_Load: each showing places the window at the main window's corner (ScreenFit).
}

QWidget* frmAlarms::BuildAlarm(int number) {
  const bool first = number == 1;
  auto* box = new QGroupBox(first ? QStringLiteral("ALARM 1 SETUP") : QStringLiteral("ALARM 2 SETUP"));
  QComboBox*& source = first ? cmboAsource1 : cmboAsource2;
  QLineEdit*& level = first ? txtLevel1 : txtLevel2;
  QLabel*& mag = first ? lblALM_MAG1 : lblALM_MAG2;
  QRadioButton*& greater = first ? opTrigPol1_Greater : opTrigPol2_greater;
  QRadioButton*& less = first ? opTrigPol1_Less : opTrigPol2_Less;
  QPushButton*& update = first ? cmdWiteA1 : cmdWriteA2;
  QLineEdit*& average = first ? txtAvg1 : txtAVG2;
  QRadioButton*& rateOn = first ? opRate1_Enabled : opRate2_Enabled;
  QRadioButton*& rateOff = first ? opRate1_Disabled : opRate2_Disabled;
  QPushButton*& smplUpdate = first ? cmdWriteAlmSmpl1 : cmdWriteAlmSmpl2;
  QLabel*& smpl = first ? lblALM_SMPL1 : lblALM_SMPL2;

  source = Named<QComboBox>(first ? "cmboAsource1" : "cmboAsource2");
  source->setEditable(true);
  source->setInsertPolicy(QComboBox::NoInsert);
  source->setMinimumContentsLength(10);
  source->setMaxVisibleItems(kAlarmSources);  // the whole list, without scrolling
  level = Named<QLineEdit>(first ? "txtLevel1" : "txtLevel2");
  mag = HexLabel(first ? "lblALM_MAG1" : "lblALM_MAG2");
  greater = Named<QRadioButton>(first ? "opTrigPol1_Greater" : "opTrigPol2_greater",
                                QStringLiteral("Greater than"));
  less = Named<QRadioButton>(first ? "opTrigPol1_Less" : "opTrigPol2_Less",
                             QStringLiteral("Less than"));
  update = Named<QPushButton>(first ? "cmdWiteA1" : "cmdWriteA2", QStringLiteral("Update"));
  average = Named<QLineEdit>(first ? "txtAvg1" : "txtAVG2");
  rateOn = Named<QRadioButton>(first ? "opRate1_Enabled" : "opRate2_Enabled",
                               QStringLiteral("Enabled"));
  rateOff = Named<QRadioButton>(first ? "opRate1_Disabled" : "opRate2_Disabled",
                                QStringLiteral("Disabled"));
  smplUpdate = Named<QPushButton>(first ? "cmdWriteAlmSmpl1" : "cmdWriteAlmSmpl2",
                                  QStringLiteral("Update"));
  smpl = HexLabel(first ? "lblALM_SMPL1" : "lblALM_SMPL2");

  auto* grid = new QGridLayout(box);
  int row = 0;
  grid->addWidget(new QLabel(QStringLiteral("Source")), row, 0);
  grid->addWidget(source, row++, 1);
  grid->addWidget(new QLabel(QStringLiteral("Trigger Level")), row, 0);
  grid->addWidget(level, row++, 1);
  grid->addWidget(new QLabel(first ? QStringLiteral("ALM_MAG1") : QStringLiteral("ALM_MAG2")), row, 0);
  grid->addWidget(mag, row++, 1, Qt::AlignLeft);
  grid->addWidget(new QLabel(QStringLiteral("Trigger Polarity")), row, 0);
  grid->addLayout(OptionPair(box, greater, less), row++, 1);
  grid->addWidget(update, row++, 1, Qt::AlignRight);
  grid->setRowMinimumHeight(row++, 8);
  grid->addWidget(new QLabel(QStringLiteral("Average Number")), row, 0);
  grid->addWidget(average, row++, 1);
  grid->addWidget(new QLabel(QStringLiteral("Rate of change")), row, 0);
  grid->addLayout(OptionPair(box, rateOn, rateOff), row++, 1);
  grid->addWidget(new QLabel(first ? QStringLiteral("ALM_SMPL1") : QStringLiteral("ALM_SMPL2")), row, 0);
  grid->addWidget(smpl, row++, 1, Qt::AlignLeft);
  grid->addWidget(smplUpdate, row++, 1, Qt::AlignRight);
  grid->setColumnStretch(1, 1);
  return box;
}

QWidget* frmAlarms::BuildIndicator() {
  auto* box = new QGroupBox(QStringLiteral("Digital Alarm Indicator Setup"));
  opDigLine_zero = Named<QRadioButton>("opDigLine_zero", QStringLiteral("DI/O0"));
  opDigLine_one = Named<QRadioButton>("opDigLine_one", QStringLiteral("DI/O1"));
  opDigPol_low = Named<QRadioButton>("opDigPol_low", QStringLiteral("Low"));
  opDigPol_high = Named<QRadioButton>("opDigPol_high", QStringLiteral("High"));
  opDig_Disabled = Named<QRadioButton>("opDig_Disabled", QStringLiteral("Disabled"));
  opDig_Enabled = Named<QRadioButton>("opDig_Enabled", QStringLiteral("Enabled"));
  cmdAdio = Named<QPushButton>("cmdAdio", QStringLiteral("Update"));

  auto* grid = new QGridLayout(box);
  grid->addWidget(new QLabel(QStringLiteral("Digital Line Selection")), 0, 0);
  grid->addLayout(OptionPair(box, opDigLine_zero, opDigLine_one), 1, 0);
  grid->addWidget(new QLabel(QStringLiteral("Output Polarity")), 0, 1);
  grid->addLayout(OptionPair(box, opDigPol_low, opDigPol_high), 1, 1);
  grid->addWidget(new QLabel(QStringLiteral("Digital Alarm Indicator")), 0, 2);
  grid->addLayout(OptionPair(box, opDig_Disabled, opDig_Enabled), 1, 2);
  grid->addWidget(cmdAdio, 1, 3);
  return box;
}

void frmAlarms::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (!event->spontaneous() && !activated_) Form_Activate();
}

void frmAlarms::Form_Activate() {
  activated_ = true;
  for (QComboBox* list : {cmboAsource1, cmboAsource2}) {
    for (std::string_view name : kAlarmSourceNames) {
      list->addItem(QString::fromLatin1(name.data(), static_cast<qsizetype>(name.size())));
    }
    list->setCurrentIndex(-1);
  }
  ReadAlarmSetup();
}

frmAlarms::AlarmRow frmAlarms::Row(int number) const {
  if (number == 1) {
    return {1,       cmboAsource1,    txtLevel1, lblALM_MAG1, opTrigPol1_Greater, opTrigPol1_Less,
            txtAvg1, opRate1_Enabled, lblALM_SMPL1};
  }
  return {2,       cmboAsource2,    txtLevel2, lblALM_MAG2, opTrigPol2_greater, opTrigPol2_Less,
          txtAVG2, opRate2_Enabled, lblALM_SMPL2};
}

int frmAlarms::SelectedSource(const QComboBox* list) {
  const int index = list->currentIndex();
  if (index >= 0 && list->currentText() == list->itemText(index)) return index;
  // A caption typed in full (in any case, Enter pressed or not) names its entry; any other
  // text names none.
  return list->findText(list->currentText().trimmed(), Qt::MatchFixedString);
}

bool frmAlarms::SourcesNamed() {
  for (QComboBox* list : {cmboAsource1, cmboAsource2}) {
    const QString typed = list->currentText().trimmed();
    const int source = SelectedSource(list);
    if (source >= 0) {
      // A typed caption is taken as if it had been chosen from the list.
      if (list->currentIndex() != source) list->setCurrentIndex(source);
      continue;
    }
    if (typed.isEmpty()) continue;  // no entry shown: the sensor's field stays
    session_.messages.Show(Message{"\"" + typed.toStdString() +
                                       "\" is not an alarm source: choose one of the list's entries.",
                                   "", MessageIcon::Warning});
    list->setFocus();
    return false;
  }
  return true;
}

QString frmAlarms::Number(double value, const char* pattern) const {
  return QString::fromStdString(FormatNumber(value, pattern, app_.DecimalSeparator()));
}

void frmAlarms::ReadAlarmSetup() {
  RegisterAccess& access = session_.access;
  access.ReadRegister(reg::ALM_MAG1);
  AlmMag1Shadow = access.RawValue;
  access.ReadRegister(reg::ALM_MAG2);
  AlmMag2Shadow = access.RawValue;
  access.ReadRegister(reg::ALM_SMPL1);
  AlmSmpl1Shadow = access.RawValue;
  access.ReadRegister(reg::ALM_SMPL2);
  AlmSmpl2Shadow = access.RawValue;
  access.ReadRegister(reg::ALM_CTRL);
  access.AlmCtrlShadow = access.RawValue;
  const int32_t ctrl = access.AlmCtrlShadow;

  for (int number : {1, 2}) {
    const AlarmRow row = Row(number);
    // Codes 12 to 15 have no entry: the list then shows none.
    const int source = AlarmSourceField(ctrl, number);
    row.source->setCurrentIndex(source < kAlarmSources ? source : -1);
    const int32_t mag = number == 1 ? AlmMag1Shadow : AlmMag2Shadow;
    (mag & kAlarmGreaterBit ? row.greater : row.less)->setChecked(true);
  }
  ChangeAlarmBitstoLevel();

  for (int number : {1, 2}) {
    const AlarmRow row = Row(number);
    const int32_t smpl = number == 1 ? AlmSmpl1Shadow : AlmSmpl2Shadow;
    row.average->setText(QString::number(smpl));
    row.smplLabel->setText(QString::fromStdString(NumberToHex(smpl)));
  }
  (ctrl & 0x40 ? opRate1_Enabled : opRate1_Disabled)->setChecked(true);
  (ctrl & 0x80 ? opRate2_Enabled : opRate2_Disabled)->setChecked(true);
  (ctrl & 1 ? opDigLine_one : opDigLine_zero)->setChecked(true);
  (ctrl & 2 ? opDigPol_high : opDigPol_low)->setChecked(true);
  (ctrl & 4 ? opDig_Enabled : opDig_Disabled)->setChecked(true);
}

void frmAlarms::ChangeAlarmBitstoLevel() {
  for (int number : {1, 2}) {
    const AlarmRow row = Row(number);
    const int32_t code = (number == 1 ? AlmMag1Shadow : AlmMag2Shadow) & kAlarmCodeMask;
    row.magLabel->setText(QString::fromStdString(NumberToHex(code)));
    const double level = AlarmCodeToLevel(session_.table, SelectedSource(row.source), code);
    row.level->setText(Number(level, "#0.000"));
  }
}

void frmAlarms::WriteAlarmSetup() {
  // A source that names no entry is refused before anything is written.
  if (!SourcesNamed()) return;
  RegisterAccess& access = session_.access;
  access.ReadRegister(reg::ALM_CTRL);
  int32_t word = WithAlarmSource(access.RawValue, 1, SelectedSource(cmboAsource1));
  word = WithAlarmSource(word, 2, SelectedSource(cmboAsource2));
  access.AlmCtrlShadow = word;
  access.WriteRegister(reg::ALM_CTRL, word);
  Delay(session_.clock, 150.0f);
  ChangeAlarmLeveltoBitsWrite();
  ReadAlarmSetup();
}

void frmAlarms::ChangeAlarmLeveltoBitsWrite() {
  const int source1 = SelectedSource(cmboAsource1);
  const int source2 = SelectedSource(cmboAsource2);
  const QChar separator = QChar::fromLatin1(app_.DecimalSeparator());
  for (QLineEdit* box : {txtLevel1, txtLevel2}) {
    if (!NumericValue(box->text(), separator)) box->setText(QStringLiteral("0"));
  }
  LevelToCode(Row(1), source1, AlmMag1Shadow, reg::ALM_MAG1);
  LevelToCode(Row(2), source2, AlmMag2Shadow, reg::ALM_MAG2);
}

void frmAlarms::LevelToCode(const AlarmRow& row, int source, int32_t& shadow, int16_t index) {
  const QChar separator = QChar::fromLatin1(app_.DecimalSeparator());
  int32_t code = 0;
  if (source < 0) {
    // No entry chosen: the level cannot be converted, so the sensor keeps its code.
    code = shadow & kAlarmCodeMask;
  } else if (const std::optional<AlarmLimits> limits = AlarmSourceLimits(source)) {
    if (NumericValue(row.level->text(), separator).value_or(0.0) < limits->lower) {
      row.level->setText(QString::fromLatin1(limits->lowerText.data(),
                                             static_cast<qsizetype>(limits->lowerText.size())));
    }
    if (NumericValue(row.level->text(), separator).value_or(0.0) > limits->upper) {
      row.level->setText(QString::fromLatin1(limits->upperText.data(),
                                             static_cast<qsizetype>(limits->upperText.size())));
    }
    const double level = NumericValue(row.level->text(), separator).value_or(0.0);
    code = AlarmLevelToCode(session_.table, source, level);
  }
  const int32_t word = (code & kAlarmCodeMask) | (row.greater->isChecked() ? kAlarmGreaterBit : 0);
  shadow = word;
  session_.access.WriteRegister(index, word);
}

void frmAlarms::cmdWiteA1_Click() { WriteAlarmSetup(); }
void frmAlarms::cmdWriteA2_Click() { WriteAlarmSetup(); }

void frmAlarms::WriteAverage(const AlarmRow& row, int16_t index) {
  const QChar separator = QChar::fromLatin1(app_.DecimalSeparator());
  const std::optional<double> typed = NumericValue(row.average->text(), separator);
  if (!typed || *typed < 0) {
    row.average->setText(QStringLiteral("0"));
  } else if (*typed > 255) {
    row.average->setText(QStringLiteral("255"));
  }
  const double value = NumericValue(row.average->text(), separator).value_or(0.0);
  RegisterAccess& access = session_.access;
  access.WriteRegister(index, static_cast<int32_t>(RoundHalfEvenToInt(value)));
  access.ReadRegister(reg::ALM_CTRL);
  access.WriteRegister(reg::ALM_CTRL,
                       WithRateOfChange(access.RawValue, row.number, row.rateEnabled->isChecked()));
  ReadAlarmSetup();
}

void frmAlarms::cmdWriteAlmSmpl1_Click() { WriteAverage(Row(1), reg::ALM_SMPL1); }
void frmAlarms::cmdWriteAlmSmpl2_Click() { WriteAverage(Row(2), reg::ALM_SMPL2); }

void frmAlarms::WriteAlarmIndicator() {
  RegisterAccess& access = session_.access;
  access.ReadRegister(reg::ALM_CTRL);
  const int32_t word = WithIndicator(access.RawValue, opDigLine_one->isChecked(),
                                     opDigPol_high->isChecked(), opDig_Enabled->isChecked());
  access.AlmCtrlShadow = word;
  access.WriteRegister(reg::ALM_CTRL, word);
}

void frmAlarms::cmdAdio_Click() { WriteAlarmIndicator(); }

void frmAlarms::cmdFlash_Click() {
  session_.access.WriteRegister(reg::COMMAND, command::FlashUpdate);
  Delay(session_.clock, 200.0f);
}

void frmAlarms::cmdClose_Click() { accept(); }

}  // namespace pemra
