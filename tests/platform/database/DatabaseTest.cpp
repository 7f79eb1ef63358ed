// The database layer through the real stack: unixODBC, the FreeTDS driver and
// TCP to the SQL Server stand-in on 127.0.0.1.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <stdexcept>

#include "OdbcFixture.h"
#include "StandinServer.h"
#include "platform/database/Database.h"

namespace tarnwick {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

tdsstandin::ServerConfig Config(std::string login, std::string password) {
  tdsstandin::ServerConfig c;
  c.login = std::move(login);
  c.password = std::move(password);
  return c;
}

// A stand-in server and an ODBC configuration whose DSN "LibODBC" reaches it.
struct Standin {
  explicit Standin(tdsstandin::ServerConfig config = Config("sa", "secret"))
      : server(std::move(config)) {
    server.Start();
    odbc = std::make_unique<test::OdbcFixture>(server.Port());
  }
  tdsstandin::Server server;
  std::unique_ptr<test::OdbcFixture> odbc;
};

void Configure(TDatabase& db, const std::string& user,
               const std::string& password, const std::string& name = "LibDB") {
  db.AliasName = "LibODBC";
  db.DatabaseName = name;
  db.Params.Clear();
  db.Params.Add("USER NAME=" + user);
  db.Params.Add("PASSWORD=" + password);
}

std::string Exec(const std::string& sql, const std::string& name = "LibDB") {
  TQuery q;
  q.DatabaseName = name;
  q.SQL.Add(sql);
  q.ExecSQL();
  return q.SQL.Text();
}

// A port on 127.0.0.1 on which nothing listens.
std::uint16_t ClosedPort() {
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
  socklen_t len = sizeof a;
  getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
  close(fd);
  return ntohs(a.sin_port);
}

// ---------------------------------------------------------------------------
// Login

TEST(Connect, CredentialsReachTheServerExactlyAsGiven) {
  struct Case {
    const char* what;
    std::string login, password;  // what the server expects
    std::string sentPassword;     // what Params holds
  };
  const Case cases[] = {
      {"connection-string characters and Chinese", "sa", "p;}={x}=\xE5\xAF\x86\xE7\xA0\x81",
       "p;}={x}=\xE5\xAF\x86\xE7\xA0\x81"},
      {"a would-be extra attribute", "sa", "x;UID=other;PWD=y", "x;UID=other;PWD=y"},
      {"a Chinese login", "\xE8\xAF\xBB\xE8\x80\x85", "pw", "pw"},
      {"an empty password", "sa", "", ""},
      {"a zero byte ends the password", "sa", "abc", std::string("abc\0def", 7)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Standin s(Config(c.login, c.password));
    TDatabase db;
    Configure(db, c.login, c.sentPassword);
    ASSERT_NO_THROW(db.Open());
    EXPECT_TRUE(db.Connected());
    const auto logins = s.server.Logins();
    ASSERT_EQ(logins.size(), 1u);
    EXPECT_EQ(logins[0].user, c.login);
    EXPECT_EQ(logins[0].password, c.password);
    EXPECT_TRUE(logins[0].accepted);
  }
}

// An empty login goes to the driver as an empty argument: nothing stored in
// the data source takes its place. (FreeTDS answers an empty login by trying
// integrated Kerberos authentication, which fails here; SQL Server has no SQL
// login without a name anyway.)
TEST(Connect, EmptyLoginIsSentEmptyAndNotReplaced) {
  tdsstandin::Server server(Config("sa", "pw"));
  server.Start();
  test::DsnSettings dsn;
  dsn.port = server.Port();
  dsn.extraLines = {"UID=sa", "PWD=pw", "UserName=sa", "Password=pw"};
  test::OdbcFixture odbc({dsn});
  TDatabase db;
  Configure(db, "", "pw");
  EXPECT_THROW(db.Open(), EDatabaseError);
  EXPECT_FALSE(db.Connected());
  for (const auto& login : server.Logins()) {
    EXPECT_EQ(login.user, "");
    EXPECT_FALSE(login.accepted);
  }
}

TEST(Connect, WrongPasswordCarriesTheServerMessageButNeverThePassword) {
  Standin s(Config("sa", "right-secret"));
  TDatabase db;
  const std::string wrong = "wrong-\xE5\xAF\x86-secret";
  Configure(db, "sa", wrong);
  try {
    db.Open();
    FAIL() << "a wrong password was accepted";
  } catch (const EDatabaseError& e) {
    const std::string msg = e.what();
    EXPECT_NE(msg.find("Login failed for user 'sa'"), std::string::npos) << msg;
    EXPECT_EQ(msg.find(wrong), std::string::npos) << msg;
    EXPECT_EQ(msg.find("right-secret"), std::string::npos) << msg;
    EXPECT_EQ(e.NativeError(), 18456);
    EXPECT_FALSE(e.SqlState().empty());
  }
  EXPECT_FALSE(db.Connected());
  EXPECT_THROW(Exec("SELECT 1"), EDatabaseError);
}

TEST(Connect, UnreachableServerFailsWithinTheLoginTimeout) {
  struct Case {
    const char* what;
    bool listening;  // a server that accepts TCP but never answers
  };
  for (const Case c : {Case{"nothing listening", false}, Case{"a silent server", true}}) {
    SCOPED_TRACE(c.what);
    tdsstandin::Server silent(Config("sa", "secret"));
    std::uint16_t port = ClosedPort();
    if (c.listening) {
      silent.NeverAnswer(true);
      silent.Start();
      port = silent.Port();
    }
    test::OdbcFixture odbc(port);
    TDatabase db;
    Configure(db, "sa", "secret");
    db.LoginTimeoutSeconds = 3;
    const auto start = Clock::now();
    EXPECT_THROW(db.Open(), EDatabaseError);
    const auto took = Clock::now() - start;
    EXPECT_FALSE(db.Connected());
    // Bounded by the login timeout (plus the driver's own slack), not hung.
    EXPECT_LT(took, 12s);
  }
}

TEST(Connect, UnknownDataSourceIsAnError) {
  Standin s;
  TDatabase db;
  Configure(db, "sa", "secret");
  db.AliasName = "NoSuchDsn";
  EXPECT_THROW(db.Open(), EDatabaseError);
  EXPECT_TRUE(s.server.Logins().empty());
}

// ---------------------------------------------------------------------------
// Open, close and the session registry

TEST(Lifecycle, BeforeConnectRunsFirstAndAfterConnectSeesTheOpenConnection) {
  Standin s;
  TDatabase db;
  db.DatabaseName = "LibDB";
  std::vector<std::string> events;
  db.BeforeConnect = [&](TDatabase& d) {
    events.push_back("before");
    EXPECT_TRUE(s.server.Logins().empty());
    // The parameters are taken as they are after this handler.
    d.AliasName = "LibODBC";
    d.Params.Add("USER NAME=sa");
    d.Params.Add("PASSWORD=secret");
  };
  db.AfterConnect = [&](TDatabase& d) {
    events.push_back("after");
    EXPECT_TRUE(d.Connected());
    EXPECT_EQ(s.server.Logins().size(), 1u);
    EXPECT_NO_THROW(Exec("SELECT NAME FROM SYSOBJECTS"));  // already registered
  };
  db.Open();
  EXPECT_EQ(events, (std::vector<std::string>{"before", "after"}));
  db.Open();  // already open: nothing runs again
  EXPECT_EQ(events.size(), 2u);
  EXPECT_EQ(s.server.Logins().size(), 1u);
}

TEST(Lifecycle, AFailingHandlerLeavesNothingConnectedOrRegistered) {
  Standin s;
  {
    TDatabase db;
    Configure(db, "sa", "secret");
    bool after = false;
    db.BeforeConnect = [](TDatabase&) { throw std::runtime_error("no parameters"); };
    db.AfterConnect = [&](TDatabase&) { after = true; };
    EXPECT_THROW(db.Open(), std::runtime_error);
    EXPECT_FALSE(after);
    EXPECT_FALSE(db.Connected());
    EXPECT_TRUE(s.server.Logins().empty());  // the connect never happened
  }
  {
    TDatabase db;
    Configure(db, "sa", "secret");
    db.AfterConnect = [](TDatabase&) { throw std::runtime_error("splash"); };
    EXPECT_THROW(db.Open(), std::runtime_error);
    EXPECT_FALSE(db.Connected());
    EXPECT_THROW(Exec("SELECT 1"), EDatabaseError);
    // The name is free again.
    db.AfterConnect = nullptr;
    EXPECT_NO_THROW(db.Open());
  }
}

TEST(Lifecycle, QueriesFindTheirConnectionByNameInTheirSession) {
  Standin s;
  auto db1 = std::make_unique<TDatabase>();
  Configure(*db1, "sa", "secret");
  db1->Open();

  TQuery q;
  q.DatabaseName = "libdb";  // names are not case-sensitive
  q.SQL.Add("SELECT NAME FROM SYSOBJECTS");
  EXPECT_NO_THROW(q.ExecSQL());
  q.SessionName = "Other";
  EXPECT_THROW(q.ExecSQL(), EDatabaseError);

  // The same name twice in one session is refused; in another session it is
  // a different connection.
  TDatabase db2;
  Configure(db2, "sa", "secret");
  EXPECT_THROW(db2.Open(), EDatabaseError);
  EXPECT_FALSE(db2.Connected());
  EXPECT_NO_THROW(Exec("SELECT NAME FROM SYSOBJECTS"));  // the first still works
  TDatabase other;
  Configure(other, "sa", "secret");
  other.SessionName = "Other";
  EXPECT_NO_THROW(other.Open());
  EXPECT_NO_THROW(q.ExecSQL());

  // Closing (here: destroying) unregisters; then the name can be opened again.
  db1.reset();
  EXPECT_THROW(Exec("SELECT NAME FROM SYSOBJECTS"), EDatabaseError);
  EXPECT_NO_THROW(db2.Open());
  EXPECT_NO_THROW(Exec("SELECT NAME FROM SYSOBJECTS"));
  db2.Close();
  EXPECT_FALSE(db2.Connected());
  EXPECT_THROW(Exec("SELECT NAME FROM SYSOBJECTS"), EDatabaseError);
}

// ---------------------------------------------------------------------------
// Statements

struct OpenDb : Standin {
  OpenDb() {
    Configure(db, "sa", "secret");
    db.Open();
    server.ClearRecords();
  }
  TDatabase db;
};

TEST(ExecSQL, SendsTheTextUnchangedAsOneBatch) {
  OpenDb s;
  TQuery q;
  q.DatabaseName = "LibDB";
  q.SQL.Add("SELECT NAME FROM SYSOBJECTS WHERE NAME = '\xE4\xB9\xA6\xE7\x9B\xAE'");
  q.SQL.Add("SELECT NAME FROM SYSOBJECTS WHERE NAME = '{fn x}'");
  q.ExecSQL();
  const auto batches = s.server.Batches();
  ASSERT_FALSE(batches.empty());
  EXPECT_EQ(batches.back(), q.SQL.Text());
}

TEST(ExecSQL, ReportsTheErrorOfALaterStatementOfTheBatch) {
  OpenDb s;
  s.server.Seed("CREATE TABLE a (id int)");
  TQuery q;
  q.DatabaseName = "LibDB";
  q.SQL.Add("DROP TABLE a");
  q.SQL.Add("SELECT NAME FROM SYSOBJECTS");  // a result set before the error
  q.SQL.Add("DROP TABLE missing_table");
  try {
    q.ExecSQL();
    FAIL() << "the failing second statement went unreported";
  } catch (const EDatabaseError& e) {
    EXPECT_EQ(e.NativeError(), 3701);
    EXPECT_NE(std::string(e.what()).find("missing_table"), std::string::npos)
        << e.what();
  }
  EXPECT_FALSE(s.server.Exists("a"));  // the first statement did run
  // The connection is usable afterwards.
  EXPECT_NO_THROW(Exec("SELECT NAME FROM SYSOBJECTS"));

  // An error first, then results: reported, and what is left of the batch
  // does not linger on the connection for the next statement.
  q.SQL.Clear();
  q.SQL.Add("DROP TABLE missing_table");
  q.SQL.Add("SELECT NAME FROM SYSOBJECTS");
  q.SQL.Add("SELECT NAME FROM SYSOBJECTS");
  EXPECT_THROW(q.ExecSQL(), EDatabaseError);
  q.SQL.Clear();
  q.SQL.Add("SELECT NAME, XTYPE FROM SYSOBJECTS WHERE NAME = 'a'");
  EXPECT_TRUE(q.OpenRows().empty());
}

TEST(ExecSQL, SyntaxErrorsAndABrokenConnectionAreErrors) {
  OpenDb s;
  try {
    Exec("FROB the catalogue");
    FAIL() << "a syntax error went unreported";
  } catch (const EDatabaseError& e) {
    EXPECT_EQ(e.NativeError(), 102);
  }
  s.server.CutAfterBatches(0);
  EXPECT_THROW(Exec("SELECT NAME FROM SYSOBJECTS"), EDatabaseError);
  EXPECT_THROW(Exec("SELECT NAME FROM SYSOBJECTS"), EDatabaseError);
}

TEST(OpenRows, ReturnsTheRowsOfTheFirstResultSetAsText) {
  OpenDb s;
  s.server.Seed("CREATE TABLE lib_books (id int)");
  TQuery q;
  q.DatabaseName = "LibDB";
  q.SQL.Add("DROP TABLE lib_books");  // no result set of its own
  q.SQL.Add("SELECT NAME, XTYPE FROM SYSOBJECTS WHERE NAME IN ('a', 'lib_books')");
  EXPECT_TRUE(q.OpenRows().empty());

  s.server.Seed("CREATE TABLE lib_books (id int)\nGO\nCREATE TABLE lib_loans (id int)");
  q.SQL.Clear();
  q.SQL.Add("SELECT NAME, XTYPE FROM SYSOBJECTS WHERE NAME IN ('lib_loans', 'lib_books')");
  auto rows = q.OpenRows();
  ASSERT_EQ(rows.size(), 2u);
  std::sort(rows.begin(), rows.end());
  EXPECT_EQ(rows[0][0], "lib_books");
  EXPECT_EQ(rows[1][0], "lib_loans");
  EXPECT_EQ(rows[0][1].substr(0, 1), "U");
}

}  // namespace
}  // namespace tarnwick
