// pemra-eval --plot as a script runs it: no display, a picture in the format its suffix
// names, and the exit status with a message on standard error when the input is unusable.

#include <QFile>
#include <QImage>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include "gui/main/PemraEvalRun.h"

#include <fstream>

namespace pemra {
namespace {

constexpr const char* kLog =
    "File Name,PLOT_1.csv\r\nDate,12/07/26\r\nTime,11:00:21\r\nBegin Seconds,100\r\n"
    "End Seconds,101\r\n \r\nSample #,Time (sec),X Gryo,Y Gyro,X acc,\r\n"
    "1,0,0.5,1.5,0.001,\r\n2,0.125,1.25,1.25,0.002,\r\n3,0.25,2.5,1.5,0.5,\r\n"
    "4,0.375,-1.75,1.75,0.25,\r\n5,0.5,3.125,1.5,-0.125,\r\n6,0.625,0.5,1.25,0.75,\r\n"
    "7,0.75,1,1.5,1,\r\n8,0.875,2,1.75,0.0625,\r\n";

using testing::Outcome;
using testing::PemraEval;

QByteArray Head(const QString& path, int bytes) {
  QFile file(path);
  return file.open(QIODevice::ReadOnly) ? file.read(bytes) : QByteArray();
}

TEST(PlotCommand, WritesEachFormatWithoutADisplayAndRefusesBadInput) {
  QTemporaryDir dir;
  const QString log = dir.filePath(QStringLiteral("PLOT_1.csv"));
  std::ofstream(log.toStdString(), std::ios::binary) << kLog;
  const QString notLog = dir.filePath(QStringLiteral("notes.csv"));
  std::ofstream(notLog.toStdString(), std::ios::binary) << "shopping list\r\n";
  const QString out = dir.filePath(QStringLiteral("out"));

  struct Case {
    QStringList args;
    int status;
    const char* message;  // in standard error
    const char* output;   // written: its first bytes
  };
  const std::vector<Case> cases = {
      {{"--plot", log, "-o", out + ".png"}, 0, "", "\x89PNG"},
      {{"--plot", log, "--columns", "X Gyro,5", "-o", out + ".svg"}, 0, "", "<?xml"},
      {{"--plot", log, "--adev", "-o", out + ".pdf"}, 0, "", "%PDF"},
      {{"--plot", dir.filePath("MISSING_1.csv"), "-o", out + "1.png"}, 2, "MISSING_1.csv", nullptr},
      {{"--plot", notLog, "-o", out + "2.png"}, 2, "is not a data log", nullptr},
      {{"--plot", log, "--columns", "Q Gyro", "-o", out + "3.png"}, 2, "has no column \"Q Gyro\"", nullptr},
      {{"--plot", log, "--columns", "2", "-o", out + "4.png"}, 2, "holds the time, no values", nullptr},
      {{"--plot", log, "-o", out + ".bmp"}, 2, "must end in .png, .svg or .pdf", nullptr},
      {{"--plot", log}, 2, "needs the output file", nullptr},
      {{"--plot", "-o", out + "5.png"}, 2, "needs at least one log file", nullptr},
      {{"--plot", log, "--bogus", "-o", out + "6.png"}, 2, "'--bogus'", nullptr},
      {{"--plot", log, "-o", dir.filePath("no/such/dir/x.png")}, 1, "no/such/dir/x.png", nullptr},
      {{"--plot", log, "--from", "0.25", "--to", "0.5", "-o", out + "7.png"}, 0, "", "\x89PNG"},
      {{"--plot", log, "--adev", "--from", "0.25", "-o", out + "8.svg"}, 0, "", "<?xml"},
      {{"--plot", log, "--psd", "-o", out + "12.svg"}, 0, "", "<?xml"},
      {{"--plot", log, "--psd", "--from", "0.25", "--to", "0.75", "-o", out + "13.png"}, 0, "", "\x89PNG"},
      {{"--plot", log, "--adev", "--psd", "-o", out + "14.png"}, 2, "--adev and --psd draw different plots", nullptr},
      {{"--plot", log, "--from", "0.6", "--to", "0.2", "-o", out + "9.png"}, 2,
       "PLOT_1.csv: --from 0.6 s is not before --to 0.2 s", nullptr},
      {{"--plot", log, "--from", "2", "-o", out + "10.png"}, 2, "no row lies from 2 s", nullptr},
      {{"--plot", log, "--to", "1,5", "-o", out + "11.png"}, 2, "--to: '1,5' is not a number of seconds", nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args.join(' ').toStdString());
    const Outcome run = PemraEval(c.args);
    EXPECT_EQ(run.status, c.status) << run.errors.toStdString();
    EXPECT_TRUE(run.errors.contains(QString::fromUtf8(c.message))) << run.errors.toStdString();
    const QString written = c.args.last();
    if (c.output) {
      EXPECT_TRUE(Head(written, 8).startsWith(c.output)) << Head(written, 8).toStdString();
    } else if (written != log) {
      EXPECT_FALSE(QFile::exists(written));
    }
  }
  EXPECT_EQ(QImage(out + ".png").size(), QSize(1200, 720));
  // The spectrum's axes: frequency against amplitude density in each column's unit.
  QFile svg(out + "12.svg");
  ASSERT_TRUE(svg.open(QIODevice::ReadOnly));
  const QByteArray drawn = svg.readAll();
  EXPECT_TRUE(drawn.contains("Frequency (Hz)"));
  EXPECT_TRUE(drawn.contains("Density (deg/s, g)/sqrt(Hz)"));
}

}  // namespace
}  // namespace pemra
