// The debug window: disassembly, registers and flags, the register file and
// a hex editor, with in-place editing, single step, trace and breakpoint
// runs. Showing it stops the machine; hiding it lets the machine run on
// after the resume delay. Everything but drawing and the routing of events
// lives in tarvo::DebugModel.
#pragma once

#include <QColor>
#include <QFont>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTimer>
#include <QWidget>
#include <array>
#include <functional>

#include "debugger/debug_model.h"
#include "debugger/session.h"
#include "debugger/symbols.h"

class SessionWindow;

namespace tarvo {
class RunLoop;
struct Machine;
}  // namespace tarvo

// A group frame whose caption colour the window sets (blue for the active
// group) and whose clicks the window hears about.
class DebugGroupBox : public QGroupBox {
  Q_OBJECT

 public:
  DebugGroupBox(const QString& caption, QWidget* parent);
  QColor captionColour() const { return captionColour_; }
  void setCaptionColour(const QColor& colour);

 signals:
  void clicked();

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;

 private:
  QColor captionColour_;
};

// A surface that the window paints and whose mouse presses it takes.
class DebugPaintBox : public QWidget {
  Q_OBJECT

 public:
  explicit DebugPaintBox(QWidget* parent) : QWidget(parent) {}
  std::function<void(QPainter&)> onPaint;
  std::function<void(QPoint)> onMouseDown;
  // Wheel notches: positive away from the user (up).
  std::function<void(int)> onWheel;

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void wheelEvent(QWheelEvent* event) override;

 private:
  int wheelRest_ = 0;
};

class TDebugForm : public QWidget {
  Q_OBJECT

 public:
  static constexpr int kClientWidth = 633;
  static constexpr int kClientHeight = 437;

  TDebugForm(tarvo::Machine& machine, tarvo::RunLoop& runLoop, QWidget* parent = nullptr);
  // The run loop outlives the window: it stops asking the debugger.
  ~TDebugForm() override;

  tarvo::DebugModel& model() { return model_; }
  // The pane font and its character cell (the size of "0").
  const QFont& paneFont() const { return font_; }
  QSize cell() const { return cell_; }

  DebugGroupBox* group(tarvo::Group g) const { return groups_[static_cast<int>(g)]; }
  DebugPaintBox* paintBox(tarvo::Pane p) const { return panes_[static_cast<int>(p)].box; }
  QScrollBar* scrollBar(tarvo::Pane p) const { return panes_[static_cast<int>(p)].bar; }
  QLineEdit* paneEdit(tarvo::Pane p) const { return panes_[static_cast<int>(p)].edit; }
  QLineEdit* TraceEdit = nullptr;
  QLineEdit* BpEdit = nullptr;
  QPushButton* StepButton = nullptr;
  QPushButton* TraceButton = nullptr;
  QPushButton* BpButton = nullptr;

  // Window events.
  void DebugCreate();
  void DebugShow();
  void DebugHide();

  // Pane painting.
  void ListPaintBoxPaint(QPainter& p) { paintPane(tarvo::Pane::List, p); }
  void RegPaintBoxPaint(QPainter& p) { paintPane(tarvo::Pane::Reg, p); }
  void MainPaintBoxPaint(QPainter& p) { paintPane(tarvo::Pane::Main, p); }
  void BinPaintBoxPaint(QPainter& p) { paintPane(tarvo::Pane::Bin, p); }

  // Scroll bars.
  void ListBoxScroll(int position) { paneScrolled(tarvo::Pane::List, position); }
  void RegBoxScroll(int position) { paneScrolled(tarvo::Pane::Reg, position); }
  void MainBoxScroll(int position) { paneScrolled(tarvo::Pane::Main, position); }
  void BinBoxScroll(int position) { paneScrolled(tarvo::Pane::Bin, position); }

  // Mouse presses on the panes, in pane pixels.
  void ListPaintBoxMouseDown(QPoint at) { paneMouseDown(tarvo::Pane::List, at); }
  void RegPaintBoxMouseDown(QPoint at) { paneMouseDown(tarvo::Pane::Reg, at); }
  void MainPaintBoxMouseDown(QPoint at) { paneMouseDown(tarvo::Pane::Main, at); }
  void BinPaintBoxMouseDown(QPoint at) { paneMouseDown(tarvo::Pane::Bin, at); }

  // Clicks on the group frames (and on the trace and breakpoint boxes).
  void ListGroupBoxClick() { activatePane(tarvo::Group::List); }
  void RegGroupBoxClick() { activatePane(tarvo::Group::Reg); }
  void MainGroupBoxClick() { activatePane(tarvo::Group::Main); }
  void BinGroupBoxClick() { activatePane(tarvo::Group::Bin); }
  void StepGroupBoxClick() { activatePane(tarvo::Group::Step); }
  void TraceGroupBoxClick() { activatePane(tarvo::Group::Trace); }
  void BpGroupBoxClick() { activatePane(tarvo::Group::Bp); }

  // Text typed into an edit box.
  void ListEditChange() { editChanged(tarvo::EditBox::List); }
  void RegEditChange() { editChanged(tarvo::EditBox::Reg); }
  void MainEditChange() { editChanged(tarvo::EditBox::Main); }
  void BinEditChange() { editChanged(tarvo::EditBox::Bin); }
  void TraceEditChange() { editChanged(tarvo::EditBox::Trace); }
  void BpEditChange() { editChanged(tarvo::EditBox::Bp); }

  // Keys in a pane's edit box; true when the key was used.
  bool ListEditKeyDown(int key) { return paneKeyDown(tarvo::Pane::List, key); }
  bool RegEditKeyDown(int key) { return paneKeyDown(tarvo::Pane::Reg, key); }
  bool MainEditKeyDown(int key) { return paneKeyDown(tarvo::Pane::Main, key); }
  bool BinEditKeyDown(int key) { return paneKeyDown(tarvo::Pane::Bin, key); }

  // The debugger beyond the specified window: breakpoints, watchpoints,
  // stepping over and out, the history and the call stack, in a window of
  // its own (Ctrl+B). Keys of the debug window: F5 continue, F10 step over,
  // F11 step into (the single step), Shift+F11 step out, F4 run to the
  // disassembly line last clicked.
  tarvo::DebugSession& session() { return session_; }
  SessionWindow* sessionWindow() const { return sessionWindow_; }
  // The strip below the hex editor: the last stop or message, and the Go to
  // box's error beside it.
  QString statusText() const { return status_->text(); }
  QString goToError() const { return goToError_->text(); }
  // Adds the labels of a symbol file; false when it cannot be read.
  bool loadSymbols(const QString& path);
  void continueRun();
  void stepOver();
  void stepOut();
  void runToClickedLine();
  // The Go to box (Ctrl+G) below the panes: an address, a label or
  // label+HEX for the view of the disassembly or, when it is active, the
  // hex editor. Enter goes there; Escape closes the box.
  void openGoTo();
  QLineEdit* goToEdit() const { return goToEdit_; }

  // The three Run buttons.
  void StepButtonClick();
  void TraceButtonClick();
  void BpButtonClick();

 protected:
  void showEvent(QShowEvent* event) override;
  void hideEvent(QHideEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  struct PaneWidgets {
    DebugGroupBox* group = nullptr;
    DebugPaintBox* box = nullptr;
    QScrollBar* bar = nullptr;
    QLineEdit* edit = nullptr;
  };

  void buildPane(tarvo::Pane pane, tarvo::Group g, const char* name, QRect groupRect, QSize boxSize,
                 int barX);
  QLineEdit* buildRunGroup(tarvo::Group g, const char* name, QRect groupRect, bool withEdit,
                           QPushButton** button);
  QLineEdit* editOf(tarvo::EditBox box) const;

  void paintPane(tarvo::Pane pane, QPainter& p);
  void paneScrolled(tarvo::Pane pane, int position);
  void paneMouseDown(tarvo::Pane pane, QPoint at);
  void editChanged(tarvo::EditBox box);
  bool paneKeyDown(tarvo::Pane pane, int key);
  void activatePane(tarvo::Group g);

  // Shows the model's state: captions, focus of the active group, the
  // edit boxes closed when no field is open, scroll bars, all panes redrawn.
  void showActive();
  void closeBoxes();
  void openBox(tarvo::Pane pane, const tarvo::EditField& field);
  void syncScrollBar(tarvo::Pane pane, const tarvo::ScrollRange& range);
  void refresh();

  void armAndRun();
  void goToEntered();
  void closeGoTo();

  tarvo::DebugModel model_;
  tarvo::SymbolTable symbols_;
  tarvo::DebugSession session_;
  tarvo::RunLoop& runLoop_;
  SessionWindow* sessionWindow_ = nullptr;
  QLabel* goToLabel_ = nullptr;
  QLineEdit* goToEdit_ = nullptr;
  QLabel* goToError_ = nullptr;
  QLabel* status_ = nullptr;
  // Onto the status strip and the Breakpoints window's status line.
  void setStatus(const QString& text);
  // While the window is open, the machine can still change under it (F9,
  // the power switch, a key on the face): the panes are redrawn when its
  // state digest moves.
  QTimer staleTimer_;
  uint64_t shownDigest_ = 0;
  uint32_t clickedLine_ = 0;
  bool lineClicked_ = false;
  QFont font_;
  QSize cell_;
  std::array<DebugGroupBox*, tarvo::kGroupCount> groups_{};
  std::array<PaneWidgets, tarvo::kPaneCount> panes_{};
  bool shownBefore_ = false;
};
