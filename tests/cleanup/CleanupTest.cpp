// The cleanup runner against the SQL Server stand-in, through unixODBC, the
// FreeTDS driver and TCP.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "OdbcFixture.h"
#include "StandinServer.h"
#include "cleanup/OpacCleanup.h"
#include "platform/database/Database.h"

namespace tarnwick {
namespace {

const std::vector<std::string> kNine = {
    "lib_opac_ver",    "lib_opac_bianma", "lib_opac_tiaoma",
    "lib_opac_change", "T_INSERT_bianma", "T_INSERT_tiaoma",
    "T_DELETE_bianma", "T_DELETE_tiaoma", "T_CHG_cunfang"};

// Ordinary library tables that the cleanup must leave alone.
const char kLibrary[] =
    "CREATE TABLE lib_books (id int)\nGO\n"
    "CREATE TABLE lib_readers (id int)\nGO\n"
    "CREATE TABLE lib_cunfang (id int)\nGO\n";

const char kOpacTables[] =
    "CREATE TABLE lib_opac_ver (id int)\nGO\n"
    "CREATE TABLE lib_opac_bianma (id int)\nGO\n"
    "CREATE TABLE lib_opac_tiaoma (id int)\nGO\n"
    "CREATE TABLE lib_opac_change (id int)\nGO\n";

const char kOpacTriggers[] =
    "CREATE TRIGGER T_INSERT_bianma ON lib_opac_bianma FOR INSERT AS SELECT 1\nGO\n"
    "CREATE TRIGGER T_DELETE_bianma ON lib_opac_bianma FOR DELETE AS SELECT 1\nGO\n"
    "CREATE TRIGGER T_INSERT_tiaoma ON lib_opac_tiaoma FOR INSERT AS SELECT 1\nGO\n"
    "CREATE TRIGGER T_DELETE_tiaoma ON lib_opac_tiaoma FOR DELETE AS SELECT 1\nGO\n"
    "CREATE TRIGGER T_CHG_cunfang ON lib_cunfang FOR UPDATE AS SELECT 1\nGO\n";

std::vector<std::string> NineTexts() {
  std::vector<std::string> out;
  for (const CleanupBatch& b : kOpacBatches) {
    std::string t = std::string(b.line1) + "\r\n";
    if (b.line2) t += std::string(b.line2) + "\r\n";
    out.push_back(t);
  }
  return out;
}

// The stand-in seeded with a catalogue, the ODBC configuration, and the
// connection "LibDB" open as the program opens it.
struct Library {
  explicit Library(const std::string& seed) : server(Config()) {
    server.Start();
    if (!seed.empty()) server.Seed(seed);
    odbc = std::make_unique<test::OdbcFixture>(server.Port());
    db.AliasName = odbc->Dsn();
    db.DatabaseName = "LibDB";
    db.Params.Add("USER NAME=sa");
    db.Params.Add("PASSWORD=secret");
    db.Open();
    query.DatabaseName = "LibDB";
  }
  static tdsstandin::ServerConfig Config() {
    tdsstandin::ServerConfig c;
    c.login = "sa";
    c.password = "secret";
    return c;
  }
  // The batches the server received from `before` on.
  std::vector<std::string> BatchesSince(std::size_t before) const {
    auto all = server.Batches();
    return {all.begin() + static_cast<std::ptrdiff_t>(before), all.end()};
  }

  tdsstandin::Server server;
  std::unique_ptr<test::OdbcFixture> odbc;
  TDatabase db;
  TQuery query;
};

TEST(OpacCleanup, SendsExactlyTheNineTextsWhenAllSucceed) {
  Library lib(std::string(kLibrary) + kOpacTables + kOpacTriggers);
  const std::size_t before = lib.server.Batches().size();
  const CleanupOutcome outcome = RunOpacCleanup(lib.query);
  EXPECT_TRUE(outcome.success);
  EXPECT_TRUE(outcome.remaining.empty());
  EXPECT_TRUE(outcome.firstError.empty());
  // Nothing else: no check query, nothing the runner adds.
  EXPECT_EQ(lib.BatchesSince(before), NineTexts());
}

TEST(OpacCleanup, OutcomeFollowsWhatIsLeftInTheCatalogue) {
  struct Case {
    const char* what;
    std::string seed;
    std::string denied;                   // an object whose drop is refused
    bool success;
    std::vector<std::string> remaining;   // in batch order
    std::string errorMentions;            // part of firstError
  };
  const std::string all = std::string(kLibrary) + kOpacTables + kOpacTriggers;
  const std::string allButVer =
      std::string(kLibrary) +
      "CREATE TABLE lib_opac_bianma (id int)\nGO\n"
      "CREATE TABLE lib_opac_tiaoma (id int)\nGO\n"
      "CREATE TABLE lib_opac_change (id int)\nGO\n" + kOpacTriggers;
  const Case cases[] = {
      {"none of the nine present", kLibrary, "", true, {}, "lib_opac_ver"},
      {"lib_opac_ver missing, lib_opac_bianma present", allButVer, "", true, {},
       "lib_opac_ver"},
      {"the drop of a table denied", all, "lib_opac_tiaoma", false,
       {"lib_opac_tiaoma"}, "lib_opac_tiaoma"},
      {"the drop of a trigger denied", all, "T_CHG_cunfang", false,
       {"T_CHG_cunfang"}, "T_CHG_cunfang"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Library lib(c.seed);
    if (!c.denied.empty()) lib.server.DenyDrop(c.denied);
    const std::size_t before = lib.server.Batches().size();

    const CleanupOutcome outcome = RunOpacCleanup(lib.query);

    EXPECT_EQ(outcome.success, c.success);
    EXPECT_EQ(outcome.remaining, c.remaining);
    EXPECT_FALSE(outcome.checkFailed);
    EXPECT_NE(outcome.firstError.find(c.errorMentions), std::string::npos)
        << outcome.firstError;
    if (!c.success) {
      EXPECT_NE(CleanupFailureText(outcome).find(c.denied), std::string::npos);
    }

    // The nine batches, then exactly one check query.
    std::vector<std::string> expected = NineTexts();
    expected.push_back(std::string(kOpacCheckQuery) + "\r\n");
    EXPECT_EQ(lib.BatchesSince(before), expected);

    for (const std::string& name : kNine) {
      const bool kept = std::count(c.remaining.begin(), c.remaining.end(), name) > 0;
      EXPECT_EQ(lib.server.Exists(name), kept) << name;
    }
    for (const char* table : {"lib_books", "lib_readers", "lib_cunfang"}) {
      EXPECT_TRUE(lib.server.Exists(table)) << table;
    }
  }
}

TEST(OpacCleanup, AConnectionCutAfterBatchTwoEndsInAFailureNotAHang) {
  Library lib(std::string(kLibrary) + kOpacTables + kOpacTriggers);
  const std::size_t before = lib.server.Batches().size();
  lib.server.CutAfterBatches(2);

  const CleanupOutcome outcome = RunOpacCleanup(lib.query);

  EXPECT_FALSE(outcome.success);
  EXPECT_TRUE(outcome.checkFailed);  // the check could not be made either
  EXPECT_EQ(outcome.remaining, kNine);
  EXPECT_FALSE(outcome.firstError.empty());
  const std::vector<std::string> nine = NineTexts();
  EXPECT_EQ(lib.BatchesSince(before),
            (std::vector<std::string>{nine[0], nine[1]}));
  EXPECT_FALSE(lib.server.Exists("lib_opac_ver"));
  EXPECT_FALSE(lib.server.Exists("lib_opac_bianma"));
  EXPECT_TRUE(lib.server.Exists("lib_opac_tiaoma"));
  EXPECT_TRUE(lib.server.Exists("lib_opac_change"));
}

}  // namespace
}  // namespace tarnwick
