// The log viewer's derived series (integral, moving average, scale and offset added as
// columns of their own: listed, drawn in the stack of their unit, measured and exported), the
// XY plot of the checked columns against one column, a column dragged from the list onto the
// plot, and stacks that keep room for their axes in a low window.

#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDropEvent>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMimeData>
#include <QPushButton>
#include <QScrollArea>
#include <QTableWidget>

#include <qcustomplot.h>

#include <gtest/gtest.h>

#include <fstream>
#include <memory>

#include "gui/GuiTestSupport.h"
#include "gui/kit/LogPlots.h"
#include "gui/windows/ViewLog.h"
#include "gui/windows/frmLogViewer.h"

namespace pemra {
namespace {

struct Viewer {
  explicit Viewer(testing::GuiRig& env) : window(env.app) {
    path = env.dir.path() + QStringLiteral("/VIEW_1.csv");
    std::ofstream(path.toStdString(), std::ios::binary) << testing::kViewLog;
    window.show();
    window.resize(1100, 700);
    window.OpenFiles({path});
    WaitIdle();
  }
  void WaitIdle() {
    QDeadlineTimer deadline(20000);
    while (window.Reading() && !deadline.hasExpired())
      QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
  }
  QString Cell(int row, const char* heading) {
    for (int c = 0; c < window.tblStatistics->columnCount(); ++c)
      if (window.tblStatistics->horizontalHeaderItem(c)->text() == QLatin1String(heading))
        return window.tblStatistics->item(row, c)->text();
    return QStringLiteral("no column ") + QLatin1String(heading);
  }
  void Derive(int from, const QString& kind) {
    window.lstColumns->setCurrentRow(from);
    window.cboDerive->setCurrentText(kind);
    window.cmdDerive->click();
  }
  frmLogViewer window;
  QString path;
};

// Columns of the small log: X Gryo 0.5 1.25 2.5 -1.75 3.125 0.5 1 2; Y Gyro 1.5 throughout;
// X acc 0.001 0.002 0.5 0.25 -0.125 0.75 1 0.0625; 8 rows per second.
TEST(LogViewerDerive, DerivedSeriesAreColumnsOfTheirOwn) {
  testing::GuiRig env;
  Viewer v(env);
  ASSERT_NE(v.window.Log(), nullptr);
  ASSERT_EQ(v.window.lstColumns->count(), 4);

  v.Derive(1, QStringLiteral("Integral"));
  // Moving average of 2 rows of X acc.
  v.window.txtDeriveWindow->setText(QStringLiteral("2"));
  v.Derive(3, QStringLiteral("Moving average"));
  v.window.txtDeriveScale->setText(QStringLiteral("2"));
  v.window.txtDeriveOffset->setText(QStringLiteral("1"));
  v.Derive(0, QStringLiteral("Scale and offset"));
  ASSERT_EQ(v.window.lstColumns->count(), 7) << v.window.lblStatus->text().toStdString();
  EXPECT_EQ(v.window.lblStatus->text(), QStringLiteral("Added X Gryo x 2 + 1 (deg/s)"));
  EXPECT_EQ(v.window.lstColumns->item(4)->text(), QStringLiteral("Y Gyro integral (deg)"));
  EXPECT_EQ(v.window.lstColumns->item(5)->text(), QStringLiteral("X acc mean of 2 (g)"));
  EXPECT_EQ(v.window.lstColumns->item(6)->text(), QStringLiteral("X Gryo x 2 + 1 (deg/s)"));
  // Checked and drawn in the stack of their unit: the angle gets a stack of its own.
  EXPECT_EQ(v.window.lstColumns->item(4)->checkState(), Qt::Checked);
  LogTimePlot* plot = v.window.findChild<LogTimePlot*>();
  ASSERT_NE(plot, nullptr);
  EXPECT_EQ(plot->ValueAxisTitles(),
            (QStringList{QStringLiteral("Rate (deg/s)"), QStringLiteral("Acceleration (g)"),
                         QStringLiteral("Angle (deg)")}));

  // Every row in view. The integral of 1.5 deg/s: 0.1875 deg a row, 1.3125 deg at row 8,
  // mean 0.1875 x 3.5; the means of 2 rows of X acc: 0.001 0.0015 0.251 0.375 0.0625
  // 0.3125 0.875 0.53125 (mean 2.40975 / 8); X Gryo x 2 + 1: 2 3.5 6 -2.5 7.25 2 3 5.
  struct Row {
    int row;
    const char *column, *unit, *mean, *min, *max;
  };
  const Row rows[] = {
      {4, "Y Gyro integral", "deg", "0.65625", "0", "1.3125"},
      {5, "X acc mean of 2", "g", "0.3012187", "0.001", "0.875"},
      {6, "X Gryo x 2 + 1", "deg/s", "3.28125", "-2.5", "7.25"},
  };
  ASSERT_EQ(v.window.tblStatistics->rowCount(), 7);
  for (const Row& r : rows) {
    SCOPED_TRACE(r.column);
    EXPECT_EQ(v.Cell(r.row, "Column"), QLatin1String(r.column));
    EXPECT_EQ(v.Cell(r.row, "Unit"), QLatin1String(r.unit));
    EXPECT_EQ(v.Cell(r.row, "Mean"), QLatin1String(r.mean));
    EXPECT_EQ(v.Cell(r.row, "Min"), QLatin1String(r.min));
    EXPECT_EQ(v.Cell(r.row, "Max"), QLatin1String(r.max));
  }

  // Between the cursors and in the export like any column.
  for (int i = 0; i < v.window.lstColumns->count(); ++i)
    v.window.lstColumns->item(i)->setCheckState(i == 1 || i == 4 ? Qt::Checked : Qt::Unchecked);
  v.window.chkCursors->click();
  v.window.SetCursor(0, 0.25);
  v.window.SetCursor(1, 0.5);
  EXPECT_EQ(v.Cell(1, "At 1"), QStringLiteral("0.375"));
  EXPECT_EQ(v.Cell(1, "At 2"), QStringLiteral("0.75"));
  EXPECT_EQ(v.Cell(1, "Difference"), QStringLiteral("0.375"));
  const QString csv = env.dir.path() + QStringLiteral("/angle.csv");
  ASSERT_FALSE(v.window.ExportCsv(csv));
  v.WaitIdle();
  QFile file(csv);
  ASSERT_TRUE(file.open(QIODevice::ReadOnly)) << v.window.lblStatus->text().toStdString();
  EXPECT_EQ(file.readAll().toStdString(),
            "Sample #,Time (sec),Y Gyro,Y Gyro integral,\r\n3,0.25,1.5,0.375,\r\n"
            "4,0.375,1.5,0.5625,\r\n5,0.5,1.5,0.75,\r\n");
}

TEST(LogViewerDerive, WhatCannotBeDerivedIsToldAndNothingAdded) {
  testing::GuiRig env;
  Viewer v(env);
  struct Case {
    int from;
    const char* kind;
    const char *window, *scale, *offset;
    const char* status;
  };
  const Case cases[] = {
      {-1, "Integral", "1", "1", "0", "No series added: select the column to derive from in the list"},
      {0, "Moving average", "abc", "1", "0", "No series added: \"abc\" is not a whole number of rows"},
      {0, "Moving average", "2.5", "1", "0", "No series added: \"2.5\" is not a whole number of rows"},
      {0, "Moving average", "9", "1", "0", "No series added: the moving average needs from 1 to 8 rows"},
      {0, "Scale and offset", "1", "x", "0", "No series added: \"x\" is not a number (the scale)"},
      {0, "Scale and offset", "1", "1", "", "No series added: \"\" is not a number (the offset)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.status);
    v.window.txtDeriveWindow->setText(QLatin1String(c.window));
    v.window.txtDeriveScale->setText(QLatin1String(c.scale));
    v.window.txtDeriveOffset->setText(QLatin1String(c.offset));
    v.Derive(c.from, QLatin1String(c.kind));
    EXPECT_EQ(v.window.lblStatus->text(), QLatin1String(c.status));
    EXPECT_EQ(v.window.lstColumns->count(), 4);
  }
  // Only the fields of the kind chosen are shown.
  v.window.cboDerive->setCurrentText(QStringLiteral("Integral"));
  EXPECT_TRUE(v.window.txtDeriveWindow->isHidden() && v.window.txtDeriveScale->isHidden());
  v.window.cboDerive->setCurrentText(QStringLiteral("Moving average"));
  EXPECT_TRUE(!v.window.txtDeriveWindow->isHidden() && v.window.txtDeriveScale->isHidden());
}

TEST(LogViewerDerive, XYPlotDrawsTheCheckedColumnsAgainstOne) {
  testing::GuiRig env;
  Viewer v(env);
  for (int i = 0; i < v.window.lstColumns->count(); ++i)
    v.window.lstColumns->item(i)->setCheckState(i == 0 ? Qt::Checked : Qt::Unchecked);
  v.window.chkXY->click();
  EXPECT_TRUE(v.window.plotXY->isVisible());
  EXPECT_FALSE(v.window.scrPlot->isVisible());
  v.window.cboXColumn->setCurrentText(QStringLiteral("X acc"));
  ASSERT_EQ(v.window.plotXY->graphCount(), 1);
  EXPECT_EQ(v.window.plotXY->xAxis->label(), QStringLiteral("X acc (g)"));
  EXPECT_EQ(v.window.plotXY->yAxis->label(), QStringLiteral("Rate (deg/s)"));
  // The eight (X acc, X Gryo) pairs, in the order of X acc.
  auto pairs = [&] {
    std::vector<std::pair<double, double>> out;
    for (const QCPGraphData& p : *v.window.plotXY->graph(0)->data()) out.emplace_back(p.key, p.value);
    return out;
  };
  EXPECT_EQ(pairs(), (std::vector<std::pair<double, double>>{{-0.125, 3.125},
                                                             {0.001, 0.5},
                                                             {0.002, 1.25},
                                                             {0.0625, 2},
                                                             {0.25, -1.75},
                                                             {0.5, 2.5},
                                                             {0.75, 0.5},
                                                             {1, 1}}));
  // The stretch between the cursors: rows 3 to 5.
  v.window.chkCursors->click();
  v.window.SetCursor(0, 0.25);
  v.window.SetCursor(1, 0.5);
  v.window.cboXColumn->setCurrentText(QStringLiteral("Y Gyro"));
  v.window.cboXColumn->setCurrentText(QStringLiteral("X acc"));
  EXPECT_EQ(pairs(), (std::vector<std::pair<double, double>>{{-0.125, 3.125}, {0.25, -1.75}, {0.5, 2.5}}));
  EXPECT_EQ(v.window.XYStep(), 1);
  v.window.chkXY->click();
  EXPECT_FALSE(v.window.plotXY->isVisible());
  EXPECT_TRUE(v.window.scrPlot->isVisible());
}

TEST(LogViewerDerive, AColumnDroppedOnThePlotIsDrawn) {
  testing::GuiRig env;
  Viewer v(env);
  for (int i = 0; i < v.window.lstColumns->count(); ++i)
    v.window.lstColumns->item(i)->setCheckState(i == 0 ? Qt::Checked : Qt::Unchecked);
  auto drop = [&](int row) {
    const QModelIndex index = v.window.lstColumns->model()->index(row, 0);
    std::unique_ptr<QMimeData> data(v.window.lstColumns->model()->mimeData({index}));
    const QPointF at = v.window.plotLog->axisRect()->rect().center();
    // As a drag does: it enters the plot (which takes it), then drops.
    QDragEnterEvent enter(at.toPoint(), Qt::CopyAction | Qt::MoveAction, data.get(), Qt::LeftButton,
                          Qt::NoModifier);
    QCoreApplication::sendEvent(v.window.plotLog, &enter);
    if (!enter.isAccepted()) return false;
    QDropEvent event(at, Qt::CopyAction | Qt::MoveAction, data.get(), Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(v.window.plotLog, &event);
    return event.isAccepted();
  };
  EXPECT_TRUE(drop(1));  // Y Gyro onto the rate stack
  EXPECT_EQ(v.window.lstColumns->item(1)->checkState(), Qt::Checked);
  EXPECT_EQ(v.window.lblStatus->text(), QStringLiteral("Y Gyro drawn in Rate (deg/s)"));
  EXPECT_TRUE(drop(3));  // X acc onto the rate stack: into its own
  EXPECT_EQ(v.window.lstColumns->item(3)->checkState(), Qt::Checked);
  EXPECT_EQ(v.window.lblStatus->text(),
            QStringLiteral("X acc drawn in Acceleration (g) (each stack holds one unit: g is not Rate (deg/s))"));
  EXPECT_EQ(v.window.tblStatistics->rowCount(), 3);
  EXPECT_TRUE(drop(3));
  EXPECT_EQ(v.window.lblStatus->text(), QStringLiteral("X acc is drawn already, in Acceleration (g)"));
}

// A window lower than three stacks need: each stack keeps the height its axis title needs,
// and the plot scrolls.
TEST(LogViewerDerive, StacksKeepRoomForTheirAxesInALowWindow) {
  testing::GuiRig env;
  Viewer v(env);
  // Three units: the rates, the acceleration and an angle.
  v.Derive(1, QStringLiteral("Integral"));
  v.window.resize(700, 380);
  QCoreApplication::processEvents();
  v.window.plotLog->replot();
  LogTimePlot* plot = v.window.findChild<LogTimePlot*>();
  ASSERT_NE(plot, nullptr);
  const std::vector<QCPAxisRect*> stacks = plot->Stacks();
  ASSERT_EQ(stacks.size(), 3u);
  for (QCPAxisRect* stack : stacks) {
    const QCPAxis* axis = stack->axis(QCPAxis::atLeft);
    SCOPED_TRACE(axis->label().toStdString());
    EXPECT_GE(stack->height(), QFontMetrics(axis->labelFont()).horizontalAdvance(axis->label()));
  }
  EXPECT_GT(v.window.plotLog->height(), v.window.scrPlot->viewport()->height());
}

}  // namespace
}  // namespace pemra
