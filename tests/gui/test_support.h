// Shared pieces of the window tests: a machine directory with generated
// face bitmaps, and a watcher that answers warning boxes.
#pragma once

#include <QImage>
#include <QObject>
#include <QProcess>
#include <QProcessEnvironment>
#include <QRgb>
#include <QStringList>
#include <QTemporaryDir>
#include <QTimer>
#include <functional>

namespace guitest {

// Colours of the generated bitmaps. The face has no white pixel and no two
// horizontally or vertically adjacent pixels alike, so a one-pixel shift
// shows everywhere.
QRgb facePixel(int x, int y);
// Frames of the keys image: a one-pixel border around white, the pressed
// and released frames of each group in colours derived from where they sit.
QRgb pressedFrameColour(int imageX, int imageY);
QRgb releasedFrameColour(int imageX, int imageY);
constexpr QRgb kOverlayTop = 0xFF00AA11;
constexpr QRgb kOverlayBottom = 0xFF1100AA;

QImage makeFace(bool withOptionalKey);
QImage makeKeys();
QImage makeOverlay();

// A temporary machine directory, made the current directory for the life
// of the object. With files, it holds a character set, an on-chip ROM and
// the three face bitmaps, so the window starts without a warning.
class MachineDir {
 public:
  enum Content { Empty, Complete, CompleteWithoutOptionalKey };
  explicit MachineDir(Content content = Complete);
  ~MachineDir();

  QString path() const { return dir_.path(); }
  QString file(const QString& name) const { return dir_.filePath(name); }
  bool valid() const { return dir_.isValid(); }
  void writeFile(const QString& name, const QByteArray& bytes);
  QByteArray readFile(const QString& name) const;

 private:
  QTemporaryDir dir_;
  QString previous_;
};

// Watches for application-modal boxes, records their text, kind and
// buttons, and presses OK, so that a test that provokes a warning does
// not hang.
class BoxWatcher : public QObject {
  Q_OBJECT

 public:
  struct Box {
    QString text;
    bool warning = false;
    int buttons = 0;
    bool okOnly = false;
  };

  BoxWatcher();
  QStringList texts() const;
  const QList<Box>& boxes() const { return boxes_; }
  // Runs just before a box is answered.
  std::function<void(const Box&)> onBox;

 private:
  void poll();

  QTimer timer_;
  QList<Box> boxes_;
};

// An X server (Xvfb) for the life of the test program, started on first
// use; display() is empty when none could be started.
class VirtualDisplay {
 public:
  explicit VirtualDisplay(QString screen = "800x600x24") : screen_(std::move(screen)) {}
  ~VirtualDisplay();
  QString display();

 private:
  void start();

  QString screen_;
  bool tried_ = false;
  QProcess server_;
  QString display_;
};
VirtualDisplay& virtualDisplay();

// The environment with the program's windows on the given X display.
QProcessEnvironment onDisplay(const QString& display);

}  // namespace guitest
