#include "main_form.h"

#include <QApplication>
#include <QClipboard>
#include <QCloseEvent>
#include <QDateTime>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>
#include <QSessionManager>
#include <QWindow>
#include <cstdio>
#include <cstdlib>

#include "cpu/exec.h"
#include "cpu/state.h"
#include "devices/keyboard.h"
#include "frontpanel/lcd_text.h"
#include "machine.h"
#include "machine/operations.h"
#include "main_form_states.h"
#include "shutdown_signals.h"

using tarvo::KeyHit;

namespace {

KeyFrameGeometry frameOf(const KeyHit& key) {
  const tarvo::KeyGroup& g = tarvo::kKeyGroups[key.group];
  return KeyFrameGeometry{g.width, g.height, g.imageX, g.imageY};
}

}  // namespace

TMainForm::TMainForm(QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::FramelessWindowHint),
      machine_(std::make_unique<tarvo::Machine>()),
      runLoop_(
          std::make_unique<tarvo::RunLoop>(*machine_, static_cast<tarvo::Messages&>(*this), ".")),
      states_(std::make_unique<StateKeys>()) {
  setWindowTitle("Tarvo");
  setFixedSize(kClientWidth, kClientHeight);
  setFocusPolicy(Qt::StrongFocus);
  if (const QScreen* screen = QGuiApplication::primaryScreen()) {
    const QRect area = screen->availableGeometry();
    move(area.center() - QPoint(kClientWidth / 2, kClientHeight / 2));
  }

  lcdView_ =
      QImage(reinterpret_cast<const uchar*>(lcdImage_.pixels.data()), tarvo::LcdImage::kWidth,
             tarvo::LcdImage::kHeight, tarvo::LcdImage::kWidth * 4, QImage::Format_RGB32);

  // The run tick must keep its 10 ms as closely as the host allows; being a
  // timer of the UI thread, no tick overlaps another or any other handler.
  runTimer_.setTimerType(Qt::PreciseTimer);
  runTimer_.setInterval(tarvo::kRunInterval);
  refreshTimer_.setInterval(tarvo::kRefreshInterval);
  secTimer_.setInterval(tarvo::kSecondInterval);
  connect(&runTimer_, &QTimer::timeout, this, &TMainForm::OnRunTimer);
  connect(&refreshTimer_, &QTimer::timeout, this, &TMainForm::OnRefreshTimer);
  connect(&secTimer_, &QTimer::timeout, this, &TMainForm::OnSecTimer);

  runLoop_->showDebugger = [this] { showDebugWindow(); };
  runLoop_->setHostTimeLimit(std::chrono::nanoseconds(kRunTickHostLimitNs));

  FormCreate();
}

TMainForm::~TMainForm() = default;

void TMainForm::connectShutdown(ShutdownSignals* shutdown) {
  connect(shutdown, &ShutdownSignals::shutdownRequested, this, &TMainForm::onShutdownSignal);
  shutdown->start();
  // The end of the desktop session: save as on any close.
  connect(qApp, &QGuiApplication::commitDataRequest, this, [this](QSessionManager&) { close(); });
  connect(qApp, &QCoreApplication::aboutToQuit, this, [this] {
    if (shown_ && !closing_) FormClose();
  });
}

// ---- Creation, show and close ----

void TMainForm::FormCreate() {
  // The face covers the whole client area: no background is painted under it.
  setAttribute(Qt::WA_OpaquePaintEvent);
  setAttribute(Qt::WA_NoSystemBackground);
  runLoop_->create();
}

void TMainForm::FormShow() {
  // The face first: whether it has the optional key decides the port's
  // input line 0 when the run loop starts the machine.
  if (!face_.loadKeys("keys.bmp")) loadFailed("keys.bmp");
  if (!face_.loadOverlay("overlay.bmp")) loadFailed("overlay.bmp");
  if (!face_.loadFace("face.bmp")) loadFailed("face.bmp");
  update();

  const bool hasOptionalKey =
      !face_.samePixels(QPoint(tarvo::kOptionalKeyProbeX, tarvo::kOptionalKeyProbeY),
                        QPoint(tarvo::kOptionalKeyProbeX + 1, tarvo::kOptionalKeyProbeY));
  lastGroup_ = hasOptionalKey ? tarvo::kLastGroup : tarvo::kLastGroupNoOptional;
  highestKey_ = hasOptionalKey ? tarvo::kHighestKey : tarvo::kHighestKeyNoOptional;

  runLoop_->show(hasOptionalKey);
  // Grey LCD, and a remembered control byte unlike the one the power-on
  // sequence left, so the first refresh draws the whole LCD.
  lcdImage_.initialise(machine_->lcd.control);

  runTimer_.start();
  refreshTimer_.start();
  secTimer_.start();
  lcdImage_.changed = 1;
}

void TMainForm::FormClose() {
  closing_ = true;
  runLoop_->run.stopFlag = 1;
  runTimer_.stop();
  refreshTimer_.stop();
  secTimer_.stop();
  runLoop_->close();  // closes the disk link and saves registers and RAM
  closed_ = true;
}

void TMainForm::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  if (shown_ || event->spontaneous()) return;
  shown_ = true;
  FormShow();
  // A close asked for while the start-up warnings were up waits until the
  // machine is fully started, then saves like any other close.
  if (closeRequested_) QTimer::singleShot(0, this, &QWidget::close);
}

void TMainForm::closeEvent(QCloseEvent* event) {
  if (!shown_ || closing_) {
    // Not started yet, or already saving (a warning box of the close is up):
    // the one close in progress finishes the job.
    closeRequested_ = !shown_;
    event->ignore();
    return;
  }
  FormClose();
  event->accept();
  emit closed();
}

void TMainForm::onShutdownSignal(int) {
  close();
}

// ---- Timers ----

void TMainForm::OnRunTimer() {
  if (!statesBeforeRunTick()) return;
  const tarvo::RunControl& run = runLoop_->run;
  // Fast-forward leaves the skipped ticks after the debug window closes,
  // and a stopped machine, on host time.
  if (!fastForward_ || run.resumeDelay > 0 || run.stopFlag) {
    runLoop_->runTick();
    return;
  }
  // The run ticks of the emulated clock, one after another, until the host
  // time of this tick is nearly used up; the refresh and one-second ticks
  // keep to their host timers.
  QElapsedTimer host;
  host.start();
  do {
    feedReplay();
    runLoop_->runTick();
  } while (fastForward_ && !run.stopFlag && host.nsecsElapsed() < kFastForwardNs);
}

void TMainForm::OnRefreshTimer() {
  runLoop_->refreshTick();
  lcdImage_.render(machine_->lcd);
  if (lcdImage_.changed) {
    const tarvo::LcdImage::Rect& r = lcdImage_.lastChange;
    update(QRect(kLcdAt.x() + r.x, kLcdAt.y() + r.y, r.width, r.height));
    // Screen readers read the display from the window's description.
    setAccessibleDescription(lcdText());
  }
  lcdImage_.changed = 0;
}

QString TMainForm::lcdText() const {
  return QString::fromStdString(tarvo::lcdText(machine_->lcd));
}

void TMainForm::OnSecTimer() {
  runLoop_->secondTick();
}

// ---- Drawing ----

void TMainForm::paintEvent(QPaintEvent* event) {
  FormPaint(event->rect());
  // With TARVO_REPORT_FIRST_PAINT set, the first frame's wall-clock time
  // goes to stderr, so that start-up can be timed from outside.
  if (!firstPaintReported_) {
    firstPaintReported_ = true;
    if (std::getenv("TARVO_REPORT_FIRST_PAINT"))
      std::fprintf(stderr, "tarvo: first frame painted at %lld ms since the epoch\n",
                   static_cast<long long>(QDateTime::currentMSecsSinceEpoch()));
  }
}

void TMainForm::FormPaint(const QRect& area) {
  face_.drawLcd(lcdView_, kLcdAt);
  QPainter painter(this);
  painter.drawImage(area.topLeft(), face_.composite(), area);
  paintNotice(painter);
  lcdImage_.changed = 0;
}

void TMainForm::drawKey(const KeyHit& key, bool pressed) {
  const KeyFrameGeometry g = frameOf(key);
  const QPoint at(key.x, key.y);
  QRect changed;
  if (key.code == tarvo::kKeyPower)
    changed = face_.drawKeyFrame(g, at, pressed);  // a switch: never shifted
  else
    changed = pressed ? face_.drawKeyPressed(g, at) : face_.drawKeyReleased(g, at);
  update(changed);
}

void TMainForm::releaseMouseKey(QPoint at) {
  tarvo::KeyMatrix& keys = machine_->keys;
  if (keys.mouseKey == 0) return;
  const KeyHit key = tarvo::keyPosition(keys.mouseKey, lastGroup_);
  if (tarvo::pointOnKey(key, at.x(), at.y())) return;
  // The power switch shows where it actually stands: its pressed frame is
  // the on position.
  if (key.code == tarvo::kKeyPower)
    drawKey(key, (machine_->cpu.F & tarvo::kFlagPower) != 0);
  else
    drawKey(key, false);
  keys.mouseKey = 0;
  recordInput(tarvo::InputKind::FaceUp, key.code);
}

// ---- Mouse ----

void TMainForm::FormMouseDown(Qt::MouseButton button, QPoint at) {
  if (button != Qt::LeftButton) return;
  releaseMouseKey(QPoint(-1, -1));
  const KeyHit key = tarvo::keyAt(at.x(), at.y(), lastGroup_, highestKey_);
  tarvo::holdKey(*machine_, tarvo::KeyHolder::Mouse, key.code);
  if (key.code == 0) {
    // The window has no frame: a press beside the keys drags it.
    startWindowDrag();
    return;
  }
  if (key.code == tarvo::kKeyPower)
    drawKey(key, (machine_->cpu.F & tarvo::kFlagPower) == 0);  // where it will go
  else
    drawKey(key, true);
  tarvo::pressKey(*machine_, tarvo::KeyHolder::Mouse, key.code);
  recordInput(tarvo::InputKind::FaceDown, key.code);
}

void TMainForm::FormMouseMove(QPoint at) {
  releaseMouseKey(at);
}

void TMainForm::FormMouseUp(Qt::MouseButton button, QPoint) {
  if (button != Qt::LeftButton) return;
  switch (machine_->keys.mouseKey) {
    case tarvo::kKeyPower:
      tarvo::togglePowerSwitch(*machine_);
      recordInput(tarvo::InputKind::Power);
      releaseMouseKey(QPoint(-1, -1));  // drawn where it now stands
      break;
    case tarvo::kKeyMinimise:
      releaseMouseKey(QPoint(-1, -1));
      minimiseApplication();
      break;
    case tarvo::kKeyClose:
      releaseMouseKey(QPoint(-1, -1));
      close();
      break;
    case tarvo::kKeyWake:
      releaseMouseKey(QPoint(-1, -1));
      tarvo::releaseWakeKey(*machine_);
      recordInput(tarvo::InputKind::Wake);
      break;
    default:
      releaseMouseKey(QPoint(-1, -1));
      break;
  }
}

void TMainForm::mousePressEvent(QMouseEvent* event) {
  FormMouseDown(event->button(), event->position().toPoint());
}

void TMainForm::mouseMoveEvent(QMouseEvent* event) {
  FormMouseMove(event->position().toPoint());
}

void TMainForm::mouseReleaseEvent(QMouseEvent* event) {
  FormMouseUp(event->button(), event->position().toPoint());
}

void TMainForm::startWindowDrag() {
  if (QWindow* window = windowHandle()) window->startSystemMove();
}

void TMainForm::minimiseApplication() {
  for (QWidget* w : QApplication::topLevelWidgets())
    if (w->isVisible()) w->showMinimized();
}

// ---- Keyboard ----

bool TMainForm::event(QEvent* event) {
  // Keys are taken here, before the widget's own focus handling (Tab) and
  // before any child could see them.
  switch (event->type()) {
    case QEvent::KeyPress: {
      const auto* key = static_cast<QKeyEvent*>(event);
      // Held Tab runs the machine as fast as the host allows. Tab has no
      // key of the machine and types nothing.
      if (key->key() == Qt::Key_Tab) fastForward_ = true;
      if (key->key() == Qt::Key_C && (key->modifiers() & Qt::ControlModifier)) {
        // Ctrl+C copies what the LCD shows; the machine sees no key.
        QGuiApplication::clipboard()->setText(lcdText());
        return true;
      }
      if (stateKeyDown(key)) return true;
      FormKeyDown(key->key());
      for (char32_t ch : key->text().toUcs4()) FormKeyPress(ch);
      return true;
    }
    case QEvent::KeyRelease: {
      // Held keys repeat as press and release pairs on some hosts; only the
      // real release lets go of the key.
      const auto* key = static_cast<QKeyEvent*>(event);
      if (!key->isAutoRepeat()) {
        if (key->key() == Qt::Key_Tab) fastForward_ = false;
        stateKeyUp(key);
        FormKeyUp();
      }
      return true;
    }
    case QEvent::WindowDeactivate:
      // The release of a Tab held while the window loses the keyboard
      // never arrives here.
      fastForward_ = false;
      statesDeactivate();
      FormDeactivate();
      break;
    default:
      break;
  }
  return QWidget::event(event);
}

void TMainForm::FormKeyDown(int key) {
  using tarvo::HostKey;
  auto press = [this](HostKey k) {
    tarvo::pressHostKey(*machine_, k);
    recordInput(tarvo::InputKind::HostKey, tarvo::hostKeyCode(k));
  };
  switch (key) {
    case Qt::Key_Backspace:
      press(HostKey::Backspace);
      break;
    case Qt::Key_Return:
    case Qt::Key_Enter:
      press(HostKey::Enter);
      break;
    case Qt::Key_Escape:
      press(HostKey::Escape);
      break;
    case Qt::Key_PageUp:
      press(HostKey::PageUp);
      break;
    case Qt::Key_PageDown:
      press(HostKey::PageDown);
      break;
    case Qt::Key_Left:
      press(HostKey::Left);
      break;
    case Qt::Key_Up:
      press(HostKey::Up);
      break;
    case Qt::Key_Right:
      press(HostKey::Right);
      break;
    case Qt::Key_Down:
      press(HostKey::Down);
      break;
    case Qt::Key_Insert:
      press(HostKey::Insert);
      break;
    case Qt::Key_Delete:
      press(HostKey::Delete);
      break;
    case Qt::Key_F8:
      press(HostKey::F8);
      break;
    case Qt::Key_F2:
      update(face_.swapLabels());
      break;
    case Qt::Key_F3:
      showDebugWindow();
      break;
    case Qt::Key_F9:
      tarvo::powerOnSequence(*machine_);
      recordInput(tarvo::InputKind::Reset);
      break;
    default:
      break;
  }
}

void TMainForm::FormKeyUp() {
  if (machine_->keys.hostKey != 0) recordInput(tarvo::InputKind::HostUp);
  if (mappedCharHeld_) recordInput(tarvo::InputKind::FaceUp);
  tarvo::releaseHostKey(*machine_);
  if (mappedCharHeld_) tarvo::releaseMappedChar(*machine_);
  mappedCharHeld_ = false;
}

void TMainForm::FormKeyPress(char32_t ch) {
  if (tarvo::pressHostChar(*machine_, ch)) {
    recordInput(tarvo::InputKind::HostChar, tarvo::hostCharKey(ch));
  } else if (charMap_ && tarvo::pressMappedChar(*machine_, *charMap_, ch)) {
    mappedCharHeld_ = true;
    if (states_->recorder)
      tarvo::recordMappedChar(*states_->recorder, runLoop_->cyclesRun(), *charMap_, ch);
  }
}

void TMainForm::FormDeactivate() {
  releaseMouseKey(QPoint(-1, -1));
  if (machine_->keys.hostKey != 0) recordInput(tarvo::InputKind::HostUp);
  tarvo::releaseHostKey(*machine_);
}

void TMainForm::showDebugWindow() {
  tarvo::debugShow(runLoop_->run);
  if (!debugForm_) return;
  debugForm_->show();
  debugForm_->raise();
  debugForm_->activateWindow();
}

// ---- Messages ----

void TMainForm::showWarning(const QString& text) {
  QMessageBox box(QMessageBox::Warning, kApplicationTitle, text, QMessageBox::Ok, this);
  box.exec();
}

void TMainForm::loadFailed(const std::string& file) {
  showWarning(QString::fromStdString(tarvo::loadFailedMessage(file)));
}

void TMainForm::saveFailed(const std::string& file) {
  showWarning(QString::fromStdString(tarvo::saveFailedMessage(file)));
}
