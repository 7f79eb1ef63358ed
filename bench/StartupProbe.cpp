// Measuring probe for the start-up benchmark, loaded into the unchanged
// program with LD_PRELOAD by tarnwick-bench-startup and never otherwise.
//
// It writes one line per observed moment to the file descriptor named by
// TARNWICK_PROBE_FD:
//   "tarnwick-probe <event> <CLOCK_MONOTONIC ns> <process CPU ns> [value]"
// (the CPU time says how much of a wall-clock figure was the program's own
// work, and how much was waiting: on a busy machine the two differ a lot).
//   app-object       the application object is being constructed (after the
//                    process has been loaded and linked)
//   splash-paint     the first paint event of the splash window
//   connect-start    the program enters SQLConnectW (the splash has been
//                    painted by then: the program paints it before it connects)
//   connect-end      SQLConnectW returned (value: 1 connected, 0 not)
//   main-shown       the cleanup window has been painted for the first time and
//                    the event loop is idle again
//   para-shown       the same for the connection-parameter window
//   hwm-kb / rss-kb  peak and current resident memory at that moment
//   rss-anon-kb / rss-file-kb  the current resident memory split into the
//                    process's own (heap, stacks) and mapped files (mostly the
//                    shared libraries' code and fonts)
//   click            (with TARNWICK_PROBE_CLICK=1) the start button is pressed
//   box-shown        the closing message box has been painted
// After its last event the probe ends the process with _exit(0): the benchmark
// needs nothing after that point.
#include <dlfcn.h>
#include <sql.h>
#include <sqlucode.h>
#include <time.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QEvent>
#include <QPushButton>
#include <QTimer>
#include <QWidget>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

namespace {

long long ClockNs(clockid_t clock) {
  timespec ts;
  clock_gettime(clock, &ts);
  return ts.tv_sec * 1000000000LL + ts.tv_nsec;
}

long long NowNs() { return ClockNs(CLOCK_MONOTONIC); }

int OutFd() {
  static const int fd = [] {
    const char* s = std::getenv("TARNWICK_PROBE_FD");
    if (!s) return -1;
    char* end = nullptr;
    const long fd = std::strtol(s, &end, 10);
    return (*end == '\0' && fd >= 0 && fd < 1024) ? static_cast<int>(fd) : -1;
  }();
  return fd;
}

void Report(const char* event, long long ns, long long value = -1) {
  if (OutFd() < 0) return;
  const long long cpu = ClockNs(CLOCK_PROCESS_CPUTIME_ID);
  char line[200];
  int n = value >= 0
              ? std::snprintf(line, sizeof line, "tarnwick-probe %s %lld %lld %lld\n", event,
                              ns, cpu, value)
              : std::snprintf(line, sizeof line, "tarnwick-probe %s %lld %lld\n", event, ns, cpu);
  if (n > 0) {
    ssize_t ignored = write(OutFd(), line, static_cast<size_t>(n));
    (void)ignored;
  }
}

// VmHWM / VmRSS from /proc/self/status, in kB.
long long StatusKb(const char* field) {
  std::ifstream f("/proc/self/status");
  std::string line;
  const std::string prefix = std::string(field) + ":";
  while (std::getline(f, line))
    if (line.compare(0, prefix.size(), prefix) == 0)
      return std::strtoll(line.c_str() + prefix.size(), nullptr, 10);
  return -1;
}

void ReportMemory() {
  const long long t = NowNs();
  Report("hwm-kb", t, StatusKb("VmHWM"));
  Report("rss-kb", t, StatusKb("VmRSS"));
  Report("rss-anon-kb", t, StatusKb("RssAnon"));
  Report("rss-file-kb", t, StatusKb("RssFile"));
}

[[noreturn]] void Finish() {
  Report("done", NowNs());
  _exit(0);
}

bool IsA(const QWidget* w, const char* className) {
  return std::strcmp(w->metaObject()->className(), className) == 0;
}

class Probe : public QObject {
 public:
  bool eventFilter(QObject* o, QEvent* e) override {
    if (e->type() != QEvent::Paint || !o->isWidgetType()) return false;
    QWidget* window = static_cast<QWidget*>(o)->window();
    const long long t = NowNs();
    if (IsA(window, "tarnwick::TFlash")) {
      if (!splash_) Report("splash-paint", t);
      splash_ = true;
    } else if (IsA(window, "tarnwick::TTarnwickMain") && !main_) {
      main_ = true;
      // The rest of the window's paint pass runs before the loop is idle.
      QTimer::singleShot(0, window, [window] {
        Report("main-shown", NowNs());
        ReportMemory();
        if (!std::getenv("TARNWICK_PROBE_CLICK")) Finish();
        QPushButton* start = window->findChild<QPushButton*>(QStringLiteral("btDoWork"));
        if (!start) Finish();
        Report("click", NowNs());
        start->click();
      });
    } else if (IsA(window, "tarnwick::TDbPara") && !para_) {
      para_ = true;
      QTimer::singleShot(0, window, [] {
        Report("para-shown", NowNs());
        ReportMemory();
        Finish();
      });
    } else if (main_ && !box_ && window->inherits("QMessageBox")) {
      box_ = true;
      QTimer::singleShot(0, window, [] {
        Report("box-shown", NowNs());
        ReportMemory();
        Finish();
      });
    }
    return false;
  }

 private:
  bool splash_ = false, main_ = false, para_ = false, box_ = false;
};

void InstallProbe() {
  if (OutFd() < 0) return;
  Report("app-object", NowNs());
  QCoreApplication::instance()->installEventFilter(new Probe);
}

}  // namespace

Q_COREAPP_STARTUP_FUNCTION(InstallProbe)

// Times the connect: the program's one call of SQLConnectW, passed on
// unchanged to the driver manager.
extern "C" SQLRETURN SQL_API SQLConnectW(SQLHDBC hdbc, SQLWCHAR* szDSN, SQLSMALLINT cbDSN,
                                         SQLWCHAR* szUID, SQLSMALLINT cbUID,
                                         SQLWCHAR* szAuthStr, SQLSMALLINT cbAuthStr) {
  using Fn = SQLRETURN(SQL_API*)(SQLHDBC, SQLWCHAR*, SQLSMALLINT, SQLWCHAR*, SQLSMALLINT,
                                 SQLWCHAR*, SQLSMALLINT);
  static Fn real = reinterpret_cast<Fn>(dlsym(RTLD_NEXT, "SQLConnectW"));
  if (!real) return SQL_ERROR;
  Report("connect-start", NowNs());
  const SQLRETURN rc = real(hdbc, szDSN, cbDSN, szUID, cbUID, szAuthStr, cbAuthStr);
  Report("connect-end", NowNs(), SQL_SUCCEEDED(rc) ? 1 : 0);
  return rc;
}
