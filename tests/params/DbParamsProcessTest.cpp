// Saving and loading from separate processes: as a user without rights (CI
// runs as root, so these steps drop to `nobody`), killed in the middle of a
// save, and two at once.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <random>
#include <regex>
#include <thread>

#include "app/unGlobal.h"
#include "params/DbParams.h"
#include "platform/registry/RegFileHive.h"
#include "TestFiles.h"

namespace tarnwick {
namespace {

using namespace testing_files;

constexpr char kBothKeys[] =
    "Windows Registry Editor Version 5.00\n\n"
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Brindlewave]\n\n"
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Brindlewave\\Lib]\n"
    "\"ODBCNAME\"=\"LibODBC\"\n\"USERNAME\"=\"34033404\"\n\"PASSWORD\"=\"\"\n";

std::string Quote(const std::string& s) {
  std::string out = "'";
  for (char c : s) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

// Runs a shell command (bounded by `timeout`) and returns its standard output.
std::string RunShell(const std::string& cmd) {
  FILE* p = ::popen(("timeout 30 " + cmd + " 2>&1").c_str(), "r");
  if (!p) return "popen failed";
  std::string out;
  char buf[4096];
  std::size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
  ::pclose(p);
  return out;
}

// A folder under /tmp that `nobody` can reach, holding a copy of the tool
// (the checkout itself may be out of that user's reach).
class NobodySandbox : public ::testing::Test {
 protected:
  void SetUp() override {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to drop privileges to nobody";
    if (RunShell("command -v setpriv").empty()) GTEST_SKIP() << "setpriv missing";
    root_.emplace("/tmp");
    fs::permissions(root_->path(), fs::perms(0755));
    tool_ = *root_ / "hive_tool";
    fs::copy_file(HIVE_TOOL, tool_);
    fs::permissions(tool_, fs::perms(0755));
    hiveDir_ = *root_ / "etc";
    fs::create_directory(hiveDir_);
    file_ = hiveDir_ / "HKLM.reg";
  }
  std::string AsNobody(const std::string& args) {
    return RunShell("setpriv --reuid=nobody --regid=nogroup --clear-groups " + Quote(tool_.string()) + " " + args);
  }
  void Setup(const char* content, fs::perms dirMode, fs::perms fileMode, bool fileOwnedByNobody = false) {
    if (content) {
      WriteAll(file_, content);
      fs::permissions(file_, fileMode);
      if (fileOwnedByNobody) {
        ASSERT_EQ(RunShell("chown nobody:nogroup " + Quote(file_.string())), "");
      }
    }
    fs::permissions(hiveDir_, dirMode);
  }

  std::optional<TempDir> root_;
  fs::path tool_, hiveDir_, file_;
};

TEST_F(NobodySandbox, AUserWhoMayNotChangeTheFileCannotSave) {
  const std::string both = kBothKeys;
  const std::string parentOnly =
      "Windows Registry Editor Version 5.00\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Brindlewave]\n";
  struct Case {
    const char* what;
    const std::string* content;
    fs::perms dirMode, fileMode;
    std::string saveOutput;
  } cases[] = {
      {"both keys, read-only file and folder", &both, fs::perms(0755), fs::perms(0644), "false\n"},
      {"writable folder, read-only file", &both, fs::perms(0777), fs::perms(0644), "false\n"},
      {"writable file, read-only folder", &both, fs::perms(0755), fs::perms(0666), "false\n"},
      {"sub-key missing", &parentOnly, fs::perms(0755), fs::perms(0644),
       "error: Failed to create key SOFTWARE\\Brindlewave\\Lib\n"},
      {"no file, read-only folder", nullptr, fs::perms(0755), fs::perms(0644),
       "error: Failed to create key SOFTWARE\\Brindlewave\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    fs::remove(file_);
    Setup(c.content ? c.content->c_str() : nullptr, c.dirMode, c.fileMode);
    EXPECT_EQ(AsNobody("save " + Quote(file_.string()) + " newdsn newuser newpass"), c.saveOutput);
    if (c.content) {
      EXPECT_EQ(ReadAll(file_), *c.content);
      // Reading needs no more than read rights.
      if (c.content == &both) {
        EXPECT_EQ(AsNobody("load " + Quote(file_.string())), "odbc=LibODBC\nlogin=ab\npassword=\nfound\n");
      }
    } else {
      EXPECT_FALSE(fs::exists(file_));
    }
    EXPECT_EQ(std::distance(fs::directory_iterator(hiveDir_), fs::directory_iterator()), c.content ? 1 : 0);
    fs::permissions(hiveDir_, fs::perms(0755));
  }
}

TEST_F(NobodySandbox, AFileTheUserMayNotReadIsAMissingKeyAndIsNeverReplaced) {
  Setup(kBothKeys, fs::perms(0777), fs::perms(0600));
  EXPECT_EQ(AsNobody("load " + Quote(file_.string())), "missing\n");
  EXPECT_EQ(AsNobody("save " + Quote(file_.string()) + " d u p"),
            "error: Failed to create key SOFTWARE\\Brindlewave\n");
  EXPECT_EQ(ReadAll(file_), kBothKeys);
}

TEST_F(NobodySandbox, TheOwnerOfTheFileCanSaveAndTheModeIsKept) {
  Setup(kBothKeys, fs::perms(0777), fs::perms(0640), true);
  EXPECT_EQ(AsNobody("save " + Quote(file_.string()) + " d u p"), "true\n");
  EXPECT_EQ(AsNobody("load " + Quote(file_.string())), "odbc=d\nlogin=u\npassword=p\nfound\n");
  EXPECT_EQ(fs::status(file_).permissions(), fs::perms(0640));
}

pid_t Spawn(const std::vector<std::string>& args) {
  const pid_t pid = ::fork();
  if (pid == 0) {
    std::vector<char*> argv;
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    ::execv(argv[0], argv.data());
    ::_exit(127);
  }
  return pid;
}

// Waits up to `limit` for the child; kills it when it does not end in time.
int WaitBounded(pid_t pid, std::chrono::milliseconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  int status = 0;
  while (::waitpid(pid, &status, WNOHANG) == 0) {
    if (std::chrono::steady_clock::now() > deadline) {
      ::kill(pid, SIGKILL);
      ::waitpid(pid, &status, 0);
      return -1;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(SaveKilled, AProcessKilledAnywhereInASaveLeavesTheOldOrTheNewFile) {
  TempDir dir;
  const fs::path file = dir / "HKLM.reg";
  const std::string prefix =
      "Windows Registry Editor Version 5.00\r\n\r\n; hand-written note\r\n"
      "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Brindlewave\\Lib]\r\n";
  const std::string suffix =
      "\"Other\"=hex(2):41,00,\\\r\n  00,00\r\n\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Elsewhere]\r\n\"K\"=\"v\"\r\n";
  WriteAll(file, prefix + "\"ODBCNAME\"=\"dsn0\"\r\n\"USERNAME\"=\"\"\r\n\"PASSWORD\"=\"\"\r\n" + suffix);
  const std::regex shape("\"ODBCNAME\"=\"dsn[0-9]+\"\r\n\"USERNAME\"=\"[0347]*\"\r\n\"PASSWORD\"=\"[0347]*\"\r\n");
  const std::regex user("user[0-9]+|"), pass("pass[0-9]+|");

  std::mt19937 rng(std::random_device{}());
  bool changed = false;
  // Forty rounds at least; while no save has completed yet (a slow start, as
  // under a sanitizer or a loaded machine), more rounds with longer waits.
  for (int round = 0; round < 40 || (!changed && round < 200); ++round) {
    const pid_t pid = Spawn({HIVE_TOOL, "saveloop", file.string()});
    ASSERT_GT(pid, 0);
    const unsigned spread = 20000u << std::min(round / 40, 4);
    std::this_thread::sleep_for(std::chrono::microseconds(500 + rng() % spread));
    ::kill(pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);

    const std::string now = ReadAll(file);
    ASSERT_GE(now.size(), prefix.size() + suffix.size()) << now;
    ASSERT_EQ(now.substr(0, prefix.size()), prefix);
    ASSERT_EQ(now.substr(now.size() - suffix.size()), suffix);
    const std::string middle = now.substr(prefix.size(), now.size() - prefix.size() - suffix.size());
    ASSERT_TRUE(std::regex_match(middle, shape)) << middle;

    RegFileHive hive(file.string());
    DbParamsReceiver r;
    std::string odbc, login, password;
    r.odbcName = [&](const std::string& s) { odbc = s; };
    r.login = [&](const std::string& s) { login = s; };
    r.password = [&](const std::string& s) { password = s; };
    ASSERT_TRUE(LoadDbParams(hive, r));
    EXPECT_TRUE(std::regex_match(login, user)) << login;
    EXPECT_TRUE(std::regex_match(password, pass)) << password;
    changed = changed || odbc != "dsn0";
  }
  EXPECT_TRUE(changed) << "no save ever completed; the test proved nothing";
}

TEST(SaveConcurrent, TwoProcessesWritingAtOnceLoseNothing) {
  TempDir dir;
  const fs::path file = dir / "HKLM.reg";
  const std::string start = std::string(kBothKeys) + "; keep\n";
  WriteAll(file, start);
  const int kCount = 40;
  const pid_t a = Spawn({HIVE_TOOL, "setloop", file.string(), "SOFTWARE\\A", std::to_string(kCount)});
  const pid_t b = Spawn({HIVE_TOOL, "setloop", file.string(), "SOFTWARE\\B", std::to_string(kCount)});
  EXPECT_EQ(WaitBounded(a, std::chrono::seconds(60)), 0);
  EXPECT_EQ(WaitBounded(b, std::chrono::seconds(60)), 0);

  const std::string end = ReadAll(file);
  EXPECT_EQ(end.substr(0, start.size()), start);
  const std::string tail = end.substr(start.size());
  // Each key's section was added once and holds the last value written.
  for (const char* key : {"A", "B"}) {
    const std::string section = std::string("[HKEY_LOCAL_MACHINE\\SOFTWARE\\") + key + "]\n\"N\"=\"" +
                                std::to_string(kCount) + "\"\n";
    EXPECT_NE(tail.find(section), std::string::npos) << tail;
  }
  EXPECT_EQ(tail.size(), std::string("\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\A]\n\"N\"=\"40\"\n").size() * 2) << tail;
}

}  // namespace
}  // namespace tarnwick
