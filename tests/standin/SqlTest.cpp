// The stand-in's statement interpreter on its own, without the network: what
// each statement does to the catalogue and which errors it raises.
#include <gtest/gtest.h>

#include <algorithm>

#include "Sql.h"

namespace tdsstandin {
namespace {

// A catalogue with two OPAC tables and their triggers, and an ordinary table.
struct Fixture {
  Catalogue catalogue;
  std::set<std::string> denied;
  std::string database = "library";
  const std::string serverDatabase = "library";

  Fixture() {
    catalogue.Add("lib_opac_ver", "U", 0);
    catalogue.Add("lib_opac_bianma", "U", 0);
    catalogue.Add("books", "U", 0);
    const std::int32_t bianma = catalogue.Find("lib_opac_bianma")->id;
    catalogue.Add("T_INSERT_bianma", "TR", bianma);
    catalogue.Add("T_DELETE_bianma", "TR", bianma);
  }

  std::vector<StatementOutcome> Run(const std::string& sql) {
    BatchContext ctx{catalogue, denied, database, serverDatabase, 51};
    return RunBatch(sql, ctx);
  }

  std::vector<std::string> Names() const {
    std::vector<std::string> out;
    for (const auto& e : catalogue.Entries()) out.push_back(e.name);
    return out;
  }
};

const std::vector<std::string> kAll = {"lib_opac_ver", "lib_opac_bianma",
                                       "books", "T_INSERT_bianma",
                                       "T_DELETE_bianma"};

std::vector<std::string> Without(std::vector<std::string> names,
                                 const std::vector<std::string>& gone) {
  std::erase_if(names, [&](const std::string& n) {
    return std::find(gone.begin(), gone.end(), n) != gone.end();
  });
  return names;
}

struct DropCase {
  const char* sql;
  std::vector<std::string> gone;
  int error;           // 0: none
  int severity;
  const char* message;
};

TEST(StandinSql, DropStatementsChangeTheCatalogueOrRaise3701) {
  const DropCase cases[] = {
      {"DROP table lib_opac_ver\r\n", {"lib_opac_ver"}, 0, 0, ""},
      {"drop TABLE LIB_OPAC_VER", {"lib_opac_ver"}, 0, 0, ""},
      {"DROP TABLE [dbo].[lib_opac_ver];", {"lib_opac_ver"}, 0, 0, ""},
      // A table takes its triggers with it.
      {"DROP table lib_opac_bianma\r\n",
       {"lib_opac_bianma", "T_INSERT_bianma", "T_DELETE_bianma"}, 0, 0, ""},
      {"DROP TRIGGER t_insert_BIANMA", {"T_INSERT_bianma"}, 0, 0, ""},
      {"DROP table lib_opac_tiaoma\r\n", {}, 3701, 11,
       "Cannot drop the table 'lib_opac_tiaoma', because it does not exist or "
       "you do not have permission."},
      {"DROP TRIGGER T_CHG_cunfang", {}, 3701, 11,
       "Cannot drop the trigger 'T_CHG_cunfang', because it does not exist or "
       "you do not have permission."},
      // The wrong kind of object is no object of that kind.
      {"DROP TABLE T_INSERT_bianma", {}, 3701, 11,
       "Cannot drop the table 'T_INSERT_bianma', because it does not exist or "
       "you do not have permission."},
      {"DROP TRIGGER books", {}, 3701, 11,
       "Cannot drop the trigger 'books', because it does not exist or you do "
       "not have permission."},
  };
  for (const DropCase& c : cases) {
    SCOPED_TRACE(c.sql);
    Fixture f;
    auto out = f.Run(c.sql);
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(f.Names(), Without(kAll, c.gone));
    EXPECT_EQ(out[0].error, c.error != 0);
    if (c.error) {
      ASSERT_EQ(out[0].messages.size(), 1u);
      EXPECT_EQ(out[0].messages[0].number, c.error);
      EXPECT_EQ(out[0].messages[0].severity, c.severity);
      EXPECT_EQ(out[0].messages[0].text, c.message);
    } else {
      EXPECT_TRUE(out[0].messages.empty());
    }
  }
}

TEST(StandinSql, ADeniedDropFailsWithAHigherSeverityAndKeepsTheObject) {
  Fixture f;
  f.denied.insert("t_insert_bianma");
  auto out = f.Run("DROP TRIGGER T_INSERT_bianma\r\n");
  ASSERT_EQ(out.size(), 1u);
  ASSERT_EQ(out[0].messages.size(), 1u);
  EXPECT_EQ(out[0].messages[0].number, 3701);
  EXPECT_EQ(out[0].messages[0].severity, 14);
  EXPECT_EQ(f.Names(), kAll);
}

TEST(StandinSql, AnErrorEndsOnlyItsOwnStatement) {
  Fixture f;
  auto out = f.Run("DROP TABLE nothere\r\nDROP TABLE books\r\n");
  ASSERT_EQ(out.size(), 2u);
  EXPECT_TRUE(out[0].error);
  EXPECT_EQ(out[0].messages[0].line, 1);
  EXPECT_FALSE(out[1].error);
  EXPECT_EQ(f.Names(), Without(kAll, {"books"}));
}

TEST(StandinSql, ASyntaxErrorRejectsTheWholeBatchBeforeAnythingRuns) {
  const std::pair<const char*, const char*> cases[] = {
      {"DROP TABLE books\nFROB lib_opac_ver", "Incorrect syntax near 'FROB'."},
      {"DROP TABLE books DELETE FROM x", "Incorrect syntax near 'DELETE'."},
      {"DROP TABLE", "Incorrect syntax near 'TABLE'."},
      {"DROP VIEW books", "Incorrect syntax near 'VIEW'."},
      {"SELECT name FROM sysobjects WHERE name = 'books", "Incorrect syntax "
                                                          "near 'books'."},
      {"IF EXISTS (SELECT name FROM sysobjects WHERE name = 'books')",
       "Incorrect syntax near ')'."},
  };
  for (const auto& [sql, message] : cases) {
    SCOPED_TRACE(sql);
    Fixture f;
    auto out = f.Run(sql);
    ASSERT_EQ(out.size(), 1u);
    ASSERT_EQ(out[0].messages.size(), 1u);
    EXPECT_EQ(out[0].messages[0].number, 102);
    EXPECT_EQ(out[0].messages[0].severity, 15);
    EXPECT_EQ(out[0].messages[0].text, message);
    EXPECT_EQ(f.Names(), kAll);
  }
}

TEST(StandinSql, IfExistsGovernsTheNextStatement) {
  struct Case {
    const char* sql;
    std::vector<std::string> gone;
  };
  const Case cases[] = {
      {"IF EXISTS (SELECT NAME FROM SYSOBJECTS WHERE XTYPE = 'TR' AND NAME = "
       "'T_INSERT_bianma')\r\nDROP TRIGGER T_INSERT_bianma\r\n",
       {"T_INSERT_bianma"}},
      // No such trigger: the drop is skipped, which is no error.
      {"IF EXISTS (SELECT NAME FROM SYSOBJECTS WHERE XTYPE = 'TR' AND NAME = "
       "'T_CHG_cunfang')\r\nDROP TRIGGER T_CHG_cunfang\r\n",
       {}},
      // The type must match too: books is a table, not a trigger.
      {"IF EXISTS (SELECT NAME FROM SYSOBJECTS WHERE XTYPE = 'TR' AND NAME = "
       "'books') DROP TABLE books",
       {}},
      {"if exists (select * from sysobjects where xtype='u' and name='books') "
       "drop table books",
       {"books"}},
      {"IF NOT EXISTS (SELECT 1 FROM sysobjects WHERE name = 'nothere') "
       "DROP TABLE books",
       {"books"}},
      // Only the next statement is governed; the one after always runs.
      {"IF EXISTS (SELECT name FROM sysobjects WHERE name = 'nothere')\n"
       "DROP TABLE books\nDROP TABLE lib_opac_ver",
       {"lib_opac_ver"}},
      {"IF EXISTS (SELECT name FROM sysobjects WHERE name = 'nothere') "
       "DROP TABLE books ELSE DROP TABLE lib_opac_ver",
       {"lib_opac_ver"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.sql);
    Fixture f;
    for (const auto& o : f.Run(c.sql)) EXPECT_FALSE(o.error);
    EXPECT_EQ(f.Names(), Without(kAll, c.gone));
  }
}

std::vector<std::vector<Value>> Rows(const StatementOutcome& o) {
  return o.result ? o.result->rows : std::vector<std::vector<Value>>{};
}

TEST(StandinSql, SelectFromSysobjectsFiltersAndPadsTheType) {
  struct Case {
    const char* where;
    std::vector<std::string> names;
  };
  const Case cases[] = {
      {"", kAll},
      {" WHERE NAME IN ('lib_opac_ver', 'lib_opac_bianma', 'lib_opac_tiaoma', "
       "'lib_opac_change', 'T_INSERT_bianma', 'T_INSERT_tiaoma', "
       "'T_DELETE_bianma', 'T_DELETE_tiaoma', 'T_CHG_cunfang')",
       {"lib_opac_ver", "lib_opac_bianma", "T_INSERT_bianma",
        "T_DELETE_bianma"}},
      {" WHERE xtype = 'U' AND (name = 'books' OR name = 'LIB_OPAC_VER')",
       {"lib_opac_ver", "books"}},
      {" WHERE xtype = 'U' AND name = 'books' OR xtype = 'TR'",
       {"books", "T_INSERT_bianma", "T_DELETE_bianma"}},
      {" WHERE NOT xtype = 'TR' AND name NOT IN ('books')",
       {"lib_opac_ver", "lib_opac_bianma"}},
      {" WHERE xtype <> 'U'", {"T_INSERT_bianma", "T_DELETE_bianma"}},
      {" WHERE name = N'nothing'", {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.where);
    Fixture f;
    auto out = f.Run(std::string("SELECT NAME, XTYPE FROM SYSOBJECTS") + c.where);
    ASSERT_EQ(out.size(), 1u);
    ASSERT_FALSE(out[0].error);
    ASSERT_TRUE(out[0].result);
    EXPECT_TRUE(out[0].counted);
    EXPECT_EQ(out[0].count, c.names.size());
    ASSERT_EQ(out[0].result->columns.size(), 2u);
    EXPECT_EQ(out[0].result->columns[0].name, "name");
    EXPECT_EQ(out[0].result->columns[1].kind, Column::Kind::Char);
    std::vector<std::string> names;
    for (const auto& row : Rows(out[0])) {
      names.push_back(std::get<std::string>(row[0]));
      const std::string& xtype = std::get<std::string>(row[1]);
      EXPECT_TRUE(xtype == "U " || xtype == "TR") << xtype;
    }
    EXPECT_EQ(names, c.names);
  }
}

TEST(StandinSql, SelectErrorsNameTheBadPart) {
  const std::pair<const char*, int> cases[] = {
      {"SELECT colour FROM sysobjects", 207},
      {"SELECT name FROM sysobjects WHERE colour = 'red'", 207},
      {"SELECT name FROM books_archive", 208},
      {"SELECT name FROM sysobjects WHERE id = 'abc'", 245},
  };
  for (const auto& [sql, number] : cases) {
    SCOPED_TRACE(sql);
    Fixture f;
    auto out = f.Run(sql);
    ASSERT_EQ(out.size(), 1u);
    EXPECT_TRUE(out[0].error);
    EXPECT_FALSE(out[0].result);
    ASSERT_EQ(out[0].messages.size(), 1u);
    EXPECT_EQ(out[0].messages[0].number, number);
  }
}

TEST(StandinSql, CreateStatementsSeedTheCatalogue) {
  Fixture f;
  auto out = f.Run(
      "CREATE TABLE loans (id int NOT NULL, note nvarchar(20) DEFAULT ('a;b'))\n"
      "CREATE TRIGGER T_loans ON dbo.loans FOR INSERT AS\n"
      "BEGIN\n  DELETE FROM loans WHERE id = 0 -- anything goes here\nEND\n");
  ASSERT_EQ(out.size(), 2u);
  EXPECT_FALSE(out[0].error);
  EXPECT_FALSE(out[1].error);
  const CatalogueEntry* trigger = f.catalogue.Find("t_loans");
  ASSERT_NE(trigger, nullptr);
  EXPECT_EQ(trigger->xtype, "TR");
  EXPECT_EQ(trigger->parentId, f.catalogue.Find("loans")->id);

  EXPECT_EQ(f.Run("CREATE TABLE BOOKS (x int)")[0].messages.at(0).number, 2714);
  EXPECT_EQ(f.Run("CREATE TRIGGER t2 ON nothere FOR INSERT AS SELECT 1")[0]
                .messages.at(0)
                .number,
            8197);
}

TEST(StandinSql, SetAndUseStatementsAreAccepted) {
  Fixture f;
  auto out = f.Run(
      "SET TEXTSIZE 4096 SET QUOTED_IDENTIFIER ON, ANSI_NULLS ON;\n"
      "SET TRANSACTION ISOLATION LEVEL READ COMMITTED\nUSE [LIBRARY]");
  ASSERT_EQ(out.size(), 4u);
  for (const auto& o : out) EXPECT_FALSE(o.error);
  ASSERT_TRUE(out[3].newDatabase);
  EXPECT_EQ(*out[3].newDatabase, "library");

  auto use = f.Run("USE master");
  EXPECT_EQ(use.at(0).messages.at(0).number, 911);
}

TEST(StandinSql, CommentsAndQuotedTextAreNotStatements) {
  Fixture f;
  auto out = f.Run(
      "/* DROP TABLE books */ -- DROP TABLE lib_opac_ver\n"
      "SELECT name FROM sysobjects WHERE name IN ('x''; DROP TABLE books', "
      "'books')");
  ASSERT_EQ(out.size(), 1u);
  ASSERT_EQ(Rows(out[0]).size(), 1u);
  EXPECT_EQ(std::get<std::string>(Rows(out[0])[0][0]), "books");
  EXPECT_EQ(f.Names(), kAll);
}

}  // namespace
}  // namespace tdsstandin
