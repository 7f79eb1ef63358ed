// tarnwick-bench-startup: starts the program (under the measuring probe, on
// Qt's offscreen platform) and prints figures as Markdown table rows.
//
//   tarnwick-bench-startup startup APP PROBE RUNS main|para
//       RUNS starts of the program against the server configured in the
//       program's registry hive; each ends when the first window (the cleanup
//       window, or the parameter window after a refused login) is painted.
//       Prints the medians, minima and maxima of: process start to splash
//       painted, the connect, connect returned to first window, process start
//       to first window, and the peak resident memory at that moment.
//   tarnwick-bench-startup wire APP PROBE BATCH_LOG LABEL
//       one start that also presses the start button and ends at the closing
//       box; then reads the stand-in's batch log (empty before the run) and
//       counts what was sent: the statements the driver sends on connect, the
//       nine cleanup batches, the check query, anything else.
//
// Times are CLOCK_MONOTONIC: the runner's reading just before the process is
// spawned is "process start"; the probe reads the same clock in the program.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "cleanup/OpacCleanup.h"
#include "platform/database/Database.h"

extern char** environ;

namespace {

constexpr int kRunTimeoutMs = 15000;  // one start of the program, at most

long long NowNs() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return ts.tv_sec * 1000000000LL + ts.tv_nsec;
}

struct Event {
  long long ns = 0;
  long long cpuNs = 0;  // the program's CPU time so far
  long long value = -1;
};

struct RunResult {
  long long startNs = 0;
  std::map<std::string, Event> events;  // first occurrence of each
  bool ok = false;
  std::string problem;

  std::optional<double> Ms(const std::string& from, const std::string& to) const {
    long long a = from.empty() ? startNs : -1, b = -1;
    if (!from.empty() && events.count(from)) a = events.at(from).ns;
    if (events.count(to)) b = events.at(to).ns;
    if (a < 0 || b < 0) return std::nullopt;
    return (b - a) / 1e6;
  }
  // The program's CPU time (ms) from its start, or between two events.
  std::optional<double> CpuMs(const std::string& from, const std::string& to) const {
    if ((!from.empty() && !events.count(from)) || !events.count(to)) return std::nullopt;
    const long long a = from.empty() ? 0 : events.at(from).cpuNs;
    return (events.at(to).cpuNs - a) / 1e6;
  }
  std::optional<double> Value(const std::string& name) const {
    if (!events.count(name)) return std::nullopt;
    return static_cast<double>(events.at(name).value);
  }
};

// One start of the program; returns the probe's events.
RunResult RunOnce(const std::string& app, const std::string& probe, bool click) {
  RunResult r;
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) {
    r.problem = "pipe failed";
    return r;
  }
  // The write end goes to the program as fd 3 (dup2 in the spawn actions
  // clears close-on-exec there); everything else stays closed in it.
  std::vector<std::string> env;
  for (char** e = environ; *e; ++e) {
    const std::string s = *e;
    if (s.rfind("LD_PRELOAD=", 0) == 0 || s.rfind("QT_QPA_PLATFORM=", 0) == 0 ||
        s.rfind("TARNWICK_PROBE_", 0) == 0)
      continue;
    env.push_back(s);
  }
  env.push_back("QT_QPA_PLATFORM=offscreen");
  env.push_back("LD_PRELOAD=" + probe);
  env.push_back("TARNWICK_PROBE_FD=3");
  if (click) env.push_back("TARNWICK_PROBE_CLICK=1");
  std::vector<char*> envp;
  envp.reserve(env.size() + 1);
  for (auto& s : env) envp.push_back(s.data());
  envp.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, fds[1], 3);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  // Qt's warnings on the offscreen platform would only clutter the table.
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  std::string appCopy = app;
  char* argv[] = {appCopy.data(), nullptr};

  pid_t pid = -1;
  r.startNs = NowNs();
  const int err = posix_spawn(&pid, app.c_str(), &actions, nullptr, argv, envp.data());
  posix_spawn_file_actions_destroy(&actions);
  close(fds[1]);
  if (err != 0) {
    close(fds[0]);
    r.problem = std::string("cannot start the program: ") + std::strerror(err);
    return r;
  }

  std::string buffer;
  const long long deadline = r.startNs + kRunTimeoutMs * 1000000LL;
  bool eof = false;
  while (!eof) {
    const long long left = (deadline - NowNs()) / 1000000;
    if (left <= 0) break;
    pollfd p{fds[0], POLLIN, 0};
    if (poll(&p, 1, static_cast<int>(left)) <= 0) continue;
    char chunk[4096];
    const ssize_t n = read(fds[0], chunk, sizeof chunk);
    if (n <= 0) {
      eof = true;
      break;
    }
    buffer.append(chunk, static_cast<size_t>(n));
  }
  close(fds[0]);
  if (!eof) {
    kill(pid, SIGKILL);
    r.problem = "the program did not reach its last measured point in time";
  }
  int status = 0;
  waitpid(pid, &status, 0);

  std::istringstream lines(buffer);
  std::string line;
  while (std::getline(lines, line)) {
    std::istringstream f(line);
    std::string tag, name;
    Event ev;
    if (!(f >> tag >> name >> ev.ns >> ev.cpuNs) || tag != "tarnwick-probe") continue;
    f >> ev.value;
    r.events.emplace(name, ev);
  }
  if (r.problem.empty() && !r.events.count("done"))
    r.problem = "the program ended before its last measured point";
  r.ok = r.problem.empty();
  return r;
}

struct Stats {
  double median = 0, min = 0, max = 0;
  size_t n = 0;
};

Stats Summarise(std::vector<double> v) {
  Stats s;
  s.n = v.size();
  if (v.empty()) return s;
  std::sort(v.begin(), v.end());
  s.min = v.front();
  s.max = v.back();
  s.median = v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
  return s;
}

std::string Fixed(double x, int decimals = 1) {
  char b[64];
  std::snprintf(b, sizeof b, "%.*f", decimals, x);
  return b;
}

// "| figure | median | min | max | target | verdict |"
void Row(const std::string& figure, const std::vector<double>& values, const std::string& unit,
         const std::string& target = "", std::optional<double> limit = std::nullopt) {
  const Stats s = Summarise(values);
  if (s.n == 0) {
    std::cout << "| " << figure << " | n/a | | | " << target << " | not measured |\n";
    return;
  }
  std::string verdict;
  if (limit) verdict = s.median <= *limit ? "met" : "missed";
  std::cout << "| " << figure << " | " << Fixed(s.median) << " " << unit << " | "
            << Fixed(s.min) << " | " << Fixed(s.max) << " | " << target << " | " << verdict
            << " |\n";
}

int Startup(const std::string& app, const std::string& probe, long runs, bool expectMain) {
  const std::string shown = expectMain ? "main-shown" : "para-shown";
  const std::string window = expectMain ? "cleanup window" : "parameter window";
  std::vector<double> appObject, splash, splashFirstPaint, connect, afterConnect, total, hwm;
  std::vector<double> cpuAppObject, cpuSplash, cpuAfterConnect, rssAnon, rssFile;
  int failures = 0;
  std::string lastProblem;
  for (long i = 0; i < runs; ++i) {
    const RunResult r = RunOnce(app, probe, false);
    if (!r.ok || !r.events.count(shown)) {
      ++failures;
      lastProblem = r.ok ? "the " + window + " was not shown" : r.problem;
      continue;
    }
    if (auto v = r.Ms("", "app-object")) appObject.push_back(*v);
    if (auto v = r.Ms("", "connect-start")) splash.push_back(*v);
    if (auto v = r.Ms("", "splash-paint")) splashFirstPaint.push_back(*v);
    if (auto v = r.Ms("connect-start", "connect-end")) connect.push_back(*v);
    if (auto v = r.Ms("connect-end", shown)) afterConnect.push_back(*v);
    if (auto v = r.Ms("", shown)) total.push_back(*v);
    if (auto v = r.CpuMs("", "app-object")) cpuAppObject.push_back(*v);
    if (auto v = r.CpuMs("", "connect-start")) cpuSplash.push_back(*v);
    if (auto v = r.CpuMs("connect-end", shown)) cpuAfterConnect.push_back(*v);
    if (auto v = r.Value("hwm-kb")) hwm.push_back(*v * 1024 / 1e6);
    if (auto v = r.Value("rss-anon-kb")) rssAnon.push_back(*v * 1024 / 1e6);
    if (auto v = r.Value("rss-file-kb")) rssFile.push_back(*v * 1024 / 1e6);
  }
  const std::string path = expectMain ? "" : " (login refused)";
  Row("start to application object (loading and linking)" + path, appObject, "ms");
  Row("  of which the program's CPU time" + path, cpuAppObject, "ms");
  Row("start to splash painted" + path, splash, "ms", expectMain ? "≤ 150 ms" : "",
      expectMain ? std::optional<double>(150) : std::nullopt);
  Row("start to first splash paint event" + path, splashFirstPaint, "ms");
  Row("  of which the program's CPU time, to splash painted" + path, cpuSplash, "ms");
  Row("the connect itself" + path, connect, "ms");
  Row("connect returned to " + window + " painted", afterConnect, "ms",
      expectMain ? "≤ 100 ms" : "", expectMain ? std::optional<double>(100) : std::nullopt);
  Row("  of which the program's CPU time" , cpuAfterConnect, "ms");
  Row("start to " + window + " painted", total, "ms");
  Row("peak resident memory at the " + window, hwm, "MB", expectMain ? "< 45 MB" : "",
      expectMain ? std::optional<double>(45) : std::nullopt);
  Row("  resident now: the program's own memory (heap, stacks)", rssAnon, "MB");
  Row("  resident now: mapped files (libraries, fonts)", rssFile, "MB");
  if (failures)
    std::cerr << "tarnwick-bench-startup: " << failures << " of " << runs
              << " starts failed: " << lastProblem << "\n";
  return failures == runs ? 1 : 0;
}

std::vector<std::string> ReadBatchLog(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  std::stringstream ss;
  ss << f.rdbuf();
  const std::string text = ss.str();
  const std::string sep = "\n-- end of batch --\n";
  std::vector<std::string> batches;
  size_t pos = 0;
  for (size_t at; (at = text.find(sep, pos)) != std::string::npos; pos = at + sep.size())
    batches.push_back(text.substr(pos, at - pos));
  return batches;
}

std::string OneLine(std::string s) {
  for (char& c : s)
    if (c == '\r' || c == '\n') c = ' ';
  while (!s.empty() && s.back() == ' ') s.pop_back();
  return s;
}

int Wire(const std::string& app, const std::string& probe, const std::string& batchLog,
         const std::string& label) {
  const RunResult r = RunOnce(app, probe, true);
  if (!r.ok || !r.events.count("box-shown")) {
    std::cerr << "tarnwick-bench-startup: the wire run did not reach the closing box: "
              << (r.ok ? "no box" : r.problem) << "\n";
    return 1;
  }
  std::vector<std::string> expected;
  for (const auto& b : tarnwick::kOpacBatches) {
    tarnwick::TStrings sql;
    sql.Add(b.line1);
    if (b.line2) sql.Add(b.line2);
    expected.push_back(sql.Text());
  }
  tarnwick::TStrings check;
  check.Add(tarnwick::kOpacCheckQuery);

  int onConnect = 0, cleanup = 0, checks = 0, other = 0;
  size_t next = 0;  // the cleanup batches must come in their order
  bool inOrder = true;
  std::vector<std::string> connectTexts, otherTexts;
  for (const std::string& b : ReadBatchLog(batchLog)) {
    auto it = std::find(expected.begin(), expected.end(), b);
    if (it != expected.end()) {
      if (static_cast<size_t>(it - expected.begin()) != next) inOrder = false;
      next = static_cast<size_t>(it - expected.begin()) + 1;
      ++cleanup;
    } else if (b == check.Text()) {
      ++checks;
    } else if (cleanup == 0 && checks == 0) {
      ++onConnect;
      connectTexts.push_back(OneLine(b));
    } else {
      ++other;
      otherTexts.push_back(OneLine(b));
    }
  }
  std::string connectList;
  for (const auto& t : connectTexts) connectList += (connectList.empty() ? "" : "; ") + ("`" + t + "`");
  std::cout << "| " << label << " | " << onConnect << (connectList.empty() ? "" : " (" + connectList + ")")
            << " | " << cleanup << (inOrder ? "" : " (out of order!)") << " | " << checks << " | "
            << other << " | " << Fixed(*r.Ms("click", "box-shown")) << " ms |\n";
  for (const auto& t : otherTexts) std::cerr << "unexpected batch: " << t << "\n";
  return 0;
}

int Usage() {
  std::cerr << "usage: tarnwick-bench-startup startup APP PROBE RUNS main|para\n"
               "       tarnwick-bench-startup wire APP PROBE BATCH_LOG LABEL\n";
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  signal(SIGPIPE, SIG_IGN);
  if (argc == 6 && std::string(argv[1]) == "startup") {
    char* end = nullptr;
    const long runs = std::strtol(argv[4], &end, 10);
    const std::string which = argv[5];
    if (*end != '\0' || runs < 1 || runs > 1000 || (which != "main" && which != "para"))
      return Usage();
    return Startup(argv[2], argv[3], runs, which == "main");
  }
  if (argc == 6 && std::string(argv[1]) == "wire") return Wire(argv[2], argv[3], argv[4], argv[5]);
  return Usage();
}
