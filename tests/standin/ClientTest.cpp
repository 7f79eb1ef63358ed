// The stand-in as its clients see it: through unixODBC and the FreeTDS ODBC
// driver, through FreeTDS's tsql and unixODBC's isql, and as a standalone
// program. Every client call is bounded by a time limit.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <thread>

#include "OdbcClient.h"
#include "OdbcFixture.h"
#include "Process.h"
#include "StandinServer.h"

namespace standintest {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

const char kSeed[] =
    "CREATE TABLE books (id int)\n"
    "CREATE TABLE lib_opac_ver (ver int)\n"
    "CREATE TABLE lib_opac_bianma (id int)\n"
    "GO\n"
    "CREATE TRIGGER T_INSERT_bianma ON lib_opac_bianma FOR INSERT AS SELECT 1\n"
    "GO\n";

const char kBatch5[] =
    "IF EXISTS (SELECT NAME FROM SYSOBJECTS WHERE XTYPE = 'TR' AND NAME = "
    "'T_INSERT_bianma')\r\nDROP TRIGGER T_INSERT_bianma\r\n";

// A running stand-in with a small catalogue and an ODBC data source for it.
struct Live {
  explicit Live(std::string password = "Secret;}=\xE4\xB9\xA6")  // 书
      : pw(std::move(password)), server(Config(pw)) {
    server.Seed(kSeed);
    server.Start();
    odbc = std::make_unique<tarnwick::test::OdbcFixture>(server.Port());
  }
  static tdsstandin::ServerConfig Config(const std::string& password) {
    tdsstandin::ServerConfig c;
    c.login = "sa";
    c.password = password;
    c.database = "library";
    return c;
  }
  StepResult Connect(OdbcClient& client, int timeout = 5) {
    return client.Connect(odbc->Dsn(), "sa", pw, timeout);
  }

  std::string pw;
  tdsstandin::Server server;
  std::unique_ptr<tarnwick::test::OdbcFixture> odbc;
};

// The driver answers a statement that returns no rows and no count, such as
// a DROP, with SQL_NO_DATA.
bool Ran(SQLRETURN rc) { return SQL_SUCCEEDED(rc) || rc == SQL_NO_DATA; }

bool HasNative(const std::vector<Diagnostic>& ds, long native,
               const std::string& text = "") {
  for (const auto& d : ds)
    if (d.native == native && d.text.find(text) != std::string::npos)
      return true;
  return false;
}

bool AnyStepHas(const std::vector<StepResult>& steps, long native) {
  for (const auto& s : steps)
    if (s.rc == SQL_ERROR && HasNative(s.diagnostics, native)) return true;
  return false;
}

TEST(StandinOdbc, LoginReceivesTheCredentialsUnchangedAndNothingElseIsSent) {
  Live live;
  OdbcClient client;
  StepResult r = live.Connect(client);
  ASSERT_TRUE(SQL_SUCCEEDED(r.rc)) << (r.diagnostics.empty()
                                           ? ""
                                           : r.diagnostics[0].text);
  auto logins = live.server.Logins();
  ASSERT_EQ(logins.size(), 1u);
  EXPECT_EQ(logins[0].user, "sa");
  EXPECT_EQ(logins[0].password, "Secret;}=\xE4\xB9\xA6");
  EXPECT_TRUE(logins[0].accepted);
  // The FreeTDS ODBC driver sends no statement of its own when it connects.
  EXPECT_TRUE(live.server.Batches().empty());
}

TEST(StandinOdbc, ARefusedLoginCarriesTheServersMessage) {
  struct Case {
    const char* user;
    const char* password;
    bool refuseAll;
  };
  const Case cases[] = {
      {"sa", "wrong", false},
      {"reader", "Secret;}=\xE4\xB9\xA6", false},
      {"sa", "Secret;}=\xE4\xB9\xA6", true},
  };
  Live live;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.user);
    live.server.RefuseLogins(c.refuseAll);
    live.server.ClearRecords();
    OdbcClient client;
    StepResult r = client.Connect(live.odbc->Dsn(), c.user, c.password);
    EXPECT_EQ(r.rc, SQL_ERROR);
    EXPECT_TRUE(HasNative(r.diagnostics, 18456,
                          std::string("Login failed for user '") + c.user +
                              "'."));
    auto logins = live.server.Logins();
    ASSERT_EQ(logins.size(), 1u);
    EXPECT_EQ(logins[0].user, c.user);
    EXPECT_FALSE(logins[0].accepted);
  }
}

TEST(StandinOdbc, BatchesArriveExactlyAndInOrder) {
  Live live;
  OdbcClient client;
  ASSERT_TRUE(SQL_SUCCEEDED(live.Connect(client).rc));
  const std::string batch1 = "DROP table lib_opac_ver\r\n";
  auto r1 = client.Execute(batch1);
  EXPECT_TRUE(Ran(r1[0].rc));
  auto r5 = client.Execute(kBatch5);
  EXPECT_TRUE(Ran(r5[0].rc));
  const std::string unicode = "SELECT name FROM sysobjects WHERE name = N'\xE4\xB9\xA6'";
  client.Execute(unicode);

  EXPECT_EQ(live.server.Batches(),
            (std::vector<std::string>{batch1, kBatch5, unicode}));
  EXPECT_EQ(std::string(kBatch5).size(), 119u);
  EXPECT_FALSE(live.server.Exists("lib_opac_ver"));
  EXPECT_FALSE(live.server.Exists("T_INSERT_bianma"));
  EXPECT_TRUE(live.server.Exists("lib_opac_bianma"));
}

TEST(StandinOdbc, TheErrorOfAnyStatementOfABatchReachesTheClient) {
  Live live;
  OdbcClient client;
  ASSERT_TRUE(SQL_SUCCEEDED(live.Connect(client).rc));

  // A missing table: the error is the execution's own.
  auto missing = client.Execute("DROP table lib_opac_change\r\n");
  EXPECT_EQ(missing[0].rc, SQL_ERROR);
  EXPECT_TRUE(HasNative(missing[0].diagnostics, 3701,
                        "Cannot drop the table 'lib_opac_change', because it "
                        "does not exist or you do not have permission."));

  // The first statement fails, the second still runs.
  auto first = client.Execute("DROP TABLE nothere\r\nDROP TABLE books\r\n");
  EXPECT_TRUE(AnyStepHas(first, 3701));
  EXPECT_FALSE(live.server.Exists("books"));

  // The first succeeds and the second fails: found while draining.
  auto second =
      client.Execute("DROP TABLE lib_opac_ver\r\nDROP TRIGGER nothere\r\n");
  EXPECT_TRUE(AnyStepHas(second, 3701));
  EXPECT_FALSE(live.server.Exists("lib_opac_ver"));

  // A refused drop.
  live.server.DenyDrop("lib_opac_bianma");
  auto denied = client.Execute("DROP table lib_opac_bianma\r\n");
  EXPECT_TRUE(AnyStepHas(denied, 3701));
  EXPECT_TRUE(live.server.Exists("lib_opac_bianma"));

  auto syntax = client.Execute("DROP lib_opac_bianma");
  EXPECT_TRUE(HasNative(syntax[0].diagnostics, 102,
                        "Incorrect syntax near 'lib_opac_bianma'."));
}

TEST(StandinOdbc, SelectFromSysobjectsReturnsRows) {
  Live live;
  OdbcClient client;
  ASSERT_TRUE(SQL_SUCCEEDED(live.Connect(client).rc));
  auto r = client.Execute(
      "SELECT NAME, XTYPE FROM SYSOBJECTS WHERE NAME IN ('lib_opac_ver', "
      "'lib_opac_bianma', 'lib_opac_tiaoma', 'lib_opac_change', "
      "'T_INSERT_bianma', 'T_INSERT_tiaoma', 'T_DELETE_bianma', "
      "'T_DELETE_tiaoma', 'T_CHG_cunfang')");
  ASSERT_TRUE(SQL_SUCCEEDED(r[0].rc));
  EXPECT_EQ(r[0].rows, (std::vector<std::vector<std::string>>{
                           {"lib_opac_ver", "U "},
                           {"lib_opac_bianma", "U "},
                           {"T_INSERT_bianma", "TR"}}));
}

TEST(StandinOdbc, LongBatchesAndLongAnswersSpanSeveralPackets) {
  Live live;
  std::string seed, query = "SELECT name, xtype FROM sysobjects WHERE name IN (";
  for (int i = 0; i < 400; ++i) {
    const std::string name = "archive_shelf_" + std::to_string(1000 + i);
    seed += "CREATE TABLE " + name + " (id int)\n";
    query += (i ? ", '" : "'") + name + "'";
  }
  query += ")\r\n";
  live.server.Seed(seed);
  ASSERT_GT(query.size() * 2, 4 * 4096u);  // UTF-16 on the wire

  OdbcClient client;
  ASSERT_TRUE(SQL_SUCCEEDED(live.Connect(client).rc));
  auto r = client.Execute(query);
  ASSERT_TRUE(SQL_SUCCEEDED(r[0].rc));
  ASSERT_EQ(r[0].rows.size(), 400u);
  EXPECT_EQ(r[0].rows.front()[0], "archive_shelf_1000");
  EXPECT_EQ(r[0].rows.back()[0], "archive_shelf_1399");
  EXPECT_EQ(live.server.Batches(), std::vector<std::string>{query});
}

TEST(StandinOdbc, ACutConnectionFailsLaterBatchesAndNewConnectionsWork) {
  Live live;
  OdbcClient client;
  ASSERT_TRUE(SQL_SUCCEEDED(live.Connect(client).rc));
  live.server.CutAfterBatches(1);
  EXPECT_TRUE(Ran(client.Execute("DROP TABLE books")[0].rc));
  const auto start = Clock::now();
  auto cut = client.Execute("DROP TABLE lib_opac_ver");
  auto after = client.Execute("DROP TABLE lib_opac_bianma");
  EXPECT_LT(Clock::now() - start, 10s);
  EXPECT_EQ(cut[0].rc, SQL_ERROR);
  EXPECT_EQ(after[0].rc, SQL_ERROR);
  EXPECT_TRUE(live.server.Exists("lib_opac_ver"));
  EXPECT_EQ(live.server.Batches(), std::vector<std::string>{"DROP TABLE books"});

  OdbcClient again;
  ASSERT_TRUE(SQL_SUCCEEDED(live.Connect(again).rc));
  EXPECT_TRUE(Ran(again.Execute("DROP TABLE lib_opac_ver")[0].rc));
}

TEST(StandinOdbc, ASilentServerEndsAtTheClientsLoginTimeout) {
  Live live;
  live.server.NeverAnswer(true);
  OdbcClient client;
  const auto start = Clock::now();
  StepResult r = live.Connect(client, 2);
  const auto took = Clock::now() - start;
  EXPECT_EQ(r.rc, SQL_ERROR);
  EXPECT_GE(took, 1500ms);
  EXPECT_LT(took, 10s);
  EXPECT_TRUE(live.server.Logins().empty());
}

TEST(StandinOdbc, DelaysAreHonouredAndStopDoesNotWaitForThem) {
  Live live;
  live.server.SetLoginDelay(400ms);
  live.server.SetBatchDelay(400ms);
  OdbcClient client;
  auto start = Clock::now();
  ASSERT_TRUE(SQL_SUCCEEDED(live.Connect(client).rc));
  EXPECT_GE(Clock::now() - start, 400ms);
  start = Clock::now();
  EXPECT_TRUE(Ran(client.Execute("DROP TABLE books")[0].rc));
  EXPECT_GE(Clock::now() - start, 400ms);

  // A client whose query timeout expires first cancels the batch: it does
  // not run, and the connection stays usable.
  live.server.SetBatchDelay(4s);
  auto cancelled = client.Execute("DROP TABLE lib_opac_ver", 1);
  EXPECT_EQ(cancelled[0].rc, SQL_ERROR);
  ASSERT_FALSE(cancelled[0].diagnostics.empty());
  EXPECT_EQ(cancelled[0].diagnostics[0].state, "HYT00");
  live.server.SetBatchDelay(0ms);
  EXPECT_TRUE(live.server.Exists("lib_opac_ver"));
  EXPECT_TRUE(Ran(client.Execute("DROP TABLE lib_opac_ver")[0].rc));
  EXPECT_EQ(live.server.Batches(),
            (std::vector<std::string>{"DROP TABLE books",
                                      "DROP TABLE lib_opac_ver"}));

  // A login that would wait a minute: the client gives up first, and the
  // server stops at once although that connection is still waiting.
  live.server.SetLoginDelay(60s);
  OdbcClient late;
  start = Clock::now();
  EXPECT_EQ(live.Connect(late, 1).rc, SQL_ERROR);
  EXPECT_LT(Clock::now() - start, 10s);
  start = Clock::now();
  live.server.Stop();
  EXPECT_LT(Clock::now() - start, 5s);
}

TEST(StandinOdbc, ServesSeveralConnectionsAndStopsWithThemOpen) {
  Live live;
  OdbcClient a, b;
  ASSERT_TRUE(SQL_SUCCEEDED(live.Connect(a).rc));
  ASSERT_TRUE(SQL_SUCCEEDED(live.Connect(b).rc));
  EXPECT_TRUE(Ran(a.Execute("DROP TABLE books")[0].rc));
  // b sees what a did: one catalogue for all connections.
  EXPECT_EQ(b.Execute("DROP TABLE books")[0].rc, SQL_ERROR);
  const auto start = Clock::now();
  live.server.Stop();
  EXPECT_LT(Clock::now() - start, 5s);
  EXPECT_EQ(a.Execute("DROP TABLE lib_opac_ver")[0].rc, SQL_ERROR);
}

std::string ReadFile(const std::string& path);

// The demo's library database: every table has rows, and they come back
// through the driver as stored, NULLs and Chinese text included.
TEST(StandinOdbc, TheLibrarySeedLoadsAndItsRowsComeBack) {
  tdsstandin::Server server(Live::Config("pw"));
  server.Seed(ReadFile(STANDIN_SEED));
  std::map<std::string, std::uint64_t> rows;
  int triggers = 0;
  for (const auto& o : server.Objects()) {
    if (o.xtype == "U") rows[o.name] = o.rows;
    if (o.xtype == "TR") ++triggers;
  }
  EXPECT_EQ(triggers, 5);
  EXPECT_EQ(rows, (std::map<std::string, std::uint64_t>{
                      {"books", 7},
                      {"readers", 4},
                      {"lib_cunfang", 8},
                      {"loans", 5},
                      {"lib_opac_ver", 1},
                      {"lib_opac_bianma", 6},
                      {"lib_opac_tiaoma", 7},
                      {"lib_opac_change", 3}}));

  server.Start();
  tarnwick::test::OdbcFixture odbc(server.Port());
  OdbcClient client;
  ASSERT_TRUE(SQL_SUCCEEDED(client.Connect(odbc.Dsn(), "sa", "pw").rc));
  auto listed = client.Execute(
      "SELECT tiaoma, book_id, location FROM lib_cunfang WHERE book_id IN (1, 7)");
  ASSERT_TRUE(SQL_SUCCEEDED(listed[0].rc));
  const std::string shelf = "\xE4\xB8\x80\xE6\xA5\xBC \xE6\x96\x87\xE5\xAD\xA6 I242.4";  // 一楼 文学
  EXPECT_EQ(listed[0].rows, (std::vector<std::vector<std::string>>{
                                {"A0000101", "1", shelf},
                                {"A0000102", "1", shelf},
                                {"A0000701", "7", "<null>"}}));
  auto loans = client.Execute("SELECT returned_on, reader_id FROM loans WHERE loan_id = 5002");
  ASSERT_TRUE(SQL_SUCCEEDED(loans[0].rc));
  EXPECT_EQ(loans[0].rows,
            (std::vector<std::vector<std::string>>{{"<null>", "102"}}));

  // An INSERT through the driver, then its count.
  auto inserted = client.Execute(
      "INSERT INTO readers (reader_id, name, card_no) VALUES (105, N'\xE5\x88\x98\xE6\xB4\x8B', 'R2024-0105')");  // 刘洋
  EXPECT_TRUE(Ran(inserted[0].rc));
  auto count = client.Execute("SELECT COUNT(*) FROM readers");
  ASSERT_TRUE(SQL_SUCCEEDED(count[0].rc));
  EXPECT_EQ(count[0].rows, (std::vector<std::vector<std::string>>{{"5"}}));
  auto bad = client.Execute("INSERT INTO readers (reader_id) VALUES (106)");
  EXPECT_TRUE(HasNative(bad[0].diagnostics, 515, "column 'name'"));
}

std::vector<std::string> Tsql(const Live& live, const std::string& password) {
  return {TSQL_PATH, "-H", "127.0.0.1", "-p", std::to_string(live.server.Port()),
          "-U", "sa", "-P", password, "-D", "library"};
}

TEST(StandinClients, TsqlLogsInRunsBatchesAndSeesRefusals) {
  // tsql reads its arguments in the process's character set, which is ASCII
  // when no locale is set.
  Live live("Secret;}=x");
  setenv("TDSVER", "7.4", 1);
  ProcessResult ok = RunProgram(Tsql(live, live.pw),
                         "SELECT name, xtype FROM sysobjects WHERE xtype = "
                         "'TR'\ngo\nDROP TABLE nothere\ngo\nquit\n",
                         20s);
  EXPECT_FALSE(ok.timedOut);
  EXPECT_NE(ok.output.find("T_INSERT_bianma\tTR"), std::string::npos)
      << ok.output;
  EXPECT_NE(ok.output.find("Msg 3701 (severity 11"), std::string::npos)
      << ok.output;
  EXPECT_EQ(live.server.Batches(),
            (std::vector<std::string>{
                "SELECT name, xtype FROM sysobjects WHERE xtype = 'TR'\n",
                "DROP TABLE nothere\n"}));

  ProcessResult refused = RunProgram(Tsql(live, "wrong"), "quit\n", 20s);
  EXPECT_FALSE(refused.timedOut);
  EXPECT_NE(refused.output.find("Login failed for user 'sa'."),
            std::string::npos)
      << refused.output;
  EXPECT_NE(refused.exitCode, 0);
}

TEST(StandinClients, IsqlPreparedStatementsRunLikeBatches) {
  Live live("Secret;}=x");  // ASCII, as for tsql
  ProcessResult r =
      RunProgram({ISQL_PATH, "-v", "-b", live.odbc->Dsn(), "sa", live.pw},
          "SELECT name, xtype FROM sysobjects WHERE xtype = 'U'\n"
          "DROP TABLE books\nDROP TABLE books\n",
          20s);
  EXPECT_FALSE(r.timedOut);
  EXPECT_NE(r.output.find("| lib_opac_ver"), std::string::npos) << r.output;
  EXPECT_NE(r.output.find("3 rows fetched"), std::string::npos) << r.output;
  EXPECT_NE(r.output.find("Cannot drop the table 'books'"), std::string::npos)
      << r.output;
  EXPECT_FALSE(live.server.Exists("books"));
  EXPECT_EQ(live.server.Batches().size(), 3u);
}

std::string ReadFile(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  std::stringstream s;
  s << f.rdbuf();
  return s.str();
}

struct TempDir {
  TempDir() {
    std::string pattern =
        (std::filesystem::temp_directory_path() / "standin-XXXXXX").string();
    if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
    path = pattern;
  }
  ~TempDir() { std::filesystem::remove_all(path); }
  std::string path;
};

TEST(StandinProgram, ServesLogsAndStopsOnSigterm) {
  TempDir dir;
  const std::string log = dir.path + "/batches.log";
  const std::string cat = dir.path + "/catalogue.txt";
  const std::string counts = dir.path + "/rows.txt";
  Background program({STANDIN_PROGRAM, "--port", "0", "--password", "pw",
                      "--seed", STANDIN_SEED, "--batch-log", log,
                      "--catalogue-file", cat, "--row-counts-file", counts});
  bool ok = false;
  std::string line = program.ReadLine(10s, ok);
  ASSERT_TRUE(ok);
  ASSERT_EQ(line.rfind("listening on 127.0.0.1:", 0), 0u) << line;
  const std::string port = line.substr(line.rfind(':') + 1);
  EXPECT_NE(ReadFile(cat).find("TR\tT_CHG_cunfang\tlib_cunfang\n"),
            std::string::npos);
  EXPECT_NE(ReadFile(counts).find("books\t7\nreaders\t4\n"), std::string::npos)
      << ReadFile(counts);

  TempDir conf;
  std::ofstream(conf.path + "/freetds.conf") << "[global]\n";
  setenv("FREETDSCONF", (conf.path + "/freetds.conf").c_str(), 1);
  setenv("TDSVER", "7.4", 1);
  ProcessResult r = RunProgram({TSQL_PATH, "-H", "127.0.0.1", "-p", port, "-U", "sa",
                         "-P", "pw", "-D", "library"},
                        "DROP table lib_opac_ver\ngo\nDROP TRIGGER "
                        "T_CHG_cunfang\ngo\nquit\n",
                        20s);
  EXPECT_FALSE(r.timedOut);
  EXPECT_EQ(ReadFile(log),
            "DROP table lib_opac_ver\n\n-- end of batch --\n"
            "DROP TRIGGER T_CHG_cunfang\n\n-- end of batch --\n");
  const std::string catalogue = ReadFile(cat);
  EXPECT_EQ(catalogue.find("lib_opac_ver"), std::string::npos);
  EXPECT_EQ(catalogue.find("T_CHG_cunfang"), std::string::npos);
  EXPECT_NE(catalogue.find("U\tbooks\t\n"), std::string::npos);
  EXPECT_NE(catalogue.find("TR\tT_INSERT_bianma\tlib_opac_bianma\n"),
            std::string::npos);
  // The dropped table's row count goes with it; the others stay.
  const std::string rowCounts = ReadFile(counts);
  EXPECT_EQ(rowCounts.find("lib_opac_ver"), std::string::npos);
  EXPECT_NE(rowCounts.find("lib_opac_bianma\t6\n"), std::string::npos);
  // The password given on the command line is never echoed.
  EXPECT_EQ(ReadFile(log).find("pw"), std::string::npos);

  program.Signal(SIGTERM);
  EXPECT_EQ(program.Wait(5s), 0);
}

TEST(StandinProgram, HelpAndBadArguments) {
  ProcessResult help = RunProgram({STANDIN_PROGRAM, "--help"}, "", 5s);
  EXPECT_EQ(help.exitCode, 0);
  EXPECT_NE(help.output.find("for tests and demos only"), std::string::npos);
  EXPECT_NE(help.output.find("NOT\na database server"), std::string::npos);

  EXPECT_EQ(RunProgram({STANDIN_PROGRAM, "--port", "70000"}, "", 5s).exitCode, 2);
  EXPECT_EQ(RunProgram({STANDIN_PROGRAM, "--bogus"}, "", 5s).exitCode, 2);
  ProcessResult seed =
      RunProgram({STANDIN_PROGRAM, "--seed", "/nonexistent/seed.sql"}, "", 5s);
  EXPECT_EQ(seed.exitCode, 1);
}

}  // namespace
}  // namespace standintest
