// The log viewer on two files that are not one session: the gap is told in the status line
// and breaks the plotted line; its exports follow the output rule (a log is never replaced,
// a FIFO never waited on) and say why they did not write.

#include <sys/stat.h>

#include <QApplication>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFile>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

#include <qcustomplot.h>

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>

#include "gui/GuiTestSupport.h"
#include "gui/windows/frmLogViewer.h"

namespace pemra {
namespace {

std::string Log(const std::string& name, const std::string& begin, const std::string& end) {
  return "File Name," + name + "\r\nDate,12/07/26\r\nTime,11:00:21\r\nBegin Seconds," + begin +
         "\r\nEnd Seconds," + end + "\r\n \r\nSample #,X Gryo,\r\n1,0.5,\r\n2,1,\r\n3,1.5,\r\n4,2,\r\n";
}

void WaitForWork(frmLogViewer& viewer) {
  QDeadlineTimer deadline(20000);
  while (viewer.Reading() && !deadline.hasExpired())
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
  ASSERT_FALSE(viewer.Reading());
}

// Waits for the viewer's work to end, answering the message box it opens meanwhile (if any)
// with `answer`; returns the box's text.
QString WaitAnswering(frmLogViewer& viewer, QMessageBox::StandardButton answer) {
  QString asked;
  QTimer timer;
  QObject::connect(&timer, &QTimer::timeout, [&asked, answer] {
    if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
      asked = box->text();
      if (QAbstractButton* button = box->button(answer)) button->click();
      else box->accept();
    }
  });
  timer.start(10);
  WaitForWork(viewer);
  return asked;
}

QByteArray Bytes(const QString& path) {
  QFile file(path);
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

TEST(LogViewerGap, ShowsTheGapBetweenTwoRunsAndExportsByTheOutputRule) {
  testing::GuiRig env;
  const QString first = env.dir.filePath(QStringLiteral("RUN_1.csv"));
  const QString second = env.dir.filePath(QStringLiteral("RUN_2.csv"));
  std::ofstream(first.toStdString(), std::ios::binary) << Log("RUN_1.csv", "100", "101");
  std::ofstream(second.toStdString(), std::ios::binary) << Log("RUN_2.csv", "199", "200");
  frmLogViewer viewer(env.app, &env.Form());
  auto* status = viewer.findChild<QLabel*>(QStringLiteral("lblStatus"));
  ASSERT_NE(status, nullptr);
  // Asked whether to join them: not at first, then yes.
  for (QMessageBox::StandardButton answer : {QMessageBox::No, QMessageBox::Yes}) {
    viewer.OpenFiles({second, first});
    EXPECT_EQ(WaitAnswering(viewer, answer),
              QStringLiteral("RUN_2.csv: begins 98 s after RUN_1.csv ends\n\nThese files are not "
                             "one session. Join them as one series, with each gap shown?"));
    if (answer == QMessageBox::No) {
      EXPECT_EQ(viewer.Log(), nullptr);
      EXPECT_EQ(status->text(), QStringLiteral("Not read: ") + second +
                                    QStringLiteral(": begins 98 s after RUN_1.csv ends: not one session"));
    }
  }
  ASSERT_NE(viewer.Log(), nullptr);
  EXPECT_TRUE(status->text().contains(
      QStringLiteral("RUN_2.csv: begins 98 s after RUN_1.csv ends: a gap in the series")))
      << status->text().toStdString();

  // 8 rows over 2 s of header time: 4 per second; the second file starts at row 4 (1 s).
  auto* plot = viewer.findChild<QCustomPlot*>(QStringLiteral("plotLog"));
  ASSERT_NE(plot, nullptr);
  ASSERT_GE(plot->graphCount(), 1);
  std::vector<std::pair<double, double>> points;
  for (const QCPGraphData& p : *plot->graph(0)->data()) points.emplace_back(p.key, p.value);
  ASSERT_EQ(points.size(), 9u);
  EXPECT_EQ(points[3], std::make_pair(0.75, 2.0));
  EXPECT_EQ(points[4].first, 1.0);
  EXPECT_TRUE(std::isnan(points[4].second));
  EXPECT_EQ(points[5], std::make_pair(1.0, 0.5));

  // An export over one of the logs is refused and leaves it whole.
  const QByteArray before = Bytes(first);
  ASSERT_FALSE(viewer.ExportCsv(first));
  WaitAnswering(viewer, QMessageBox::Ok);
  EXPECT_EQ(status->text(), QStringLiteral("Cannot write ") + first +
                                QStringLiteral(": reads as a data log: an output never "
                                               "replaces one; choose another name"));
  EXPECT_EQ(Bytes(first), before);

  const QString fifo = env.dir.filePath(QStringLiteral("view.svg"));
  ASSERT_EQ(::mkfifo(fifo.toLocal8Bit().constData(), 0600), 0);
  const auto error = viewer.ExportPlot(fifo);
  ASSERT_TRUE(error);
  EXPECT_EQ(*error, QStringLiteral("Cannot write ") + fifo +
                        QStringLiteral(": is a FIFO, not a regular file"));
}

}  // namespace
}  // namespace pemra
