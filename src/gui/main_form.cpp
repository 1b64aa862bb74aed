#include "main_form.h"

#include <QActionGroup>
#include <QApplication>
#include <QClipboard>
#include <QCloseEvent>
#include <QContextMenuEvent>
#include <QCursor>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMenu>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QScreen>
#include <QSessionManager>
#include <QSettings>
#include <QStandardPaths>
#include <QWindow>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "cpu/exec.h"
#include "cpu/state.h"
#include "devices/keyboard.h"
#include "frontpanel/lcd_text.h"
#include "frontpanel/typist.h"
#include "frontpanel/window_fit.h"
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

// "1 key", "2 keys".
QString counted(std::size_t n, const char* one, const char* many) {
  return QString("%1 %2").arg(n).arg(n == 1 ? one : many);
}

// How long a notice stays over the face.
constexpr int kNoticeMs = 4000;

QRect scaled(const QRect& r, int zoom) {
  return QRect(r.x() * zoom, r.y() * zoom, r.width() * zoom, r.height() * zoom);
}

}  // namespace

TMainForm::TMainForm(QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::FramelessWindowHint),
      machine_(std::make_unique<tarvo::Machine>()),
      runLoop_(
          std::make_unique<tarvo::RunLoop>(*machine_, static_cast<tarvo::Messages&>(*this), ".")),
      typist_(std::make_unique<tarvo::Typist>(*machine_, *runLoop_)),
      states_(std::make_unique<StateKeys>()) {
  setWindowTitle("Tarvo");
  setFixedSize(kClientWidth, kClientHeight);
  setFocusPolicy(Qt::StrongFocus);
  setAcceptDrops(true);  // .bas files dropped on the face
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

  noticeTimer_.setSingleShot(true);
  noticeTimer_.setInterval(kNoticeMs);
  connect(&noticeTimer_, &QTimer::timeout, this, [this] {
    notice_.clear();
    update();
  });

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
  std::string problem;
  charMap_ = tarvo::loadCharMap(".", &problem);
  if (!problem.empty()) showWarning(QString::fromStdString(problem));
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
  saveView();
  if (recording_.isOpen()) recording_.close();
  closing_ = true;
  runLoop_->run.stopFlag = 1;
  runTimer_.stop();
  refreshTimer_.stop();
  secTimer_.stop();
  // An input recording ends as F1 ends it.
  if (!stopRecording()) saveFailed(kRecordingFile);
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
    runTickWithTyping();
    return;
  }
  // The run ticks of the emulated clock, one after another, until the host
  // time of this tick is nearly used up; the refresh and one-second ticks
  // keep to their host timers.
  QElapsedTimer host;
  host.start();
  do {
    feedReplay();
    runTickWithTyping();
  } while (fastForward_ && !run.stopFlag && host.nsecsElapsed() < kFastForwardNs);
}

void TMainForm::runTickWithTyping() {
  const bool wasPasting = typist_->busy();
  typist_->beforeTick();
  runLoop_->runTick();
  if (wasPasting && !typist_->busy()) {
    const std::size_t lost = typist_->timedOut() - timedOutBeforePaste_;
    showNotice(lost == 0 ? QString("Paste typed")
                         : "Paste typed; " + counted(lost, "key", "keys") + " not taken");
  }
}

void TMainForm::OnRefreshTimer() {
  runLoop_->refreshTick();
  lcdImage_.render(machine_->lcd);
  if (lcdImage_.changed) {
    const tarvo::LcdImage::Rect& r = lcdImage_.lastChange;
    updateFace(QRect(kLcdAt.x() + r.x, kLcdAt.y() + r.y, r.width, r.height));
    // Screen readers read the display from the window's description.
    setAccessibleDescription(lcdText());
  }
  if (recording_.isOpen()) recording_.refresh(lcdImage_);
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
  paintFace(painter, area, zoom_, zoom_ == 1 && devicePixelRatioF() == 1.0);
  if (!notice_.isEmpty()) {
    // The notice: a dark band with the text, at the bottom of the LCD.
    painter.setRenderHint(QPainter::Antialiasing);
    QFont font = painter.font();
    font.setPixelSize(11 * zoom_);
    painter.setFont(font);
    const QRect lcd =
        scaled(QRect(kLcdAt, QSize(tarvo::LcdImage::kWidth, tarvo::LcdImage::kHeight)), zoom_);
    const QFontMetrics metrics(font);
    const QString text = metrics.elidedText(notice_, Qt::ElideMiddle, lcd.width() - 12 * zoom_);
    const int h = metrics.height() + 6 * zoom_;
    const QRect band(lcd.left(), lcd.bottom() + 1 - h, lcd.width(), h);
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(0, 0, 0, 200));
    painter.drawRoundedRect(band, 4 * zoom_, 4 * zoom_);
    painter.setPen(Qt::white);
    painter.drawText(band, Qt::AlignCenter, text);
  }
  lcdImage_.changed = 0;
}

void TMainForm::paintFace(QPainter& painter, const QRect& area, int zoom, bool exact) {
  if (exact) {
    painter.drawImage(area.topLeft(), face_.composite(), area);
    return;
  }
  painter.save();
  painter.setClipRect(area);
  // The face art smoothly, from the face pixels under the area and one
  // more on every side, which the smoothing reads.
  const QRect face = face_.composite().rect();
  const QRect from = QRect(QPoint(area.left() / zoom - 1, area.top() / zoom - 1),
                           QPoint(area.right() / zoom + 1, area.bottom() / zoom + 1))
                         .intersected(face);
  painter.setRenderHint(QPainter::SmoothPixmapTransform, true);
  painter.drawImage(scaled(from, zoom), face_.composite(), from);
  // The LCD dot for dot.
  painter.setRenderHint(QPainter::SmoothPixmapTransform, false);
  const QRect lcd(kLcdAt, lcdView_.size());
  if (scaled(lcd, zoom).intersects(area)) painter.drawImage(scaled(lcd, zoom), lcdView_);
  painter.restore();
}

void TMainForm::updateFace(const QRect& faceArea) {
  if (zoom_ == 1 && devicePixelRatioF() == 1.0) {
    update(faceArea);
    return;
  }
  // Smoothing reaches one face pixel beyond the area.
  update(scaled(faceArea.adjusted(-1, -1, 1, 1), zoom_));
}

QPoint TMainForm::facePoint(QPointF windowPoint) const {
  return QPoint(static_cast<int>(std::floor(windowPoint.x() / zoom_)),
                static_cast<int>(std::floor(windowPoint.y() / zoom_)));
}

namespace {

tarvo::ScreenRect screenRect(const QRect& r) {
  return {r.x(), r.y(), r.width(), r.height()};
}

}  // namespace

int TMainForm::largestZoomOnScreen() const {
  const QScreen* s = screen();
  if (!s) return kMaxZoom;
  const int fits = tarvo::largestFittingZoom(screenRect(s->availableGeometry()), kClientWidth,
                                             kClientHeight, kMaxZoom);
  return std::max(fits, zoom_);
}

void TMainForm::setZoom(int zoom) {
  zoom = std::clamp(zoom, kMinZoom, kMaxZoom);
  if (zoom == zoom_) return;
  if (pos() != zoomPlacedAt_) zoomCentre2_ = QPoint(2 * x() + width(), 2 * y() + height());
  zoom_ = zoom;
  setFixedSize(kClientWidth * zoom_, kClientHeight * zoom_);
  // Grow and shrink about the centre, kept on the screen.
  tarvo::ScreenRect frame = tarvo::centredAt(zoomCentre2_.x(), zoomCentre2_.y(), width(), height());
  if (const QScreen* s = screen())
    frame = tarvo::keptInside(frame, screenRect(s->availableGeometry()));
  move(frame.x, frame.y);
  zoomPlacedAt_ = pos();
  update();
}

void TMainForm::rememberView() {
  rememberView_ = true;
  QSettings settings;
  const int zoom = settings.value("window/zoom", 1).toInt();
  if (!settings.contains("window/position")) {
    setZoom(zoom);
    return;
  }
  const QPoint at = settings.value("window/position").toPoint();
  // Only where a screen will show it, and wholly on that screen, at a zoom
  // that fits there.
  for (QScreen* s : QGuiApplication::screens()) {
    const QRect avail = s->availableGeometry();
    if (!avail.contains(at)) continue;
    const int fits =
        tarvo::largestFittingZoom(screenRect(avail), kClientWidth, kClientHeight, kMaxZoom);
    zoom_ = std::clamp(std::min(zoom, fits), kMinZoom, kMaxZoom);
    setFixedSize(kClientWidth * zoom_, kClientHeight * zoom_);
    const tarvo::ScreenRect frame =
        tarvo::keptInside({at.x(), at.y(), width(), height()}, screenRect(avail));
    move(frame.x, frame.y);
    return;
  }
  setZoom(zoom);
}

void TMainForm::saveView() {
  if (!rememberView_) return;
  QSettings settings;
  settings.setValue("window/zoom", zoom_);
  settings.setValue("window/position", pos());
}

// ---- Pictures ----

QImage TMainForm::lcdPicture() const {
  return lcdView_.scaled(lcdView_.size() * zoom_, Qt::IgnoreAspectRatio, Qt::FastTransformation)
      .convertToFormat(QImage::Format_RGB32);
}

QImage TMainForm::facePicture() {
  face_.drawLcd(lcdView_, kLcdAt);
  QImage picture(QSize(kClientWidth, kClientHeight) * zoom_, QImage::Format_RGB32);
  QPainter painter(&picture);
  paintFace(painter, picture.rect(), zoom_, zoom_ == 1);
  return picture;
}

QString TMainForm::picturesFolder() {
  QString folder = QStandardPaths::writableLocation(QStandardPaths::PicturesLocation);
  if (folder.isEmpty()) folder = QDir::homePath();
  return folder;
}

QString TMainForm::datedPath(const QString& kind, const QString& suffix) const {
  const QString folder = picturesFolder();
  QDir().mkpath(folder);
  const QString stamp = QDateTime::currentDateTime().toString("yyyyMMdd-HHmmss");
  const QString base = QDir(folder).filePath(QString("tarvo-%1-%2").arg(kind, stamp));
  QString path = base + suffix;
  for (int n = 2; QFileInfo::exists(path); ++n)
    path = QString("%1-%2%3").arg(base).arg(n).arg(suffix);
  return path;
}

QString TMainForm::saveScreenshot(const QImage& image, const QString& kind) {
  const QString path = datedPath(kind, ".png");
  if (!image.save(path, "PNG")) {
    showNotice(tr("Could not save %1").arg(path));
    return {};
  }
  showNotice(tr("Saved %1").arg(path));
  return path;
}

void TMainForm::toggleRecording() {
  if (recording_.isOpen()) {
    showNotice(recording_.close() ? tr("Saved %1").arg(recordingPath_)
                                  : tr("Could not save %1").arg(recordingPath_));
    return;
  }
  recordingPath_ = datedPath("lcd", ".gif");
  if (!recording_.open(recordingPath_.toStdString(), zoom_)) {
    showNotice(tr("Could not save %1").arg(recordingPath_));
    return;
  }
  // Frames come with the refreshes from now on.
  showNotice(tr("Recording %1").arg(recordingPath_));
}

QString TMainForm::saveLcdScreenshot() {
  return saveScreenshot(lcdPicture(), "lcd");
}

QString TMainForm::saveFaceScreenshot() {
  return saveScreenshot(facePicture(), "face");
}

void TMainForm::showNotice(const QString& text) {
  notice_ = text;
  noticeTimer_.start();
  update();
}

// ---- Paste ----

void TMainForm::pasteText(const QString& text) {
  const QList<uint> ucs4 = text.toUcs4();
  const std::u32string chars(ucs4.begin(), ucs4.end());
  std::size_t skipped = 0;
  const std::vector<tarvo::Keystroke> strokes =
      tarvo::keystrokesForText(chars, charMap_ ? &*charMap_ : nullptr, &skipped);
  if (!typist_->busy()) timedOutBeforePaste_ = typist_->timedOut();
  typist_->type(strokes);
  const QString typing = "Typing " + counted(strokes.size(), "key", "keys");
  showNotice(skipped == 0 ? typing
                          : typing + "; " + counted(skipped, "character", "characters") +
                                " without a key left out");
}

void TMainForm::cancelPaste() {
  if (!typist_->busy()) return;
  typist_->cancel();
  showNotice(tr("Paste cancelled"));
}

bool TMainForm::pasting() const {
  return typist_->busy();
}

void TMainForm::drawKey(const KeyHit& key, bool pressed) {
  const KeyFrameGeometry g = frameOf(key);
  const QPoint at(key.x, key.y);
  QRect changed;
  if (key.code == tarvo::kKeyPower)
    changed = face_.drawKeyFrame(g, at, pressed);  // a switch: never shifted
  else
    changed = pressed ? face_.drawKeyPressed(g, at) : face_.drawKeyReleased(g, at);
  updateFace(changed);
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
  FormMouseDown(event->button(), facePoint(event->position()));
  // The right button has no part in the machine; left unaccepted, its press
  // brings the context menu.
  if (event->button() == Qt::RightButton) event->ignore();
}

void TMainForm::mouseMoveEvent(QMouseEvent* event) {
  FormMouseMove(facePoint(event->position()));
  if (movePending_ || movingByHand_)
    followPointer(event->globalPosition().toPoint(), event->buttons());
}

void TMainForm::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton) movePending_ = movingByHand_ = false;
  FormMouseUp(event->button(), facePoint(event->position()));
}

void TMainForm::followPointer(QPoint globalPos, Qt::MouseButtons buttons) {
  if (!(buttons & Qt::LeftButton)) {
    movePending_ = movingByHand_ = false;
    return;
  }
  if (movingByHand_) {
    move(moveWindowFrom_ + globalPos - moveFrom_);
    return;
  }
  if ((globalPos - moveFrom_).manhattanLength() < kMoveThreshold) return;
  movePending_ = false;
  QWindow* window = windowHandle();
  if (window && window->startSystemMove()) return;
  movingByHand_ = true;
  moveWindowFrom_ = pos();
  move(moveWindowFrom_ + globalPos - moveFrom_);
}

void TMainForm::contextMenuEvent(QContextMenuEvent* event) {
  showMenuAt(event->globalPos());
}

void TMainForm::startWindowDrag() {
  movePending_ = true;
  movingByHand_ = false;
  moveFrom_ = QCursor::pos();
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
      if (windowShortcut(key)) return true;
      if (stateKeyDown(key)) return true;
      // While a paste types, the host keyboard leaves the keys to it.
      if (pasting()) return true;
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
        if (!pasting()) FormKeyUp();
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
      updateFace(face_.swapLabels());
      break;
    case Qt::Key_F3:
      showDebugWindow();
      break;
    case Qt::Key_F9:
      powerOnReset();
      break;
    default:
      break;
  }
}

void TMainForm::FormKeyUp() {
  if (machine_->keys.hostKey != 0) recordInput(tarvo::InputKind::HostUp);
  if (mappedCharHeld_) recordInput(tarvo::InputKind::ChordHold, 0);
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
  // A paste holds the host key itself and goes on in the background.
  if (pasting()) return;
  if (machine_->keys.hostKey != 0) recordInput(tarvo::InputKind::HostUp);
  tarvo::releaseHostKey(*machine_);
}

bool TMainForm::windowShortcut(const QKeyEvent* key) {
  const Qt::KeyboardModifiers mods = key->modifiers() & ~Qt::KeypadModifier;
  const bool ctrl = mods & Qt::ControlModifier;
  const bool shift = mods & Qt::ShiftModifier;
  switch (key->key()) {
    case Qt::Key_C:
      if (!ctrl) return false;
      if (shift)
        QGuiApplication::clipboard()->setImage(lcdPicture());  // Ctrl+Shift+C: the LCD image
      else
        QGuiApplication::clipboard()->setText(lcdText());  // Ctrl+C: what the LCD says
      return true;
    case Qt::Key_V:
      if (!ctrl) return false;
      pasteText(QGuiApplication::clipboard()->text());
      return true;
    case Qt::Key_Equal:
    case Qt::Key_Plus:
      if (!ctrl) return false;
      setZoom(std::min(zoom_ + 1, largestZoomOnScreen()));
      return true;
    case Qt::Key_Minus:
      if (!ctrl) return false;
      setZoom(zoom_ - 1);
      return true;
    case Qt::Key_0:
      if (!ctrl) return false;
      setZoom(1);
      return true;
    case Qt::Key_F10:
      toggleRecording();
      return true;
    case Qt::Key_F12:
      if (shift)
        saveFaceScreenshot();
      else
        saveLcdScreenshot();
      return true;
    case Qt::Key_Escape:
      // Escape is the machine's BRK key, except while a paste types.
      if (!pasting()) return false;
      cancelPaste();
      return true;
    case Qt::Key_Menu:
      showMenuAt(mapToGlobal(rect().center()));
      return true;
    default:
      return false;
  }
}

QMenu* TMainForm::createContextMenu() {
  auto* menu = new QMenu(this);
  auto add = [menu](const QString& text, const QString& keys, auto slot) {
    QAction* action = menu->addAction(text, slot);
    if (!keys.isEmpty()) action->setShortcut(QKeySequence(keys));
    // The window reads its keys itself; the menu only shows them.
    action->setShortcutContext(Qt::WidgetShortcut);
    return action;
  };
  QMenu* zoomMenu = menu->addMenu(tr("Zoom"));
  // One zoom is ticked at a time; those too large for this screen are not
  // offered.
  auto* zooms = new QActionGroup(zoomMenu);
  const int largest = largestZoomOnScreen();
  for (int z = kMinZoom; z <= kMaxZoom; ++z) {
    QAction* a = zoomMenu->addAction(tr("%1x").arg(z), this, [this, z] { setZoom(z); });
    a->setCheckable(true);
    a->setChecked(z == zoom_);
    a->setEnabled(z <= largest);
    zooms->addAction(a);
  }
  zoomMenu->addSeparator();
  QAction* in = zoomMenu->addAction(
      tr("Zoom In"), this, [this] { setZoom(std::min(zoom_ + 1, largestZoomOnScreen())); });
  in->setShortcut(QKeySequence("Ctrl++"));
  in->setEnabled(zoom_ < largest);
  QAction* out = zoomMenu->addAction(tr("Zoom Out"), this, [this] { setZoom(zoom_ - 1); });
  out->setShortcut(QKeySequence("Ctrl+-"));
  out->setEnabled(zoom_ > kMinZoom);
  QAction* actual = zoomMenu->addAction(tr("Actual Size"), this, [this] { setZoom(1); });
  actual->setShortcut(QKeySequence("Ctrl+0"));
  for (QAction* a : zoomMenu->actions()) a->setShortcutContext(Qt::WidgetShortcut);

  menu->addSeparator();
  add(tr("Save LCD Screenshot"), "F12", [this] { saveLcdScreenshot(); });
  add(tr("Save Face Screenshot"), "Shift+F12", [this] { saveFaceScreenshot(); });
  add(recording() ? tr("Stop Recording") : tr("Record LCD"), "F10", [this] { toggleRecording(); });
  add(tr("Copy LCD Text"), "Ctrl+C", [this] { QGuiApplication::clipboard()->setText(lcdText()); });
  add(tr("Copy LCD Image"), "Ctrl+Shift+C",
      [this] { QGuiApplication::clipboard()->setImage(lcdPicture()); });
  menu->addSeparator();
  add(tr("Paste as Typing"), "Ctrl+V", [this] { pasteText(QGuiApplication::clipboard()->text()); });
  add(tr("Cancel Paste"), "Esc", [this] { cancelPaste(); })->setEnabled(pasting());
  add(tr("Open BASIC program\u2026"), "", [this] { openBasicProgram(); });
  add(tr("Save BASIC program as text\u2026"), "", [this] { saveBasicProgramAs(); });
  menu->addSeparator();
  add(tr("Swap Key Labels"), "F2", [this] { updateFace(face_.swapLabels()); });
  add(tr("Debug Window"), "F3", [this] { showDebugWindow(); });
  add(tr("Power-On Reset"), "F9", [this] { powerOnReset(); });
  menu->addSeparator();
  // The save-state actions, as their keys do them.
  auto stateKey = [this](Qt::Key key, Qt::KeyboardModifiers mods) {
    const QKeyEvent press(QEvent::KeyPress, key, mods);
    stateKeyDown(&press);
  };
  add(tr("Quick Save"), "F5", [=] { stateKey(Qt::Key_F5, Qt::NoModifier); });
  add(tr("Quick Load"), "F7", [=] { stateKey(Qt::Key_F7, Qt::NoModifier); });
  add(tr("Save to Slot %1").arg(stateSlot()), "Shift+F5",
      [=] { stateKey(Qt::Key_F5, Qt::ShiftModifier); });
  add(tr("Load from Slot %1").arg(stateSlot()), "Shift+F7",
      [=] { stateKey(Qt::Key_F7, Qt::ShiftModifier); });
  add(tr("Next Slot"), "F6", [=] { stateKey(Qt::Key_F6, Qt::NoModifier); });
  add(tr("Rewind (hold)"), "F4", [] {})->setEnabled(false);
  add(recordingInput() ? tr("Stop Recording Input") : tr("Record Input"), "F1",
      [=] { stateKey(Qt::Key_F1, Qt::NoModifier); });
  add(tr("Replay Input"), "Shift+F1", [=] { stateKey(Qt::Key_F1, Qt::ShiftModifier); });
  menu->addSeparator();
  add(tr("Minimise"), "", [this] { minimiseApplication(); });
  add(tr("Close"), "", [this] { close(); });
  return menu;
}

void TMainForm::powerOnReset() {
  tarvo::powerOnSequence(*machine_);
  recordInput(tarvo::InputKind::Reset);
}

void TMainForm::showMenuAt(QPoint globalPos) {
  QMenu* menu = createContextMenu();
  menu->setAttribute(Qt::WA_DeleteOnClose);
  menu->popup(globalPos);
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
