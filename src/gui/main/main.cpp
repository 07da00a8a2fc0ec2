// pemra-eval: the evaluation program's windows over the pemra library.
//   pemra-eval [--simulate [--sim-motion still|moving] [--sim-seed N] [--sim-noise KEY=VALUE,...]
//              [--sim-clock virtual] [--sim-drdy-unwired]] [--data-dir DIR] [--version]
//   (Qt's own options such as -platform work too)
//   pemra-eval --plot FILE... [--columns LIST] [--from S] [--to S] [--adev|--psd] [--join] -o OUT.png|svg|pdf   (no display needed)

#include <QApplication>
#include <QIcon>
#include <QCheckBox>
#include <QPushButton>
#include <QStringList>
#include <QTimer>

#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <utility>

#include "core/AtomicFile.h"
#include "core/Clock.h"
#include "core/DataDirectory.h"
#include "core/Version.h"
#include "datalog/TimeOfDay.h"
#include "gui/kit/Application.h"
#include "gui/kit/MessageBoxSink.h"
#include "gui/main/PlotCommand.h"
#include "gui/main/SignalClose.h"
#include "gui/main/StartProgram.h"
#include "interfaces/LibftdiDriver.h"
#include "interfaces/LibusbDriver.h"
#include "interfaces/LinuxSpidevDriver.h"
#include "interfaces/PpdevPortIo.h"
#include "interfaces/Session.h"
#include "sim/Rig.h"
#include "sim/SimOptions.h"
#include "sim/VirtualClock.h"

namespace {

constexpr const char* kUsage =
    "usage: pemra-eval [--simulate [--sim-motion still|moving] [--sim-seed N]\n"
    "                  [--sim-noise KEY=VALUE,...] [--sim-clock virtual] [--sim-drdy-unwired]]\n"
    "                  [--data-dir DIR] [--version]\n"
    "       pemra-eval --plot FILE... [--columns LIST] [--from S] [--to S] [--adev|--psd] [--join] -o OUT.png|svg|pdf\n";

struct Arguments {
  bool simulate = false;
  bool simOptions = false;  // a --sim-... option was given
  pemra::sim::SimSettings sim;
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

// The simulator's options ("--sim-seed N" or "--sim-seed=N"): nullopt when args[i] is none
// of them, else the error text (empty when the value was taken).
std::optional<QString> SimOption(const QStringList& args, qsizetype& i, Arguments& a) {
  using Parser = std::optional<std::string> (*)(std::string_view, pemra::sim::SimSettings&);
  const std::pair<QString, Parser> options[] = {
      {QStringLiteral("--sim-motion"), pemra::sim::ParseSimMotion},
      {QStringLiteral("--sim-seed"), pemra::sim::ParseSimSeed},
      {QStringLiteral("--sim-noise"), pemra::sim::ParseSimNoise},
      {QStringLiteral("--sim-clock"), pemra::sim::ParseSimClock}};
  for (const auto& [name, parse] : options) {
    QString value;
    if (args[i] == name) {
      if (i + 1 >= args.size()) return name + QStringLiteral(" needs a value");
      value = args[++i];
    } else if (args[i].startsWith(name + u'=')) {
      value = args[i].mid(name.size() + 1);
    } else {
      continue;
    }
    a.simOptions = true;
    if (const auto error = parse(value.toStdString(), a.sim))
      return QString::fromStdString(*error);  // the user's words in it are quoted safely
    return QString();
  }
  return std::nullopt;
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
    } else if (arg == QLatin1String(pemra::sim::kSimDrdyUnwired.data(), static_cast<qsizetype>(pemra::sim::kSimDrdyUnwired.size()))) {
      a.sim.dataReadyWired = false;
      a.simOptions = true;
    } else if (const auto option = SimOption(args, i, a)) {
      if (!option->isEmpty()) {
        std::fprintf(stderr, "pemra-eval: %s\n", qPrintable(*option));
        a.ok = false;
      }
    } else if (arg == QStringLiteral("--help") || arg == QStringLiteral("-h")) {
      a.help = true;
    } else {
      std::fprintf(stderr, "pemra-eval: unknown argument '%s'\n", qPrintable(Shown(arg)));
      a.ok = false;
    }
  }
  if (a.ok && a.simOptions && !a.simulate) {
    std::fputs("pemra-eval: the --sim- options need --simulate\n", stderr);
    a.ok = false;
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

  // On the virtual clock the simulated rig runs as fast as the CPU allows.
  std::unique_ptr<pemra::Clock> clockOwner;
  if (args.sim.virtualClock) {
    clockOwner = std::make_unique<pemra::sim::VirtualClock>();
  } else {
    clockOwner = std::make_unique<pemra::RealClock>();
  }
  pemra::Clock& clock = *clockOwner;
  pemra::MessageBoxSink messages;
  std::unique_ptr<pemra::sim::Rig> rig;
  std::unique_ptr<pemra::PpdevPortIo> port;
  std::unique_ptr<pemra::LibusbDriver> usb;
  std::unique_ptr<pemra::LibftdiDriver> ftdi;
  std::unique_ptr<pemra::LinuxSpidevDriver> spidev;
  pemra::PortIo* portIo = nullptr;
  pemra::UsbDriver* usbDriver = nullptr;
  pemra::FtdiDriver* ftdiDriver = nullptr;
  pemra::SpidevDriver* spidevDriver = nullptr;
  if (args.simulate) {
    pemra::sim::RigOptions rigOptions =
        pemra::SimulatedRigOptions(std::filesystem::path(std::string(pemra::kConfigFileName)));
    pemra::sim::ApplySimSettings(args.sim, rigOptions);
    rig = std::make_unique<pemra::sim::Rig>(clock, rigOptions);
    rig->SimUsb().SetRecordLimit(0);  // the adapter's transfer record is for tests only
    rig->Ftdi().SetRecordLimit(0);
    portIo = &rig->Port();
    usbDriver = &rig->Usb();
    ftdiDriver = &rig->Ftdi();
    spidevDriver = &rig->Spidev();
  } else {
    port = std::make_unique<pemra::PpdevPortIo>();
    usb = std::make_unique<pemra::LibusbDriver>();
    ftdi = std::make_unique<pemra::LibftdiDriver>();
    spidev = std::make_unique<pemra::LinuxSpidevDriver>();
    portIo = port.get();
    usbDriver = usb.get();
    ftdiDriver = ftdi.get();
    spidevDriver = spidev.get();
  }
  pemra::Session session(clock, messages, *portIo, *usbDriver, nullptr, ftdiDriver, spidevDriver);

  pemra::AppOptions options;
  options.simulate = args.simulate;
  // Logs taken on the virtual clock carry its time: from the time of day at the start on.
  std::unique_ptr<pemra::TimeOfDay> virtualDay;
  if (args.sim.virtualClock) {
    pemra::SystemTimeOfDay now;
    virtualDay = std::make_unique<pemra::ClockTimeOfDay>(clock, now.SecondsSinceMidnight(),
                                                         now.DateText(), now.TimeText());
    options.timeOfDay = virtualDay.get();
  }
  std::string dataDirError;
  options.dataDir = pemra::ChooseDataDirectory(
      args.dataDir.isEmpty() ? std::nullopt
                             : std::optional<std::filesystem::path>(args.dataDir.toStdString()),
      QApplication::applicationDirPath().toStdString(), &dataDirError);
  if (!dataDirError.empty()) {
    std::fprintf(stderr, "pemra-eval: %s\n", dataDirError.c_str());
  } else if (const std::string problem = pemra::DataDirectoryProblem(options.dataDir);
             !problem.empty()) {
    std::fprintf(stderr, "pemra-eval: the data directory cannot be used: %s\n", problem.c_str());
  }
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
