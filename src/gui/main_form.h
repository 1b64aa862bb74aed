// The main window: the machine's face with its LCD, the mouse and keyboard
// on its keys, and the three timers that drive the run loop. Everything that
// needs no window lives in the run loop, the key map and the LCD image; the
// handlers here only draw, forward events and run the timers.
#pragma once

#include <QImage>
#include <QTimer>
#include <QWidget>
#include <climits>
#include <memory>
#include <optional>

#include "face.h"
#include "frontpanel/charmap.h"
#include "frontpanel/files.h"
#include "frontpanel/input_log.h"
#include "frontpanel/keymap.h"
#include "frontpanel/lcd_image.h"
#include "frontpanel/lcd_recording.h"
#include "frontpanel/run_loop.h"

class QMenu;
class ShutdownSignals;
struct StateKeys;

namespace tarvo {
struct Machine;
class Typist;
}  // namespace tarvo

class TMainForm : public QWidget, private tarvo::Messages {
  Q_OBJECT

 public:
  static constexpr int kClientWidth = 673;
  static constexpr int kClientHeight = 294;
  static constexpr QPoint kLcdAt{63, 45};
  // The application's title: the caption of its warning boxes and the
  // name in --help. The windows' own captions carry nothing else.
  static constexpr const char* kApplicationTitle = "Zelmo Tarvo Emulator";

  // Creating the window loads every machine file from the current directory
  // (FormCreate); showing it for the first time starts the machine.
  explicit TMainForm(QWidget* parent = nullptr);
  ~TMainForm() override;

  tarvo::Machine& machine() { return *machine_; }
  tarvo::RunLoop& runLoop() { return *runLoop_; }
  const Face& face() const { return face_; }
  const tarvo::LcdImage& lcdImage() const { return lcdImage_; }
  const QTimer& runTimer() const { return runTimer_; }
  const QTimer& refreshTimer() const { return refreshTimer_; }
  const QTimer& secTimer() const { return secTimer_; }
  int highestKey() const { return highestKey_; }
  // The LCD as four lines of text, as the last refresh composed it.
  QString lcdText() const;
  // True once FormClose has saved the machine.
  bool isClosed() const { return closed_; }
  // True while the host's Tab key is held: every run tick then runs as many
  // ticks' worth of cycles as fit in kFastForwardNs of host time.
  bool fastForward() const { return fastForward_; }
  static constexpr qint64 kFastForwardNs = 8'000'000;
  // Host time one run tick may take, whatever the clock: the rest of its
  // work is dropped, so the window always answers.
  static constexpr qint64 kRunTickHostLimitNs = 100'000'000;

  // Zoom: the face and the LCD drawn at 1x to 4x. The face art is scaled
  // smoothly, the LCD dot for dot; mouse positions are mapped back onto the
  // face. 1x on a screen of device pixel ratio 1 draws exactly the face.
  static constexpr int kMinZoom = 1;
  static constexpr int kMaxZoom = 4;
  int zoom() const { return zoom_; }
  // Grows or shrinks the window about its centre, kept on its screen.
  void setZoom(int zoom);
  // The largest zoom whose window fits the screen the window is on; the
  // zoom keys and the menu offer no more (nor less than the current zoom).
  int largestZoomOnScreen() const;
  // The user's remembered zoom and window position (in the user's
  // configuration folder, never in the machine directory), read now and
  // written when the window closes. Windows that never call this remember
  // nothing.
  void rememberView();

  // The LCD at the current zoom, dot for dot; the whole face as the window
  // shows it at the current zoom.
  QImage lcdPicture() const;
  QImage facePicture();
  // Saves one of them as PNG in the user's pictures folder under a dated
  // name and shows the path in a notice; returns the path, empty on failure.
  QString saveLcdScreenshot();
  QString saveFaceScreenshot();
  // Starts an animated recording of the LCD at the current zoom in the
  // pictures folder, or ends the one running; the notice shows the file.
  void toggleRecording();
  bool recording() const { return recording_.isOpen(); }
  // The folder screenshots and recordings go to.
  static QString picturesFolder();

  // Types text through the key matrix as the program takes the keys;
  // characters without a key are left out and counted in a notice.
  void pasteText(const QString& text);
  void cancelPaste();

  // The demo BASIC's program in and out as text (main_form_basic.cpp):
  // only while the machine runs the demo BASIC at its prompt; otherwise a
  // notice says why not. Each returns whether it was done.
  bool loadBasicProgram(const QString& path);
  bool saveBasicProgram(const QString& path);
  void openBasicProgram();
  void saveBasicProgramAs();
  bool pasting() const;
  const tarvo::Typist& typist() const { return *typist_; }

  // A short message drawn over the face for a few seconds; empty when none.
  const QString& notice() const { return notice_; }
  void showNotice(const QString& text);

  // The context menu with every action of the window and its key.
  QMenu* createContextMenu();

  // The window that F3 shows (and a finished trace or breakpoint run).
  void setDebugForm(QWidget* debugForm) { debugForm_ = debugForm; }
  // Signals and the end of the desktop session close the window like its
  // close key does, so the machine's state is saved.
  void connectShutdown(ShutdownSignals* shutdown);

  // Window handlers.
  void FormCreate();
  void FormShow();
  void FormClose();
  void FormDeactivate();
  void FormPaint(const QRect& area);
  void FormKeyDown(int key);
  void FormKeyUp();
  void FormKeyPress(char32_t ch);
  void FormMouseDown(Qt::MouseButton button, QPoint at);
  void FormMouseMove(QPoint at);
  void FormMouseUp(Qt::MouseButton button, QPoint at);
  void OnRunTimer();
  void OnRefreshTimer();
  void OnSecTimer();

  // Save states, rewind and input recording (main_form_states.cpp).
  // F5 / F7 save and load "quick.tst"; Shift+F5 / Shift+F7 save and load the
  // numbered slot ("state1.tst" ... "state4.tst"), which F6 (Shift+F6)
  // moves on (back); F4 held runs the machine backwards; F1 starts and
  // stops recording into "recording.txt" (with the state it starts from in
  // "recording.tst"), Shift+F1 replays it. All in the machine directory.
  static constexpr int kStateSlots = 4;
  int stateSlot() const;
  bool rewinding() const;
  bool recordingInput() const;
  bool replayingInput() const;
  std::size_t rewindDepth() const;
  // Saving and loading a state file of the machine directory, as the keys do.
  bool saveStateFile(const QString& name);
  bool loadStateFile(const QString& name);

 signals:
  // The window has closed and the state is saved: the program may end.
  void closed();

 protected:
  bool event(QEvent* event) override;
  void showEvent(QShowEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void contextMenuEvent(QContextMenuEvent* event) override;
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dropEvent(QDropEvent* event) override;

  // Platform operations, separate so that tests can see them happen.
  virtual void startWindowDrag();
  virtual void minimiseApplication();
  virtual void showWarning(const QString& text);
  // Whether to load a state taken with other ROM images.
  virtual bool askToLoadForeignState(const QString& text);

 private:
  void loadFailed(const std::string& file) override;
  void saveFailed(const std::string& file) override;

  void showDebugWindow();
  // Window keys that are not machine keys (zoom, screenshots, paste, menu);
  // true when the key was one of them.
  bool windowShortcut(const QKeyEvent* key);
  void runTickWithTyping();
  QPoint facePoint(QPointF windowPoint) const;
  void updateFace(const QRect& faceArea);
  void paintFace(QPainter& painter, const QRect& area, int zoom, bool exact);
  QString saveScreenshot(const QImage& image, const QString& kind);
  QString datedPath(const QString& kind, const QString& suffix) const;
  void showMenuAt(QPoint globalPos);
  // F9 and the menu: the power-on sequence, recorded as input.
  void powerOnReset();
  void saveView();
  void releaseMouseKey(QPoint at);
  void drawKey(const tarvo::KeyHit& key, bool pressed);
  void onShutdownSignal(int signalNumber);

  // Save states, rewind and input recording (main_form_states.cpp).
  bool stateKeyDown(const QKeyEvent* key);
  void stateKeyUp(const QKeyEvent* key);
  // The window lost the keyboard: a held F4's release will not arrive.
  void statesDeactivate();
  void recordInput(tarvo::InputKind kind, int code = 0);
  // Before each run tick: the rewind history and a replay's due events.
  // False while rewinding: the machine does not run then.
  bool statesBeforeRunTick();
  void feedReplay();
  void afterStateChange();
  // Ends an input recording and saves it; false when the save failed.
  bool stopRecording();

  std::unique_ptr<tarvo::Machine> machine_;
  std::unique_ptr<tarvo::RunLoop> runLoop_;
  std::unique_ptr<tarvo::Typist> typist_;
  std::optional<tarvo::CharMap> charMap_;  // read with the machine's files
  bool mappedCharHeld_ = false;            // a character of the map holds its keys
  Face face_;
  tarvo::LcdImage lcdImage_;
  QImage lcdView_;  // lcdImage_'s pixels seen as an image
  QTimer runTimer_;
  QTimer refreshTimer_;
  QTimer secTimer_;
  QWidget* debugForm_ = nullptr;
  int lastGroup_ = tarvo::kLastGroup;
  int highestKey_ = tarvo::kHighestKey;
  bool shown_ = false;
  bool closing_ = false;
  bool closed_ = false;
  bool closeRequested_ = false;  // asked for before the machine was started
  bool fastForward_ = false;
  // A press beside the keys arms a window move, which starts once the
  // pointer has gone a few pixels with the button held: a click alone never
  // hands the pointer to the window manager, whose move would then wait for
  // a release that has already happened. Where the window system cannot
  // move the window, it follows the pointer by hand.
  static constexpr int kMoveThreshold = 4;
  // The centre the zoom keeps, doubled so that odd sizes do not round it
  // away, and where the last zoom change put the window: a window moved
  // since then takes its centre afresh.
  QPoint zoomCentre2_;
  QPoint zoomPlacedAt_{INT_MIN, INT_MIN};
  bool movePending_ = false;
  bool movingByHand_ = false;
  QPoint moveFrom_;        // pointer on the screen at the press
  QPoint moveWindowFrom_;  // window position when a move by hand began
  void followPointer(QPoint globalPos, Qt::MouseButtons buttons);
  bool firstPaintReported_ = false;
  std::unique_ptr<StateKeys> states_;
  int zoom_ = 1;
  bool rememberView_ = false;
  QString notice_;
  std::size_t timedOutBeforePaste_ = 0;  // the typist's count when a paste began
  tarvo::LcdRecording recording_;
  QString recordingPath_;
  QTimer noticeTimer_;
};
