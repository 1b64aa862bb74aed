#include "shutdown_signals.h"

#include <fcntl.h>
#include <unistd.h>

#include <QSocketNotifier>
#include <cerrno>
#include <csignal>

namespace {

// The self-pipe: the handler only writes the signal number into it; the
// read end is watched by the event loop.
int pipeFds[2] = {-1, -1};

constexpr int kSignals[] = {SIGTERM, SIGINT, SIGHUP};

void setDisposition(void (*handler)(int)) {
  struct sigaction action = {};
  action.sa_handler = handler;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  for (int s : kSignals) sigaction(s, &action, nullptr);
}

extern "C" void onShutdownSignal(int signalNumber) {
  const int savedErrno = errno;
  const unsigned char byte = static_cast<unsigned char>(signalNumber);
  // A full pipe only means that a close is already on its way.
  [[maybe_unused]] const ssize_t written = ::write(pipeFds[1], &byte, 1);
  // The first signal asks for an orderly close. Should that hang (a warning
  // box nobody answers), the next one ends the program the default way;
  // the state files are only ever replaced whole, so none is left half
  // written.
  setDisposition(SIG_DFL);
  errno = savedErrno;
}

}  // namespace

ShutdownSignals::ShutdownSignals(QObject* parent) : QObject(parent) {
  if (pipeFds[0] >= 0) return;
  if (::pipe2(pipeFds, O_CLOEXEC | O_NONBLOCK) != 0) {
    pipeFds[0] = pipeFds[1] = -1;
    return;
  }
  notifier_ = new QSocketNotifier(pipeFds[0], QSocketNotifier::Read, this);
  notifier_->setEnabled(false);
  connect(notifier_, &QSocketNotifier::activated, this, &ShutdownSignals::readPipe);
  setDisposition(onShutdownSignal);
}

ShutdownSignals::~ShutdownSignals() {
  if (!notifier_) return;
  setDisposition(SIG_DFL);
  delete notifier_;
  notifier_ = nullptr;
  ::close(pipeFds[0]);
  ::close(pipeFds[1]);
  pipeFds[0] = pipeFds[1] = -1;
}

void ShutdownSignals::start() {
  if (notifier_) notifier_->setEnabled(true);
}

void ShutdownSignals::readPipe() {
  unsigned char byte = 0;
  while (::read(pipeFds[0], &byte, 1) == 1) emit shutdownRequested(byte);
}
