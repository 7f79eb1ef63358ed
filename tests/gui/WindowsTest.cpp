// The windows on their own: layout, keyboard, buttons and the boxes they show.
#include <QClipboard>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QtTest/QtTest>

#include "GuiTestSupport.h"
#include "StandinSession.h"
#include "app/Application.h"
#include "app/MessageBoxes.h"
#include "app/frmFlash.h"
#include "app/unGlobal.h"
#include "cleanup/frmTarnwickMain.h"
#include "params/DbParams.h"
#include "params/frmDbPara.h"

using namespace tarnwick;
using tarnwick::test::HiveFile;
using tarnwick::test::RefusingHive;
using tarnwick::test::RegValues;
using tarnwick::test::ShowActive;

namespace {

std::string Loaded(RegistryHive& hive, std::string* login = nullptr,
                   std::string* password = nullptr) {
  std::string odbc;
  DbParamsReceiver r;
  r.odbcName = [&](const std::string& s) { odbc = s; };
  r.login = [&](const std::string& s) { if (login) *login = s; };
  r.password = [&](const std::string& s) { if (password) *password = s; };
  return LoadDbParams(hive, r) ? odbc : "<no key>";
}

QList<QWidget*> FocusCycle(QWidget& window, int steps) {
  QList<QWidget*> seen;
  for (int i = 0; i < steps; ++i) {
    seen << QApplication::focusWidget();
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
  }
  Q_UNUSED(window);
  return seen;
}

}  // namespace

class WindowsTest : public QObject {
  Q_OBJECT

 private:
  std::unique_ptr<HiveFile> file_;
  std::unique_ptr<RegFileHive> hive_;
  std::unique_ptr<TApplication> app_;

 private slots:
  void init() {
    file_ = std::make_unique<HiveFile>();
    hive_ = std::make_unique<RegFileHive>(file_->Path());
    app_ = std::make_unique<TApplication>(*hive_);
    app_->Initialize();
    app_->SetTitle("Tarnwick");
  }
  void cleanup() {
    app_.reset();
    hive_.reset();
    file_.reset();
  }

  // --- the connection-parameter window -----------------------------------

  void dbParaLayout_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("parent");
    QTest::addColumn<QRect>("geometry");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QColor>("colour");
    QTest::addColumn<int>("pixelSize");
    const QColor red(0xFF, 0, 0), navy(0, 0, 0x80), none;
    auto row = [](const char* n, const char* p, QRect g, const char* t, QColor c, int px) {
      QTest::newRow(n) << n << p << g << QString::fromUtf8(t) << c << px;
    };
    row("Label4", "DbPara", {24, 8, 120, 12}, "数据库连接出错！！！", red, 12);
    row("Label5", "DbPara", {48, 32, 192, 12}, "首先检查数据库服务器是否已运行；", red, 12);
    row("Label8", "DbPara", {48, 48, 180, 12}, "再检查与服务器的通信是否正常；", red, 12);
    row("Label6", "DbPara", {48, 64, 288, 12}, "再检查数据库参数是否是正确（注意不要随意改动）。", red, 12);
    row("Label7", "DbPara", {50, 80, 276, 12}, "确定无误后，重新运行系统。或与系统管理员联系。", red, 12);
    row("btMod", "DbPara", {352, 40, 121, 25}, "修改数据库连接参数", none, 12);
    row("btExit", "DbPara", {352, 72, 121, 25}, "取消", none, 12);
    row("grbBox", "DbPara", {8, 112, 465, 113}, "", none, 12);
    row("Label1", "grbBox", {24, 24, 48, 12}, "ODBC名称", navy, 12);
    row("Label2", "grbBox", {12, 48, 60, 12}, "登录标识号", navy, 12);
    row("Label3", "grbBox", {48, 72, 24, 12}, "密码", navy, 12);
    row("Label10", "grbBox", {302, 24, 150, 15}, "请不要随意改动！！！", red, 15);
    row("Label9", "grbBox", {8, 93, 348, 12}, "注意：此参数是与数据库连接使用的参数，非操作员用户和密码。", red, 12);
    row("edOdbc", "grbBox", {72, 16, 121, 20}, "", none, 12);
    row("edUser", "grbBox", {72, 40, 121, 20}, "", none, 12);
    row("edPass", "grbBox", {72, 64, 121, 20}, "", none, 12);
    row("btOk", "grbBox", {336, 56, 121, 25}, "保存数据库连接参数", none, 12);
  }
  void dbParaLayout() {
    QFETCH(QString, name);
    QFETCH(QString, parent);
    QFETCH(QRect, geometry);
    QFETCH(QString, text);
    QFETCH(QColor, colour);
    QFETCH(int, pixelSize);
    TDbPara w(*hive_);
    auto* c = w.findChild<QWidget*>(name);
    QVERIFY(c);
    QCOMPARE(c->parentWidget()->objectName(), parent);
    QCOMPARE(c->geometry(), geometry);
    if (auto* l = qobject_cast<QLabel*>(c)) QCOMPARE(l->text(), text);
    if (auto* b = qobject_cast<QPushButton*>(c)) {
      QCOMPARE(b->text(), text);
      QVERIFY(!b->isDefault());
    }
    if (auto* e = qobject_cast<QLineEdit*>(c)) {
      QCOMPARE(e->text(), text);
      QCOMPARE(e->maxLength(), 32767);  // Qt's largest: no limit of our own
    }
    c->ensurePolished();
    QCOMPARE(c->font().pixelSize(), pixelSize);
    QCOMPARE(c->font().family(), QStringLiteral("宋体"));
    if (colour.isValid()) QCOMPARE(c->palette().color(c->foregroundRole()), colour);
    if (name == "Label10") QVERIFY(c->font().underline());
    if (name.startsWith("Label") && name.size() == 6 && name[5] >= '1' && name[5] <= '3') {
      QVERIFY(static_cast<QLabel*>(c)->alignment() & Qt::AlignRight);
      QCOMPARE(c->geometry().right() + 1, 72);  // flush with the edits
    }
  }

  void dbParaWindow() {
    TDbPara w(*hive_, QStringLiteral("Login failed for user 'sa'."));
    QCOMPARE(w.windowTitle(), QStringLiteral("设置数据库【Lib】连接参数"));
    QCOMPARE(w.size(), QSize(483, 105));
    QCOMPARE(w.minimumSize(), w.maximumSize());  // not resizable
    QVERIFY(w.windowFlags() & Qt::Dialog);
    QVERIFY(!(w.windowFlags() & Qt::WindowMinimizeButtonHint));
    QVERIFY(!(w.windowFlags() & Qt::WindowMaximizeButtonHint));
    QVERIFY(w.windowFlags() & Qt::WindowCloseButtonHint);
    QVERIFY(!w.windowIcon().isNull());
    QVERIFY(w.grbBox->isHidden());
    QVERIFY(w.grbBox->title().isEmpty());
    QCOMPARE(w.grbBox->focusPolicy(), Qt::NoFocus);
    // The headline carries why the connection failed.
    QCOMPARE(w.Label4->toolTip(), QStringLiteral("Login failed for user 'sa'."));
    // Login and password show every character as "*".
    w.edUser->setText("sa");
    w.edPass->setText(QStringLiteral("密码1"));
    QCOMPARE(w.edUser->displayText(), QStringLiteral("**"));
    QCOMPARE(w.edPass->displayText(), QStringLiteral("***"));
    QCOMPARE(w.edOdbc->echoMode(), QLineEdit::Normal);
  }

  void dbParaFocusAndExpand() {
    TDbPara w(*hive_);
    QVERIFY(ShowActive(w));
    const QPoint topLeft = w.frameGeometry().topLeft();
    const QList<QWidget*> shortCycle{w.btExit, w.btMod, w.btExit, w.btMod};
    QCOMPARE(FocusCycle(w, 4), shortCycle);
    QCOMPARE(QApplication::focusWidget(), w.btExit);

    QTest::keyClick(w.btExit, Qt::Key_Tab);
    QTest::mouseClick(w.btMod, Qt::LeftButton);
    QVERIFY(w.grbBox->isVisible());
    QCOMPARE(w.OuterSize().height(), kDbParaExpandedHeight);
    QCOMPARE(w.width(), 483);
    QCOMPARE(w.frameGeometry().topLeft(), topLeft);
    QCOMPARE(QApplication::focusWidget(), w.btMod);  // the focus stays
    QTest::mouseClick(w.btMod, Qt::LeftButton);       // a second press: no change
    QCOMPARE(w.OuterSize().height(), kDbParaExpandedHeight);

    w.btExit->setFocus();
    const QList<QWidget*> longCycle{w.btExit, w.btMod, w.edOdbc, w.edUser,
                                    w.edPass, w.btOk, w.btExit};
    QCOMPARE(FocusCycle(w, 7), longCycle);
  }

  void dbParaEnterMovesFocusAndStillReachesTheEdit() {
    TDbPara w(*hive_);
    QVERIFY(ShowActive(w));
    QTest::mouseClick(w.btMod, Qt::LeftButton);
    QSignalSpy odbcReturn(w.edOdbc, &QLineEdit::returnPressed);
    QSignalSpy closed(&w, &TForm::Closed);
    w.edOdbc->setFocus();
    QTest::keyClick(w.edOdbc, Qt::Key_Return);
    QCOMPARE(QApplication::focusWidget(), w.edUser);
    QCOMPARE(odbcReturn.count(), 1);  // not consumed
    QTest::keyClick(w.edUser, Qt::Key_Enter);  // the keypad's Enter too
    QCOMPARE(QApplication::focusWidget(), w.edPass);
    QTest::keyClick(w.edPass, Qt::Key_Return);
    QCOMPARE(QApplication::focusWidget(), w.btOk);
    QCOMPARE(closed.count(), 0);
    // Other characters pass untouched.
    w.edOdbc->setFocus();
    QTest::keyClicks(w.edOdbc, "Lib");
    QCOMPARE(w.edOdbc->text(), QStringLiteral("Lib"));
    QCOMPARE(QApplication::focusWidget(), w.edOdbc);
    // Enter on the focused save button presses it: it saves and closes.
    w.btOk->setFocus();
    QTest::keyClick(w.btOk, Qt::Key_Return);
    QCOMPARE(closed.count(), 1);
    QCOMPARE(Loaded(*hive_), std::string("Lib"));
  }

  void dbParaEnterAtOpenPressesCancel() {
    MessageBoxScript boxes;
    TDbPara w(*hive_);
    QVERIFY(ShowActive(w));
    QCOMPARE(QApplication::focusWidget(), w.btExit);
    QSignalSpy closed(&w, &TForm::Closed);
    QTest::keyClick(w.btExit, Qt::Key_Return);
    QCOMPARE(closed.count(), 1);
    QCOMPARE(Loaded(*hive_), std::string("<no key>"));  // nothing written
    QVERIFY(boxes.Shown().empty());
  }

  void dbParaLoad_data() {
    QTest::addColumn<bool>("withKey");
    QTest::addColumn<RegValues>("values");
    QTest::addColumn<QStringList>("edits");
    QTest::addColumn<QString>("report");  // general error report, "" for none
    QTest::newRow("no key") << false << RegValues{} << QStringList{"", "", ""} << "";
    QTest::newRow("only the data source")
        << true << RegValues{{"ODBCNAME", "LibODBC"}} << QStringList{"LibODBC", "", ""} << "";
    QTest::newRow("trimmed, decoded")
        << true
        << RegValues{{"ODBCNAME", "  LibODBC "}, {"USERNAME", " 37073403\t"}, {"PASSWORD", "34033404"}}
        << QStringList{"LibODBC", "sa", "ab"} << "";
    QTest::newRow("five digits: empty, no report")
        << true << RegValues{{"ODBCNAME", "x"}, {"USERNAME", "37073"}} << QStringList{"x", "", ""} << "";
    QTest::newRow("9999 is T, 0000 ends the text")
        << true << RegValues{{"ODBCNAME", "x"}, {"USERNAME", "999934030000"}}
        << QStringList{"x", "Ta", ""} << "";
    QTest::newRow("letter in the login")
        << true << RegValues{{"ODBCNAME", "LibODBC"}, {"USERNAME", "3707x403"}, {"PASSWORD", "3403"}}
        << QStringList{"LibODBC", "", ""} << "'x' is not a valid integer value.";
    QTest::newRow("letter in the password")
        << true << RegValues{{"ODBCNAME", "LibODBC"}, {"USERNAME", "37073403"}, {"PASSWORD", "340A"}}
        << QStringList{"LibODBC", "sa", ""} << "'A' is not a valid integer value.";
  }
  void dbParaLoad() {
    QFETCH(bool, withKey);
    QFETCH(RegValues, values);
    QFETCH(QStringList, edits);
    QFETCH(QString, report);
    if (withKey) file_->Write(values);
    MessageBoxScript boxes;
    TDbPara w(*hive_);
    QCOMPARE(w.windowTitle(), QStringLiteral("设置数据库【Lib】连接参数"));
    QCOMPARE((QStringList{w.edOdbc->text(), w.edUser->text(), w.edPass->text()}), edits);
    if (report.isEmpty()) {
      QVERIFY(boxes.Shown().empty());
    } else {
      QCOMPARE(boxes.Shown().size(), size_t(1));
      QCOMPARE(boxes.Shown()[0].text, report);
      QCOMPARE(boxes.Shown()[0].caption, QStringLiteral("Tarnwick"));
      QCOMPARE(boxes.Shown()[0].icon, QMessageBox::Critical);
      QCOMPARE(boxes.Shown()[0].buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
    }
  }

  void dbParaSave_data() {
    QTest::addColumn<QStringList>("typed");
    QTest::addColumn<QStringList>("loaded");
    QTest::addColumn<QString>("storedLogin");
    QTest::addColumn<QString>("storedPassword");
    QTest::newRow("plain") << QStringList{"LibODBC", "sa", "abc"} << QStringList{"LibODBC", "sa", "abc"}
                           << "37073403" << "340334043407";
    QTest::newRow("blanks trimmed") << QStringList{" LibODBC ", "  sa ", " abc"}
                                    << QStringList{"LibODBC", "sa", "abc"} << "37073403"
                                    << "340334043407";
    // 书 is the two bytes CA E9 in code page 936: eight digits.
    QTest::newRow("Chinese password") << QStringList{"LibODBC", "sa", "书"}
                                      << QStringList{"LibODBC", "sa", "书"} << "37073403"
                                      << "70447443";
    QTest::newRow("all empty") << QStringList{"", "", ""} << QStringList{"", "", ""} << "" << "";
  }
  void dbParaSave() {
    QFETCH(QStringList, typed);
    QFETCH(QStringList, loaded);
    QFETCH(QString, storedLogin);
    QFETCH(QString, storedPassword);
    MessageBoxScript boxes;
    TDbPara w(*hive_);
    QVERIFY(ShowActive(w));
    QSignalSpy closed(&w, &TForm::Closed);
    w.btMod->click();
    w.edOdbc->setText(typed[0]);
    w.edUser->setText(typed[1]);
    w.edPass->setText(typed[2]);
    w.btOk->click();
    QCOMPARE(closed.count(), 1);
    QVERIFY(boxes.Shown().empty());  // no message confirms a save
    const std::string text = file_->Text();
    QVERIFY2(text.find("\"USERNAME\"=\"" + storedLogin.toStdString() + "\"") != std::string::npos,
             text.c_str());
    QVERIFY2(text.find("\"PASSWORD\"=\"" + storedPassword.toStdString() + "\"") != std::string::npos,
             text.c_str());
    std::string login, password;
    QCOMPARE(QString::fromStdString(Loaded(*hive_, &login, &password)), loaded[0]);
    QCOMPARE(QString::fromStdString(login), loaded[1]);
    QCOMPARE(QString::fromStdString(password), loaded[2]);
  }

  void dbParaSaveRefused() {
    // Both keys exist but may not be changed: the failure box, then close.
    file_->Write({{"ODBCNAME", "Old"}, {"USERNAME", "37073403"}, {"PASSWORD", ""}});
    RefusingHive hive(file_->Path());
    hive.refuseWrite = true;
    MessageBoxScript boxes;
    TDbPara w(hive);
    QSignalSpy closed(&w, &TForm::Closed);
    w.edOdbc->setText("New");
    w.btOk->click();
    QCOMPARE(boxes.Shown().size(), size_t(1));
    QCOMPARE(boxes.Shown()[0].text, QString::fromUtf8(kSaveFailedText));
    QCOMPARE(boxes.Shown()[0].caption, QStringLiteral("提示信息"));
    QCOMPARE(boxes.Shown()[0].icon, QMessageBox::Information);
    QCOMPARE(boxes.Shown()[0].buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
    QCOMPARE(closed.count(), 1);
    QCOMPARE(Loaded(*hive_), std::string("Old"));
  }

  void dbParaSaveFailingGoesToTheReportAndStaysOpen() {
    // The sub-key is missing and cannot be created.
    RefusingHive hive(file_->Path());
    hive.refuseCreate = true;
    MessageBoxScript boxes;
    TDbPara w(hive);
    QVERIFY(ShowActive(w));
    QSignalSpy closed(&w, &TForm::Closed);
    w.btMod->click();
    w.edOdbc->setText("LibODBC");
    w.btOk->click();
    QCOMPARE(boxes.Shown().size(), size_t(1));
    QCOMPARE(boxes.Shown()[0].caption, QStringLiteral("Tarnwick"));
    QCOMPARE(boxes.Shown()[0].icon, QMessageBox::Critical);
    QVERIFY2(boxes.Shown()[0].text.contains("Failed to create key"), qPrintable(boxes.Shown()[0].text));
    QVERIFY(boxes.Shown()[0].text.endsWith('.'));
    QCOMPARE(closed.count(), 0);
    QVERIFY(w.isVisible());
    QCOMPARE(w.edOdbc->text(), QStringLiteral("LibODBC"));
    // The user may cancel after that.
    w.btExit->click();
    QCOMPARE(closed.count(), 1);
  }

  // --- the cleanup window --------------------------------------------------

  void mainWindowLayout() {
    TTarnwickMain w;
    QCOMPARE(w.windowTitle(), QStringLiteral("Tarnwick"));
    QCOMPARE(w.OuterSize(), QSize(kMainOuterWidth, kMainOuterHeight));
    QVERIFY(w.minimumSize() != w.maximumSize());  // resizable
    QVERIFY(!w.windowIcon().isNull());
    QCOMPARE(w.btDoWork->geometry(), QRect(16, 32, 185, 25));
    QCOMPARE(w.btDoWork->text(), QStringLiteral("开始 Tarnwick"));
    QCOMPARE(w.btClose->geometry(), QRect(256, 32, 73, 25));
    QCOMPARE(w.btClose->text(), QStringLiteral("退出"));
    for (QPushButton* b : {w.btDoWork, w.btClose}) {
      QVERIFY(!b->isDefault());
      b->ensurePolished();
      QCOMPARE(b->font().pixelSize(), 12);
      QCOMPARE(b->font().family(), QStringLiteral("宋体"));
    }
    QCOMPARE(w.qrTmp.DatabaseName, std::string("LibDB"));
    QVERIFY(ShowActive(w));
    QCOMPARE(QApplication::focusWidget(), w.btDoWork);
    QTest::keyClick(w.btDoWork, Qt::Key_Tab);
    QCOMPARE(QApplication::focusWidget(), w.btClose);
    QTest::keyClick(w.btClose, Qt::Key_Tab);
    QCOMPARE(QApplication::focusWidget(), w.btDoWork);
    // Buttons keep their place when the window grows.
    w.resize(600, 400);
    QCOMPARE(w.btClose->geometry(), QRect(256, 32, 73, 25));
  }

  void cleanupSucceeds() {
    test::StandinSession server;
    server.Seed(test::kAllOpacObjects);
    TDatabase db;
    server.Open(db);
    MessageBoxScript boxes;
    TTarnwickMain w;
    QVERIFY(ShowActive(w));
    QSignalSpy closed(&w, &TForm::Closed);
    server.Server().ClearRecords();
    QTest::keyClick(w.btDoWork, Qt::Key_Return);  // Enter on the focused button
    QVERIFY(!w.btDoWork->isEnabled());
    QCOMPARE(boxes.Shown().size(), size_t(1));
    QCOMPARE(boxes.Shown()[0].text, QStringLiteral("清除成功！"));
    QCOMPARE(boxes.Shown()[0].caption, QStringLiteral("提示信息"));
    QCOMPARE(boxes.Shown()[0].icon, QMessageBox::NoIcon);
    QCOMPARE(boxes.Shown()[0].buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
    const auto sent = server.UserBatches();
    QCOMPARE(sent.size(), size_t(9));
    QCOMPARE(sent[0], std::string("DROP table lib_opac_ver\r\n"));
    QCOMPARE(sent[8], std::string("IF EXISTS (SELECT NAME FROM SYSOBJECTS WHERE XTYPE = 'TR' AND "
                                  "NAME = 'T_CHG_cunfang')\r\nDROP TRIGGER T_CHG_cunfang\r\n"));
    QVERIFY(server.Server().Objects().size() < 10 && !server.Server().Exists("lib_opac_ver"));
    // Pressed once only: the button stays disabled, for mouse and keyboard.
    QTest::mouseClick(w.btDoWork, Qt::LeftButton);
    QTest::keyClick(&w, Qt::Key_Space);
    QCOMPARE(boxes.Shown().size(), size_t(1));
    QCOMPARE(server.UserBatches().size(), size_t(9));
    QVERIFY(!w.btDoWork->isEnabled());
    QTest::mouseClick(w.btClose, Qt::LeftButton);
    QCOMPARE(closed.count(), 1);
    QCOMPARE(server.UserBatches().size(), size_t(9));  // nothing more is sent
  }

  void cleanupFailureIsReported() {
    test::StandinSession server;
    server.Seed(test::kAllOpacObjects);
    server.Server().DenyDrop("lib_opac_bianma");
    TDatabase db;
    server.Open(db);
    MessageBoxScript boxes;
    TTarnwickMain w;
    w.btDoWork->click();
    QCOMPARE(boxes.Shown().size(), size_t(1));
    QCOMPARE(boxes.Shown()[0].caption, QStringLiteral("提示信息"));
    QCOMPARE(boxes.Shown()[0].icon, QMessageBox::Warning);
    QCOMPARE(boxes.Shown()[0].buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
    QVERIFY2(boxes.Shown()[0].text.contains("lib_opac_bianma"), qPrintable(boxes.Shown()[0].text));
    QVERIFY(!w.btDoWork->isEnabled());
  }

  // --- the splash window ---------------------------------------------------

  void splashShowsTheStatusTextOverThePicture() {
    StatusText = "系统正在连接数据库，请稍候...";
    TFlash f;
    StatusText = "OK";  // the label keeps what it was given at creation
    QCOMPARE(f.lbView->text(), QStringLiteral("系统正在连接数据库，请稍候..."));
    QCOMPARE(f.size(), QSize(400, 300));
    QVERIFY(f.windowFlags() & Qt::FramelessWindowHint);
    QCOMPARE(f.windowTitle(), QStringLiteral("青岚科技"));
    QCOMPARE(f.Image1->geometry(), QRect(0, 0, 400, 300));
    QCOMPARE(f.Image1->pixmap().size(), QSize(400, 300));
    QCOMPARE(f.lbView->pos(), QPoint(16, 56));
    QCOMPARE(f.lbView->height(), 15);
    QCOMPARE(f.lbView->width(), f.lbView->sizeHint().width());
    QVERIFY(f.lbView->width() > 150);
    QCOMPARE(f.Label1->geometry(), QRect(328, 24, 60, 15));
    QCOMPARE(f.Label1->text(), QStringLiteral("青岚科技"));
    QCOMPARE(f.Image2->geometry(), QRect(296, 8, 33, 33));
    QCOMPARE(f.Image2->pixmap().size(), QSize(32, 32));
    f.lbView->ensurePolished();
    f.Label1->ensurePolished();
    QCOMPARE(f.lbView->font().pixelSize(), 15);
    QCOMPARE(f.lbView->palette().color(QPalette::WindowText), QColor(0, 0, 0xFF));
    QCOMPARE(f.Label1->palette().color(QPalette::WindowText), QColor(0, 0, 0x80));
    QVERIFY(!f.lbView->autoFillBackground());  // the picture shows around the letters
    // Stacking from the bottom: picture, status, maker's name, emblem.
    QStringList order;
    for (QObject* c : f.children())
      if (c->isWidgetType()) order << c->objectName();
    const QStringList expected{"Image1", "lbView", "Label1", "Image2"};
    QCOMPARE(order, expected);
  }

  // --- the general error report and the boxes -----------------------------

  void errorReportText_data() {
    QTest::addColumn<QString>("message");
    QTest::addColumn<QString>("shown");
    QTest::newRow("letter") << "Failed" << "Failed.";
    QTest::newRow("full stop") << "Failed." << "Failed.";
    QTest::newRow("empty") << "" << "";
    QTest::newRow("exclamation sorts before") << "Failed!" << "Failed!";
    QTest::newRow("hyphen sorts before") << "a-" << "a-";
    QTest::newRow("digit") << "error 18456" << "error 18456.";
    QTest::newRow("Chinese") << "连接失败" << "连接失败.";
    QTest::newRow("full-width mark: its last byte sorts after")
        << "出错！" << "出错！.";
  }
  void errorReportText() {
    QFETCH(QString, message);
    QFETCH(QString, shown);
    QCOMPARE(ErrorReportText(message.toStdString()), shown);
  }

  void failureInAnEventHandlerIsReportedAtDispatch() {
    // Any event handler: the failure is caught where events are dispatched.
    class Throwing : public QWidget {
     protected:
      void mousePressEvent(QMouseEvent*) override { throw std::runtime_error("boom"); }
    } w;
    w.resize(50, 50);
    QVERIFY(ShowActive(w));
    MessageBoxScript boxes;
    QTest::mouseClick(&w, Qt::LeftButton);
    QCOMPARE(boxes.Shown().size(), size_t(1));
    QCOMPARE(boxes.Shown()[0].text, QStringLiteral("boom."));
    QCOMPARE(boxes.Shown()[0].caption, QStringLiteral("Tarnwick"));
    QCOMPARE(boxes.Shown()[0].icon, QMessageBox::Critical);
    QVERIFY(w.isVisible());
  }

  void ctrlCCopiesTheBox() {
    TMessageBox box(QMessageBox::Information, QStringLiteral("提示信息"),
                    QStringLiteral("清除成功！"), QMessageBox::Ok);
    box.show();
    QVERIFY(QTest::qWaitForWindowExposed(&box, 2000));
    QApplication::clipboard()->clear();
    QTest::keyClick(&box, Qt::Key_C, Qt::ControlModifier);
    QCOMPARE(QApplication::clipboard()->text(),
             QStringLiteral("---------------------------\n提示信息\n---------------------------\n"
                            "清除成功！\n---------------------------\nOK   \n"
                            "---------------------------\n"));
    QVERIFY(box.isVisible());
  }
};

#include "WindowsTest.moc"
QObject* MakeWindowsTest() { return new WindowsTest; }
