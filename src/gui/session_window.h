// The debugger's window of its own, beside the debug window: why the machine
// stopped, the breakpoints list (add, enable, disable, delete, hit counts),
// the last instructions executed and the call stack. It draws what the
// core's DebugSession holds and forwards the user's requests to it.
#pragma once

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QWidget>

namespace tarvo {
class DebugSession;
struct Machine;
}  // namespace tarvo

class SessionWindow : public QWidget {
  Q_OBJECT

 public:
  SessionWindow(tarvo::Machine& machine, tarvo::DebugSession& session, QWidget* parent = nullptr);

  // Redraws everything from the session.
  void refresh();
  // The status line: why the run stopped, or an error of the last request.
  void setStatus(const QString& text);
  QString status() const { return status_->text(); }

  // "ADDR[:CONDITION]" for a breakpoint (hex or label), "w PHYS[-LAST][:r|w|rw]"
  // for a watchpoint, "i LEVEL" for an interrupt entry. Returns whether it
  // was added; otherwise the status line says why.
  bool addFromText(const QString& text);

  QListWidget* breakpointList() const { return list_; }
  QListWidget* historyList() const { return history_; }
  QListWidget* callStackList() const { return calls_; }
  QLineEdit* addEdit() const { return addEdit_; }

 private:
  int selectedId() const;

  tarvo::Machine& m_;
  tarvo::DebugSession& session_;
  QLabel* status_ = nullptr;
  QListWidget* list_ = nullptr;
  QLineEdit* addEdit_ = nullptr;
  QCheckBox* record_ = nullptr;
  QListWidget* history_ = nullptr;
  QListWidget* calls_ = nullptr;
};
