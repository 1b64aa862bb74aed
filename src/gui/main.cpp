// Program entry of tarvo: the main window over the emulated machine, and the
// debug window beside it.
#include <QAccessible>
#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <cstdio>
#include <optional>
#include <string_view>

#include "debug_form.h"
#include "frontpanel/files.h"
#include "main_form.h"
#include "shutdown_signals.h"

namespace {

// An installed tarvo finds the demo machine in share/tarvo/machine beside
// its bin/ folder; a tarvo run from the build tree finds nothing there.
QString installedMachine() {
  const QString dir =
      QDir(QCoreApplication::applicationDirPath()).filePath("../share/tarvo/machine");
  return QFileInfo(dir + "/rom0.bin").exists() ? QDir(dir).canonicalPath() : QString();
}

// The user's own copy of the demo machine, made from the installed one the
// first time; its RAM then lives on in the user's data folder.
QString userMachine(const QString& installed) {
  QString data = qEnvironmentVariable("XDG_DATA_HOME");
  if (data.isEmpty() || !QDir::isAbsolutePath(data)) data = QDir::homePath() + "/.local/share";
  const QString dir = data + "/tarvo/machine";
  if (QFileInfo(dir).isDir()) return dir;
  if (!QDir().mkpath(dir)) return {};
  const QDir from(installed);
  for (const QString& name : from.entryList(QDir::Files)) {
    const QString target = dir + "/" + name;
    if (!QFile::copy(from.filePath(name), target)) return {};
    // Installed files are read-only; the copies are the user's.
    QFile::setPermissions(target, QFile::permissions(target) | QFileDevice::WriteOwner);
  }
  return dir;
}

void setNames() {
  QCoreApplication::setOrganizationName("tarvo");
  QCoreApplication::setApplicationName("tarvo");
  QCoreApplication::setApplicationVersion(TARVO_VERSION);
}

// The command line.
struct Options {
  QCommandLineOption dir{{"d", "dir"},
                         "Machine directory holding the machine's files (default: the current "
                         "directory; for an installed tarvo, the user's copy of the demo "
                         "machine).",
                         "DIR"};
  QCommandLineOption zoom{{"z", "zoom"}, "Draw the face at N times its size (1 to 4).", "N"};

  explicit Options(QCommandLineParser& parser) {
    parser.setApplicationDescription(
        "Zelmo Tarvo Emulator: the pocket computer on the desktop.\n"
        "Reads its ROM, RAM, register, character-set, face and settings files from\n"
        "the machine directory and writes RAM and registers back there at close.\n"
        "Without --dir, an installed tarvo runs the demo machine, copied once into\n"
        "$XDG_DATA_HOME/tarvo/machine; a tarvo run from the build tree uses the\n"
        "current directory.");
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addOption(dir);
    parser.addOption(zoom);
  }
};

}  // namespace

int main(int argc, char** argv) {
  // --help and --version are answered without opening the display, so
  // they work in a terminal without one.
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (arg == "-h" || arg == "--help" || arg == "-v" || arg == "--version") {
      QCoreApplication core(argc, argv);
      setNames();
      QCommandLineParser parser;
      const Options options(parser);
      parser.process(core);  // prints and exits
      return 0;
    }
  }

  // The threads the application starts for itself (the display connection's
  // reader; the desktop bus, which the accessibility bridge opens on first
  // use) inherit a mask that holds the shutdown signals back, so those
  // always reach the UI thread, and a save that holds them there is not
  // ended through another thread.
  std::optional<tarvo::ShutdownSignalsHeld> startingUp(std::in_place);
  QApplication app(argc, argv);
  QAccessible::isActive();
  startingUp.reset();
  setNames();
  QApplication::setApplicationDisplayName("Zelmo Tarvo Emulator");

  QCommandLineParser parser;
  const Options options(parser);
  parser.process(app);  // --help and --version print and exit here
  if (!parser.positionalArguments().isEmpty()) {
    std::fprintf(stderr, "tarvo: unexpected argument '%s'\n",
                 qPrintable(parser.positionalArguments().first()));
    std::fprintf(stderr, "Try 'tarvo --help' for more information.\n");
    return 2;
  }
  int zoom = 0;
  if (parser.isSet(options.zoom)) {
    bool ok = false;
    zoom = parser.value(options.zoom).toInt(&ok);
    if (!ok || zoom < TMainForm::kMinZoom || zoom > TMainForm::kMaxZoom) {
      std::fprintf(stderr, "tarvo: --zoom takes 1 to 4, not '%s'\n",
                   qPrintable(parser.value(options.zoom)));
      return 2;
    }
  }
  QString dir;
  if (parser.isSet(options.dir)) {
    dir = parser.value(options.dir);
  } else if (const QString installed = installedMachine(); !installed.isEmpty()) {
    // Started from the desktop menu: the demo machine, the user's copy.
    dir = userMachine(installed);
    if (dir.isEmpty()) {
      std::fprintf(stderr, "tarvo: cannot copy the demo machine into the user's data folder\n");
      return 1;
    }
  }
  if (!dir.isEmpty() && !QDir::setCurrent(dir)) {
    std::fprintf(stderr, "tarvo: cannot change into the directory '%s'\n", qPrintable(dir));
    return 1;
  }

  // Signals are routed into the window's close from the start, so that a
  // kill during start-up still finds a place to go.
  ShutdownSignals shutdownSignals;

  TMainForm mainForm;
  TDebugForm debugForm(mainForm.machine(), mainForm.runLoop());
  QObject::connect(&mainForm, &TMainForm::closed, &app, &QCoreApplication::quit);
  mainForm.setDebugForm(&debugForm);
  mainForm.connectShutdown(&shutdownSignals);
  mainForm.rememberView();
  if (zoom != 0) mainForm.setZoom(zoom);
  mainForm.show();
  return QApplication::exec();
}
