// Faults a user can meet, each through the real stack: the real windows on
// Qt's offscreen platform, the real registry file, unixODBC, the FreeTDS
// driver and the SQL Server stand-in over TCP.
//  - the server stops in the middle of the cleanup;
//  - the server accepts the connection and never answers;
//  - the registry file is corrupted, unreadable, unwritable, or the disk is
//    full during a save (a small file system filled up, where this process
//    may mount one, and a file-size limit).
// The unreadable and unwritable cases need a user whom the file's mode
// concerns: this program runs those windows again as a child process under
// the user nobody (see RunAsNobody).
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QtTest/QtTest>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "GuiTestSupport.h"
#include "StandinSession.h"
#include "app/Application.h"
#include "app/MessageBoxes.h"
#include "app/Startup.h"
#include "app/dmLibData.h"
#include "app/frmFlash.h"
#include "app/unGlobal.h"
#include "cleanup/frmTarnwickMain.h"
#include "params/DbParams.h"
#include "params/frmDbPara.h"
#include "platform/registry/RegFileHive.h"

using namespace tarnwick;
using tarnwick::test::HiveFile;

namespace fs = std::filesystem;

namespace {

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

void WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

// Files in `dir` other than `keep` (a failed save must leave no temporary).
QStringList Strays(const std::string& dir, const std::string& keep) {
  QStringList out;
  for (const auto& e : fs::directory_iterator(dir))
    if (e.path().filename() != keep) out << QString::fromStdString(e.path().filename().string());
  return out;
}

// A folder under /tmp that the user nobody can enter, removed at the end.
struct SharedDir {
  SharedDir() {
    std::string tmpl = "/tmp/tarnwick-faults-XXXXXX";
    if (::mkdtemp(tmpl.data())) path = tmpl;
    ::chmod(path.c_str(), 0755);
  }
  ~SharedDir() {
    std::error_code ec;
    fs::remove_all(path, ec);
  }
  std::string path;
};

const char kStored[] =
    "Windows Registry Editor Version 5.00\n\n"
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Brindlewave\\Lib]\n"
    "\"ODBCNAME\"=\"OldDsn\"\n"
    "\"USERNAME\"=\"37073403\"\n"  // "sa"
    "\"PASSWORD\"=\"\"\n";

// The application object, titled as at start-up: the caption of the general
// error report.
struct TitledApp {
  explicit TitledApp(RegistryHive& hive) : app(hive) {
    app.Initialize();
    app.SetTitle(QStringLiteral("Tarnwick"));
  }
  TApplication app;
};

// What the parameter window did, in a form a child process can print.
QString WindowReport(TDbPara& w, const MessageBoxScript& boxes, int closed) {
  QString out = QStringLiteral("edits=%1|%2|%3\nclosed=%4\nboxes=%5\n")
                    .arg(w.edOdbc->text(), w.edUser->text(), w.edPass->text())
                    .arg(closed)
                    .arg(boxes.Shown().size());
  for (const ShownBox& b : boxes.Shown())
    out += QStringLiteral("box=%1|%2|%3\n").arg(b.caption).arg(int(b.icon)).arg(b.text);
  return out;
}

// Opens the parameter window over `file`, types new parameters and saves.
QString OpenAndSave(const std::string& file) {
  RegFileHive hive(file);
  TitledApp app(hive);
  MessageBoxScript boxes;
  TDbPara w(hive);
  QSignalSpy closed(&w, &TForm::Closed);
  QString report = WindowReport(w, boxes, closed.count());  // as opened
  w.btMod->click();
  w.edOdbc->setText("NewDsn");
  w.edUser->setText("reader");
  w.edPass->setText("pw");
  w.btOk->click();
  return report + "--- after save\n" + WindowReport(w, boxes, closed.count());
}

// Runs OpenAndSave in a child process of this program as the user nobody.
QString RunAsNobody(const std::string& file) {
  const std::string self = fs::read_symlink("/proc/self/exe").string();
  const std::string cmd = "timeout 120 setpriv --reuid=nobody --regid=nogroup --clear-groups '" +
                          self + "' --open-and-save '" + file + "' 2>/dev/null";
  FILE* p = ::popen(cmd.c_str(), "r");
  if (!p) return {};
  std::string out;
  char buf[4096];
  while (const std::size_t n = std::fread(buf, 1, sizeof buf, p)) out.append(buf, n);
  const int status = ::pclose(p);
  if (status != 0) out += "child exit status " + std::to_string(status) + "\n";
  return QString::fromUtf8(out);
}

}  // namespace

class FaultsTest : public QObject {
  Q_OBJECT

 private slots:
  // --- the server during the cleanup ----------------------------------------

  void serverStopsDuringTheCleanup_data() {
    QTest::addColumn<bool>("stopBeforePress");
    QTest::addColumn<QStringList>("gone");  // dropped before the cut
    // The connection is cut when the third batch arrives. The triggers of a
    // dropped table go with it.
    QTest::newRow("cut after two batches")
        << false
        << QStringList{"lib_opac_ver", "lib_opac_bianma", "T_INSERT_bianma", "T_DELETE_bianma"};
    // The server is gone before the button is pressed.
    QTest::newRow("stopped before the press") << true << QStringList{};
  }

  void serverStopsDuringTheCleanup() {
    QFETCH(bool, stopBeforePress);
    QFETCH(QStringList, gone);
    test::StandinSession server;
    server.Seed(test::kAllOpacObjects);
    TDatabase db;
    server.Open(db);
    if (stopBeforePress) server.Server().Stop();
    else server.Server().CutAfterBatches(2);
    const auto objects = server.Server().Objects();

    MessageBoxScript boxes;
    TTarnwickMain w;
    QVERIFY(test::ShowActive(w));
    QSignalSpy closed(&w, &TForm::Closed);
    w.btDoWork->click();  // returns: every remaining batch failed, none hung

    QCOMPARE(boxes.Shown().size(), size_t(1));
    const ShownBox& box = boxes.Shown()[0];
    QCOMPARE(box.caption, QStringLiteral("提示信息"));
    QCOMPARE(box.icon, QMessageBox::Warning);  // never the success box
    QVERIFY2(box.text != QStringLiteral("清除成功！"), qPrintable(box.text));
    QVERIFY2(box.text.contains("lib_opac_tiaoma") && box.text.contains("T_CHG_cunfang"),
             qPrintable(box.text));
    for (const auto& o : objects) {
      const bool dropped = gone.contains(QString::fromStdString(o.name));
      QVERIFY2(server.Server().Exists(o.name) == !dropped, o.name.c_str());
    }
    QVERIFY(!w.btDoWork->isEnabled());
    QVERIFY(w.btClose->isEnabled());
    w.btClose->click();
    QCOMPARE(closed.count(), 1);
  }

  // --- a server that never answers the login ---------------------------------

  void serverThatNeverAnswersEndsInTheParameterWindow() {
    // The login timeout the program uses (15 s) ends the attempt.
    test::StandinSession server;
    server.Server().NeverAnswer(true);
    HiveFile file;  // no key: the design defaults LibODBC, sa, empty password
    RegFileHive hive(file.Path());
    MessageBoxScript boxes;
    QElapsedTimer timer;
    timer.start();
    {
      TApplication app(hive);
      StartUp(app);
      QVERIFY(app.MainForm());
      QCOMPARE(app.MainForm()->objectName(), QStringLiteral("DbPara"));
      QVERIFY(!LibDM);
      QVERIFY(!Flash);
      QCOMPARE(QString::fromStdString(StatusText), QString::fromUtf8(kConnectingText));
      QCOMPARE(boxes.Shown().size(), size_t(0));
      app.DestroyComponents();
    }
    qInfo("the silent server was given up after %lld ms", timer.elapsed());
  }

  // --- the registry file ------------------------------------------------------

  void corruptedFile_data() {
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("shown");  // the edits as the window opens
    QTest::addColumn<QString>("report"); // the general error report, if any
    QTest::newRow("binary garbage")
        << QByteArray("\x00\x13garbage\xff\xfe\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Brindle", 46)
        << "||" << "";
    QTest::newRow("unreadable login data")
        << QByteArray("Windows Registry Editor Version 5.00\n\n"
                      "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Brindlewave\\Lib]\n"
                      "\"ODBCNAME\"=\"OldDsn\"\n"
                      "%%% not a registry line %%%\n"
                      "\"USERNAME\"=hex(1):zz,00\n"
                      "\"PASSWORD\"=\"3703\"\n")
        << "OldDsn||" << "Invalid data type for 'USERNAME'";
    QTest::newRow("non-digit login")
        << QByteArray("Windows Registry Editor Version 5.00\n\n"
                      "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Brindlewave\\Lib]\n"
                      "\"ODBCNAME\"=\"OldDsn\"\n"
                      "\"USERNAME\"=\"3703x403\"\n")
        << "OldDsn||" << "'x' is not a valid integer value.";
  }

  void corruptedFile() {
    // Loads as documented; a save keeps every line it does not replace.
    QFETCH(QByteArray, bytes);
    QFETCH(QString, shown);
    QFETCH(QString, report);
    HiveFile file;
    const std::string old(bytes.constData(), size_t(bytes.size()));
    WriteFile(file.Path(), old);
    RegFileHive hive(file.Path());
    TitledApp app(hive);
    MessageBoxScript boxes;
    TDbPara w(hive);
    QSignalSpy closed(&w, &TForm::Closed);
    QCOMPARE(w.edOdbc->text() + "|" + w.edUser->text() + "|" + w.edPass->text(), shown);
    if (report.isEmpty()) {
      QCOMPARE(boxes.Shown().size(), size_t(0));
    } else {
      QCOMPARE(boxes.Shown().size(), size_t(1));
      QCOMPARE(boxes.Shown()[0].caption, QStringLiteral("Tarnwick"));
      QCOMPARE(boxes.Shown()[0].text, report);
    }
    boxes.Clear();
    w.btMod->click();
    w.edOdbc->setText("NewDsn");
    w.edUser->setText("reader");
    w.edPass->setText("pw");
    w.btOk->click();
    QCOMPARE(boxes.Shown().size(), size_t(0));
    QCOMPARE(closed.count(), 1);

    // Every line of the old file that held none of the saved values is still
    // there, byte for byte, in its order.
    const std::string now = ReadFile(file.Path());
    std::size_t from = 0;
    std::istringstream lines(old);
    for (std::string line; std::getline(lines, line);) {
      if (line.rfind("\"ODBCNAME\"", 0) == 0 || line.rfind("\"USERNAME\"", 0) == 0 ||
          line.rfind("\"PASSWORD\"", 0) == 0)
        continue;
      const std::size_t at = now.find(line, from);
      QVERIFY2(at != std::string::npos, line.c_str());
      from = at + line.size();
    }
    std::string odbc, login, password;
    QVERIFY(LoadDbParams(hive, {[&](const std::string& v) { odbc = v; },
                                [&](const std::string& v) { login = v; },
                                [&](const std::string& v) { password = v; }}));
    QCOMPARE(odbc, std::string("NewDsn"));
    QCOMPARE(login, std::string("reader"));
    QCOMPARE(password, std::string("pw"));
  }

  void fullDiskDuringASave_data() {
    QTest::addColumn<bool>("tmpfs");
    // A small file system filled to the last block: the write fails with
    // ENOSPC. Needs the right to mount; skipped without it.
    QTest::newRow("full file system") << true;
    // A file-size limit on this process: the write fails the same way, with
    // EFBIG, wherever the test runs.
    QTest::newRow("file-size limit") << false;
  }

  void fullDiskDuringASave() {
    QFETCH(bool, tmpfs);
    SharedDir dir;
    QVERIFY(!dir.path.empty());
    struct Unmount {
      std::string path;
      ~Unmount() {
        if (!path.empty()) ::umount2(path.c_str(), MNT_DETACH);
      }
    } unmount;
    if (tmpfs) {
      if (::mount("tmpfs", dir.path.c_str(), "tmpfs", MS_NOSUID | MS_NODEV, "size=64k,mode=0755") != 0)
        QSKIP("no right to mount a small file system here");
      unmount.path = dir.path;
    }
    const std::string path = dir.path + "/HKLM.reg";
    std::string old = kStored;
    old += "\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Other]\n";
    for (int i = 0; i < 64; ++i) old += "\"Filler" + std::to_string(i) + "\"=\"0123456789abcdef\"\n";
    WriteFile(path, old);
    RegFileHive hive(path);
    TitledApp app(hive);
    MessageBoxScript boxes;
    TDbPara w(hive);
    QSignalSpy closed(&w, &TForm::Closed);
    QCOMPARE(w.edOdbc->text(), QStringLiteral("OldDsn"));
    w.btMod->click();
    w.edOdbc->setText("NewDsn");

    const std::string filler = dir.path + "/filler";
    struct rlimit saved {};
    QCOMPARE(::getrlimit(RLIMIT_FSIZE, &saved), 0);
    const auto previous = ::signal(SIGXFSZ, SIG_IGN);
    if (tmpfs) {
      // Fill every block that is left.
      std::ofstream out(filler, std::ios::binary);
      const std::string block(4096, 'x');
      for (int i = 0; i < 64 && out; ++i) out.write(block.data(), std::streamsize(block.size())), out.flush();
    } else {
      struct rlimit small = saved;
      small.rlim_cur = 512;
      QCOMPARE(::setrlimit(RLIMIT_FSIZE, &small), 0);
    }
    w.btOk->click();
    ::setrlimit(RLIMIT_FSIZE, &saved);
    ::signal(SIGXFSZ, previous);
    if (tmpfs) fs::remove(filler);

    QCOMPARE(boxes.Shown().size(), size_t(1));
    QCOMPARE(boxes.Shown()[0].caption, QStringLiteral("Tarnwick"));
    QCOMPARE(boxes.Shown()[0].icon, QMessageBox::Critical);
    QCOMPARE(boxes.Shown()[0].text, QStringLiteral("Failed to set data for 'ODBCNAME'"));
    QCOMPARE(closed.count(), 0);  // the window stays open for another try
    QCOMPARE(w.edOdbc->text(), QStringLiteral("NewDsn"));
    QVERIFY(ReadFile(path) == old);  // the old file intact
    QCOMPARE(Strays(dir.path, "HKLM.reg"), QStringList());  // no temporary left

    // With room again, the same window saves.
    w.btOk->click();
    QCOMPARE(closed.count(), 1);
    QVERIFY(ReadFile(path).find("\"ODBCNAME\"=\"NewDsn\"") != std::string::npos);
  }

  void fileOtherUsersMayNotTouch_data() {
    QTest::addColumn<int>("mode");
    QTest::addColumn<QString>("expected");
    // Unreadable: no key is found, and the save may not replace the file.
    QTest::newRow("unreadable") << 0600
        << "edits=||\nclosed=0\nboxes=0\n--- after save\n"
           "edits=NewDsn|reader|pw\nclosed=0\nboxes=1\n"
           "box=Tarnwick|3|Failed to create key SOFTWARE\\Brindlewave.\n";
    // Readable but not writable: the values show; the save is refused with
    // the failure box, and the window closes.
    QTest::newRow("unwritable") << 0644
        << "edits=OldDsn|sa|\nclosed=0\nboxes=0\n--- after save\n"
           "edits=NewDsn|reader|pw\nclosed=1\nboxes=1\n"
           "box=提示信息|1|" + QString::fromUtf8(kSaveFailedText) + "\n";
  }

  void fileOtherUsersMayNotTouch() {
    QFETCH(int, mode);
    QFETCH(QString, expected);
    if (::geteuid() != 0) QSKIP("needs root to run the window as another user");
    if (::system("command -v setpriv >/dev/null") != 0) QSKIP("setpriv is missing");
    SharedDir dir;
    QVERIFY(!dir.path.empty());
    const std::string file = dir.path + "/HKLM.reg";
    WriteFile(file, kStored);
    QCOMPARE(::chmod(file.c_str(), static_cast<mode_t>(mode)), 0);
    QCOMPARE(RunAsNobody(file), expected);
    QVERIFY(ReadFile(file) == kStored);  // the old file intact
    QCOMPARE(Strays(dir.path, "HKLM.reg"), QStringList());
  }
};

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  int qtArgc = 1;
  TQtApplication app(qtArgc, argv);
  if (argc == 3 && std::string(argv[1]) == "--open-and-save") {
    std::fputs(OpenAndSave(argv[2]).toUtf8().constData(), stdout);
    return 0;
  }
  FaultsTest test;
  return QTest::qExec(&test, argc, argv);
}

#include "FaultsTest.moc"
