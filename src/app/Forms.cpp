#include "app/Forms.h"

#include <QAbstractButton>
#include <QCloseEvent>
#include <QKeyEvent>
#include <QMetaMethod>
#include <QScreen>
#include <QWindow>
#include <stdexcept>

#include "app/Application.h"

namespace tarnwick {

TForm::TForm(QWidget* parent) : QWidget(parent) { InitResources(); }

int TForm::HandlerIndex(const QByteArray& name, const char* params) const {
  const QByteArray signature =
      QMetaObject::normalizedSignature((name + params).constData());
  const int index = metaObject()->indexOfMethod(signature.constData());
  if (index < 0)
    throw std::logic_error("the layout of " + objectName().toStdString() +
                           " names a handler it lacks: " +
                           signature.toStdString());
  return index;
}

void TForm::Loaded() {
  for (QAbstractButton* button : findChildren<QAbstractButton*>()) {
    const QByteArray name = button->property("OnClick").toString().toUtf8();
    if (name.isEmpty()) continue;
    const int index = HandlerIndex(name, "(QObject*)");
    connect(button, &QAbstractButton::clicked, this,
            [this, index, button] { InvokeHandler(index, button); });
  }

  const QByteArray keyHandler = property("OnKeyPress").toString().toUtf8();
  if (!keyHandler.isEmpty() && property("KeyPreview").toBool()) {
    onKeyPress_ = HandlerIndex(keyHandler, "(QObject*,QChar*)");
    // Only controls that can hold the focus receive typed keys first; the
    // containers see them again when a control passes them on, and must not
    // run the handler a second time.
    for (QWidget* child : findChildren<QWidget*>())
      if (child->focusPolicy() != Qt::NoFocus) child->installEventFilter(this);
  }

  const QByteArray createHandler = property("OnCreate").toString().toUtf8();
  if (!createHandler.isEmpty())
    InvokeHandler(HandlerIndex(createHandler, "(QObject*)"), this);
}

void TForm::InvokeHandler(int index, QObject* sender, QChar* key) {
  const QMetaMethod method = metaObject()->method(index);
  try {
    if (key)
      method.invoke(this, Qt::DirectConnection, Q_ARG(QObject*, sender),
                    Q_ARG(QChar*, key));
    else
      method.invoke(this, Qt::DirectConnection, Q_ARG(QObject*, sender));
  } catch (...) {
    ReportException(std::current_exception());
  }
}

bool TForm::eventFilter(QObject* watched, QEvent* event) {
  if (onKeyPress_ >= 0 && event->type() == QEvent::KeyPress) {
    auto* keyEvent = static_cast<QKeyEvent*>(event);
    const bool enter =
        keyEvent->key() == Qt::Key_Return || keyEvent->key() == Qt::Key_Enter;
    // A focused button takes Enter as its own press: the window never sees it.
    if (enter && qobject_cast<QAbstractButton*>(watched)) return false;
    QChar key;
    if (enter && !(keyEvent->modifiers() & Qt::ControlModifier))
      key = QChar(13);
    else if (!keyEvent->text().isEmpty())
      key = keyEvent->text().at(0);
    else
      return false;  // no character typed (arrows, function keys, ...)
    InvokeHandler(onKeyPress_, watched, &key);
    // A handler that clears the character swallows it; otherwise the control
    // still receives it.
    return key.isNull();
  }
  return QWidget::eventFilter(watched, event);
}

void TForm::closeEvent(QCloseEvent* event) {
  QWidget::closeEvent(event);
  if (event->isAccepted()) emit Closed();
}

QMargins TForm::FrameMargins() const {
  // QWidget keeps a copy of the frame taken at its last move or resize, and a
  // window manager may add its frame after that without causing either; the
  // window itself asks the display when the frame has changed.
  const QWindow* window = windowHandle();
  return isWindow() && window ? window->frameMargins() : QMargins();
}

QSize TForm::OuterSize() const { return size().grownBy(FrameMargins()); }

void TForm::SetOuterSize(QSize outer) {
  outerSize_ = outer;
  FitOuterSize();
}

void TForm::FitOuterSize() {
  if (!outerSize_.isValid()) return;
  const QSize client = outerSize_.shrunkBy(FrameMargins());
  if (client == size()) return;
  if (minimumSize() == maximumSize())
    setFixedSize(client);
  else
    resize(client);
}

void TForm::moveEvent(QMoveEvent* event) {
  QWidget::moveEvent(event);
  NoticeFrame();
}

void TForm::paintEvent(QPaintEvent* event) {
  QWidget::paintEvent(event);
  NoticeFrame();
}

void TForm::NoticeFrame() {
  // A window manager adds its frame after the window is mapped, and may
  // change it later; Qt learns of it without necessarily moving or resizing
  // the window. The outer size is fitted again whenever the frame seen on a
  // move or a paint differs from the one last seen (queued, since a window
  // must not be resized while it paints).
  const QMargins frame = FrameMargins();
  if (frame == lastFrame_) return;
  lastFrame_ = frame;
  QMetaObject::invokeMethod(this, [this] { FitOuterSize(); }, Qt::QueuedConnection);
}

void TForm::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  if (!isWindow()) return;
  FitOuterSize();
  if (!centred_) {
    // Centred on the screen when first shown.
    centred_ = true;
    QScreen* screen = this->screen();
    if (screen) {
      QRect frame(pos(), OuterSize());
      frame.moveCenter(screen->availableGeometry().center());
      move(frame.topLeft());
    }
  }
}

}  // namespace tarnwick
