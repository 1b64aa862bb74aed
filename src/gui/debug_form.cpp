#include "debug_form.h"

#include <QDir>
#include <QFontDatabase>
#include <QFontMetrics>
#include <QHideEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>
#include <QShortcut>
#include <QShowEvent>
#include <QSignalBlocker>
#include <QStyleOptionGroupBox>
#include <QStylePainter>
#include <QWheelEvent>
#include <cstdlib>

#include "frontpanel/run_loop.h"
#include "machine/digest.h"
#include "session_window.h"

using tarvo::EditBox;
using tarvo::Group;
using tarvo::Pane;

namespace {

constexpr QColor kActiveCaption(0, 0, 255);
constexpr QColor kWhite(255, 255, 255);
constexpr QColor kSilver(192, 192, 192);
constexpr QColor kEditBackground(255, 255, 0);
constexpr int kPaneFontPixels = 13;
constexpr int kDialogFontPixels = 11;
constexpr int kScrollBarWidth = 16;
constexpr QPoint kPaneAt(8, 16);  // paint boxes inside their groups
constexpr int kMainPaneHeight = 33;

// A fixed-pitch font at 13 pixels: Courier or the nearest the desktop has.
// A family whose cell is too tall to give the register file its two rows
// is passed over, since the panes were laid out for Courier's cell. The
// font database names a family that several foundries make as
// "Family [foundry]"; the bare family name picks one of them.
QFont fixedFont(const QString& family) {
  QFont font =
      family.isEmpty() ? QFontDatabase::systemFont(QFontDatabase::FixedFont) : QFont(family);
  font.setPixelSize(kPaneFontPixels);
  font.setStyleHint(QFont::TypeWriter);
  font.setFixedPitch(true);
  return font;
}

QFont choosePaneFont() {
  static const char* const kFamilies[] = {"Courier", "Courier New", "Nimbus Mono PS",
                                          "Liberation Mono", "DejaVu Sans Mono"};
  QStringList available;
  for (QString family : QFontDatabase::families()) {
    const qsizetype foundry = family.indexOf(QLatin1String(" ["));
    if (foundry > 0) family.truncate(foundry);
    available << family;
  }
  for (const char* name : kFamilies) {
    const QString family = QString::fromLatin1(name);
    if (!available.contains(family, Qt::CaseInsensitive)) continue;
    const QFont font = fixedFont(family);
    if (QFontMetrics(font).height() <= kMainPaneHeight / 2) return font;
  }
  return fixedFont(QString());
}

std::optional<tarvo::ScrollKey> scrollKeyOf(int key) {
  switch (key) {
    case Qt::Key_PageUp:
      return tarvo::ScrollKey::PageUp;
    case Qt::Key_PageDown:
      return tarvo::ScrollKey::PageDown;
    case Qt::Key_Home:
      return tarvo::ScrollKey::Home;
    case Qt::Key_End:
      return tarvo::ScrollKey::End;
    case Qt::Key_Up:
      return tarvo::ScrollKey::Up;
    case Qt::Key_Down:
      return tarvo::ScrollKey::Down;
    default:
      return std::nullopt;
  }
}

QString fromU16(const std::u16string& s) {
  return QString::fromUtf16(s.data(), static_cast<qsizetype>(s.size()));
}

}  // namespace

// ---- DebugGroupBox, DebugPaintBox ----

DebugGroupBox::DebugGroupBox(const QString& caption, QWidget* parent) : QGroupBox(caption, parent) {
  captionColour_ = palette().color(QPalette::WindowText);
}

void DebugGroupBox::setCaptionColour(const QColor& colour) {
  if (colour == captionColour_) return;
  captionColour_ = colour;
  update();
}

void DebugGroupBox::paintEvent(QPaintEvent*) {
  QStylePainter painter(this);
  QStyleOptionGroupBox option;
  initStyleOption(&option);
  // Styles take the caption colour either from the option's text colour or
  // from its palette; only the option changes, so the children keep theirs.
  option.textColor = captionColour_;
  option.palette.setColor(QPalette::WindowText, captionColour_);
  painter.drawComplexControl(QStyle::CC_GroupBox, option);
}

void DebugGroupBox::mousePressEvent(QMouseEvent* event) {
  emit clicked();
  event->accept();
}

void DebugPaintBox::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  if (onPaint) onPaint(painter);
}

void DebugPaintBox::mousePressEvent(QMouseEvent* event) {
  // Any button opens a field.
  if (onMouseDown) onMouseDown(event->position().toPoint());
  event->accept();
}

void DebugPaintBox::wheelEvent(QWheelEvent* event) {
  // Fine-grained wheels send parts of a notch; they add up.
  wheelRest_ += event->angleDelta().y();
  const int notches = wheelRest_ / 120;
  wheelRest_ -= notches * 120;
  if (notches != 0 && onWheel) onWheel(notches);
  event->accept();
}

// ---- TDebugForm ----

// The run loop needs no call from here: the Run buttons arm it through its
// run-control state, and it shows this window when a run stops.
TDebugForm::TDebugForm(tarvo::Machine& machine, tarvo::RunLoop& runLoop, QWidget* parent)
    : QWidget(parent, Qt::Window),
      model_(machine, runLoop.run),
      session_(machine),
      runLoop_(runLoop) {
  setWindowTitle("Debug Window");
  resize(kClientWidth, kClientHeight);
  // Captions, buttons and the run boxes in a small dialog font, so that
  // the longest caption fits its group.
  QFont dialogFont = font();
  dialogFont.setPixelSize(kDialogFontPixels);
  setFont(dialogFont);

  font_ = choosePaneFont();
  const QFontMetrics metrics(font_);
  cell_ = QSize(std::max(1, metrics.horizontalAdvance(QLatin1Char('0'))),
                std::max(1, metrics.height()));

  buildPane(Pane::List, Group::List, "List", {8, 8, 305, 161}, {265, 137}, 280);
  buildPane(Pane::Reg, Group::Reg, "Reg", {320, 8, 137, 161}, {97, 137}, 112);
  buildRunGroup(Group::Step, "Step", {464, 8, 153, 49}, false, &StepButton);
  TraceEdit = buildRunGroup(Group::Trace, "Trace", {464, 64, 153, 49}, true, &TraceButton);
  BpEdit = buildRunGroup(Group::Bp, "Bp", {464, 120, 153, 49}, true, &BpButton);
  buildPane(Pane::Main, Group::Main, "Main", {8, 176, 609, 57}, {569, kMainPaneHeight}, 584);
  buildPane(Pane::Bin, Group::Bin, "Bin", {8, 240, 609, 161}, {569, 137}, 585);

  const char* const captions[tarvo::kGroupCount] = {" Disassembly ",
                                                    " Registers ",
                                                    " Single step ",
                                                    " Number of steps (decimal) ",
                                                    " Breakpoint address (hex) ",
                                                    " Main Register File ",
                                                    " Hex Editor "};
  for (int g = 0; g < tarvo::kGroupCount; ++g) groups_[g]->setTitle(captions[g]);

  connect(StepButton, &QPushButton::clicked, this, [this] { StepButtonClick(); });
  connect(TraceButton, &QPushButton::clicked, this, [this] { TraceButtonClick(); });
  connect(BpButton, &QPushButton::clicked, this, [this] { BpButtonClick(); });
  connect(TraceEdit, &QLineEdit::textEdited, this, [this] { TraceEditChange(); });
  // Enter in the two boxes runs, as their buttons do.
  connect(TraceEdit, &QLineEdit::returnPressed, this, [this] { TraceButtonClick(); });
  connect(BpEdit, &QLineEdit::returnPressed, this, [this] { BpButtonClick(); });
  connect(BpEdit, &QLineEdit::textEdited, this, [this] { BpEditChange(); });
  // The single step group holds the focus itself while it is active.
  group(Group::Step)->setFocusPolicy(Qt::ClickFocus);

  DebugCreate();

  // The debugger beyond the specified window. It watches the run tick's
  // steps, at no cost while nothing is armed.
  runLoop.run.observer = &session_;
  session_.setSymbols(&symbols_);
  model_.setSymbols(&symbols_);
  sessionWindow_ = new SessionWindow(machine, session_, this);
  const QDir dir(QString::fromStdString(runLoop.dir()));
  for (const QString& name : dir.entryList({"*.sym"}, QDir::Files, QDir::Name))
    loadSymbols(dir.filePath(name));
  const auto key = [this](QKeySequence sequence, std::function<void()> action) {
    auto* shortcut = new QShortcut(sequence, this);
    shortcut->setContext(Qt::WindowShortcut);
    connect(shortcut, &QShortcut::activated, this, std::move(action));
  };
  staleTimer_.setInterval(100);
  connect(&staleTimer_, &QTimer::timeout, this, [this] {
    const uint64_t digest = tarvo::stateDigest(model_.machine());
    if (digest == shownDigest_) return;
    shownDigest_ = digest;
    refresh();
  });
  key(Qt::Key_F5, [this] { continueRun(); });
  key(Qt::Key_F10, [this] { stepOver(); });
  key(Qt::Key_F11, [this] { StepButtonClick(); });
  key(QKeySequence(Qt::SHIFT | Qt::Key_F11), [this] { stepOut(); });
  key(Qt::Key_F4, [this] { runToClickedLine(); });
  key(QKeySequence(Qt::CTRL | Qt::Key_G), [this] { openGoTo(); });
  // The Go to box lives in the strip below the hex editor and is hidden
  // until asked for.
  goToLabel_ = new QLabel("Go to:", this);
  goToLabel_->setGeometry(8, 410, 40, 21);
  goToEdit_ = new QLineEdit(this);
  goToEdit_->setObjectName("GoToEdit");
  goToEdit_->setGeometry(48, 410, 129, 21);
  goToEdit_->installEventFilter(this);
  goToError_ = new QLabel(this);
  goToError_->setGeometry(185, 410, 432, 21);
  connect(goToEdit_, &QLineEdit::returnPressed, this, [this] { goToEntered(); });
  // The same strip says what the debugger last did (why it stopped, an
  // assembler error) while the Go to box is closed.
  status_ = new QLabel(this);
  status_->setObjectName("StatusStrip");
  status_->setGeometry(8, 410, 609, 21);
  closeGoTo();
  key(QKeySequence(Qt::CTRL | Qt::Key_B), [this] {
    sessionWindow_->refresh();
    sessionWindow_->show();
    sessionWindow_->raise();
  });
}

TDebugForm::~TDebugForm() {
  if (runLoop_.run.observer == &session_) runLoop_.run.observer = nullptr;
}

bool TDebugForm::loadSymbols(const QString& path) {
  std::vector<std::string> errors;
  if (!symbols_.load(path.toStdString(), &errors)) return false;
  sessionWindow_->refresh();
  return true;
}

void TDebugForm::armAndRun() {
  sessionWindow_->refresh();
  hide();  // DebugHide: the run starts after the resume delay
}

void TDebugForm::continueRun() {
  hide();
}

void TDebugForm::stepOver() {
  if (!session_.atCall()) {
    StepButtonClick();
    return;
  }
  session_.stepOver();
  armAndRun();
}

void TDebugForm::stepOut() {
  session_.stepOut();
  armAndRun();
}

void TDebugForm::runToClickedLine() {
  if (!lineClicked_) {
    setStatus("Click a disassembly line first");
    return;
  }
  session_.runTo(clickedLine_);
  armAndRun();
}

void TDebugForm::setStatus(const QString& text) {
  sessionWindow_->setStatus(text);
  status_->setText(text);
}

void TDebugForm::openGoTo() {
  // A field open in a pane closes: its box would otherwise keep a value
  // that Enter no longer reaches.
  model_.closeField();
  closeBoxes();
  refresh();
  goToError_->clear();
  status_->hide();
  goToLabel_->show();
  goToEdit_->show();
  goToError_->show();
  goToEdit_->setFocus();
  goToEdit_->selectAll();
}

void TDebugForm::goToEntered() {
  std::string error;
  if (!model_.goTo(goToEdit_->text().toStdString(), &error)) {
    goToError_->setText(QString::fromStdString(error));
    setStatus(QString::fromStdString(error));
    goToEdit_->selectAll();
    return;
  }
  closeGoTo();
  showActive();
}

void TDebugForm::closeGoTo() {
  goToLabel_->hide();
  goToEdit_->hide();
  goToError_->hide();
  status_->show();
}

void TDebugForm::buildPane(Pane pane, Group g, const char* name, QRect groupRect, QSize boxSize,
                           int barX) {
  PaneWidgets& w = panes_[static_cast<int>(pane)];
  w.group = new DebugGroupBox(QString(), this);
  w.group->setObjectName(QString("%1GroupBox").arg(name));
  w.group->setGeometry(groupRect);
  groups_[static_cast<int>(g)] = w.group;
  connect(w.group, &DebugGroupBox::clicked, this, [this, g] { activatePane(g); });

  w.box = new DebugPaintBox(w.group);
  w.box->setObjectName(QString("%1PaintBox").arg(name));
  w.box->setGeometry(QRect(kPaneAt, boxSize));
  w.box->setFont(font_);
  w.box->onPaint = [this, pane](QPainter& p) {
    switch (pane) {
      case Pane::List:
        ListPaintBoxPaint(p);
        break;
      case Pane::Reg:
        RegPaintBoxPaint(p);
        break;
      case Pane::Main:
        MainPaintBoxPaint(p);
        break;
      case Pane::Bin:
        BinPaintBoxPaint(p);
        break;
    }
  };
  // The wheel scrolls the pane under the pointer, three lines a notch, as
  // the arrow keys do (only while no field is open).
  w.box->onWheel = [this, pane](int notches) {
    const tarvo::ScrollKey key = notches > 0 ? tarvo::ScrollKey::Up : tarvo::ScrollKey::Down;
    bool moved = false;
    for (int i = 0; i < 3 * std::abs(notches); ++i) moved = model_.scrollKey(pane, key) || moved;
    if (moved) refresh();
  };
  w.box->onMouseDown = [this, pane](QPoint at) {
    switch (pane) {
      case Pane::List:
        ListPaintBoxMouseDown(at);
        break;
      case Pane::Reg:
        RegPaintBoxMouseDown(at);
        break;
      case Pane::Main:
        MainPaintBoxMouseDown(at);
        break;
      case Pane::Bin:
        BinPaintBoxMouseDown(at);
        break;
    }
  };
  model_.setPaneSize(pane, boxSize.height() / cell_.height(), boxSize.width() / cell_.width());

  w.bar = new QScrollBar(Qt::Vertical, w.group);
  w.bar->setObjectName(QString("%1ScrollBar").arg(name));
  w.bar->setGeometry(barX, kPaneAt.y(), kScrollBarWidth, boxSize.height());
  w.bar->setFocusPolicy(Qt::NoFocus);
  // Every user action on the bar counts, also one that cannot move it
  // further (it still activates the pane); the slider position is already
  // the new one when the action is reported. Positions set by the window
  // itself report nothing.
  connect(w.bar, &QScrollBar::actionTriggered, this, [this, pane, bar = w.bar](int) {
    const int position = bar->sliderPosition();
    switch (pane) {
      case Pane::List:
        ListBoxScroll(position);
        break;
      case Pane::Reg:
        RegBoxScroll(position);
        break;
      case Pane::Main:
        MainBoxScroll(position);
        break;
      case Pane::Bin:
        BinBoxScroll(position);
        break;
    }
  });

  // The in-place edit box: yellow, borderless, the pane's font. While no
  // field is open it has no width but keeps the focus, so that keys typed
  // into the pane reach it.
  w.edit = new QLineEdit(w.group);
  w.edit->setObjectName(QString("%1Edit").arg(name));
  w.edit->setFrame(false);
  w.edit->setFont(font_);
  // A line edit keeps two pixels of its own on either side of the text;
  // negative margins put the typed characters exactly over the pane's
  // cells, with room for the caret after the last one.
  w.edit->setTextMargins(-2, 0, -3, 0);
  QPalette yellow = w.edit->palette();
  yellow.setColor(QPalette::Base, kEditBackground);
  yellow.setColor(QPalette::Text, Qt::black);
  w.edit->setPalette(yellow);
  w.edit->installEventFilter(this);
  const EditBox box = static_cast<EditBox>(static_cast<int>(pane));
  connect(w.edit, &QLineEdit::textEdited, this, [this, box] {
    switch (box) {
      case EditBox::List:
        ListEditChange();
        break;
      case EditBox::Reg:
        RegEditChange();
        break;
      case EditBox::Main:
        MainEditChange();
        break;
      default:
        BinEditChange();
        break;
    }
  });
}

QLineEdit* TDebugForm::buildRunGroup(Group g, const char* name, QRect groupRect, bool withEdit,
                                     QPushButton** button) {
  auto* box = new DebugGroupBox(QString(), this);
  box->setObjectName(QString("%1GroupBox").arg(name));
  box->setGeometry(groupRect);
  groups_[static_cast<int>(g)] = box;
  connect(box, &DebugGroupBox::clicked, this, [this, g] { activatePane(g); });

  *button = new QPushButton("Run", box);
  (*button)->setObjectName(QString("%1Button").arg(name));
  (*button)->setGeometry(96, 18, 49, 23);
  if (!withEdit) return nullptr;
  auto* edit = new QLineEdit(box);
  edit->setObjectName(QString("%1Edit").arg(name));
  edit->setGeometry(8, 19, 81, 21);
  edit->installEventFilter(this);
  return edit;
}

QLineEdit* TDebugForm::editOf(EditBox box) const {
  switch (box) {
    case EditBox::Trace:
      return TraceEdit;
    case EditBox::Bp:
      return BpEdit;
    default:
      return panes_[static_cast<int>(box)].edit;
  }
}

// ---- window events ----

void TDebugForm::DebugCreate() {
  model_.create();
  closeBoxes();
  refresh();
}

void TDebugForm::DebugShow() {
  model_.show();
  // A stop that the debugger did not make is the user's (F3).
  if (session_.lastStop().reason == tarvo::StopReason::None)
    session_.setStop(tarvo::StopReason::User);
  session_.cancelStepping();
  setStatus(QString::fromStdString(session_.stopText()));
  sessionWindow_->refresh();
  const tarvo::StopReason why = session_.lastStop().reason;
  if (why == tarvo::StopReason::Breakpoint || why == tarvo::StopReason::Watchpoint ||
      why == tarvo::StopReason::Interrupt)
    sessionWindow_->show();
  showActive();
  shownDigest_ = tarvo::stateDigest(model_.machine());
  staleTimer_.start();
}

void TDebugForm::DebugHide() {
  staleTimer_.stop();
  closeGoTo();
  session_.setStop(tarvo::StopReason::None);
  session_.resume();
  model_.hide();
  closeBoxes();
  refresh();
}

void TDebugForm::showEvent(QShowEvent* event) {
  // Restoring from the taskbar is a spontaneous show: the machine is
  // already stopped then.
  if (!event->spontaneous()) {
    if (!shownBefore_) {
      shownBefore_ = true;
      if (const QScreen* s = screen()) move(s->availableGeometry().center() - rect().center());
    }
    DebugShow();
  }
  QWidget::showEvent(event);
}

void TDebugForm::hideEvent(QHideEvent* event) {
  // Minimising is a spontaneous hide and leaves the machine stopped.
  if (!event->spontaneous()) DebugHide();
  QWidget::hideEvent(event);
}

bool TDebugForm::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::MouseButtonPress) {
    // The trace and breakpoint boxes activate their groups; the click
    // then goes on to place the caret.
    if (watched == TraceEdit) TraceGroupBoxClick();
    if (watched == BpEdit) BpGroupBoxClick();
    return false;
  }
  if (event->type() != QEvent::KeyPress) return false;
  const auto* press = static_cast<QKeyEvent*>(event);
  // Shift+Tab arrives as Backtab from the keyboard, as Tab with Shift from
  // some input methods.
  const int key = press->key() == Qt::Key_Tab && (press->modifiers() & Qt::ShiftModifier)
                      ? int(Qt::Key_Backtab)
                      : press->key();
  if (watched == goToEdit_) {
    if (key != Qt::Key_Escape) return false;
    closeGoTo();
    showActive();
    return true;
  }
  for (int p = 0; p < tarvo::kPaneCount; ++p) {
    if (watched != panes_[p].edit) continue;
    switch (static_cast<Pane>(p)) {
      case Pane::List:
        return ListEditKeyDown(key);
      case Pane::Reg:
        return RegEditKeyDown(key);
      case Pane::Main:
        return MainEditKeyDown(key);
      case Pane::Bin:
        return BinEditKeyDown(key);
    }
  }
  return false;
}

// ---- panes ----

void TDebugForm::paintPane(Pane pane, QPainter& p) {
  const DebugPaintBox* box = paintBox(pane);
  const QColor background = box->palette().color(QPalette::Window);
  const QColor text = box->palette().color(QPalette::WindowText);
  p.fillRect(box->rect(), background);
  p.setFont(font_);
  p.setPen(text);
  const int ascent = QFontMetrics(font_).ascent();
  const tarvo::PaneText t = model_.paint(pane);
  for (std::size_t r = 0; r < t.lines.size(); ++r) {
    const int y = static_cast<int>(r) * cell_.height();
    for (const tarvo::TextRun& run : t.lines[r]) {
      const QColor shade = run.shade == tarvo::Shade::White    ? kWhite
                           : run.shade == tarvo::Shade::Silver ? kSilver
                                                               : background;
      const int x = run.column * cell_.width();
      const int n = static_cast<int>(run.text.size());
      p.fillRect(QRect(x, y, n * cell_.width(), cell_.height()), shade);
      // One character per cell, so that columns never drift from the grid
      // whatever the font's fractional advance.
      for (int i = 0; i < n; ++i) {
        const char ch = run.text[static_cast<std::size_t>(i)];
        if (ch != ' ') p.drawText(x + i * cell_.width(), y + ascent, QString(QLatin1Char(ch)));
      }
    }
  }
  syncScrollBar(pane, t.scroll);
}

void TDebugForm::syncScrollBar(Pane pane, const tarvo::ScrollRange& range) {
  QScrollBar* bar = scrollBar(pane);
  const QSignalBlocker block(bar);
  bar->setRange(range.minimum, range.maximum);
  bar->setPageStep(range.pageStep);
  bar->setSingleStep(range.lineStep);
  bar->setValue(range.position);
}

void TDebugForm::paneScrolled(Pane pane, int position) {
  model_.scrolled(pane, position);
  showActive();
}

void TDebugForm::paneMouseDown(Pane pane, QPoint at) {
  const std::optional<tarvo::EditField> field =
      model_.click(pane, at.y() / cell_.height(), at.x() / cell_.width());
  showActive();
  if (field && field->mode == tarvo::EditMode::ListInstruction) {
    clickedLine_ = static_cast<uint32_t>(field->target);
    lineClicked_ = true;
  }
  if (field && field->mode != tarvo::EditMode::FlagToggled) openBox(pane, *field);
}

void TDebugForm::activatePane(Group g) {
  model_.activate(g);
  showActive();
}

void TDebugForm::editChanged(EditBox box) {
  QLineEdit* edit = editOf(box);
  tarvo::TypedText in;
  in.text = edit->text().toStdU16String();
  if (edit->hasSelectedText()) {
    in.caret = edit->selectionStart();
    in.selection = static_cast<int>(edit->selectedText().size());
  } else {
    in.caret = edit->cursorPosition();
  }
  const tarvo::TypedText out = model_.typed(box, in);
  if (out.text == in.text) return;
  edit->setText(fromU16(out.text));
  if (out.selection > 0) {
    edit->setSelection(out.caret, out.selection);
  } else {
    edit->setCursorPosition(out.caret);
  }
}

bool TDebugForm::paneKeyDown(Pane pane, int key) {
  if (const auto scroll = scrollKeyOf(key)) {
    if (model_.scrollKey(pane, *scroll)) {
      refresh();
      return true;
    }
  }
  if (key == Qt::Key_Return || key == Qt::Key_Enter) {
    QLineEdit* edit = paneEdit(pane);
    const tarvo::EditMode mode = model_.view().editMode;
    const tarvo::EnterResult r = model_.enter(edit->text().toStdU16String());
    if (r.closed) {
      // A line that went in puts the stop back on the status line in place
      // of an earlier assembler message.
      if (mode == tarvo::EditMode::ListInstruction)
        setStatus(QString::fromStdString(session_.stopText()));
      closeBoxes();
      refresh();
    } else if (r.caret >= 0) {
      edit->setCursorPosition(r.caret);
      setStatus(QString::fromStdString(r.status));
    }
    return true;
  }
  if ((key == Qt::Key_Tab || key == Qt::Key_Backtab) && model_.tabAdvances()) {
    QLineEdit* edit = paneEdit(pane);
    const std::optional<tarvo::EditField> next =
        model_.tab(edit->text().toStdU16String(), key == Qt::Key_Backtab);
    closeBoxes();
    refresh();
    if (next) openBox(pane, *next);
    return true;
  }
  if (key == Qt::Key_Escape) {
    model_.escape();
    closeBoxes();
    refresh();
    return true;
  }
  return false;
}

// ---- buttons ----

void TDebugForm::StepButtonClick() {
  model_.singleStep();
  session_.setStop(tarvo::StopReason::StepDone);
  setStatus(QString::fromStdString(session_.stopText()));
  showActive();
}

void TDebugForm::TraceButtonClick() {
  const bool run = model_.traceRun(TraceEdit->text().toStdU16String());
  showActive();
  if (run) hide();
}

void TDebugForm::BpButtonClick() {
  const bool run = model_.breakpointRun(BpEdit->text().toStdU16String());
  showActive();
  if (run) hide();
}

// ---- state onto the widgets ----

void TDebugForm::showActive() {
  const std::optional<Group> active = model_.activeGroup();
  for (int g = 0; g < tarvo::kGroupCount; ++g) {
    const bool on = active && static_cast<int>(*active) == g;
    groups_[g]->setCaptionColour(on ? kActiveCaption : palette().color(QPalette::WindowText));
  }
  if (active) {
    switch (*active) {
      case Group::List:
        paneEdit(Pane::List)->setFocus();
        break;
      case Group::Reg:
        paneEdit(Pane::Reg)->setFocus();
        break;
      case Group::Main:
        paneEdit(Pane::Main)->setFocus();
        break;
      case Group::Bin:
        paneEdit(Pane::Bin)->setFocus();
        break;
      case Group::Step:
        group(Group::Step)->setFocus();
        break;
      case Group::Trace:
        TraceEdit->setFocus();
        break;
      case Group::Bp:
        BpEdit->setFocus();
        break;
    }
  }
  closeBoxes();
  refresh();
}

void TDebugForm::closeBoxes() {
  for (const PaneWidgets& w : panes_) {
    w.edit->clear();
    w.edit->setMaxLength(32767);
    w.edit->setGeometry(0, 0, 0, cell_.height());
  }
}

void TDebugForm::openBox(Pane pane, const tarvo::EditField& field) {
  QLineEdit* edit = paneEdit(pane);
  const QPoint at =
      paintBox(pane)->pos() + QPoint(field.column * cell_.width(), field.row * cell_.height());
  edit->setGeometry(QRect(at, QSize(field.width * cell_.width(), cell_.height())));
  edit->setMaxLength(field.width);
  edit->clear();
  edit->raise();
}

void TDebugForm::refresh() {
  for (int p = 0; p < tarvo::kPaneCount; ++p) {
    const Pane pane = static_cast<Pane>(p);
    syncScrollBar(pane, model_.scrollRange(pane));
    panes_[p].box->update();
  }
}
