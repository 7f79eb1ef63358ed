// The base of the program's windows. A window loads its layout from its
// Qt Designer file and then calls Loaded(), which wires the event handlers
// that the layout names to the window's methods of those names:
//
//   on the window:  "OnCreate"   -> a method (QObject* Sender), run once
//                   "OnKeyPress" -> a method (QObject* Sender, QChar* Key),
//                                   run for each typed character when the
//                                   window's "KeyPreview" property is true
//   on a button:    "OnClick"    -> a method (QObject* Sender)
//
// A handler that throws is abandoned and its failure goes to the general
// error report; the window stays open. A failing creation handler still lets
// the window be created.
#pragma once

#include <QByteArray>
#include <QChar>
#include <QMargins>
#include <QSize>
#include <QWidget>

namespace tarnwick {

class TForm : public QWidget {
  Q_OBJECT
 public:
  explicit TForm(QWidget* parent = nullptr);

  // Closes the window (as the close box does).
  void Close() { close(); }

  // The size of the window with its title bar and frame, as the platform
  // draws them (no frame: the client size).
  QSize OuterSize() const;
  // Sizes the window so that its outer size is `outer`; applied again when
  // the window manager's frame becomes known.
  void SetOuterSize(QSize outer);

 signals:
  // The window was closed (the close was accepted).
  void Closed();

 protected:
  // Wires the handlers named by the layout, then runs the creation handler.
  void Loaded();

  void closeEvent(QCloseEvent* event) override;
  void showEvent(QShowEvent* event) override;
  void moveEvent(QMoveEvent* event) override;
  void paintEvent(QPaintEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  int HandlerIndex(const QByteArray& name, const char* params) const;
  void InvokeHandler(int index, QObject* sender, QChar* key = nullptr);
  // The frame the window manager draws around the window (none: empty).
  QMargins FrameMargins() const;
  void FitOuterSize();
  void NoticeFrame();

  int onKeyPress_ = -1;
  bool centred_ = false;
  QMargins lastFrame_;
  QSize outerSize_;
};

}  // namespace tarnwick
