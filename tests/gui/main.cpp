// Runs the window tests on Qt's offscreen platform inside the program's own
// QApplication (whose event dispatch carries the general error report).
// Argument: the test class to run (all when omitted).
#include <QtTest/QtTest>
#include <memory>

#include "app/Application.h"

QObject* MakeWindowsTest();
QObject* MakeStartupTest();

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  int qtArgc = 1;
  tarnwick::TQtApplication app(qtArgc, argv);
  const QString only = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QString();
  int failures = 0;
  for (auto make : {MakeWindowsTest, MakeStartupTest}) {
    std::unique_ptr<QObject> test(make());
    if (only.isEmpty() || only == test->metaObject()->className())
      failures += QTest::qExec(test.get(), 1, argv);
  }
  return failures == 0 ? 0 : 1;
}
