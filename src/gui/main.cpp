// Program entry of tarvo: the main window over the emulated machine, and the
// debug window beside it.
#include <QAccessible>
#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
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
                         "current directory).",
                         "DIR"};

  CommandLine() {
    parser.setApplicationDescription(
        QString(TMainForm::kApplicationTitle) +
        ": the pocket computer on the desktop.\n"
        "Reads its ROM, RAM, register, character-set, face and settings files from\n"
        "the machine directory and writes RAM and registers back there at close.");
    parser.addOption(dir);
    parser.addOption(symbols);
  }
  QCommandLineOption symbols{"symbols",
                             "Labels for the debugger, from tarvo-asm --symbols (every *.sym "
                             "file of the machine directory is read too).",
                             "FILE"};
};

void setApplicationNames() {
  QCoreApplication::setApplicationName("tarvo");
  QCoreApplication::setApplicationVersion(TARVO_VERSION);
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
  // Taken before the machine directory becomes the current one.
  QString symbolsFile;
  if (cl.parser.isSet(cl.symbols))
    symbolsFile = QFileInfo(cl.parser.value(cl.symbols)).absoluteFilePath();
  if (cl.parser.isSet(cl.dir)) {
    const QString dir = cl.parser.value(cl.dir);
    if (!QDir::setCurrent(dir)) {
      std::fprintf(stderr, "tarvo: cannot change into the directory '%s'\n", qPrintable(dir));
      return 1;
    }
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
  mainForm.show();
  return QApplication::exec();
}
