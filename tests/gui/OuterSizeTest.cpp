// Outer sizes under a real window manager, whose frame is only known after
// the window is mapped: the cleanup window is 354 x 110, frame and title bar
// included.
#include <QApplication>
#include <QWindow>
#include <QtTest>

#include "cleanup/frmTarnwickMain.h"

using namespace tarnwick;

class OuterSizeTest : public QObject {
  Q_OBJECT
 private slots:
  void initTestCase() {
    QVERIFY2(QGuiApplication::platformName() == "xcb",
             "needs an X display with a window manager");
  }

  void cleanupWindowIncludesTheFrame() {
    TTarnwickMain w;
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w, 10000));
    // The frame as the display reports it, not QWidget's copy of it, which
    // is only refreshed on a move or a resize.
    const QWindow* window = w.windowHandle();
    QTRY_VERIFY_WITH_TIMEOUT(window->frameMargins().top() > 0, 10000);
    QTRY_COMPARE_WITH_TIMEOUT(window->frameGeometry().size(), QSize(354, 110), 10000);
    QVERIFY(w.height() < 110);  // the title bar takes its share
  }
};

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  OuterSizeTest test;
  return QTest::qExec(&test, argc, argv);
}

#include "OuterSizeTest.moc"
