#pragma once
// Runs the built pemra-eval as its own process, headless (no display, no platform chosen), as
// the tests of `--plot` need: the exit status (-1 when it did not finish within a minute and
// was killed, -2 when it crashed) and what it wrote to standard error.

#include <QProcess>
#include <QString>
#include <QStringList>

namespace pemra::testing {

struct Outcome {
  int status;
  QString errors;
};

inline Outcome PemraEval(const QStringList& args) {
  QProcess process;
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.remove(QStringLiteral("DISPLAY"));
  env.remove(QStringLiteral("WAYLAND_DISPLAY"));
  env.remove(QStringLiteral("QT_QPA_PLATFORM"));
  process.setProcessEnvironment(env);
  process.start(QStringLiteral(PEMRA_EVAL_PROGRAM), args);
  if (!process.waitForFinished(60000)) {
    process.kill();
    process.waitForFinished();
    return {-1, QStringLiteral("did not finish")};
  }
  return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -2,
          QString::fromLocal8Bit(process.readAllStandardError())};
}

}  // namespace pemra::testing
