// The debug window. For now an empty window: showing it stops the machine
// (and disarms any trace or breakpoint run), hiding it lets the machine run
// on after the resume delay.
#pragma once

#include <QWidget>

namespace tarvo {
class RunLoop;
struct Machine;
}  // namespace tarvo

class TDebugForm : public QWidget {
  Q_OBJECT

 public:
  TDebugForm(tarvo::Machine& machine, tarvo::RunLoop& runLoop, QWidget* parent = nullptr);

 protected:
  void showEvent(QShowEvent* event) override;
  void hideEvent(QHideEvent* event) override;

 private:
  tarvo::Machine& machine_;
  tarvo::RunLoop& runLoop_;
};
