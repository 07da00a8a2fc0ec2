// "Analysis > Evaluate...": the run from the dialog on the simulated rig, on the worker
// thread, with its report opened at the end; and a cancelled run that still writes its
// report, marked incomplete.

#include <QCheckBox>
#include <QCoreApplication>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

#include <filesystem>

#include "datalog/DatalogTestSupport.h"
#include "gui/GuiTestSupport.h"
#include "gui/windows/frmEvaluate.h"

namespace pemra {
namespace {

namespace fs = std::filesystem;

// Lets the run go on until it has ended (or `limitMs` has passed).
void WaitForEnd(const frmEvaluate& w, int limitMs = 60000) {
  for (int waited = 0; w.Running() && waited < limitMs; waited += 10) QTest::qWait(10);
}

struct EvaluateGui : testing::GuiRig {
  EvaluateGui() {
    Load(2);
    window = std::make_unique<frmEvaluate>(app, form.get(), &day);
    window->openReport = [this](const QString& path) { opened = path; };
    window->txtOutDir->setText(QString::fromStdString(out.string()));
  }
  ClockTimeOfDay day{clock, 36000.0, "12/7/2026", "10:00:01"};
  fs::path out = app.options.dataDir / "unit";
  std::unique_ptr<frmEvaluate> window;
  QString opened;
};

TEST(frmEvaluate, RunsOnTheWorkerAndOpensTheReportItWrote) {
  EvaluateGui g;
  frmEvaluate& w = *g.window;
  EXPECT_EQ(w.txtDuration->text(), QStringLiteral("3600"));
  w.txtDuration->setText(QStringLiteral("2"));
  w.ckChannel[1]->setChecked(false);  // no supply: its row leaves the report
  w.cmdStart->click();
  EXPECT_FALSE(w.cmdStart->isEnabled());
  EXPECT_TRUE(w.cmdCancel->isEnabled());
  EXPECT_FALSE(w.txtDuration->isEnabled());
  WaitForEnd(w);
  ASSERT_FALSE(w.Running());

  const QString html = QString::fromStdString((g.out / "report.html").string());
  EXPECT_EQ(g.opened, html);
  EXPECT_EQ(w.lblResult->text(), QStringLiteral("Done: no limits were given. Report: ") + html);
  EXPECT_EQ(w.prgEvaluate->value(), 100);
  for (const char* name : {"report.html", "report.pdf", "figures.json", "DATALOG_1.csv"})
    EXPECT_TRUE(fs::is_regular_file(g.out / name)) << name;
  EXPECT_EQ(testing::ReadWholeFile(g.out / "report.pdf").substr(0, 5), "%PDF-");
  const std::string report = testing::ReadWholeFile(g.out / "report.html");
  EXPECT_EQ(report.find("Power V"), std::string::npos);
  EXPECT_NE(report.find("Analysis &gt; Evaluate: still log 2 s"), std::string::npos);
  EXPECT_TRUE(w.cmdStart->isEnabled());
}

TEST(frmEvaluate, CancelStillWritesTheReportMarkedIncomplete) {
  EvaluateGui g;
  frmEvaluate& w = *g.window;
  w.txtDuration->setText(QStringLiteral("300"));
  w.cmdStart->click();
  // Cancel once the still log is under way.
  for (int waited = 0; w.prgEvaluate->value() < 3 && waited < 20000; waited += 5) QTest::qWait(5);
  EXPECT_TRUE(w.lblStage->text().startsWith(QStringLiteral("Stage 3 of 6: still log, "))) << w.lblStage->text().toStdString();
  w.cmdCancel->click();
  WaitForEnd(w);
  ASSERT_FALSE(w.Running());
  EXPECT_TRUE(w.lblResult->text().startsWith(QStringLiteral("INCOMPLETE: cancelled during the still log after ")))
      << w.lblResult->text().toStdString();
  EXPECT_NE(testing::ReadWholeFile(g.out / "figures.json").find("\"complete\": false"), std::string::npos);
  EXPECT_TRUE(fs::is_regular_file(g.out / "report.pdf"));
  EXPECT_EQ(w.Result().end, EvaluationEnd::Cancelled);
}

}  // namespace
}  // namespace pemra
