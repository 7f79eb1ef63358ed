// The start-up paths, through the real registry file, unixODBC, FreeTDS and
// the SQL Server stand-in.
#include <QtTest/QtTest>

#include "GuiTestSupport.h"
#include "StandinSession.h"
#include "app/Application.h"
#include "app/MessageBoxes.h"
#include "app/Startup.h"
#include "app/dmLibData.h"
#include "app/frmFlash.h"
#include "app/unGlobal.h"
#include "cleanup/frmTarnwickMain.h"
#include "params/frmDbPara.h"

using namespace tarnwick;
using tarnwick::test::HiveFile;
using tarnwick::test::RegValues;

namespace {

// Notes each splash window that is shown, and what its label said.
class SplashWatch : public QObject {
 public:
  SplashWatch() { qApp->installEventFilter(this); }
  ~SplashWatch() override { qApp->removeEventFilter(this); }
  int shown = 0;
  QString text;

 protected:
  bool eventFilter(QObject* o, QEvent* e) override {
    if (e->type() == QEvent::Show)
      if (auto* f = qobject_cast<TFlash*>(o)) {
        ++shown;
        text = f->lbView->text();
      }
    return false;
  }
};

}  // namespace

class StartupTest : public QObject {
  Q_OBJECT

 private slots:
  void paths_data() {
    QTest::addColumn<bool>("withKey");
    QTest::addColumn<RegValues>("values");
    QTest::addColumn<QString>("serverLogin");
    QTest::addColumn<QString>("serverPassword");
    QTest::addColumn<bool>("refuse");
    QTest::addColumn<QString>("mainWindow");
    QTest::addColumn<QString>("status");
    QTest::addColumn<int>("splashes");
    QTest::addColumn<int>("boxes");
    const QString connecting = QString::fromUtf8(kConnectingText);
    QTest::newRow("no key: sa with an empty password on LibODBC")
        << false << RegValues{} << "sa" << "" << false << "TarnwickMain" << "OK" << 1 << 0;
    QTest::newRow("stored parameters")
        << true
        << RegValues{{"ODBCNAME", " LibODBC "},
                     {"USERNAME", EncodeCredential("tarn")},
                     {"PASSWORD", " " + EncodeCredential("pw") + " "}}
        << "tarn" << "pw" << false << "TarnwickMain" << "OK" << 1 << 0;
    QTest::newRow("key with blank values: no design defaults")
        << true << RegValues{{"ODBCNAME", ""}, {"USERNAME", " "}, {"PASSWORD", ""}} << "sa" << ""
        << false << "DbPara" << connecting << 1 << 0;
    QTest::newRow("key without values") << true << RegValues{} << "sa" << "" << false << "DbPara"
                                        << connecting << 1 << 0;
    QTest::newRow("refused login")
        << true
        << RegValues{{"ODBCNAME", "LibODBC"},
                     {"USERNAME", EncodeCredential("sa")},
                     {"PASSWORD", EncodeCredential("geheim")}}
        << "sa" << "geheim" << true << "DbPara" << connecting << 1 << 0;
    // The parameter window's own load reports the bad login; start-up shows
    // nothing.
    QTest::newRow("login with a letter")
        << true << RegValues{{"ODBCNAME", "LibODBC"}, {"USERNAME", "3707x403"}} << "sa" << ""
        << false << "DbPara" << "" << 0 << 1;
  }

  void paths() {
    QFETCH(bool, withKey);
    QFETCH(RegValues, values);
    QFETCH(QString, serverLogin);
    QFETCH(QString, serverPassword);
    QFETCH(bool, refuse);
    QFETCH(QString, mainWindow);
    QFETCH(QString, status);
    QFETCH(int, splashes);
    QFETCH(int, boxes);

    test::StandinSession server(serverLogin.toStdString(), serverPassword.toStdString());
    server.Server().RefuseLogins(refuse);
    HiveFile file;
    if (withKey) file.Write(values);
    RegFileHive hive(file.Path());
    MessageBoxScript shownBoxes;
    SplashWatch splash;
    {
      TApplication app(hive);
      StartUp(app);
      QCOMPARE(app.Title(), QStringLiteral("Tarnwick"));
      QCOMPARE(QString::fromStdString(StatusText), status);
      QCOMPARE(splash.shown, splashes);
      if (splashes) QCOMPARE(splash.text, QString::fromUtf8(kConnectingText));
      QVERIFY(Flash == nullptr);  // gone once the attempt has ended
      QVERIFY(app.MainForm());
      QCOMPARE(app.MainForm()->objectName(), mainWindow);
      QCOMPARE(int(shownBoxes.Shown().size()), boxes);
      if (mainWindow == "TarnwickMain") {
        QVERIFY(LibDM && LibDM->LibDB.Connected());
        QCOMPARE(app.MainForm(), static_cast<TForm*>(TarnwickMain));
        QVERIFY(!DbPara);
        const auto logins = server.Server().Logins();
        QVERIFY(!logins.empty());
        QCOMPARE(QString::fromStdString(logins.back().user), serverLogin);
        QCOMPARE(QString::fromStdString(logins.back().password), serverPassword);
      } else {
        QVERIFY(!LibDM);  // the module went with its failure
        QCOMPARE(app.MainForm(), static_cast<TForm*>(DbPara));
        QVERIFY(!TarnwickMain);
        if (refuse) {
          // The headline says why; it never repeats the password.
          QVERIFY(!DbPara->Label4->toolTip().isEmpty());
          QVERIFY(!DbPara->Label4->toolTip().contains("geheim"));
        }
      }
      // Closing the main window ends the loop.
      QTimer::singleShot(0, app.MainForm(), [&app] { app.MainForm()->Close(); });
      QTimer watchdog;
      watchdog.setSingleShot(true);
      QObject::connect(&watchdog, &QTimer::timeout, [] { QFAIL("the loop did not end"); });
      watchdog.start(5000);
      app.Run();
      QVERIFY(watchdog.isActive());
    }
    // The application destroyed what it owned.
    QVERIFY(!LibDM && !TarnwickMain && !DbPara);
  }
};

#include "StartupTest.moc"
QObject* MakeStartupTest() { return new StartupTest; }
