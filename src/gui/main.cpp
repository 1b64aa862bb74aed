// Program entry of tarvo: the main window over the emulated machine, and the
// debug window beside it.
#include <QAccessible>
#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <cstdio>
#include <optional>
#include <string_view>

#include "debug_form.h"
#include "frontpanel/files.h"
#include "main_form.h"
#include "shutdown_signals.h"

namespace {

struct CommandLine {
  QCommandLineParser parser;
  QCommandLineOption help = parser.addHelpOption();
  QCommandLineOption version = parser.addVersionOption();
  QCommandLineOption dir{{"d", "dir"},
                         "Machine directory holding the machine's files (default: the "
                         "current directory, or the demo machine when it holds none of "
                         "them; for an installed tarvo, the user's copy of the demo "
                         "machine).",
                         "DIR"};
  QCommandLineOption zoom{{"z", "zoom"}, "Draw the face at N times its size (1 to 4).", "N"};

  CommandLine() {
    parser.setApplicationDescription(
        QString(TMainForm::kApplicationTitle) +
        ": the pocket computer on the desktop.\n"
        "Reads its ROM, RAM, register, character-set, face and settings files from\n"
        "the machine directory and writes RAM and registers back there at close.\n"
        "Without --dir, an installed tarvo runs the demo machine, copied once into\n"
        "$XDG_DATA_HOME/tarvo/machine; a tarvo run from the build tree uses the\n"
        "current directory.");
    parser.addOption(dir);
    parser.addOption(zoom);
    parser.addOption(symbols);
  }
  QCommandLineOption symbols{"symbols",
                             "Labels for the debugger, from tarvo-asm --symbols (every *.sym "
                             "file of the machine directory is read too).",
                             "FILE"};
};

void setApplicationNames() {
  // The user's settings (zoom, window position) go to tarvo/tarvo.conf in
  // the configuration folder.
  QCoreApplication::setOrganizationName("tarvo");
  QCoreApplication::setApplicationName("tarvo");
  QCoreApplication::setApplicationVersion(TARVO_VERSION);
}

// An installed tarvo finds the demo machine in share/tarvo/machine beside
// its bin/ folder; a tarvo run from the build tree finds nothing there.
QString installedMachine() {
  const QString dir =
      QDir(QCoreApplication::applicationDirPath()).filePath("../share/tarvo/machine");
  return QFileInfo(dir + "/rom0.bin").exists() ? QDir(dir).canonicalPath() : QString();
}

// The demo machine the build tree makes (build/machine-template, two levels
// above build/src/gui/tarvo).
QString builtMachine() {
  const QString dir =
      QDir(QCoreApplication::applicationDirPath()).filePath("../../machine-template");
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

// True when the command line asks only for help or the version, which need
// no display.
bool asksForHelpOrVersion(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (arg == "--") break;
    if (arg == "-h" || arg == "-?" || arg == "--help" || arg == "--help-all" || arg == "-v" ||
        arg == "--version")
      return true;
  }
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  if (asksForHelpOrVersion(argc, argv)) {
    // Answered without opening the window system, so they work on a console
    // with no display. Options meant for the toolkit do not stop them.
    QCoreApplication core(argc, argv);
    setApplicationNames();
    CommandLine cl;
    cl.parser.parse(QCoreApplication::arguments());
    if (cl.parser.isSet(cl.help)) cl.parser.showHelp(0);
    if (cl.parser.isSet(cl.version)) cl.parser.showVersion();
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
  // No application display name: the toolkit would add it to every caption.
  setApplicationNames();

  CommandLine cl;
  cl.parser.process(app);  // --help and --version print and exit here
  if (!cl.parser.positionalArguments().isEmpty()) {
    std::fprintf(stderr, "tarvo: unexpected argument '%s'\n",
                 qPrintable(cl.parser.positionalArguments().first()));
    std::fprintf(stderr, "Try 'tarvo --help' for more information.\n");
    return 2;
  }
  int zoom = 0;
  if (cl.parser.isSet(cl.zoom)) {
    bool ok = false;
    zoom = cl.parser.value(cl.zoom).toInt(&ok);
    if (!ok || zoom < TMainForm::kMinZoom || zoom > TMainForm::kMaxZoom) {
      std::fprintf(stderr, "tarvo: --zoom takes 1 to 4, not '%s'\n",
                   qPrintable(cl.parser.value(cl.zoom)));
      return 2;
    }
  }
  // Taken before the machine directory becomes the current one.
  QString symbolsFile;
  if (cl.parser.isSet(cl.symbols))
    symbolsFile = QFileInfo(cl.parser.value(cl.symbols)).absoluteFilePath();
  QString dir;
  if (cl.parser.isSet(cl.dir)) {
    dir = cl.parser.value(cl.dir);
  } else if (const QString installed = installedMachine(); !installed.isEmpty()) {
    // Started from the desktop menu: the demo machine, the user's copy.
    dir = userMachine(installed);
    if (dir.isEmpty()) {
      std::fprintf(stderr, "tarvo: cannot copy the demo machine into the user's data folder\n");
      return 1;
    }
  } else if (!tarvo::isMachineDirectory(".")) {
    // Started from a folder that is no machine directory: rather than a row
    // of load failures and fresh RAM images left behind in it, the demo
    // machine, as the installed tarvo runs it.
    const QString built = builtMachine();
    dir = built.isEmpty() ? QString() : userMachine(built);
    if (dir.isEmpty()) {
      std::fprintf(stderr,
                   "tarvo: the current directory holds none of the machine's files "
                   "(rom0.bin, charset.bin, ...) and there is no demo machine to run "
                   "instead; name a machine directory with --dir\n");
      return 1;
    }
    std::fprintf(stderr,
                 "tarvo: the current directory holds none of the machine's files; running "
                 "the demo machine in %s (--dir names another machine directory)\n",
                 qPrintable(QDir::toNativeSeparators(dir)));
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
  if (!symbolsFile.isEmpty() && !debugForm.loadSymbols(symbolsFile)) {
    std::fprintf(stderr, "tarvo: cannot read the symbol file '%s'\n", qPrintable(symbolsFile));
    return 2;
  }
  QObject::connect(&mainForm, &TMainForm::closed, &app, &QCoreApplication::quit);
  mainForm.setDebugForm(&debugForm);
  mainForm.connectShutdown(&shutdownSignals);
  mainForm.rememberView();
  if (zoom != 0) mainForm.setZoom(zoom);
  mainForm.show();
  return QApplication::exec();
}
