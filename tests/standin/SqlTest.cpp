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
      {"DROP TABLE books\nINSERT INTO books SELECT 1",
       "Incorrect syntax near 'SELECT'."},
      {"INSERT books VALUES (1, GETDATE())", "Incorrect syntax near 'GETDATE'."},
      {"DROP TABLE books INSERT books VALUES (1", "Incorrect syntax near '1'."},
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

// A table with one column of each kind the stand-in stores: int, varchar(n),
// nvarchar(n) and char(n) with a literal default.
const char kShelf[] =
    "CREATE TABLE shelf (\n"
    "  id int NOT NULL,\n"
    "  code varchar(5) NULL,\n"
    "  title nvarchar(4),\n"
    "  kind char(2) NOT NULL DEFAULT ('ab'),\n"
    "  CONSTRAINT pk_shelf PRIMARY KEY (id, code)\n"
    ")";

std::vector<std::vector<Value>> ShelfRows(Fixture& f) {
  auto out = f.Run("SELECT * FROM shelf");
  EXPECT_FALSE(out.at(0).error);
  return Rows(out.at(0));
}

TEST(StandinSql, InsertStoresRowsConvertedToTheirColumns) {
  const Value null = Null{};
  struct Case {
    const char* sql;
    std::vector<std::vector<Value>> rows;
  };
  const Case cases[] = {
      {"INSERT INTO shelf VALUES (1, 'A1', N'\xE7\xBA\xA2\xE6\xA5\xBC', 'x')",  // 红楼
       {{1, "A1", "\xE7\xBA\xA2\xE6\xA5\xBC", "x "}}},
      // A column list in any order; missing columns take their default or
      // NULL; text becomes int and int becomes text.
      {"INSERT shelf (code, id) VALUES ('B', ' 42 '), (12345, -7)",
       {{42, "B", null, "ab"}, {-7, "12345", null, "ab"}}},
      {"insert into [dbo].[SHELF] (ID, TITLE, Code) VALUES (3, N'It''s', NULL)",
       {{3, null, "It's", "ab"}}},
      // Blanks beyond the length are dropped; a character outside the BMP
      // counts two of an nvarchar's length.
      {"INSERT shelf (id, code, title) VALUES (4, 'ABCDE   ', N'\xF0\x9D\x84\x9E\xF0\x9D\x84\x9E')",
       {{4, "ABCDE", "\xF0\x9D\x84\x9E\xF0\x9D\x84\x9E", "ab"}}},
      {"INSERT shelf (id) VALUES ('')", {{0, null, null, "ab"}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.sql);
    Fixture f;
    ASSERT_FALSE(f.Run(kShelf).at(0).error);
    auto out = f.Run(c.sql);
    ASSERT_EQ(out.size(), 1u);
    ASSERT_FALSE(out[0].error) << out[0].messages.at(0).text;
    EXPECT_TRUE(out[0].counted);
    EXPECT_EQ(out[0].count, c.rows.size());
    EXPECT_EQ(out[0].curCmd, 0xC3);
    EXPECT_EQ(ShelfRows(f), c.rows);
  }
}

TEST(StandinSql, AFailedInsertStoresNoneOfItsRows) {
  const std::string tail =
      " The number of values in the VALUES clause must match the number of "
      "columns specified in the INSERT statement.";
  struct Case {
    const char* sql;
    int number;
    std::string text;
  };
  const Case cases[] = {
      {"INSERT INTO nothere VALUES (1)", 208, "Invalid object name 'nothere'."},
      {"INSERT INTO T_INSERT_bianma VALUES (1)", 208,
       "Invalid object name 'T_INSERT_bianma'."},
      {"INSERT shelf (id) VALUES (1, 'A')", 110,
       "There are fewer columns in the INSERT statement than values specified "
       "in the VALUES clause." + tail},
      {"INSERT shelf (id, code) VALUES (1, 'A'), (2)", 109,
       "There are more columns in the INSERT statement than values specified "
       "in the VALUES clause." + tail},
      {"INSERT shelf VALUES (1, 'A')", 213,
       "Column name or number of supplied values does not match table "
       "definition."},
      {"INSERT shelf (id, colour) VALUES (1, 'red')", 207,
       "Invalid column name 'colour'."},
      {"INSERT shelf (id, ID) VALUES (1, 2)", 264, "The column name 'ID' is"},
      {"INSERT shelf (code) VALUES ('A')", 515,
       "Cannot insert the value NULL into column 'id', table "
       "'library.dbo.shelf'; column does not allow nulls. INSERT fails."},
      // The second row fails: the first is not kept either.
      {"INSERT shelf (id) VALUES (1), (NULL)", 515,
       "Cannot insert the value NULL into column 'id'"},
      // An explicit NULL does not make way for the default.
      {"INSERT shelf (id, kind) VALUES (1, NULL)", 515,
       "Cannot insert the value NULL into column 'kind'"},
      {"INSERT shelf (id) VALUES (1), ('abc')", 245,
       "Conversion failed when converting the varchar value 'abc' to data "
       "type int."},
      {"INSERT shelf (id) VALUES (N'1x')", 245,
       "Conversion failed when converting the nvarchar value '1x' to data "
       "type int."},
      {"INSERT shelf (id) VALUES ('99999999999')", 248,
       "The conversion of the varchar value '99999999999' overflowed an int "
       "column."},
      {"INSERT shelf (id, code) VALUES (1, 'A'), (2, 'ABCDEF')", 8152,
       "String or binary data would be truncated."},
      {"INSERT shelf (id, title) VALUES (1, N'\xF0\x9D\x84\x9E\xF0\x9D\x84\x9E\xF0\x9D\x84\x9E')",
       8152, "String or binary data would be truncated."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.sql);
    Fixture f;
    ASSERT_FALSE(f.Run(kShelf).at(0).error);
    auto out = f.Run(c.sql);
    ASSERT_EQ(out.size(), 1u);
    EXPECT_TRUE(out[0].error);
    EXPECT_FALSE(out[0].counted);
    ASSERT_FALSE(out[0].messages.empty());
    EXPECT_EQ(out[0].messages[0].number, c.number);
    EXPECT_EQ(out[0].messages[0].text.substr(0, c.text.size()), c.text);
    EXPECT_GE(out[0].messages[0].severity, 15);
    EXPECT_TRUE(ShelfRows(f).empty());
  }
}

TEST(StandinSql, ADefaultTheStandinCannotComputeFailsTheInsertThatNeedsIt) {
  Fixture f;
  ASSERT_FALSE(
      f.Run("CREATE TABLE log (id int, at datetime NOT NULL DEFAULT GETDATE(), "
            "n int DEFAULT ((-3)))")
          .at(0)
          .error);
  auto omitted = f.Run("INSERT log (id) VALUES (1)");
  EXPECT_TRUE(omitted.at(0).error);
  EXPECT_NE(omitted[0].messages.at(0).text.find("column 'at'"),
            std::string::npos);
  auto given = f.Run("INSERT log (id, at) VALUES (2, '2024-03-04 10:15:00')");
  ASSERT_FALSE(given.at(0).error);
  auto rows = Rows(f.Run("SELECT * FROM log").at(0));
  EXPECT_EQ(rows, (std::vector<std::vector<Value>>{
                      {2, "2024-03-04 10:15:00", -3}}));
}

TEST(StandinSql, SelectFromATableCountsListsAndFilters) {
  Fixture f;
  for (const auto& o :
       f.Run(std::string(kShelf) +
             "\nINSERT shelf (id, code, title) VALUES (1, 'A', N'x'), "
             "(2, NULL, N'y'), (3, 'C', NULL)"))
    ASSERT_FALSE(o.error);
  const Value null = Null{};
  struct Case {
    const char* sql;
    std::vector<std::vector<Value>> rows;
  };
  const Case cases[] = {
      {"SELECT COUNT(*) FROM shelf", {{3}}},
      {"select count(*) AS n, 'rows' FROM dbo.SHELF WHERE id <> 2", {{2, "rows"}}},
      {"SELECT code, id FROM shelf", {{"A", 1}, {null, 2}, {"C", 3}}},
      // NULL is neither equal nor unequal to anything.
      {"SELECT id FROM shelf WHERE code = 'a'", {{1}}},
      {"SELECT id FROM shelf WHERE NOT code IN ('A')", {{3}}},
      {"SELECT id FROM shelf WHERE code <> 'A' OR id = 2", {{2}, {3}}},
      {"SELECT COUNT(*) FROM shelf WHERE title = 'nothing'", {{0}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.sql);
    auto out = f.Run(c.sql);
    ASSERT_EQ(out.size(), 1u);
    ASSERT_FALSE(out[0].error) << out[0].messages.at(0).text;
    EXPECT_EQ(Rows(out[0]), c.rows);
    EXPECT_EQ(out[0].count, c.rows.size());
  }

  // The result's columns carry the table's types and nullability.
  auto star = f.Run("SELECT * FROM shelf").at(0);
  ASSERT_TRUE(star.result);
  const auto& cols = star.result->columns;
  ASSERT_EQ(cols.size(), 4u);
  EXPECT_EQ(cols[0].name, "id");
  EXPECT_EQ(cols[0].kind, Column::Kind::Int);
  EXPECT_FALSE(cols[0].nullable);
  EXPECT_EQ(cols[1].kind, Column::Kind::NVarChar);
  EXPECT_TRUE(cols[1].nullable);
  EXPECT_EQ(cols[2].maxBytes, 8);

  const std::pair<const char*, int> errors[] = {
      {"SELECT colour FROM shelf", 207},
      {"SELECT id FROM shelf WHERE colour = 1", 207},
      {"SELECT id, COUNT(*) FROM shelf", 8120},
      {"SELECT id FROM shelf WHERE code = 1", 245},
      {"SELECT COUNT(*) FROM T_INSERT_bianma", 208},
  };
  for (const auto& [sql, number] : errors) {
    SCOPED_TRACE(sql);
    auto out = f.Run(sql);
    EXPECT_TRUE(out.at(0).error);
    EXPECT_EQ(out[0].messages.at(0).number, number);
  }
  // IF EXISTS reads tables too.
  f.Run("IF EXISTS (SELECT id FROM shelf WHERE id = 3) DROP TABLE books");
  EXPECT_EQ(f.catalogue.Find("books"), nullptr);
}

TEST(StandinSql, DropTableDropsItsRows) {
  Fixture f;
  f.Run(std::string(kShelf) + "\nINSERT shelf (id) VALUES (1), (2)");
  const std::int32_t id = f.catalogue.Find("shelf")->id;
  ASSERT_EQ(f.catalogue.Data(id)->rows.size(), 2u);
  ASSERT_FALSE(f.Run("DROP TABLE shelf").at(0).error);
  EXPECT_EQ(f.catalogue.Data(id), nullptr);
  EXPECT_EQ(f.Run("SELECT COUNT(*) FROM shelf").at(0).messages.at(0).number, 208);
  f.Run(kShelf);
  EXPECT_EQ(Rows(f.Run("SELECT COUNT(*) FROM shelf").at(0)),
            (std::vector<std::vector<Value>>{{0}}));
}

}  // namespace
}  // namespace tdsstandin
