// pemra-eval --plot against hostile inputs and outputs: each row the command, the exit
// status, what standard error says, and what is left on disk (an existing picture keeps its
// bytes, no temporary file is left, nothing waits on a FIFO).

#include <sys/stat.h>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include "gui/main/PemraEvalRun.h"

#include <fstream>

#include "support/SmallTmpfs.h"

namespace pemra {
namespace {

constexpr const char* kLog =
    "File Name,PLOT_1.csv\r\nDate,12/07/26\r\nTime,11:00:21\r\nBegin Seconds,100\r\n"
    "End Seconds,101\r\n \r\nSample #,Time (sec),X Gryo,\r\n1,0,0.5,\r\n2,0.25,1.25,\r\n"
    "3,0.5,2.5,\r\n4,0.75,-1.75,\r\n";

using testing::Outcome;
using testing::PemraEval;

QByteArray Bytes(const QString& path) {
  QFile file(path);
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("(absent)");
}

void Write(const QString& path, const std::string& text) {
  std::ofstream(path.toStdString(), std::ios::binary) << text;
}

bool NoTemporaries(const QString& dir) {
  return QDir(dir).entryList(QDir::AllEntries | QDir::Hidden | QDir::System).filter(".tmp-").isEmpty();
}

TEST(PlotHostile, RefusesWithTheReasonAndTouchesNoInput) {
  QTemporaryDir dir;
  const QString log = dir.filePath(QStringLiteral("PLOT_1.csv"));
  Write(log, kLog);
  const QString logPng = dir.filePath(QStringLiteral("log.png"));  // a log under a picture's name
  Write(logPng, kLog);
  const QString escape = dir.filePath(QStringLiteral("esc.csv"));
  Write(escape, std::string("\x1b[31mred\x07") + std::string(100000, 'x') + "\nabc\n");
  const QString fifo = dir.filePath(QStringLiteral("fifo.csv"));
  const QString fifoOut = dir.filePath(QStringLiteral("fifo.png"));
  ASSERT_EQ(::mkfifo(fifo.toLocal8Bit().constData(), 0600), 0);
  ASSERT_EQ(::mkfifo(fifoOut.toLocal8Bit().constData(), 0600), 0);
  struct Case {
    QStringList args;
    int status;
    QString message;
  };
  const std::vector<Case> cases = {
      {{"--plot", fifo, "-o", dir.filePath("a.png")}, 2, fifo + ": is a FIFO, not a regular file: not read"},
      {{"--plot", log, "-o", fifoOut}, 1, "Cannot write " + fifoOut + ": is a FIFO, not a regular file"},
      {{"--plot", logPng, "-o", logPng}, 1,
       "Cannot write " + logPng + ": reads as a data log: an output never replaces one"},
      {{"--plot", log, "--columns", "0", "-o", dir.filePath("b.png")}, 2, "has no column 0 (it has 3)"},
      {{"--plot", log, "--columns", "2", "-o", dir.filePath("c.png")}, 2,
       "column 2 (\"Time (sec)\") holds the time, no values"},
      {{"--plot", log, "-o", dir.filePath("none/d.svg")}, 1,
       "cannot create a temporary file beside it: No such file or directory"},
      {{"--plot", escape, "-o", dir.filePath("e.png")}, 2, "(a line starts \"\\x1B[31mred\\x07xxx"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args.join(' ').toStdString());
    const QByteArray before = Bytes(log), beforePng = Bytes(logPng);
    const Outcome run = PemraEval(c.args);
    EXPECT_EQ(run.status, c.status) << run.errors.toStdString();
    EXPECT_TRUE(run.errors.contains(c.message)) << run.errors.toStdString();
    EXPECT_FALSE(run.errors.contains(QChar(0x1b))) << run.errors.toStdString();
    EXPECT_LT(run.errors.size(), 1000);
    EXPECT_EQ(Bytes(log), before);
    EXPECT_EQ(Bytes(logPng), beforePng);
    EXPECT_TRUE(NoTemporaries(dir.path()));
  }
}

TEST(PlotHostile, AFullDiskLeavesTheOldPictureInEveryFormat) {
  testing::SmallTmpfs disk(64);
  if (!disk.Mounted()) GTEST_SKIP() << "cannot mount a tmpfs here (needs root)";
  QTemporaryDir dir;
  const QString log = dir.filePath(QStringLiteral("PLOT_1.csv"));
  Write(log, kLog);
  const QString d = QString::fromStdString(disk.path().string());
  for (const char* name : {"old.png", "old.svg", "old.pdf"}) Write(d + "/" + name, "OLD");
  Write(d + "/filler", std::string(64 * 1024, 'x'));  // what is left of the disk: nothing
  for (const char* name : {"old.png", "old.svg", "old.pdf", "new.pdf"}) {
    SCOPED_TRACE(name);
    const QString out = d + "/" + name;
    const QByteArray before = Bytes(out);
    const Outcome run = PemraEval({"--plot", log, "-o", out});
    EXPECT_EQ(run.status, 1) << run.errors.toStdString();
    EXPECT_TRUE(run.errors.contains("Cannot write " + out + ": No space left on device"))
        << run.errors.toStdString();
    EXPECT_EQ(Bytes(out), before);
    EXPECT_TRUE(NoTemporaries(d));
  }
}

}  // namespace
}  // namespace pemra
