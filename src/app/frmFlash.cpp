#include "app/frmFlash.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QThread>
#include <QWindow>

#include "app/dmLibData.h"
#include "app/unGlobal.h"
#include "ui_frmFlash.h"

namespace tarnwick {

TFlash::TFlash() : ui_(std::make_unique<Ui::TFlash>()) {
  setWindowFlags(Qt::SplashScreen | Qt::FramelessWindowHint);
  ui_->setupUi(this);
  Image1 = ui_->Image1;
  lbView = ui_->lbView;
  Label1 = ui_->Label1;
  Image2 = ui_->Image2;
  setFixedSize(400, 300);
  Loaded();
}

TFlash::~TFlash() {
  if (Flash == this) Flash = nullptr;
}

void TFlash::FormCreate(QObject* /*Sender*/) {
  lbView->setText(QString::fromUtf8(StatusText.c_str()));
  // One line, as wide as its text.
  ensurePolished();
  lbView->ensurePolished();
  lbView->resize(lbView->sizeHint().width(), lbView->height());
}

void TFlash::ShowNow() {
  show();
  raise();
  repaint();
  // Under X11 the window must be mapped and exposed before a paint reaches
  // the screen. Wait for that (bounded), taking no user input meanwhile.
  if (QWindow* window = windowHandle()) {
    QElapsedTimer waited;
    waited.start();
    while (!window->isExposed() && waited.elapsed() < 1000) {
      QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
      if (!window->isExposed()) QThread::msleep(5);
    }
  }
  QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
  repaint();
}

}  // namespace tarnwick
