// The main window's save states, rewind and input recording: keys F1 and
// F4 to F7, and the work before each run tick.
#include "main_form_states.h"

#include <QKeyEvent>
#include <QMessageBox>
#include <QPainter>

#include "frontpanel/state_file.h"
#include "frontpanel/typist.h"
#include "machine.h"
#include "main_form.h"

namespace {

QString slotFile(int slot) {
  return QString("state%1.tst").arg(slot);
}

}  // namespace

int TMainForm::stateSlot() const {
  return states_->slot;
}
bool TMainForm::rewinding() const {
  return states_->rewindHeld;
}
bool TMainForm::recordingInput() const {
  return states_->recorder.has_value();
}
bool TMainForm::replayingInput() const {
  return states_->replayer.has_value();
}
std::size_t TMainForm::rewindDepth() const {
  return states_->rewind.depth();
}

bool TMainForm::askToLoadForeignState(const QString& text) {
  return QMessageBox::question(this, kApplicationTitle, text) == QMessageBox::Yes;
}

bool TMainForm::saveStateFile(const QString& name) {
  const std::string file = name.toStdString();
  if (!tarvo::writeStateFile(runLoop_->path(file), *machine_, runLoop_->scheduler)) {
    showNotice(QString::fromStdString(tarvo::saveFailedMessage(file)));
    return false;
  }
  showNotice("Saved " + name);
  return true;
}

bool TMainForm::loadStateFile(const QString& name) {
  const std::string file = name.toStdString();
  tarvo::DecodedState state;
  const std::string reason = tarvo::readStateFile(runLoop_->path(file), state);
  if (!reason.empty()) {
    showNotice(QString::fromStdString(tarvo::stateRefusedMessage(file, reason)));
    return false;
  }
  if (!tarvo::sameImages(state, *machine_) &&
      !askToLoadForeignState(name + " was saved with other ROM images or another character set. "
                                    "Load it anyway?")) {
    showNotice("Not loaded: " + name);
    return false;
  }
  releaseMouseKey(QPoint(-1, -1));
  tarvo::applyState(state, *machine_, runLoop_->scheduler);
  afterStateChange();
  showNotice("Loaded " + name);
  return true;
}

// The machine is now another one: its face and LCD are drawn afresh, and a
// recording or replay that assumed the old run ends.
void TMainForm::afterStateChange() {
  stopRecording();
  if (states_->replayer) {
    states_->replayer.reset();
  }
  states_->cyclesAtCapture = runLoop_->cyclesRun();
  lcdImage_.initialise(machine_->lcd.control);
  // The power switch shows where the loaded machine's stands.
  drawKey(tarvo::keyPosition(tarvo::kKeyPower, lastGroup_),
          (machine_->cpu.F & tarvo::kFlagPower) != 0);
  // The LCD from the frame the state holds; composing a new one would change
  // the state just loaded.
  lcdImage_.render(machine_->lcd);
  update();
}

bool TMainForm::stopRecording() {
  StateKeys& st = *states_;
  if (!st.recorder) return true;
  const std::vector<tarvo::InputEvent> events = st.recorder->events();
  typist_->recordInto(nullptr);
  st.recorder.reset();
  const std::vector<uint8_t> start = std::move(st.recordingStart);
  st.recordingStart.clear();
  if (!tarvo::writeRecording(runLoop_->path(kRecordingStateFile), start,
                             runLoop_->path(kRecordingFile), events)) {
    showNotice(QString::fromStdString(tarvo::saveFailedMessage(kRecordingFile)));
    return false;
  }
  showNotice(QString("Recorded %1 events to %2").arg(events.size()).arg(kRecordingFile));
  return true;
}

void TMainForm::recordInput(tarvo::InputKind kind, int code) {
  if (states_->recorder) states_->recorder->record(runLoop_->cyclesRun(), kind, code);
}

bool TMainForm::stateKeyDown(const QKeyEvent* key) {
  StateKeys& st = *states_;
  const bool shift = key->modifiers() & Qt::ShiftModifier;
  switch (key->key()) {
    case Qt::Key_F5:
      if (!key->isAutoRepeat()) saveStateFile(shift ? slotFile(st.slot) : kQuickStateFile);
      return true;
    case Qt::Key_F7:
      if (!key->isAutoRepeat()) loadStateFile(shift ? slotFile(st.slot) : kQuickStateFile);
      return true;
    case Qt::Key_F6:
      st.slot = shift ? (st.slot + kStateSlots - 2) % kStateSlots + 1 : st.slot % kStateSlots + 1;
      showNotice(QString("Slot %1 (%2)").arg(st.slot).arg(slotFile(st.slot)));
      return true;
    case Qt::Key_F4:
      if (key->isAutoRepeat() || st.rewindHeld) return true;
      if (!st.rewindOn || st.rewind.depth() == 0) {
        showNotice(st.rewindOn ? "Rewind: no history yet" : "Rewind is off (RewindMemory=0)");
        return true;
      }
      st.rewindHeld = true;
      st.rewindWait = 0;
      releaseMouseKey(QPoint(-1, -1));
      stopRecording();
      st.replayer.reset();
      showNotice("Rewinding");
      return true;
    case Qt::Key_F1:
      if (key->isAutoRepeat()) return true;
      if (st.recorder) {
        stopRecording();
      } else if (shift) {
        std::vector<tarvo::InputEvent> events;
        const std::string reason = tarvo::readInputLog(runLoop_->path(kRecordingFile), events);
        if (!reason.empty()) {
          showNotice(QString::fromStdString(tarvo::stateRefusedMessage(kRecordingFile, reason)));
          return true;
        }
        if (!loadStateFile(kRecordingStateFile)) return true;
        st.replayer.emplace(std::move(events), runLoop_->cyclesRun());
        showNotice(QString("Replaying %1").arg(kRecordingFile));
      } else {
        // The recording starts from a state of its own, so that it can be
        // replayed from exactly there. The state is kept until the
        // recording ends and then saved with its events, the two files
        // together, so the pair on disk is always one recording's.
        st.recordingStart = tarvo::encodeState(*machine_, runLoop_->scheduler);
        st.replayer.reset();
        st.recorder.emplace(runLoop_->cyclesRun());
        typist_->recordInto(&*st.recorder);  // a paste is recorded as its keys
        showNotice(QString("Recording input to %1 (F1 stops)").arg(kRecordingFile));
      }
      return true;
    default:
      return false;
  }
}

void TMainForm::stateKeyUp(const QKeyEvent* key) {
  StateKeys& st = *states_;
  if (key->key() != Qt::Key_F4 || !st.rewindHeld) return;
  st.rewindHeld = false;
  showNotice("Resumed");
}

void TMainForm::statesDeactivate() {
  if (states_->rewindHeld) {
    states_->rewindHeld = false;
    showNotice("Resumed");
  }
}

void TMainForm::feedReplay() {
  StateKeys& st = *states_;
  if (!st.replayer) return;
  st.replayer->feed(*machine_, runLoop_->cyclesRun());
  if (st.replayer->done()) {
    st.replayer.reset();
    showNotice("Replay finished");
  }
}

bool TMainForm::statesBeforeRunTick() {
  StateKeys& st = *states_;
  if (!st.configured) {
    // The history's size comes from the settings, read at creation.
    st.configured = true;
    const int32_t megabytes = runLoop_->settings().rewindMegabytes;
    st.rewindOn = megabytes > 0;
    st.rewind = tarvo::RewindBuffer(static_cast<std::size_t>(megabytes) << 20);
  }
  if (st.rewindHeld) {
    if (st.rewindWait-- > 0) return false;
    st.rewindWait = kRewindStepTicks - 1;
    if (st.rewind.stepBack(*machine_, runLoop_->scheduler)) {
      afterStateChange();
    } else {
      showNotice("Rewind: the start of the history");
    }
    return false;
  }
  // A capture every tenth of an emulated second; none while the machine is
  // stopped, as nothing changes then but what the debugger does.
  const int64_t spacing = int64_t{machine_->timers.cyclesPerTick} *
                          machine_->timers.ticksPerSecond / kCapturesPerSecond;
  if (st.rewindOn && spacing > 0 && runLoop_->cyclesRun() - st.cyclesAtCapture >= spacing) {
    st.rewind.capture(*machine_, runLoop_->scheduler);
    st.cyclesAtCapture = runLoop_->cyclesRun();
  }
  feedReplay();
  return true;
}
