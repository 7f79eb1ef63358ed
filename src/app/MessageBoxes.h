// Modal message boxes. Every box of the program goes through ShowMessageBox,
// so that tests can answer boxes in advance (MessageBoxScript) instead of
// facing a modal loop, and so that every box copies its caption and text with
// Ctrl+C the way users know from Windows.
#pragma once

#include <QMessageBox>
#include <QString>
#include <vector>

namespace tarnwick {

// Message-box flags as Windows numbers them: a button set plus an icon.
namespace mb {
inline constexpr unsigned kOk = 0;
inline constexpr unsigned kOkCancel = 1;
inline constexpr unsigned kYesNo = 4;
inline constexpr unsigned kIconStop = 16;
inline constexpr unsigned kIconQuestion = 32;
inline constexpr unsigned kIconWarning = 48;
inline constexpr unsigned kIconInformation = 64;
}  // namespace mb

// A QMessageBox that puts "caption, text, buttons" on the clipboard on
// Ctrl+C, in the plain-text layout of a Windows message box.
class TMessageBox : public QMessageBox {
  Q_OBJECT
 public:
  using QMessageBox::QMessageBox;
  QString ClipboardText() const;

 protected:
  void keyPressEvent(QKeyEvent* event) override;
};

struct ShownBox {
  QString text;
  QString caption;
  QMessageBox::Icon icon = QMessageBox::NoIcon;
  QMessageBox::StandardButtons buttons;
};

// Shows a box modal to the application and returns the button pressed.
// Flags as in mb:: (button set | icon).
QMessageBox::StandardButton ShowMessageBox(const QString& text,
                                           const QString& caption,
                                           unsigned flags);

// While one exists, ShowMessageBox shows nothing: it records the box and
// returns the next queued answer (or, with none queued, the box's first
// button). For tests.
class MessageBoxScript {
 public:
  MessageBoxScript();
  ~MessageBoxScript();
  MessageBoxScript(const MessageBoxScript&) = delete;
  MessageBoxScript& operator=(const MessageBoxScript&) = delete;

  void QueueAnswer(QMessageBox::StandardButton answer);
  const std::vector<ShownBox>& Shown() const { return shown_; }
  void Clear() { shown_.clear(); }

 private:
  friend QMessageBox::StandardButton ShowMessageBox(const QString&,
                                                    const QString&, unsigned);
  std::vector<ShownBox> shown_;
  std::vector<QMessageBox::StandardButton> answers_;
};

}  // namespace tarnwick
