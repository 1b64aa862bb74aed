#include "test_support.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QMessageBox>
#include <QStandardPaths>
#include <array>

#include "frontpanel/keymap.h"

namespace guitest {

namespace {

// The offscreen platform's own screen (800 x 600) is too small for the
// larger zooms; the tests' screen is a large one, however they are started.
const bool kLargeOffscreenScreen = [] {
  if (qgetenv("QT_QPA_PLATFORM") == "offscreen")
    qputenv("QT_QPA_PLATFORM", "offscreen:configfile=" TARVO_OFFSCREEN_SCREEN);
  return true;
}();

}  // namespace

QRgb facePixel(int x, int y) {
  // Red steps by 7 along x, green by 5 along y; blue keeps them from white.
  return qRgb((x * 7) & 0xFF, (y * 5) & 0xFF, 0x20 + ((x + y) & 0x3F));
}

QRgb pressedFrameColour(int imageX, int imageY) {
  return qRgb(0x80, imageX, imageY);
}
QRgb releasedFrameColour(int imageX, int imageY) {
  return qRgb(0x40, imageX, imageY);
}

QImage makeFace(bool withOptionalKey) {
  QImage face(673, 294, QImage::Format_RGB32);
  for (int y = 0; y < face.height(); ++y)
    for (int x = 0; x < face.width(); ++x) face.setPixel(x, y, facePixel(x, y));
  if (!withOptionalKey) face.setPixel(17, 231, face.pixel(18, 231));
  return face;
}

QImage makeKeys() {
  QImage keys(168, 99, QImage::Format_RGB32);
  keys.fill(0xFFFFFFFF);
  auto frame = [&keys](int left, int top, int w, int h, QRgb colour) {
    for (int x = left; x < left + w; ++x) {
      keys.setPixel(x, top, colour);
      keys.setPixel(x, top + h - 1, colour);
    }
    for (int y = top; y < top + h; ++y) {
      keys.setPixel(left, y, colour);
      keys.setPixel(left + w - 1, y, colour);
    }
  };
  for (const tarvo::KeyGroup& g : tarvo::kKeyGroups) {
    frame(g.imageX, g.imageY, g.width, g.height, pressedFrameColour(g.imageX, g.imageY));
    frame(g.imageX + g.width, g.imageY, g.width, g.height, releasedFrameColour(g.imageX, g.imageY));
  }
  return keys;
}

QImage makeOverlay() {
  QImage overlay(432, 12, QImage::Format_RGB32);
  for (int y = 0; y < 12; ++y)
    for (int x = 0; x < 432; ++x) overlay.setPixel(x, y, y < 6 ? kOverlayTop : kOverlayBottom);
  return overlay;
}

MachineDir::MachineDir(Content content) : previous_(QDir::currentPath()) {
  QDir::setCurrent(dir_.path());
  if (content == Empty) return;
  writeFile("charset.bin", QByteArray(2048, '\0'));
  writeFile("rom0.bin", QByteArray(6144, '\0'));
  makeKeys().save(file("keys.bmp"), "BMP");
  makeOverlay().save(file("overlay.bmp"), "BMP");
  makeFace(content == Complete).save(file("face.bmp"), "BMP");
}

MachineDir::~MachineDir() {
  QDir::setCurrent(previous_);
}

void MachineDir::writeFile(const QString& name, const QByteArray& bytes) {
  QFile f(file(name));
  if (f.open(QIODevice::WriteOnly)) f.write(bytes);
}

QByteArray MachineDir::readFile(const QString& name) const {
  QFile f(file(name));
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

BoxWatcher::BoxWatcher() {
  timer_.setInterval(10);
  connect(&timer_, &QTimer::timeout, this, &BoxWatcher::poll);
  timer_.start();
}

QStringList BoxWatcher::texts() const {
  QStringList list;
  for (const Box& b : boxes_) list << b.text;
  return list;
}

void BoxWatcher::poll() {
  auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
  if (!box || !box->isVisible()) return;
  Box seen;
  seen.text = box->text();
  seen.warning = box->icon() == QMessageBox::Warning;
  seen.buttons = static_cast<int>(box->buttons().size());
  seen.okOnly = seen.buttons == 1 && box->button(QMessageBox::Ok) != nullptr;
  boxes_ << seen;
  if (onBox) onBox(seen);
  if (QAbstractButton* ok = box->button(QMessageBox::Ok))
    ok->click();
  else
    box->reject();
}

VirtualDisplay::~VirtualDisplay() {
  if (server_.state() != QProcess::NotRunning) {
    server_.kill();
    server_.waitForFinished(5000);
  }
}

QString VirtualDisplay::display() {
  if (!tried_) start();
  return display_;
}

void VirtualDisplay::start() {
  tried_ = true;
  const QString xvfb = QStandardPaths::findExecutable("Xvfb");
  if (xvfb.isEmpty()) return;
  // -displayfd: the server picks a free display and writes its number.
  server_.start(xvfb, {"-displayfd", "1", "-screen", "0", screen_, "-nolisten", "tcp"});
  if (!server_.waitForStarted(5000)) return;
  QElapsedTimer timer;
  timer.start();
  QByteArray out;
  while (!out.contains('\n') && timer.elapsed() < 10000 && server_.waitForReadyRead(1000))
    out += server_.readAllStandardOutput();
  bool ok = false;
  const int number = out.trimmed().toInt(&ok);
  if (ok) display_ = ":" + QString::number(number);
}

VirtualDisplay& virtualDisplay() {
  static VirtualDisplay d;
  return d;
}

QProcessEnvironment onDisplay(const QString& display) {
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert("QT_QPA_PLATFORM", "xcb");
  env.insert("DISPLAY", display);
  // On an X server the toolkit loads the desktop bus library, which keeps a
  // buffer to the end that the leak checker of a sanitizer build counts as
  // lost. The window's own memory is checked by the offscreen runs.
  if (env.contains("ASAN_OPTIONS"))
    env.insert("ASAN_OPTIONS", env.value("ASAN_OPTIONS") + ":detect_leaks=0");
  return env;
}

}  // namespace guitest
