// The main window and the demo BASIC's programs as text: "Open BASIC
// program…", "Save BASIC program as text…" and .bas files dropped on the
// face. Both work on the machine's RAM as it is, and only when it holds the
// demo BASIC waiting at its prompt; a machine that is not the demo BASIC is
// never touched.
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QMimeData>
#include <span>

#include "machine.h"
#include "main_form.h"
#include "tools/basic_text.h"

namespace {

std::span<uint8_t> basicRam(tarvo::Machine& m) {
  std::vector<uint8_t>& ram = m.mem.rows[tarvo::kRam0Row].buffer;
  return {ram.data(), ram.size()};
}

bool isBasFile(const QUrl& url) {
  return url.isLocalFile() && url.toLocalFile().endsWith(".bas", Qt::CaseInsensitive);
}

}  // namespace

bool TMainForm::loadBasicProgram(const QString& path) {
  const std::span<uint8_t> ram = basicRam(*machine_);
  if (!tarvo::basic::hasBasic(ram)) {
    showWarning(tr("This machine does not run the demo BASIC."));
    return false;
  }
  if (!tarvo::basic::atPrompt(ram)) {
    showWarning(tr("A BASIC program can be loaded only while BASIC waits at its prompt."));
    return false;
  }
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) {
    loadFailed(path.toStdString());
    return false;
  }
  const QByteArray text = file.readAll();
  const tarvo::basic::Program p = tarvo::basic::parse(std::string_view(text.data(), text.size()));
  QString problem;
  const QString name = QFileInfo(path).fileName();
  for (const tarvo::basic::TextError& e : p.errors)
    problem += QString("%1:%2: %3\n").arg(name).arg(e.line).arg(QString::fromStdString(e.message));
  if (problem.isEmpty()) problem = QString::fromStdString(tarvo::basic::store(ram, p));
  if (!problem.isEmpty()) {
    showWarning(tr("The program was not loaded.\n%1").arg(problem.trimmed()));
    return false;
  }
  return true;
}

bool TMainForm::saveBasicProgram(const QString& path) {
  const std::span<uint8_t> ram = basicRam(*machine_);
  if (!tarvo::basic::hasBasic(ram)) {
    showWarning(tr("This machine does not run the demo BASIC."));
    return false;
  }
  const tarvo::basic::Listing l = tarvo::basic::list(ram);
  if (!l.ok) {
    showWarning(tr("The program cannot be listed: %1").arg(QString::fromStdString(l.error)));
    return false;
  }
  QFile file(path);
  if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
      file.write(l.text.data(), static_cast<qint64>(l.text.size())) !=
          static_cast<qint64>(l.text.size()) ||
      !file.flush()) {
    saveFailed(path.toStdString());
    return false;
  }
  return true;
}

void TMainForm::openBasicProgram() {
  const QString path = QFileDialog::getOpenFileName(this, tr("Open BASIC program"), QString(),
                                                    tr("BASIC programs (*.bas);;All files (*)"));
  if (!path.isEmpty()) loadBasicProgram(path);
}

void TMainForm::saveBasicProgramAs() {
  const QString path = QFileDialog::getSaveFileName(this, tr("Save BASIC program as text"),
                                                    QString(), tr("BASIC programs (*.bas)"));
  if (!path.isEmpty()) saveBasicProgram(path);
}

void TMainForm::dragEnterEvent(QDragEnterEvent* event) {
  const QMimeData* data = event->mimeData();
  if (data->hasUrls() && !data->urls().isEmpty() && isBasFile(data->urls().first()))
    event->acceptProposedAction();
}

void TMainForm::dropEvent(QDropEvent* event) {
  const QList<QUrl> urls = event->mimeData()->urls();
  if (urls.isEmpty() || !isBasFile(urls.first())) return;
  event->acceptProposedAction();
  loadBasicProgram(urls.first().toLocalFile());
}
