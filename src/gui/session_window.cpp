#include "session_window.h"

#include <QFontDatabase>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QVBoxLayout>
#include <string>

#include "debugger/session.h"
#include "debugger/symbols.h"
#include "machine.h"

using namespace tarvo;

namespace {

QString hex(uint32_t v, int digits) {
  return QString("%1").arg(v, digits, 16, QChar('0')).toUpper();
}

QString where(const SymbolTable* symbols, uint32_t address) {
  QString t = hex(address, 5);
  if (symbols != nullptr) {
    const std::string label = symbols->describe(static_cast<uint16_t>(address));
    if (!label.empty()) t += " " + QString::fromStdString(label);
  }
  return t;
}

}  // namespace

SessionWindow::SessionWindow(Machine& machine, DebugSession& session, QWidget* parent)
    : QWidget(parent, Qt::Window), m_(machine), session_(session) {
  setWindowTitle("Breakpoints");
  const QFont fixed = QFontDatabase::systemFont(QFontDatabase::FixedFont);
  auto* layout = new QVBoxLayout(this);
  status_ = new QLabel(this);
  status_->setObjectName("status");
  status_->setTextInteractionFlags(Qt::TextSelectableByMouse);
  layout->addWidget(status_);

  list_ = new QListWidget(this);
  list_->setFont(fixed);
  layout->addWidget(list_);
  auto* row = new QHBoxLayout;
  addEdit_ = new QLineEdit(this);
  addEdit_->setPlaceholderText("ADDR[:COND]   w PHYS[-LAST][:r|w|rw]   i LEVEL");
  auto* add = new QPushButton("Add", this);
  auto* toggle = new QPushButton("Enable/Disable", this);
  auto* remove = new QPushButton("Delete", this);
  row->addWidget(addEdit_, 1);
  row->addWidget(add);
  row->addWidget(toggle);
  row->addWidget(remove);
  layout->addLayout(row);

  record_ = new QCheckBox("Keep the history and the call stack", this);
  layout->addWidget(record_);
  auto* lists = new QGridLayout;
  lists->addWidget(new QLabel("Last instructions", this), 0, 0);
  lists->addWidget(new QLabel("Call stack", this), 0, 1);
  history_ = new QListWidget(this);
  calls_ = new QListWidget(this);
  history_->setFont(fixed);
  calls_->setFont(fixed);
  lists->addWidget(history_, 1, 0);
  lists->addWidget(calls_, 1, 1);
  layout->addLayout(lists, 1);

  auto addNow = [this] {
    if (addFromText(addEdit_->text())) addEdit_->clear();
  };
  connect(add, &QPushButton::clicked, this, addNow);
  connect(addEdit_, &QLineEdit::returnPressed, this, addNow);
  connect(toggle, &QPushButton::clicked, this, [this] {
    const int id = selectedId();
    for (const Breakpoint& b : session_.breakpoints())
      if (b.id == id) session_.setEnabled(id, !b.enabled);
    refresh();
  });
  connect(remove, &QPushButton::clicked, this, [this] {
    session_.remove(selectedId());
    refresh();
  });
  connect(record_, &QCheckBox::toggled, this, [this](bool on) {
    session_.setRecording(on);
    refresh();
  });
  resize(520, 460);
  refresh();
}

int SessionWindow::selectedId() const {
  const QListWidgetItem* item = list_->currentItem();
  return item != nullptr ? item->data(Qt::UserRole).toInt() : 0;
}

void SessionWindow::setStatus(const QString& text) {
  status_->setText(text);
}

bool SessionWindow::addFromText(const QString& qtext) {
  const std::string text = qtext.trimmed().toStdString();
  std::string error;
  int id = 0;
  if (text.size() > 2 && (text[0] == 'w' || text[0] == 'W') && text[1] == ' ') {
    // Hex is physical; a label is in the code segment.
    const SymbolTable* symbols = session_.symbols();
    const AddressReader typed = [&](std::string_view end, std::string* why) {
      return parseTypedFullAddress(end, symbols, m_.cpu, why);
    };
    if (const auto watch = parseWatchText(text.substr(2), typed, &error))
      id = session_.addWatchpoint(watch->start, watch->end, watch->access, {}, &error);
  } else if (text.size() > 2 && (text[0] == 'i' || text[0] == 'I') && text[1] == ' ') {
    const std::string level = text.substr(2);
    if (level.size() == 1 && level[0] >= '0' && level[0] <= '9') {
      id = session_.addInterruptBreak(level[0] - '0', &error);
    } else {
      error = "interrupt levels are 0 to 4";
    }
  } else {
    const auto colon = text.find(':');
    const auto address = parseTypedAddress(text.substr(0, colon), session_.symbols(), &error);
    if (address && *address > 0xFFFF) {
      error = "a breakpoint address is 16 bits";
    } else if (address) {
      id = session_.addBreakpoint(session_.codeAddress(static_cast<uint16_t>(*address)),
                                  colon == std::string::npos
                                      ? std::string_view{}
                                      : std::string_view(text).substr(colon + 1),
                                  &error);
    }
  }
  refresh();
  if (id == 0) {
    setStatus(QString::fromStdString(error));
    return false;
  }
  return true;
}

void SessionWindow::refresh() {
  const int selected = selectedId();
  list_->clear();
  for (const Breakpoint& b : session_.breakpoints()) {
    auto* item = new QListWidgetItem(QString::fromStdString(session_.describe(b)), list_);
    item->setData(Qt::UserRole, b.id);
    if (b.id == selected) list_->setCurrentItem(item);
  }
  {
    const QSignalBlocker block(record_);
    record_->setChecked(session_.recording());
  }
  history_->clear();
  for (const HistoryEntry& h : session_.history()) {
    QString line = QString("%1 ").arg(h.cycles, 12) + where(session_.symbols(), h.address);
    if (h.kind == HistoryEntry::InterruptEntry) line += QString("  interrupt %1").arg(h.level);
    if (h.kind == HistoryEntry::Idle) line += "  idle";
    history_->addItem(line);
  }
  history_->scrollToBottom();
  calls_->clear();
  const auto& frames = session_.callStack();
  for (auto it = frames.rbegin(); it != frames.rend(); ++it) {
    QString line =
        where(session_.symbols(), it->target) + "  from " + where(session_.symbols(), it->callSite);
    if (it->interrupt) line += QString("  (interrupt %1)").arg(it->level);
    calls_->addItem(line);
  }
}
