// Program entry of tarvo: the main window over the emulated machine, and the
// debug window beside it.
#include <QAccessible>
#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <cstdio>
#include <optional>

#include "debug_form.h"
#include "frontpanel/files.h"
#include "main_form.h"
#include "shutdown_signals.h"

int main(int argc, char** argv) {
  // The threads the application starts for itself (the display connection's
  // reader; the desktop bus, which the accessibility bridge opens on first
  // use) inherit a mask that holds the shutdown signals back, so those
  // always reach the UI thread, and a save that holds them there is not
  // ended through another thread.
  std::optional<tarvo::ShutdownSignalsHeld> startingUp(std::in_place);
  QApplication app(argc, argv);
  QAccessible::isActive();
  startingUp.reset();
  QApplication::setApplicationName("tarvo");
  QApplication::setApplicationVersion(TARVO_VERSION);
  QApplication::setApplicationDisplayName("Zelmo Tarvo Emulator");

  QCommandLineParser parser;
  parser.setApplicationDescription(
      "Zelmo Tarvo Emulator: the pocket computer on the desktop.\n"
      "Reads its ROM, RAM, register, character-set, face and settings files from\n"
      "the machine directory and writes RAM and registers back there at close.");
  parser.addHelpOption();
  parser.addVersionOption();
  QCommandLineOption dirOption({"d", "dir"},
                               "Machine directory holding the machine's files (default: the "
                               "current directory).",
                               "DIR");
  parser.addOption(dirOption);
  parser.process(app);  // --help and --version print and exit here
  if (!parser.positionalArguments().isEmpty()) {
    std::fprintf(stderr, "tarvo: unexpected argument '%s'\n",
                 qPrintable(parser.positionalArguments().first()));
    std::fprintf(stderr, "Try 'tarvo --help' for more information.\n");
    return 2;
  }
  if (parser.isSet(dirOption)) {
    const QString dir = parser.value(dirOption);
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
  QObject::connect(&mainForm, &TMainForm::closed, &app, &QCoreApplication::quit);
  mainForm.setDebugForm(&debugForm);
  mainForm.connectShutdown(&shutdownSignals);
  mainForm.show();
  return QApplication::exec();
}
