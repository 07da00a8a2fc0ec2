// The datalog window on the simulated rig: its boxes' rules, what it shows and refuses, and
// its runs, cancelled from the button, by closing it or by closing the main window.

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include "datalog/DatalogTestSupport.h"
#include "gui/GuiTestSupport.h"
#include "gui/windows/frmDatalog.h"

namespace pemra {
namespace {

using testing::GuiRig;
using testing::ReadWholeFile;

struct DatalogGui : GuiRig {
  explicit DatalogGui(int16_t model = 21420) : GuiRig(testing::PatternRig(model)) {
    Load(2, model);
    window = std::make_unique<frmDatalog>(app, form.get(), &day);
    window->show();
  }
  std::string File(const char* name) const { return ReadWholeFile(app.options.dataDir / name); }
  // Clicks "Start Datalog" and, from inside the run, `during` at its first yield.
  void StartWith(std::function<void()> during) {
    QTimer::singleShot(0, window.get(), std::move(during));
    window->cmdStartDatalog->click();
  }
  // Clicks "Start Datalog" and, from inside the run, `afterFirstRow` at the first yield after
  // a row was taken (the first sample's delay, when there is one).
  void StartWithAfterFirstRow(std::function<void()> afterFirstRow) {
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
      if (window->lblRunStatus->text().startsWith(QStringLiteral("Rows taken"))) {
        poll.stop();
        afterFirstRow();
      }
    });
    poll.start(0);
    window->cmdStartDatalog->click();
  }

  ClockTimeOfDay day{clock, 36000.0, "12/7/2026", "10:00:01"};
  std::unique_ptr<frmDatalog> window;
};

TEST(frmDatalog, BoxesReplaceBadTextAtOnce) {
  DatalogGui g;
  frmDatalog& w = *g.window;
  struct Case {
    QLineEdit* box;
    const char* typed;
    const char* shown;
  } cases[] = {
      {w.txtSamplesPerFile, "", "1000"},       {w.txtSamplesPerFile, "0", "1"},
      {w.txtSamplesPerFile, "10.5", "10.5"},   {w.txtSamplesPerFile, "3000000000", "2147483647"},
      {w.txtSampleDelay, "", "0"},             {w.txtSampleDelay, "40000", "32000"},
      {w.txtSampleDelay, "-5", "0"},           {w.txtSampleDelay, "-", "0"},
      {w.txtFilesPerSession, "", "1"},         {w.txtFilesPerSession, "2500000000", "2000000000"},
      {w.txtFilesPerSession, ".", "1"},        {w.txtDirectory, "/tmp/elsewhere", nullptr},
  };
  const QString dir = QString::fromStdString(g.app.options.dataDir.string());
  for (const Case& c : cases) {
    c.box->setText(QString::fromLatin1(c.typed));
    EXPECT_EQ(c.box->text(), c.shown ? QString::fromLatin1(c.shown) : dir) << c.typed;
  }
  EXPECT_EQ(w.SamplesPerFile, 2147483647.0);
  // Typed key by key, the limit applies as soon as the value passes it.
  w.txtSamplesPerFile->clear();
  w.txtSamplesPerFile->selectAll();
  QTest::keyClicks(w.txtSamplesPerFile, "30000000000");
  EXPECT_EQ(w.txtSamplesPerFile->text(), QStringLiteral("2147483647"));
}

TEST(frmDatalog, OpensWithItsDefaultsAndStopsTheLiveReadout) {
  DatalogGui g;
  frmDatalog& w = *g.window;
  EXPECT_FALSE(g.form->ckLoop->isChecked());
  EXPECT_EQ(w.windowTitle(), QStringLiteral("Datalog Control"));
  EXPECT_EQ(w.BaseFileName, QStringLiteral("DATALOG"));
  EXPECT_EQ(w.SamplesPerFile, 1000.0);
  EXPECT_EQ(w.lblFext->text(), QStringLiteral(".csv"));
  EXPECT_FALSE(w.txtFileNum->isEnabled());
  EXPECT_FALSE(w.LBLDatalogInProgress->isVisible());
  for (int k = 1; k <= kLogChannels; ++k) {
    EXPECT_EQ(w.findChild<QCheckBox*>(QStringLiteral("CheckReg_%1").arg(k))->isChecked(), k == 1);
  }
  EXPECT_TRUE(g.form->mnuDatalog->isEnabled());
}

TEST(frmDatalog, Model21410HidesTheYZGyrosButLogsThemWhenChecked) {
  DatalogGui g(21410);
  frmDatalog& w = *g.window;
  EXPECT_FALSE(w.CheckReg[3]->isVisible());
  EXPECT_FALSE(w.CheckReg[4]->isVisible());
  EXPECT_EQ(w.CheckReg[9]->text(), QStringLiteral("Pitch_Out"));
  EXPECT_EQ(w.CheckReg[10]->text(), QStringLiteral("Roll_Out"));
  w.CheckReg[3]->setChecked(true);
  w.txtSamplesPerFile->setText(QStringLiteral("1"));
  w.cmdStartDatalog->click();
  EXPECT_NE(g.File("DATALOG_1.csv").find(" \r\nSample #,PvND,Power V,YgND,Y Gyro,\r\n"),
            std::string::npos);
}

TEST(frmDatalog, DecimalCommaLocaleWritesTabSeparatedTextFiles) {
  const QLocale before;
  QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
  {
    DatalogGui g;
    frmDatalog& w = *g.window;
    EXPECT_EQ(w.lblFext->text(), QStringLiteral(".txt"));
    w.txtSampleDelay->setText(QStringLiteral("2,45"));
    w.txtSamplesPerFile->setText(QStringLiteral("2"));
    w.ckNOHeader->setChecked(true);
    w.cmdStartDatalog->click();
    EXPECT_EQ(g.File("DATALOG_1.txt"), "1\t0\t0\t\r\n2\t1\t0,003663\t\r\n");
  }
  QLocale::setDefault(before);
}

TEST(frmDatalog, StartWithoutAChannelIsRefused) {
  DatalogGui g;
  g.window->CheckReg[1]->setChecked(false);
  g.window->ckTime->setChecked(true);
  g.window->cmdStartDatalog->click();
  EXPECT_TRUE(g.HasMessage("Please check at least one DATA SELECTION box."));
  EXPECT_EQ(g.window->cmdStartDatalog->text(), QStringLiteral("Start Datalog"));
  EXPECT_FALSE(std::filesystem::exists(g.app.options.dataDir / "DATALOG_1.csv"));
}

TEST(frmDatalog, RunDisablesTheSettingsShowsProgressAndWritesTheFiles) {
  DatalogGui g;
  frmDatalog& w = *g.window;
  w.txtFilesPerSession->setText(QStringLiteral("2"));
  w.txtSamplesPerFile->setText(QStringLiteral("3"));
  w.txtFileName->setText(QStringLiteral("bench"));
  w.txtSampleDelay->setText(QStringLiteral("2.45"));
  std::vector<bool> during;
  g.StartWith([&] {
    during = {w.LBLDatalogInProgress->isVisible(), w.CheckReg[1]->isEnabled(),
              w.txtFileName->isEnabled(), w.ckTime->isEnabled(),
              w.cmdStartDatalog->text() == QStringLiteral("Cancel Datalog")};
  });
  EXPECT_EQ(during, (std::vector<bool>{true, false, false, true, true}));
  EXPECT_EQ(w.LastResult().end, LogEnd::Completed);
  EXPECT_EQ(w.txtFileNum->text(), QStringLiteral("2"));
  EXPECT_FALSE(w.LBLDatalogInProgress->isVisible());
  EXPECT_TRUE(w.CheckReg[1]->isEnabled());
  EXPECT_EQ(w.cmdStartDatalog->text(), QStringLiteral("Start Datalog"));
  EXPECT_TRUE(w.lblRunStatus->text().startsWith(QStringLiteral("Rows written: 6 ")));
  EXPECT_TRUE(g.File("bench_2.csv")
                  .ends_with("Sample #,PvND,Power V,\r\n1,1,0.010989,\r\n2,1,0.014652,\r\n"
                             "3,1,0.018315,\r\n"));
}

TEST(frmDatalog, FileAccessErrorCarriesTheProgramsTitleAndRestoresTheWindow) {
  DatalogGui g;
  std::filesystem::create_directory(g.app.options.dataDir / "DATALOG_1.csv");
  g.window->cmdStartDatalog->click();
  ASSERT_EQ(g.messages.messages.size(), 1u);
  EXPECT_EQ(g.messages.messages[0].title, QCoreApplication::applicationName().toStdString());
  EXPECT_NE(g.messages.messages[0].text.find("File name = DATALOG_1.csv"), std::string::npos);
  // The system's reason comes last.
  EXPECT_TRUE(g.messages.messages[0].text.ends_with(
      "Close the file or choose a different file name.\r\n\r\n" +
      (g.app.options.dataDir / "DATALOG_1.csv").string() + ": Is a directory"))
      << g.messages.messages[0].text;
  EXPECT_EQ(g.window->cmdStartDatalog->text(), QStringLiteral("Start Datalog"));
  EXPECT_TRUE(g.window->txtFileName->isEnabled());
}

// A name the files could not carry, or a data directory they cannot go into, is refused
// with the rule before anything is written.
TEST(frmDatalog, NamesAgainstTheRulesAndAMissingDirectoryAreRefusedBeforeTheRun) {
  const std::filesystem::path given = "/nonexistent-pemra-data";
  const struct Case {
    const char* name;
    const char* typed;
    const std::filesystem::path* dataDir;  // null: the window's own
    std::string message;
  } cases[] = {
      {"path up", "../x", nullptr,
       "The file name cannot be used: a file name cannot hold '/' or be '.' or '..'."},
      {"path down", "a/b", nullptr,
       "The file name cannot be used: a file name cannot hold '/' or be '.' or '..'."},
      {"dot dot", "..", nullptr,
       "The file name cannot be used: a file name cannot hold '/' or be '.' or '..'."},
      {"empty", "", nullptr, "The file name cannot be used: a file name cannot be empty."},
      {"line end", "a\nb", nullptr,
       "The file name cannot be used: a file name cannot hold control characters (NUL, a line "
       "end, ESC, ...)."},
      {"missing --data-dir", "DATALOG", &given,
       "The data directory cannot be used:\r\n/nonexistent-pemra-data: No such file or "
       "directory"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    DatalogGui g;
    const std::filesystem::path dir = g.app.options.dataDir;
    if (c.dataDir != nullptr) g.app.options.dataDir = *c.dataDir;
    g.window->txtFileName->setText(QString::fromLatin1(c.typed));
    g.window->cmdStartDatalog->click();
    ASSERT_EQ(g.messages.messages.size(), 1u);
    EXPECT_EQ(g.messages.messages[0].text, c.message);
    EXPECT_EQ(g.window->cmdStartDatalog->text(), QStringLiteral("Start Datalog"));
    EXPECT_EQ(std::filesystem::directory_iterator(dir), std::filesystem::directory_iterator());
    EXPECT_FALSE(std::filesystem::exists(dir.parent_path() / "x_1.csv"));
  }
}

// A run of a million samples per file, ended at its first yield in three ways.
TEST(frmDatalog, CancelFromTheButtonOrByClosingEitherWindowCompletesTheFile) {
  const std::vector<std::pair<const char*, std::function<void(DatalogGui&)>>> ways = {
      {"button", [](DatalogGui& g) { g.window->cmdStartDatalog->click(); }},
      {"window closed", [](DatalogGui& g) { g.window->close(); }},
      {"main window closed", [](DatalogGui& g) { g.form->close(); }},
  };
  for (const auto& [name, cancel] : ways) {
    SCOPED_TRACE(name);
    DatalogGui g;
    g.window->txtSamplesPerFile->setText(QStringLiteral("1000000"));
    g.window->txtFilesPerSession->setText(QStringLiteral("3"));
    g.StartWith([&g, &cancel = cancel] { cancel(g); });
    EXPECT_EQ(g.window->LastResult().end, LogEnd::Cancelled);
    // One sample: the main window's load had read the first sample's flag already.
    EXPECT_TRUE(g.File("DATALOG_1.csv").ends_with("Sample #,PvND,Power V,\r\n1,0,0,\r\n"));
    EXPECT_FALSE(std::filesystem::exists(g.app.options.dataDir / "DATALOG_2.csv"));
    QCoreApplication::processEvents();
    const bool closeWanted = std::string(name) != "button";
    EXPECT_EQ(g.window->isVisible(), !closeWanted);
    // The main window's shutdown ran after the run, not during it.
    EXPECT_EQ(g.form->ShutdownDone(), std::string(name) == "main window closed");
  }
}


// Waits of a millisecond or more on the session clock (the sample delay's slices).
std::vector<Nanoseconds> LongWaits(const TestClock& clock) {
  std::vector<Nanoseconds> waits;
  for (Nanoseconds w : clock.Waits()) {
    if (w >= std::chrono::milliseconds(1)) waits.push_back(w);
  }
  return waits;
}

TEST(frmDatalog, SampleDelayIsWaitedWholeInSlicesTheWindowAnswersIn) {
  DatalogGui g;
  frmDatalog& w = *g.window;
  w.txtSamplesPerFile->setText(QStringLiteral("2"));
  w.txtSampleDelay->setText(QStringLiteral("45.5"));
  g.clock.ClearWaits();
  w.cmdStartDatalog->click();
  using std::chrono::microseconds;
  const std::vector<Nanoseconds> slices = {microseconds(20000), microseconds(20000),
                                           microseconds(5500)};
  std::vector<Nanoseconds> both = slices;
  both.insert(both.end(), slices.begin(), slices.end());
  EXPECT_EQ(LongWaits(g.clock), both);
}

TEST(frmDatalog, CancelDuringALongSampleDelayEndsTheRunAtOnce) {
  DatalogGui g;
  frmDatalog& w = *g.window;
  w.txtSamplesPerFile->setText(QStringLiteral("5"));
  w.txtSampleDelay->setText(QStringLiteral("32000"));
  const Nanoseconds start = g.clock.Now();
  g.StartWithAfterFirstRow([&] { w.cmdStartDatalog->click(); });
  EXPECT_EQ(w.LastResult().end, LogEnd::Cancelled);
  EXPECT_LE(g.clock.Now() - start, std::chrono::milliseconds(50));
  EXPECT_TRUE(g.File("DATALOG_1.csv").ends_with("Sample #,PvND,Power V,\r\n1,0,0,\r\n"));
}

TEST(frmDatalog, ProgressNamesFileSampleAndSpoolAndTheNextRunStartsClean) {
  DatalogGui g;
  frmDatalog& w = *g.window;
  w.txtFilesPerSession->setText(QStringLiteral("2"));
  w.txtSamplesPerFile->setText(QStringLiteral("4"));
  w.txtSampleDelay->setText(QStringLiteral("500"));
  QString status;
  QString progress;
  // At the first sample's delay: one row of eight taken after 20 ms.
  g.StartWithAfterFirstRow([&] {
    status = w.lblRunStatus->text();
    progress = w.prgDatalog->format();
  });
  EXPECT_EQ(progress, QStringLiteral("File 1 of 2, sample 1 of 4, 1 s remaining"));
  EXPECT_EQ(status, QStringLiteral("Rows taken: 1    Elapsed: 0.0 s    The rows are kept in "
                                   "DATALOG_1.csv.spool until the file is completed."));
  EXPECT_EQ(w.prgDatalog->value(), 1000);
  EXPECT_EQ(w.prgDatalog->format(), QStringLiteral("File 2 of 2, sample 4 of 4"));
  EXPECT_EQ(w.lblRunStatus->text(), QStringLiteral("Rows written: 8    Elapsed: 4.0 s"));

  QString atNextStart = QStringLiteral("not seen");
  g.StartWith([&] { atNextStart = w.lblRunStatus->text() + w.prgDatalog->format(); });
  EXPECT_EQ(atNextStart, QString());
}

TEST(frmDatalog, TimeColumnIsTakenAtEachFilesStartForTheWholeFile) {
  DatalogGui g;
  frmDatalog& w = *g.window;
  w.txtFilesPerSession->setText(QStringLiteral("2"));
  w.txtSamplesPerFile->setText(QStringLiteral("2"));
  w.txtSampleDelay->setText(QStringLiteral("10"));
  // Ticked after file 1's first sample: file 1 stays without it, file 2 has it throughout.
  g.StartWithAfterFirstRow([&] { w.ckTime->setChecked(true); });
  EXPECT_TRUE(g.File("DATALOG_1.csv").ends_with("Sample #,PvND,Power V,\r\n1,0,0,\r\n2,1,0.014652,\r\n"))
      << g.File("DATALOG_1.csv");
  EXPECT_TRUE(g.File("DATALOG_2.csv").ends_with("Sample #,Time (sec),PvND,Power V,\r\n1,0,1,0.029304,\r\n2,0.01171875,1,0.043956,\r\n"))
      << g.File("DATALOG_2.csv");
}

TEST(frmDatalog, ProgressTextCountsRowsAndEstimatesTheTimeLeft) {
  const struct {
    LogProgress progress;  // file, sample, samples in file, files, rows taken
    double elapsedSeconds;
    const char* text;
    int permille;
  } cases[] = {
      {{2, 40, 100, 3, 140}, 14.0, "File 2 of 3, sample 40 of 100, 16 s remaining", 466},
      {{1, 10, 20, 1, 10}, 65.0, "File 1 of 1, sample 10 of 20, 1 min 05 s remaining", 500},
      {{1, 1, 3726, 1, 1}, 1.0, "File 1 of 1, sample 1 of 3726, 1 h 02 min remaining", 0},
      {{1, 0, 5, 1, 0}, 0.0, "File 1 of 1, sample 0 of 5", 0},
      {{3, 100, 100, 3, 300}, 30.0, "File 3 of 3, sample 100 of 100", 1000},
  };
  for (const auto& c : cases) {
    const auto elapsed = std::chrono::duration_cast<Nanoseconds>(
        std::chrono::duration<double>(c.elapsedSeconds));
    EXPECT_EQ(RunProgressText(c.progress, elapsed).toStdString(), c.text);
    EXPECT_EQ(RunProgressPermille(c.progress), c.permille) << c.text;
  }
}

}  // namespace
}  // namespace pemra
