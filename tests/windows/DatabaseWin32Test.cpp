// The database layer and the cleanup runner of the Windows build, through the
// Windows ODBC manager odbc32. Under Wine, odbc32 hands the calls to the
// host's unixODBC and FreeTDS driver, which reach the SQL Server stand-in
// that scripts/test-windows starts; the script names the DSN and the login
// in TARNWICK_WIN_TEST_DSN, TARNWICK_WIN_TEST_LOGIN and
// TARNWICK_WIN_TEST_PASSWORD.
#include "cleanup/OpacCleanup.h"
#include "platform/database/Database.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <set>
#include <string>
#include <vector>

namespace tarnwick {
namespace {

struct Target {
  std::string dsn, login, password;
};

const Target* StandinTarget() {
  static const Target* target = []() -> const Target* {
    const char* dsn = std::getenv("TARNWICK_WIN_TEST_DSN");
    const char* login = std::getenv("TARNWICK_WIN_TEST_LOGIN");
    const char* password = std::getenv("TARNWICK_WIN_TEST_PASSWORD");
    if (!dsn || !login || !password) return nullptr;
    return new Target{dsn, login, password};
  }();
  return target;
}

class DatabaseWin32 : public ::testing::Test {
 protected:
  void SetUp() override {
    target_ = StandinTarget();
    if (target_ == nullptr) {
      // Not skipped: a run that lost its stand-in must not pass unnoticed.
      FAIL() << "no stand-in named in TARNWICK_WIN_TEST_DSN/_LOGIN/_PASSWORD;"
                " run through scripts/test-windows";
    }
  }

  void Configure(TDatabase& db, const std::string& password) {
    db.AliasName = target_->dsn;
    db.DatabaseName = "LibDB";
    db.LoginTimeoutSeconds = 10;
    db.Params.Clear();
    db.Params.Add("USER NAME=" + target_->login);
    db.Params.Add("PASSWORD=" + password);
  }

  static void Exec(const std::vector<std::string>& lines) {
    TQuery q;
    q.DatabaseName = "LibDB";
    for (const auto& l : lines) q.SQL.Add(l);
    q.ExecSQL();
  }

  // Names of the tables ('U') and triggers ('TR') the server holds.
  static std::set<std::string> Objects() {
    TQuery q;
    q.DatabaseName = "LibDB";
    q.SQL.Add(
        "SELECT NAME FROM SYSOBJECTS WHERE XTYPE = 'U' OR XTYPE = 'TR'");
    std::set<std::string> names;
    for (const auto& row : q.OpenRows()) {
      if (!row.empty()) names.insert(row[0]);
    }
    return names;
  }

  // The four OPAC tables, their five triggers and a table that must stay.
  static void CreateLibrary() {
    Exec({"CREATE TABLE books (book_id int NOT NULL)"});
    for (const char* t : {"lib_opac_ver", "lib_opac_bianma", "lib_opac_tiaoma",
                          "lib_opac_change"}) {
      Exec({std::string("CREATE TABLE ") + t + " (x int NULL)"});
    }
    const char* triggers[][2] = {{"T_INSERT_bianma", "lib_opac_bianma"},
                                 {"T_INSERT_tiaoma", "lib_opac_tiaoma"},
                                 {"T_DELETE_bianma", "lib_opac_bianma"},
                                 {"T_DELETE_tiaoma", "lib_opac_tiaoma"},
                                 {"T_CHG_cunfang", "lib_opac_change"}};
    for (const auto& t : triggers) {
      Exec({std::string("CREATE TRIGGER ") + t[0] + " ON " + t[1] +
                " FOR INSERT AS",
            "  UPDATE lib_opac_ver SET x = 1"});
    }
  }

  const Target* target_ = nullptr;
};

TEST_F(DatabaseWin32, ConnectsThroughOdbc32AndRunsTheCleanup) {
  TDatabase db;
  Configure(db, target_->password);
  int before = 0, after = 0;
  db.BeforeConnect = [&](TDatabase&) { ++before; };
  db.AfterConnect = [&](TDatabase&) { ++after; };
  ASSERT_NO_THROW(db.Open());
  ASSERT_TRUE(db.Connected());
  EXPECT_EQ(before, 1);
  EXPECT_EQ(after, 1);

  // Leave nothing of an earlier run behind, then build the catalogue.
  TQuery cleaner;
  cleaner.DatabaseName = "LibDB";
  RunOpacCleanup(cleaner);
  try {
    Exec({"DROP table books"});
  } catch (const EDatabaseError&) {
  }
  CreateLibrary();
  const std::set<std::string> all = Objects();
  for (const char* name : {"books", "lib_opac_ver", "T_CHG_cunfang"}) {
    EXPECT_TRUE(all.count(name)) << name;
  }

  TQuery query;
  query.DatabaseName = "LibDB";
  const CleanupOutcome first = RunOpacCleanup(query);
  EXPECT_TRUE(first.success) << first.firstError;
  EXPECT_TRUE(first.remaining.empty());
  EXPECT_EQ(Objects(), std::set<std::string>{"books"});

  // A second run: the table drops fail, the trigger batches do nothing, and
  // the check finds nothing left.
  const CleanupOutcome second = RunOpacCleanup(query);
  EXPECT_TRUE(second.success);
  EXPECT_FALSE(second.checkFailed);
  EXPECT_FALSE(second.firstError.empty());
  EXPECT_EQ(Objects(), std::set<std::string>{"books"});

  db.Close();
  EXPECT_FALSE(db.Connected());
}

TEST_F(DatabaseWin32, ServerErrorsAreFailures) {
  TDatabase db;
  Configure(db, target_->password);
  ASSERT_NO_THROW(db.Open());
  try {
    Exec({"DROP table no_such_table_here"});
    ADD_FAILURE() << "no error";
  } catch (const EDatabaseError& e) {
    EXPECT_NE(std::string(e.what()).find("no_such_table_here"),
              std::string::npos)
        << e.what();
  }
  EXPECT_TRUE(db.Connected());  // an error in a batch keeps the connection
}

TEST_F(DatabaseWin32, RefusedLoginsAreFailuresWithoutThePassword) {
  struct Case {
    const char* label;
    std::string dsn;
    std::string password;
  };
  const std::vector<Case> cases = {
      {"wrong password", target_->dsn, "Wrong;pw{=}7x"},
      {"unknown data source", "NoSuchDsn", target_->password},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    TDatabase db;
    Configure(db, c.password);
    db.AliasName = c.dsn;
    int after = 0;
    db.AfterConnect = [&](TDatabase&) { ++after; };
    try {
      db.Open();
      ADD_FAILURE() << "connected";
    } catch (const EDatabaseError& e) {
      const std::string message = e.what();
      EXPECT_FALSE(message.empty());
      EXPECT_EQ(message.find(c.password), std::string::npos);
    }
    EXPECT_FALSE(db.Connected());
    EXPECT_EQ(after, 0);
  }
}

}  // namespace
}  // namespace tarnwick
