#include "app/MessageBoxes.h"

#include <QAbstractButton>
#include <QApplication>
#include <QClipboard>
#include <QKeyEvent>
#include <QKeySequence>

namespace tarnwick {
namespace {

MessageBoxScript* g_script = nullptr;

QMessageBox::StandardButtons ButtonsFor(unsigned flags) {
  switch (flags & 0x0F) {
    case mb::kOkCancel: return QMessageBox::Ok | QMessageBox::Cancel;
    case 3: return QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel;
    case mb::kYesNo: return QMessageBox::Yes | QMessageBox::No;
    default: return QMessageBox::Ok;
  }
}

QMessageBox::Icon IconFor(unsigned flags) {
  switch (flags & 0xF0) {
    case mb::kIconStop: return QMessageBox::Critical;
    case mb::kIconQuestion: return QMessageBox::Question;
    case mb::kIconWarning: return QMessageBox::Warning;
    case mb::kIconInformation: return QMessageBox::Information;
    default: return QMessageBox::NoIcon;
  }
}

QMessageBox::StandardButton FirstButton(QMessageBox::StandardButtons buttons) {
  for (auto b : {QMessageBox::Ok, QMessageBox::Yes, QMessageBox::No,
                 QMessageBox::Cancel})
    if (buttons & b) return b;
  return QMessageBox::Ok;
}

}  // namespace

QString TMessageBox::ClipboardText() const {
  // The layout Windows uses: dashed rules around the caption, the text and
  // the button captions (each followed by three blanks).
  const QString rule = QStringLiteral("---------------------------\n");
  QString out = rule + windowTitle() + "\n" + rule + text() + "\n" + rule;
  for (const QAbstractButton* b : buttons()) out += b->text().remove('&') + "   ";
  out += "\n" + rule;
  return out;
}

void TMessageBox::keyPressEvent(QKeyEvent* event) {
  if (event == QKeySequence::Copy) {
    QApplication::clipboard()->setText(ClipboardText());
    event->accept();
    return;
  }
  QMessageBox::keyPressEvent(event);
}

MessageBoxScript::MessageBoxScript() { g_script = this; }
MessageBoxScript::~MessageBoxScript() {
  if (g_script == this) g_script = nullptr;
}
void MessageBoxScript::QueueAnswer(QMessageBox::StandardButton answer) {
  answers_.push_back(answer);
}

QMessageBox::StandardButton ShowMessageBox(const QString& text,
                                           const QString& caption,
                                           unsigned flags) {
  const auto buttons = ButtonsFor(flags);
  const auto icon = IconFor(flags);
  if (g_script) {
    g_script->shown_.push_back({text, caption, icon, buttons});
    if (g_script->answers_.empty()) return FirstButton(buttons);
    const auto answer = g_script->answers_.front();
    g_script->answers_.erase(g_script->answers_.begin());
    return answer;
  }
  TMessageBox box(icon, caption, text, buttons, QApplication::activeWindow());
  box.setWindowModality(Qt::ApplicationModal);
  return static_cast<QMessageBox::StandardButton>(box.exec());
}

}  // namespace tarnwick
