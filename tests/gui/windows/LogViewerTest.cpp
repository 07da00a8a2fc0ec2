// The log viewer as a user reaches it: "Analysis" > "Open Log..." on the main window, a
// session file chosen in the dialog (which starts in the data directory), two columns
// checked, the view narrowed, then the view saved as PNG and the rows in view as CSV.

#include <QAction>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QImage>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QTableWidget>

#include <qcustomplot.h>

#include <gtest/gtest.h>

#include <fstream>

#include "gui/GuiTestSupport.h"
#include "gui/windows/ViewLog.h"
#include "gui/windows/frmLogViewer.h"

namespace pemra {
namespace {

constexpr const char* kLog = testing::kViewLog;

// Answers the next file dialog with `file`, after checking where it opened.
void ChooseInDialog(const QString& file, const QString& expectedDir) {
  testing::OnModal<QFileDialog>([file, expectedDir](QFileDialog& dialog) {
    EXPECT_EQ(QDir(dialog.directory()).canonicalPath(), QDir(expectedDir).canonicalPath());
    dialog.selectFile(file);
    static_cast<QDialog&>(dialog).accept();  // QFileDialog::accept checks the name
  });
}

void WaitForWork(frmLogViewer& viewer) {
  QDeadlineTimer deadline(20000);
  while (viewer.Reading() && !deadline.hasExpired()) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
  }
  ASSERT_FALSE(viewer.Reading());
}

// Pixels within a small distance of `colour` (the lines are antialiased).
int PixelsNear(const QImage& image, QColor colour) {
  int count = 0;
  for (int y = 0; y < image.height(); ++y)
    for (int x = 0; x < image.width(); ++x) {
      const QColor c = image.pixelColor(x, y);
      if (std::abs(c.red() - colour.red()) <= 30 && std::abs(c.green() - colour.green()) <= 30 &&
          std::abs(c.blue() - colour.blue()) <= 30)
        ++count;
    }
  return count;
}

TEST(LogViewer, OpenedFromTheMenuShowsTwoColumnsAndExportsTheView) {
  testing::GuiRig env;
  frmForm1& form = env.Form();
  // "Analysis" lies between "Registers" and "Exit".
  const QList<QAction*> bar = form.menuBar()->actions();
  const qsizetype analysis = bar.indexOf(form.mnuAnalysis->menuAction());
  ASSERT_GT(analysis, 0);
  EXPECT_EQ(bar[analysis - 1], form.mnuRegisters);
  ASSERT_LT(analysis + 1, bar.size());
  EXPECT_EQ(bar[analysis + 1], form.MnuExit);
  EXPECT_EQ(form.mnuAnalysis->title(), QStringLiteral("Analysis"));
  EXPECT_EQ(form.mnuOpenLog->text(), QStringLiteral("Open Log..."));
  EXPECT_EQ(form.mnuNoise->text(), QStringLiteral("Noise (Allan Deviation)..."));

  const QString data = env.dir.path();
  const QString logPath = data + QStringLiteral("/VIEW_1.csv");
  std::ofstream(logPath.toStdString(), std::ios::binary) << kLog;

  ChooseInDialog(logPath, data);
  form.mnuOpenLog->trigger();
  auto* viewer = form.findChild<frmLogViewer*>();
  ASSERT_NE(viewer, nullptr);
  WaitForWork(*viewer);
  ASSERT_NE(viewer->Log(), nullptr) << viewer->lblStatus->text().toStdString();

  // The columns with values; the gyro and accelerometer ones come checked. Keep two.
  QListWidget& columns = *viewer->lstColumns;
  ASSERT_EQ(columns.count(), 4);
  EXPECT_EQ(columns.item(0)->text(), QStringLiteral("X Gryo (deg/s)"));
  EXPECT_EQ(columns.item(3)->text(), QStringLiteral("X acc (g)"));
  for (int i = 0; i < columns.count(); ++i)
    columns.item(i)->setCheckState(i == 0 || i == 3 ? Qt::Checked : Qt::Unchecked);
  EXPECT_EQ(viewer->plotLog->graphCount(), 2);
  // One value axis per unit, stacked over one time axis.
  ASSERT_EQ(viewer->plotLog->axisRectCount(), 2);
  EXPECT_EQ(viewer->plotLog->axisRect(0)->axis(QCPAxis::atLeft)->label(), QStringLiteral("Rate (deg/s)"));
  EXPECT_EQ(viewer->plotLog->axisRect(1)->axis(QCPAxis::atLeft)->label(), QStringLiteral("Acceleration (g)"));

  // Rows 3 to 5 in view (0.25 s to 0.5 s): their statistics.
  viewer->plotLog->xAxis->setRange(0.25, 0.5);
  QTableWidget& stats = *viewer->tblStatistics;
  ASSERT_EQ(stats.rowCount(), 2);
  EXPECT_EQ(stats.item(0, 0)->text(), QStringLiteral("X Gryo"));
  // Column, Unit, At 1, At 2, Difference (hidden without cursors), Mean, Std Dev, RMS, Min, Max.
  EXPECT_EQ(stats.item(0, 5)->text(), QStringLiteral("1.291667"));  // mean
  EXPECT_EQ(stats.item(0, 6)->text(), QStringLiteral("2.652632"));  // sample deviation
  EXPECT_EQ(stats.item(0, 8)->text(), QStringLiteral("-1.75"));
  EXPECT_EQ(stats.item(0, 9)->text(), QStringLiteral("3.125"));
  EXPECT_EQ(stats.item(1, 8)->text(), QStringLiteral("-0.125"));
  viewer->plotLog->replot();

  const QString png = data + QStringLiteral("/view.png");
  ChooseInDialog(png, data);
  viewer->cmdExportPlot->click();
  QImage image(png);
  ASSERT_FALSE(image.isNull()) << viewer->lblStatus->text().toStdString();
  EXPECT_EQ(image.size(), viewer->plotLog->size());
  EXPECT_GE(PixelsNear(image, QColor(214, 39, 40)), 20);   // X Gryo
  EXPECT_GE(PixelsNear(image, QColor(255, 127, 14)), 20);  // X acc
  EXPECT_EQ(PixelsNear(image, QColor(44, 160, 44)), 0);    // Y Gyro, not checked

  const QString csv = data + QStringLiteral("/view.csv");
  ChooseInDialog(csv, data);
  viewer->cmdExportCsv->click();
  WaitForWork(*viewer);
  QFile file(csv);
  ASSERT_TRUE(file.open(QIODevice::ReadOnly)) << viewer->lblStatus->text().toStdString();
  EXPECT_EQ(file.readAll().toStdString(),
            "Sample #,Time (sec),X Gryo,X acc,\r\n"
            "3,0.25,2.5,0.5,\r\n"
            "4,0.375,-1.75,0.25,\r\n"
            "5,0.5,3.125,-0.125,\r\n");
  EXPECT_EQ(viewer->lblStatus->text(), QStringLiteral("3 rows saved as ") + csv);
}

}  // namespace
}  // namespace pemra
