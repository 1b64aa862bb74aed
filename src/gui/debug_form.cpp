#include "debug_form.h"

#include <QHideEvent>
#include <QShowEvent>

#include "frontpanel/run_loop.h"
#include "machine.h"

TDebugForm::TDebugForm(tarvo::Machine& machine, tarvo::RunLoop& runLoop, QWidget* parent)
    : QWidget(parent, Qt::Window), machine_(machine), runLoop_(runLoop) {
  setWindowTitle("Debug Window");
  resize(633, 437);
}

void TDebugForm::showEvent(QShowEvent* event) {
  // Restoring from the taskbar is a spontaneous show: the machine is
  // already stopped then.
  if (!event->spontaneous()) tarvo::debugShow(machine_.run);
  QWidget::showEvent(event);
}

void TDebugForm::hideEvent(QHideEvent* event) {
  // Minimising is a spontaneous hide and leaves the machine stopped.
  if (!event->spontaneous()) tarvo::debugHide(machine_.run);
  QWidget::hideEvent(event);
}
