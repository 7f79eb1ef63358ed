// The stand-in's SQL dialect: a small subset of Transact-SQL interpreted over
// an in-memory catalogue of tables and triggers. Independent of the network:
// RunBatch turns one batch text into one outcome per statement, which the
// protocol layer encodes as tokens.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <variant>
#include <vector>

namespace tdsstandin {

struct Message {
  std::int32_t number = 0;
  std::uint8_t state = 1;
  std::uint8_t severity = 0;  // 0..10: informational, 11+: error
  std::string text;           // UTF-8
  std::int32_t line = 1;      // line of the batch the statement starts on
};

struct Column {
  enum class Kind { NVarChar, Char, Int };
  std::string name;
  Kind kind = Kind::NVarChar;
  std::uint16_t maxBytes = 256;  // NVarChar: bytes of UTF-16; Char: bytes
  bool nullable = false;         // rows may hold Null in this column
};

// SQL NULL. It comes last so that the indices of text (0) and int (1) stay.
struct Null {
  bool operator==(const Null&) const = default;
};
using Value = std::variant<std::string, std::int32_t, Null>;

struct ResultSet {
  std::vector<Column> columns;
  std::vector<std::vector<Value>> rows;
};

// What one statement produced: its messages, maybe rows, and the status of
// the DONE token that ends it.
struct StatementOutcome {
  std::vector<Message> messages;
  std::optional<ResultSet> result;
  bool error = false;
  bool counted = false;
  std::uint64_t count = 0;
  std::uint16_t curCmd = 0;
  std::optional<std::string> newDatabase;  // USE changed the database
};

// A column of a user table, from its CREATE TABLE.
struct TableColumn {
  enum class Type { Int, Text, FixedText, Other };
  std::string name;
  Type type = Type::Other;
  // Text and FixedText: the declared length (UTF-16 units for n-types, bytes
  // otherwise); 0 for max or none.
  std::size_t length = 0;
  bool unicode = false;  // nchar / nvarchar
  bool nullable = true;
  std::optional<Value> defaultValue;  // a literal DEFAULT
  bool defaultUnsupported = false;    // a DEFAULT that is not a literal
};

struct TableData {
  std::vector<TableColumn> columns;
  std::vector<std::vector<Value>> rows;
};

struct CatalogueEntry {
  std::int32_t id = 0;
  std::string name;
  std::string xtype;  // "U" or "TR"
  std::int32_t parentId = 0;
};

class Catalogue {
 public:
  const std::vector<CatalogueEntry>& Entries() const { return entries_; }
  const CatalogueEntry* Find(const std::string& name) const;
  const CatalogueEntry* FindId(std::int32_t id) const;
  void Add(const std::string& name, const std::string& xtype,
           std::int32_t parentId);
  // A user table with its columns and no rows.
  void AddTable(const std::string& name, std::vector<TableColumn> columns);
  // The columns and rows of a user table; null for anything else. A table
  // added by Add has no columns.
  TableData* Data(std::int32_t id);
  const TableData* Data(std::int32_t id) const;
  // Removes the object; for a table also its rows and the triggers on it.
  void Remove(std::int32_t id);

 private:
  std::vector<CatalogueEntry> entries_;
  std::map<std::int32_t, TableData> tables_;
  std::int32_t nextId_ = 1001;
};

struct BatchContext {
  Catalogue& catalogue;
  const std::set<std::string>& deniedDrops;  // folded names
  std::string& currentDatabase;
  const std::string& serverDatabase;  // the only database that exists
  std::int32_t spid = 51;
};

// Runs one batch. A syntax error anywhere rejects the whole batch before any
// statement runs (one outcome with error 102); run-time errors end only their
// own statement and the batch goes on.
std::vector<StatementOutcome> RunBatch(const std::string& text,
                                       BatchContext& context);

// ASCII case folding, as the catalogue's case-insensitive names compare.
std::string Fold(const std::string& s);

}  // namespace tdsstandin
