// Outer sizes under a real window manager, whose frame is only known after
// the window is mapped: the cleanup window is 354 x 110 and the expanded
// parameter window 261 high, frame and title bar included.
#include <QApplication>
#include <QTemporaryDir>
#include <QtTest>

#include "cleanup/frmTarnwickMain.h"
#include "params/frmDbPara.h"
#include "platform/registry/RegFileHive.h"

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
    QTRY_VERIFY_WITH_TIMEOUT(w.frameGeometry().size() != w.geometry().size(), 5000);
    QTRY_COMPARE_WITH_TIMEOUT(w.frameGeometry().size(), QSize(354, 110), 5000);
    QVERIFY(w.height() < 110);  // the title bar takes its share
  }

  void expandedParameterWindowIncludesTheFrame() {
    QTemporaryDir dir;
    RegFileHive hive((dir.path() + "/HKLM.reg").toStdString());
    TDbPara w(hive);
    w.show();
    QTRY_VERIFY_WITH_TIMEOUT(w.frameGeometry().size() != w.geometry().size(), 5000);
    QCOMPARE(w.size(), QSize(483, 105));  // the short look is a client size
    w.btMod->click();
    QTRY_COMPARE_WITH_TIMEOUT(w.frameGeometry().height(), 261, 5000);
    QCOMPARE(w.frameGeometry().width() - w.width(),
             w.frameGeometry().size().width() - w.geometry().width());
  }
};

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  OuterSizeTest test;
  return QTest::qExec(&test, argc, argv);
}

#include "OuterSizeTest.moc"
