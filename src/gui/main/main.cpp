// pemra-eval: the evaluation program's windows over the pemra library.
//   pemra-eval [--simulate] [--data-dir DIR] [--version]   (Qt's own options such as -platform work too)
//   pemra-eval --plot FILE... [--columns LIST] [--adev] -o OUT.png|svg|pdf   (no display needed)

#include <QApplication>
#include <QIcon>
#include <QCheckBox>
#include <QPushButton>
#include <QStringList>
#include <QTimer>

#include <cstdio>
#include <cstring>
#include <memory>

#include "core/AtomicFile.h"
#include "core/Clock.h"
#include "core/DataDirectory.h"
#include "core/Version.h"
#include "gui/kit/Application.h"
#include "gui/kit/MessageBoxSink.h"
#include "gui/main/PlotCommand.h"
#include "gui/main/SignalClose.h"
#include "gui/main/StartProgram.h"
#include "interfaces/LibusbDriver.h"
#include "interfaces/PpdevPortIo.h"
#include "interfaces/Session.h"
#include "sim/Rig.h"

namespace {

constexpr const char* kUsage =
    "usage: pemra-eval [--simulate] [--data-dir DIR] [--version]\n"
    "       pemra-eval --plot FILE... [--columns LIST] [--adev] -o OUT.png|svg|pdf\n";

struct Arguments {
  bool simulate = false;
  QString dataDir;
  bool ok = true;
  bool help = false;
};

// A word of the user's as it may be echoed: control characters escaped, cut to 60.
QString Shown(const QString& word) {
  QString shown;
  for (const QChar c : word) {
    if (shown.size() >= 60) return shown + QStringLiteral("...");
    shown += c.isPrint() ? QString(c)
                         : QStringLiteral("\\x") +
                               QString::number(c.unicode(), 16).toUpper().rightJustified(2, u'0');
  }
  return shown;
}

Arguments Parse(const QStringList& args) {
  Arguments a;
  for (qsizetype i = 1; i < args.size(); ++i) {
    const QString& arg = args[i];
    if (arg == QStringLiteral("--simulate")) {
      a.simulate = true;
    } else if (arg == QStringLiteral("--data-dir") && i + 1 < args.size()) {
      a.dataDir = args[++i];
    } else if (arg.startsWith(QStringLiteral("--data-dir="))) {
      a.dataDir = arg.mid(11);
    } else if (arg == QStringLiteral("--help") || arg == QStringLiteral("-h")) {
      a.help = true;
    } else {
      std::fprintf(stderr, "pemra-eval: unknown argument '%s'\n", qPrintable(Shown(arg)));
      a.ok = false;
    }
  }
  return a;
}

}  // namespace

int main(int argc, char** argv) {
  // --version and --help answer before Qt looks for a display, so they work on a console.
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--version") == 0) {
      std::printf("pemra-eval %s\n", pemra::VersionText().c_str());
      return 0;
    }
    if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
      std::fputs(kUsage, stdout);
      return 0;
    }
  }
  // A file-size limit makes a write fail with its message instead of killing the program.
  pemra::IgnoreFileSizeSignal();
  if (pemra::IsPlotCommand(argc, argv)) return pemra::RunPlotCommand(argc, argv);
  QApplication application(argc, argv);
  QApplication::setApplicationName(QStringLiteral("pemra-eval"));
  // The installed desktop entry's name: desktops match the windows to its icon by it.
  QGuiApplication::setDesktopFileName(QStringLiteral("pemra-eval"));
  // Installed, the icon theme holds the program's icon; in a build tree there is none.
  QApplication::setWindowIcon(QIcon::fromTheme(QStringLiteral("pemra-eval")));
  QApplication::setQuitOnLastWindowClosed(false);

  const Arguments args = Parse(QApplication::arguments());
  if (args.help || !args.ok) {
    std::fputs(kUsage, args.ok ? stdout : stderr);
    return args.ok ? 0 : 2;
  }

  pemra::RealClock clock;
  pemra::MessageBoxSink messages;
  std::unique_ptr<pemra::sim::Rig> rig;
  std::unique_ptr<pemra::PpdevPortIo> port;
  std::unique_ptr<pemra::LibusbDriver> usb;
  pemra::PortIo* portIo = nullptr;
  pemra::UsbDriver* usbDriver = nullptr;
  if (args.simulate) {
    rig = std::make_unique<pemra::sim::Rig>(
        clock, pemra::SimulatedRigOptions(std::filesystem::path(std::string(pemra::kConfigFileName))));
    rig->SimUsb().SetRecordLimit(0);  // the adapter's transfer record is for tests only
    portIo = &rig->Port();
    usbDriver = &rig->Usb();
  } else {
    port = std::make_unique<pemra::PpdevPortIo>();
    usb = std::make_unique<pemra::LibusbDriver>();
    portIo = port.get();
    usbDriver = usb.get();
  }
  pemra::Session session(clock, messages, *portIo, *usbDriver);

  pemra::AppOptions options;
  options.simulate = args.simulate;
  std::string dataDirError;
  options.dataDir = pemra::ChooseDataDirectory(
      args.dataDir.isEmpty() ? std::nullopt
                             : std::optional<std::filesystem::path>(args.dataDir.toStdString()),
      QApplication::applicationDirPath().toStdString(), &dataDirError);
  if (!dataDirError.empty()) std::fprintf(stderr, "pemra-eval: %s\n", dataDirError.c_str());
  pemra::Application app(session, options);

  // A signal during start-up closes the main window as soon as it exists.
  bool closeRequested = false;
  pemra::frmForm1* mainWindow = nullptr;
  pemra::SignalClose signalClose;
  QObject::connect(&signalClose, &pemra::SignalClose::CloseRequested, [&] {
    closeRequested = true;
    if (mainWindow) mainWindow->close();
  });

  std::unique_ptr<pemra::frmForm1> form = pemra::StartProgram(app);
  mainWindow = form.get();
  QObject::connect(form.get(), &pemra::frmForm1::ShutdownFinished, &application,
                   [] { QCoreApplication::exit(0); });
  if (closeRequested && !form->ShutdownDone()) form->close();
  if (form->ShutdownDone()) return 0;
  // On the simulated sensor the live readout starts by itself, as a click on "Read" would
  // start it, so the program shows moving charts at once.
  if (args.simulate && form->ckLoop->isChecked()) {
    QTimer::singleShot(0, form.get(), [&form] { form->cmdReadData->click(); });
  }
  return QApplication::exec();
}
