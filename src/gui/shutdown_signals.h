// Turns SIGTERM, SIGINT and SIGHUP into an ordinary event of the UI thread,
// so that a kill or a lost terminal closes the main window the same way as
// its close key does and the machine's RAM and registers get saved. Only the
// first signal is caught: if the close it starts cannot finish (a warning box
// that nobody answers), a second one ends the program the default way, once
// the state file being written (if any) is in place.
#pragma once

#include <QObject>

class QSocketNotifier;

class ShutdownSignals : public QObject {
  Q_OBJECT

 public:
  // Installs the handlers for the three signals. Only one instance may
  // exist at a time; the handlers are put back to the default on
  // destruction.
  explicit ShutdownSignals(QObject* parent = nullptr);
  ~ShutdownSignals() override;

  bool installed() const { return notifier_ != nullptr; }
  // Signals that arrive before this call wait in the pipe; once it is made,
  // each of them is delivered as shutdownRequested.
  void start();

 signals:
  // Emitted on the UI thread once for each signal received.
  void shutdownRequested(int signalNumber);

 private:
  void readPipe();

  QSocketNotifier* notifier_ = nullptr;
};
