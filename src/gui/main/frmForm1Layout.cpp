// The main window's controls and their layout.

#include <QAction>
#include <QCheckBox>
#include <QFrame>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QRadioButton>
#include <QResizeEvent>
#include <QScreen>
#include <QScrollArea>
#include <QStatusBar>
#include <QStyle>
#include <QVBoxLayout>

#include "gui/kit/StripChart.h"
#include "gui/main/frmForm1.h"

namespace pemra {

namespace {

// Chart legend colours by register-table index 2..7 (the traces are a shade darker).
const std::array<QColor, 8> kMarkerColours = {QColor(), QColor(),
                                              QColor(255, 0, 0), QColor(0, 223, 0),
                                              QColor(0, 0, 192), QColor(255, 0, 0),
                                              QColor(0, 223, 0), QColor(0, 0, 192)};

const std::array<const char*, 12> kOutputCaptions = {
    "",
    "Power Supply (V)",
    "X_Gyro (d/s)",
    "Y_Gyro (d/s)",
    "Z_Gyro (d/s)",
    "X_Accl (g)",
    "Y_Accl (g)",
    "Z_Accl (g)",
    "X_Temp (degC)",
    "Y_Temp (degC)",
    "Z_Temp (degC)",
    "Aux_ADC"};

QLabel* Label(const QString& text, QWidget* parent, const char* name = nullptr) {
  auto* label = new QLabel(text, parent);
  if (name) label->setObjectName(QString::fromLatin1(name));
  return label;
}

QString Indexed(const char* name, int index) {
  return QStringLiteral("%1_%2").arg(QLatin1String(name)).arg(index);
}

// The fixed x-axis ticks under the charts: labels 0, 85, 175, 260, 350 with their tick
// lines, placed at those columns of a chart of the same width.
class XAxisTicks : public QWidget {
 public:
  XAxisTicks(std::array<QLabel*, 5>& labels, std::array<QFrame*, 5>& lines, QWidget* parent)
      : QWidget(parent) {
    static constexpr std::array<const char*, 5> kTexts = {"0", "85", "175", "260", "350"};
    for (int i = 0; i < 5; ++i) {
      lines[i] = new QFrame(this);
      lines[i]->setObjectName(Indexed("LineX", i));
      lines[i]->setFrameShape(QFrame::VLine);
      lines[i]->setFrameShadow(QFrame::Plain);
      labels[i] = Label(QString::fromLatin1(kTexts[i]), this, nullptr);
      labels[i]->setObjectName(Indexed("lblPlotX", i));
      labels[i]->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
      columns_[i] = QString::fromLatin1(kTexts[i]).toInt();
    }
    labels_ = labels;
    lines_ = lines;
    setMinimumHeight(fontMetrics().height() + kTick + 2);
  }

  QSize sizeHint() const override { return {StripChart::kColumns, minimumHeight()}; }

 protected:
  void resizeEvent(QResizeEvent* event) override {
    const int w = event->size().width();
    for (int i = 0; i < 5; ++i) {
      const int x = std::min(w - 1, columns_[i] * w / StripChart::kColumns);
      lines_[i]->setGeometry(x, 0, 1, kTick);
      const int labelWidth = labels_[i]->sizeHint().width();
      const int left = std::clamp(x - labelWidth / 2, 0, std::max(0, w - labelWidth));
      labels_[i]->setGeometry(left, kTick + 1, labelWidth, labels_[i]->sizeHint().height());
    }
  }

 private:
  static constexpr int kTick = 5;
  std::array<QLabel*, 5> labels_{};
  std::array<QFrame*, 5> lines_{};
  std::array<int, 5> columns_{};
};

QFrame* Marker(const QColor& colour, QWidget* parent, int index) {
  auto* shape = new QFrame(parent);
  shape->setObjectName(Indexed("Shape", index));
  shape->setFrameShape(QFrame::Box);
  shape->setFrameShadow(QFrame::Plain);
  shape->setFixedSize(14, 14);
  shape->setAutoFillBackground(true);
  QPalette palette = shape->palette();
  palette.setColor(QPalette::Window, colour);
  shape->setPalette(palette);
  return shape;
}

}  // namespace

void frmForm1::BuildMenus() {
  QMenuBar* bar = menuBar();
  mnuInterface = bar->addMenu(QStringLiteral("Interface"));
  mnuInterface->setObjectName(QStringLiteral("mnuInterface"));
  mnuPort = mnuInterface->addAction(QStringLiteral("Parallel"));
  mnuPort->setObjectName(QStringLiteral("mnuPort"));
  mnuUsb = mnuInterface->addAction(QStringLiteral("Usb"));
  mnuUsb->setObjectName(QStringLiteral("mnuUsb"));
  mnuFtdi = mnuInterface->addAction(QStringLiteral("FTDI"));
  mnuFtdi->setObjectName(QStringLiteral("mnuFtdi"));
  mnuSpidev = mnuInterface->addAction(QStringLiteral("SPI Device"));
  mnuSpidev->setObjectName(QStringLiteral("mnuSpidev"));
  mnuPort->setCheckable(true);
  mnuUsb->setCheckable(true);
  mnuFtdi->setCheckable(true);
  mnuSpidev->setCheckable(true);

  mnuDevice = bar->addMenu(QStringLiteral("Device"));
  mnuDevice->setObjectName(QStringLiteral("mnuDevice"));
  for (size_t i = 0; i < kModelCodes.size(); ++i) {
    const QString code = QString::number(kModelCodes[i]);
    mnuModels[i] = mnuDevice->addAction(code);
    mnuModels[i]->setObjectName(QStringLiteral("mnu") + code);
    mnuModels[i]->setCheckable(true);
  }

  mnuConfiguration = bar->addMenu(QStringLiteral("Configuration"));
  mnuConfiguration->setObjectName(QStringLiteral("mnuConfiguration"));
  MnuCal = mnuConfiguration->addAction(QStringLiteral("Calibration"));
  MnuCal->setObjectName(QStringLiteral("MnuCal"));
  mnuOperation = mnuConfiguration->addAction(QStringLiteral("Operation Control"));
  mnuOperation->setObjectName(QStringLiteral("mnuOperation"));
  MnuAlarms = mnuConfiguration->addAction(QStringLiteral("Alarms"));
  MnuAlarms->setObjectName(QStringLiteral("MnuAlarms"));

  mnuDatalog = bar->addAction(QStringLiteral("Datalog"));
  mnuDatalog->setObjectName(QStringLiteral("mnuDatalog"));
  mnuRegisters = bar->addAction(QStringLiteral("Registers"));
  mnuRegisters->setObjectName(QStringLiteral("mnuRegisters"));
  mnuAnalysis = bar->addMenu(QStringLiteral("Analysis"));
  mnuAnalysis->setObjectName(QStringLiteral("mnuAnalysis"));
  mnuOpenLog = mnuAnalysis->addAction(QStringLiteral("Open Log..."));
  mnuOpenLog->setObjectName(QStringLiteral("mnuOpenLog"));
  mnuNoise = mnuAnalysis->addAction(QStringLiteral("Noise (Allan Deviation)..."));
  mnuNoise->setObjectName(QStringLiteral("mnuNoise"));
  mnuEvaluate = mnuAnalysis->addAction(QStringLiteral("Evaluate..."));
  mnuEvaluate->setObjectName(QStringLiteral("mnuEvaluate"));
  MnuExit = bar->addAction(QStringLiteral("Exit"));
  MnuExit->setObjectName(QStringLiteral("MnuExit"));
}

QGroupBox* frmForm1::BuildOutputPanel() {
  frameDataReg = new QGroupBox(QStringLiteral("Output  Registers"));
  frameDataReg->setObjectName(QStringLiteral("frameDataReg"));
  auto* grid = new QGridLayout(frameDataReg);
  grid->setHorizontalSpacing(8);
  grid->setVerticalSpacing(4);

  auto* graph = Label(QStringLiteral("Graph"), frameDataReg);
  grid->addWidget(graph, 0, 2, 1, 2, Qt::AlignCenter);
  for (int i = 1; i <= kOutputs; ++i) {
    lblReadReg[i] = Label(QString::fromLatin1(kOutputCaptions[i]), frameDataReg);
    lblReadReg[i]->setObjectName(Indexed("lblReadReg", i));
    txtReadReg[i] = new QLineEdit(frameDataReg);
    txtReadReg[i]->setObjectName(Indexed("txtReadReg", i));
    txtReadReg[i]->setReadOnly(true);
    txtReadReg[i]->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    txtReadReg[i]->setFixedWidth(txtReadReg[i]->fontMetrics().horizontalAdvance(
                                     QStringLiteral("-00000.00")) +
                                 16);
    txtReadReg[i]->setFocusPolicy(Qt::ClickFocus);
    grid->addWidget(lblReadReg[i], i, 0);
    grid->addWidget(txtReadReg[i], i, 1);
    if (i >= 2 && i <= 7) {
      ckG[i] = new QCheckBox(frameDataReg);
      ckG[i]->setObjectName(Indexed("ckG", i));
      Shape[i] = Marker(kMarkerColours[i], frameDataReg, i);
      grid->addWidget(ckG[i], i, 2, Qt::AlignRight);
      grid->addWidget(Shape[i], i, 3, Qt::AlignLeft);
    }
  }

  auto* buttons = new QHBoxLayout;
  cmdReadData = new QPushButton(QStringLiteral("Read"), frameDataReg);
  cmdReadData->setObjectName(QStringLiteral("cmdReadData"));
  cmdReadData->setToolTip(QStringLiteral("Read the Output Registers"));
  cmdReadData->setMinimumWidth(cmdReadData->fontMetrics().horizontalAdvance(
                                   QStringLiteral("STOP")) * 3);
  ckLoop = new QCheckBox(QStringLiteral("Loop"), frameDataReg);
  ckLoop->setObjectName(QStringLiteral("ckLoop"));
  buttons->addWidget(cmdReadData);
  buttons->addSpacing(8);
  buttons->addWidget(ckLoop);
  buttons->addStretch(1);
  grid->addLayout(buttons, kOutputs + 1, 0, 1, 4);

  auto* delayRow = new QHBoxLayout;
  txtLoopDelay = new QLineEdit(frameDataReg);
  txtLoopDelay->setObjectName(QStringLiteral("txtLoopDelay"));
  txtLoopDelay->setFixedWidth(txtLoopDelay->fontMetrics().horizontalAdvance(
                                  QStringLiteral("00000")) + 16);
  txtLoopDelay->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  delayRow->addWidget(txtLoopDelay);
  delayRow->addWidget(Label(QStringLiteral("Loop Delay msec"), frameDataReg));
  delayRow->addStretch(1);
  grid->addLayout(delayRow, kOutputs + 2, 0, 1, 4);
  grid->setColumnStretch(0, 1);
  grid->setRowStretch(kOutputs + 3, 1);
  return frameDataReg;
}

QGroupBox* frmForm1::BuildStatusPanel() {
  FrmStatus = new QGroupBox(QStringLiteral("Status Register"));
  FrmStatus->setObjectName(QStringLiteral("FrmStatus"));
  auto* grid = new QGridLayout(FrmStatus);
  grid->setVerticalSpacing(4);
  static constexpr std::array<const char*, 6> kNames = {
      "Power Supply Low", "Power Supply High", "Control Write Flag",
      "SPI Write Flag",   "Alarm1 Set",        "Alarm2 Set"};
  static constexpr std::array<const char*, 6> kObjects = {
      "lblLowSupply", "lblHighSupply", "lblWriteFail", "lblSpiWrite", "lblAlarm1Set",
      "lblAlarm2Set"};
  static constexpr std::array<const char*, 6> kFlags = {
      "lblLowSupplyFlag", "lblHighSupplyFlag", "lblWriteFailFlag", "lblSpiWriteFlag",
      "lblAlarm1SetFlag", "lblAlarm2SetFlag"};
  for (int i = 0; i < 6; ++i) {
    statusNames[i] = Label(QString::fromLatin1(kNames[i]), FrmStatus, kObjects[i]);
    statusFlags[i] = Label(QString(), FrmStatus, kFlags[i]);
    statusFlags[i]->setAlignment(Qt::AlignCenter);
    statusFlags[i]->setFrameShape(QFrame::Panel);
    statusFlags[i]->setFrameShadow(QFrame::Sunken);
    statusFlags[i]->setAutoFillBackground(true);
    statusFlags[i]->setMinimumWidth(statusFlags[i]->fontMetrics().horizontalAdvance(
                                        QStringLiteral("Alarm")) + 16);
    grid->addWidget(statusNames[i], i, 0);
    grid->addWidget(statusFlags[i], i, 1);
  }
  CmdUpdateStatus = new QPushButton(QStringLiteral("Read Status"), FrmStatus);
  CmdUpdateStatus->setObjectName(QStringLiteral("CmdUpdateStatus"));
  CmdUpdateStatus->setToolTip(QStringLiteral("Display the Status Register"));
  grid->addWidget(CmdUpdateStatus, 6, 0, 1, 2, Qt::AlignLeft);
  grid->setColumnStretch(0, 1);
  return FrmStatus;
}

QGroupBox* frmForm1::BuildSelfTestPanel() {
  frameSelfTest = new QGroupBox(QStringLiteral("Self Test"));
  frameSelfTest->setObjectName(QStringLiteral("frameSelfTest"));
  auto* row = new QHBoxLayout(frameSelfTest);
  optSTON = new QRadioButton(QStringLiteral("ON"), frameSelfTest);
  optSTON->setObjectName(QStringLiteral("optSTON"));
  optSTOFF = new QRadioButton(QStringLiteral("OFF"), frameSelfTest);
  optSTOFF->setObjectName(QStringLiteral("optSTOFF"));
  optSTOFF->setChecked(true);
  row->addWidget(Label(QStringLiteral("Self-Test"), frameSelfTest));
  row->addSpacing(6);
  row->addWidget(optSTON);
  row->addWidget(optSTOFF);
  row->addStretch(1);
  return frameSelfTest;
}

QGroupBox* frmForm1::BuildPowerDownPanel() {
  framePowerdown = new QGroupBox(QStringLiteral("Powerdown"));
  framePowerdown->setObjectName(QStringLiteral("framePowerdown"));
  framePowerdown->setToolTip(QStringLiteral("Set the Powerdown"));
  auto* grid = new QGridLayout(framePowerdown);
  txtPowerDown = new QLineEdit(framePowerdown);
  txtPowerDown->setObjectName(QStringLiteral("txtPowerDown"));
  txtPowerDown->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  txtPowerDown->setFixedWidth(txtPowerDown->fontMetrics().horizontalAdvance(
                                  QStringLiteral("0000.0")) + 16);
  cmdPowerDown = new QPushButton(QStringLiteral("Run"), framePowerdown);
  cmdPowerDown->setObjectName(QStringLiteral("cmdPowerDown"));
  lblPDElapsed = Label(QString(), framePowerdown, "lblPDElapsed");
  lblPDElapsed->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  lblPDElapsed->setMinimumWidth(txtPowerDown->width());
  grid->addWidget(Label(QStringLiteral("Set"), framePowerdown), 0, 0);
  grid->addWidget(txtPowerDown, 0, 1);
  grid->addWidget(Label(QStringLiteral("sec"), framePowerdown), 0, 2);
  grid->addWidget(cmdPowerDown, 0, 3);
  grid->addWidget(Label(QStringLiteral("Elapsed"), framePowerdown), 1, 0);
  grid->addWidget(lblPDElapsed, 1, 1);
  grid->addWidget(Label(QStringLiteral("sec"), framePowerdown), 1, 2);
  grid->setColumnStretch(4, 1);
  return framePowerdown;
}

QGroupBox* frmForm1::BuildChartPanel() {
  FrameDataPLot = new QGroupBox(QStringLiteral("Data Plot"));
  FrameDataPLot->setObjectName(QStringLiteral("FrameDataPLot"));
  auto* grid = new QGridLayout(FrameDataPLot);
  grid->setHorizontalSpacing(6);
  grid->setVerticalSpacing(6);

  struct ChartParts {
    const char* title;
    const char* units;
    StripChart** chart;
    const char* chartName;
    QPushButton** scale;
    const char* scaleName;
    QLabel** top;
    QLabel** mid;
    QLabel** bottom;
    std::array<const char*, 3> rangeNames;
    QLabel** sample;
    QLabel** value;
    std::array<const char*, 2> readoutNames;
  };
  const std::array<ChartParts, 2> charts = {{
      {"Rate", "deg / sec", &pic1, "pic1", &cmdScaleGyro, "cmdScaleGyro", &lblpFS1, &lblmidS1,
       &lblnFS1, {"lblpFS1", "lblmidS1", "lblnFS1"}, &lblCurSam1, &lblCurVal1,
       {"lblCurSam1", "lblCurVal1"}},
      {"Accel.", "g", &pic2, "pic2", &cmdScaleAcc, "cmdScaleAcc", &lblpFS2, &lblmidS2,
       &lblnFS2, {"lblpFS2", "lblmidS2", "lblnFS2"}, &lblCurSam2, &lblCurVal2,
       {"lblCurSam2", "lblCurVal2"}},
  }};

  const int readoutWidth = fontMetrics().horizontalAdvance(QStringLiteral("-00000.0")) + 8;
  for (int c = 0; c < 2; ++c) {
    const ChartParts& p = charts[c];
    const int row = c * 2;

    auto* side = new QVBoxLayout;
    auto* title = Label(QString::fromLatin1(p.title), FrameDataPLot);
    QFont bold = title->font();
    bold.setBold(true);
    title->setFont(bold);
    side->addWidget(title);
    side->addWidget(Label(QString::fromLatin1(p.units), FrameDataPLot));
    side->addStretch(1);
    *p.scale = new QPushButton(QStringLiteral("Scale"), FrameDataPLot);
    (*p.scale)->setObjectName(QString::fromLatin1(p.scaleName));
    side->addWidget(*p.scale);
    grid->addLayout(side, row, 0);

    auto* range = new QVBoxLayout;
    *p.top = Label(QString(), FrameDataPLot, p.rangeNames[0]);
    *p.mid = Label(QString(), FrameDataPLot, p.rangeNames[1]);
    *p.bottom = Label(QString(), FrameDataPLot, p.rangeNames[2]);
    for (QLabel* l : {*p.top, *p.mid, *p.bottom}) {
      l->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
      l->setMinimumWidth(readoutWidth);
    }
    range->addWidget(*p.top, 0, Qt::AlignTop | Qt::AlignRight);
    range->addStretch(1);
    range->addWidget(*p.mid, 0, Qt::AlignRight);
    range->addStretch(1);
    range->addWidget(*p.bottom, 0, Qt::AlignBottom | Qt::AlignRight);
    grid->addLayout(range, row, 1);

    *p.chart = new StripChart(FrameDataPLot);
    (*p.chart)->setObjectName(QString::fromLatin1(p.chartName));
    grid->addWidget(*p.chart, row, 2);

    auto* readout = new QGridLayout;
    readout->addWidget(Label(QStringLiteral("sample"), FrameDataPLot), 0, 0);
    readout->addWidget(Label(QStringLiteral("value"), FrameDataPLot), 0, 1);
    *p.sample = Label(QString(), FrameDataPLot, p.readoutNames[0]);
    *p.value = Label(QString(), FrameDataPLot, p.readoutNames[1]);
    for (QLabel* l : {*p.sample, *p.value}) {
      l->setFrameShape(QFrame::Panel);
      l->setFrameShadow(QFrame::Sunken);
      l->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
      l->setMinimumWidth(readoutWidth);
    }
    readout->addWidget(*p.sample, 1, 0);
    readout->addWidget(*p.value, 1, 1);
    readout->setRowStretch(2, 1);
    grid->addLayout(readout, row, 3);
    if (c == 0) grid->setRowMinimumHeight(1, 4);
  }

  auto* ticks = new XAxisTicks(lblPlotX, LineX, FrameDataPLot);
  grid->addWidget(ticks, 3, 2);
  LblXaxis = Label(QStringLiteral("Sample Number"), FrameDataPLot, "LblXaxis");
  LblXaxis->setAlignment(Qt::AlignHCenter);
  grid->addWidget(LblXaxis, 4, 2);
  grid->setColumnStretch(2, 1);
  grid->setRowStretch(0, 1);
  grid->setRowStretch(2, 1);
  return FrameDataPLot;
}

void frmForm1::BuildControls() {
  BuildMenus();
  auto* central = new QWidget;
  central->setObjectName(QStringLiteral("centralWidget"));
  auto* columns = new QHBoxLayout(central);

  auto* left = new QVBoxLayout;
  left->addWidget(BuildOutputPanel(), 1);
  left->addWidget(BuildStatusPanel());
  columns->addLayout(left);

  auto* right = new QVBoxLayout;
  right->addWidget(BuildChartPanel(), 1);
  auto* bottom = new QHBoxLayout;
  bottom->addWidget(BuildSelfTestPanel());
  bottom->addWidget(BuildPowerDownPanel());
  bottom->addStretch(1);
  right->addLayout(bottom);
  columns->addLayout(right, 1);

  // On a screen too small for the controls they scroll rather than being cut off.
  scrollArea = new QScrollArea(this);
  scrollArea->setObjectName(QStringLiteral("scrollArea"));
  scrollArea->setWidgetResizable(true);
  scrollArea->setFrameShape(QFrame::NoFrame);
  scrollArea->setWidget(central);
  setCentralWidget(scrollArea);
  BuildStatusBar();
}

void frmForm1::BuildStatusBar() {
  QStatusBar* bar = statusBar();
  bar->setObjectName(QStringLiteral("statusBar"));
  bar->setSizeGripEnabled(true);
  lblInterfaceState = Label(QString(), bar, "lblInterfaceState");
  lblSensorState = Label(QString(), bar, "lblSensorState");
  lblSampleRate = Label(QString(), bar, "lblSampleRate");
  lblCapturePriority = Label(QString(), bar, "lblCapturePriority");
  lblCapturePriority->setToolTip(
      QStringLiteral("Scheduling priority of the burst capture's thread (datalog burst read)"));
  auto* separator = new QFrame(bar);
  separator->setFrameShape(QFrame::VLine);
  separator->setFrameShadow(QFrame::Sunken);
  for (QLabel* l : {lblInterfaceState, lblSensorState, lblSampleRate, lblCapturePriority}) {
    l->setContentsMargins(6, 0, 6, 0);
  }
  bar->addWidget(lblInterfaceState);
  bar->addWidget(separator);
  bar->addWidget(lblSensorState, 1);
  bar->addPermanentWidget(lblSampleRate);
  bar->addPermanentWidget(lblCapturePriority);
  // What the system grants is asked once per program run, by a thread that then ends.
  static const CapturePriority granted = ProbeCapturePriority();
  ShowCapturePriority(granted);
}

namespace {
// The charts are easier to read wider than their least width, when the screen allows.
constexpr QSize kRoomyWindow(1180, 720);
}  // namespace

void frmForm1::FitToScreen() {
  // What the window needs to show every control without scrolling, within the area the
  // screen leaves free, less room for the window manager's frame.
  const QWidget* content = scrollArea->widget();
  QSize wanted = content->sizeHint();
  wanted.rheight() += menuBar()->sizeHint().height() + statusBar()->sizeHint().height();
  wanted = wanted.expandedTo(kRoomyWindow);
  const QScreen* where = screen();
  if (where != nullptr) {
    const int frame = style()->pixelMetric(QStyle::PM_TitleBarHeight) + 8;
    const QSize room = where->availableSize() - QSize(8, frame);
    wanted = wanted.boundedTo(room);
  }
  resize(wanted);
}

}  // namespace pemra
