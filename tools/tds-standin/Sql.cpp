#include "Sql.h"

#include <algorithm>
#include <functional>
#include <memory>
#include <stdexcept>

namespace tdsstandin {

std::string Fold(const std::string& s) {
  std::string r = s;
  for (char& c : r)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return r;
}

namespace {

// Comparison under a case-insensitive collation with trailing blanks ignored,
// as SQL Server compares char and varchar values.
bool SqlEquals(const std::string& a, const std::string& b) {
  auto trim = [](const std::string& s) {
    std::size_t n = s.size();
    while (n > 0 && s[n - 1] == ' ') --n;
    return Fold(s.substr(0, n));
  };
  return trim(a) == trim(b);
}

}  // namespace

const CatalogueEntry* Catalogue::Find(const std::string& name) const {
  for (const auto& e : entries_)
    if (SqlEquals(e.name, name)) return &e;
  return nullptr;
}

const CatalogueEntry* Catalogue::FindId(std::int32_t id) const {
  for (const auto& e : entries_)
    if (e.id == id) return &e;
  return nullptr;
}

void Catalogue::Add(const std::string& name, const std::string& xtype,
                    std::int32_t parentId) {
  if (xtype == "U") tables_[nextId_] = {};
  entries_.push_back({nextId_, name, xtype, parentId});
  nextId_ += 16;
}

void Catalogue::AddTable(const std::string& name,
                         std::vector<TableColumn> columns) {
  tables_[nextId_] = {std::move(columns), {}};
  entries_.push_back({nextId_, name, "U", 0});
  nextId_ += 16;
}

TableData* Catalogue::Data(std::int32_t id) {
  auto it = tables_.find(id);
  return it == tables_.end() ? nullptr : &it->second;
}

const TableData* Catalogue::Data(std::int32_t id) const {
  auto it = tables_.find(id);
  return it == tables_.end() ? nullptr : &it->second;
}

void Catalogue::Remove(std::int32_t id) {
  tables_.erase(id);
  std::erase_if(entries_, [id](const CatalogueEntry& e) {
    return e.id == id || e.parentId == id;
  });
}

namespace {

// ---------------------------------------------------------------- tokens

enum class Tok { Word, Quoted, String, Number, Variable, Punct, End };

struct Token {
  Tok kind = Tok::End;
  std::string text;  // Word/Quoted: the name; String: the value; Punct: symbol
  int line = 1;
  bool unicode = false;  // N'...'
};

bool IsWordStart(unsigned char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_' ||
         c == '#' || c >= 0x80;
}
bool IsWordChar(unsigned char c) {
  return IsWordStart(c) || (c >= '0' && c <= '9') || c == '$' || c == '@';
}

struct SyntaxError {
  std::string near;
  int line;
};

std::vector<Token> Tokenize(const std::string& s) {
  std::vector<Token> out;
  int line = 1;
  std::size_t i = 0;
  const std::size_t n = s.size();
  while (i < n) {
    unsigned char c = s[i];
    if (c == '\n') {
      ++line;
      ++i;
      continue;
    }
    if (c == ' ' || c == '\t' || c == '\r' || c == '\f' || c == '\v') {
      ++i;
      continue;
    }
    if (c == '-' && i + 1 < n && s[i + 1] == '-') {
      while (i < n && s[i] != '\n') ++i;
      continue;
    }
    if (c == '/' && i + 1 < n && s[i + 1] == '*') {
      std::size_t end = s.find("*/", i + 2);
      if (end == std::string::npos) throw SyntaxError{"*", line};
      line += static_cast<int>(std::count(s.begin() + i, s.begin() + end, '\n'));
      i = end + 2;
      continue;
    }
    Token t;
    t.line = line;
    bool unicodeString = (c == 'N' || c == 'n') && i + 1 < n && s[i + 1] == '\'';
    if (c == '\'' || unicodeString) {
      if (unicodeString) ++i;
      ++i;
      std::string v;
      bool closed = false;
      while (i < n) {
        if (s[i] == '\'') {
          if (i + 1 < n && s[i + 1] == '\'') {
            v += '\'';
            i += 2;
            continue;
          }
          ++i;
          closed = true;
          break;
        }
        if (s[i] == '\n') ++line;
        v += s[i++];
      }
      if (!closed) throw SyntaxError{v, t.line};
      t.kind = Tok::String;
      t.text = v;
      t.unicode = unicodeString;
    } else if (c == '[' || c == '"') {
      char close = c == '[' ? ']' : '"';
      ++i;
      std::string v;
      bool closed = false;
      while (i < n) {
        if (s[i] == close) {
          if (i + 1 < n && s[i + 1] == close) {
            v += close;
            i += 2;
            continue;
          }
          ++i;
          closed = true;
          break;
        }
        v += s[i++];
      }
      if (!closed) throw SyntaxError{v, t.line};
      t.kind = Tok::Quoted;
      t.text = v;
    } else if (c == '@') {
      std::size_t b = i++;
      while (i < n && IsWordChar(s[i])) ++i;
      t.kind = Tok::Variable;
      t.text = s.substr(b, i - b);
    } else if (IsWordStart(c)) {
      std::size_t b = i;
      while (i < n && IsWordChar(s[i])) ++i;
      t.kind = Tok::Word;
      t.text = s.substr(b, i - b);
    } else if (c >= '0' && c <= '9') {
      std::size_t b = i;
      while (i < n && s[i] >= '0' && s[i] <= '9') ++i;
      t.kind = Tok::Number;
      t.text = s.substr(b, i - b);
    } else {
      static const char* two[] = {"<>", "!=", "<=", ">="};
      t.kind = Tok::Punct;
      t.text = std::string(1, static_cast<char>(c));
      for (const char* p : two)
        if (s.compare(i, 2, p) == 0) t.text = p;
      i += t.text.size();
    }
    out.push_back(std::move(t));
  }
  Token end;
  end.kind = Tok::End;
  end.line = line;
  out.push_back(end);
  return out;
}

// ---------------------------------------------------------------- syntax

struct Cond {
  enum class Kind { Compare, In, And, Or, Not } kind = Kind::Compare;
  std::string column;  // folded
  std::string op;      // "=", "<>"
  std::vector<Value> values;
  std::unique_ptr<Cond> left, right;
};

struct SelectItem {
  enum class Kind { Column, Star, CountStar, Literal, Variable } kind;
  std::string name;  // column (folded) or variable (folded)
  Value literal;
  std::string alias;
  bool hasAlias = false;
};

struct Select {
  std::vector<SelectItem> items;
  bool hasFrom = false;
  std::string from;  // as written, last part of a qualified name
  std::unique_ptr<Cond> where;
  int line = 1;
};

// One value of an INSERT's VALUES list. Whether a string literal was N'...'
// matters only for the wording of a conversion error.
struct InsertValue {
  Value value;
  bool unicode = false;
};

struct Stmt {
  enum class Kind {
    DropTable, DropTrigger, CreateTable, CreateTrigger, Select, Insert, If,
    Set, Use, Empty
  } kind;
  int line = 1;
  std::vector<std::string> names;  // DROP: names as written; CREATE: [0]
  std::string table;               // CREATE TRIGGER ... ON table
  std::unique_ptr<Select> select;  // SELECT, IF EXISTS (SELECT ...)
  bool negate = false;             // IF NOT EXISTS
  std::unique_ptr<Stmt> then, otherwise;
  std::vector<TableColumn> columns;  // CREATE TABLE
  bool hasColumnList = false;        // INSERT table (col, ...)
  std::vector<std::string> insertColumns;
  std::vector<std::vector<InsertValue>> insertRows;
};

bool IsKeyword(const Token& t, const char* kw) {
  return t.kind == Tok::Word && Fold(t.text) == kw;
}

// Words that begin a statement; a SET statement ends before the next one.
bool StartsStatement(const Token& t) {
  static const char* words[] = {"select", "drop",   "create", "if",
                                "set",    "use",    "insert", "begin",
                                "commit", "rollback", "else", "end",
                                "declare", "exec",  "execute", "print",
                                "alter",  "delete", "update", "while",
                                "return"};
  if (t.kind != Tok::Word) return false;
  std::string f = Fold(t.text);
  for (const char* w : words)
    if (f == w) return true;
  return false;
}

class Parser {
 public:
  explicit Parser(std::vector<Token> tokens) : t_(std::move(tokens)) {}

  std::vector<std::unique_ptr<Stmt>> Batch() {
    std::vector<std::unique_ptr<Stmt>> out;
    while (Peek().kind != Tok::End) {
      if (Peek().kind == Tok::Punct && Peek().text == ";") {
        ++p_;
        continue;
      }
      out.push_back(Statement());
    }
    return out;
  }

 private:
  const Token& Peek(std::size_t ahead = 0) const {
    return t_[std::min(p_ + ahead, t_.size() - 1)];
  }
  [[noreturn]] void Fail() const {
    const Token& t = Peek();
    if (t.kind == Tok::End) {
      // SQL Server names the last token when the batch ends too early.
      const Token& last = p_ > 0 ? t_[p_ - 1] : t;
      throw SyntaxError{last.text, last.line};
    }
    throw SyntaxError{t.text, t.line};
  }
  void Expect(const char* kw) {
    if (!IsKeyword(Peek(), kw)) Fail();
    ++p_;
  }
  void ExpectPunct(const char* sym) {
    if (Peek().kind != Tok::Punct || Peek().text != sym) Fail();
    ++p_;
  }
  bool AcceptPunct(const char* sym) {
    if (Peek().kind == Tok::Punct && Peek().text == sym) {
      ++p_;
      return true;
    }
    return false;
  }
  bool Accept(const char* kw) {
    if (IsKeyword(Peek(), kw)) {
      ++p_;
      return true;
    }
    return false;
  }

  // [db.][schema.]name: the last part names the object.
  std::string ObjectName() {
    std::string name;
    for (;;) {
      const Token& t = Peek();
      if (t.kind != Tok::Word && t.kind != Tok::Quoted) Fail();
      name = t.text;
      ++p_;
      if (!AcceptPunct(".")) break;
    }
    return name;
  }

  std::unique_ptr<Stmt> Statement() {
    const Token& t = Peek();
    auto s = std::make_unique<Stmt>();
    s->line = t.line;
    if (IsKeyword(t, "drop")) {
      ++p_;
      if (Accept("table")) {
        s->kind = Stmt::Kind::DropTable;
      } else if (Accept("trigger")) {
        s->kind = Stmt::Kind::DropTrigger;
      } else {
        Fail();
      }
      do s->names.push_back(ObjectName());
      while (AcceptPunct(","));
    } else if (IsKeyword(t, "create")) {
      ++p_;
      if (Accept("table")) {
        s->kind = Stmt::Kind::CreateTable;
        s->names.push_back(ObjectName());
        ExpectPunct("(");
        s->columns = ColumnDefinitions();
      } else if (Accept("trigger")) {
        s->kind = Stmt::Kind::CreateTrigger;
        s->names.push_back(ObjectName());
        Expect("on");
        s->table = ObjectName();
        // The trigger's body is whatever follows, to the end of the batch.
        if (Peek().kind == Tok::End) Fail();
        p_ = t_.size() - 1;
      } else {
        Fail();
      }
    } else if (IsKeyword(t, "select")) {
      s->kind = Stmt::Kind::Select;
      s->select = SelectStatement();
    } else if (IsKeyword(t, "insert")) {
      ++p_;
      s->kind = Stmt::Kind::Insert;
      Accept("into");
      s->names.push_back(ObjectName());
      if (AcceptPunct("(")) {
        s->hasColumnList = true;
        do {
          if (Peek().kind != Tok::Word && Peek().kind != Tok::Quoted) Fail();
          s->insertColumns.push_back(Peek().text);
          ++p_;
        } while (AcceptPunct(","));
        ExpectPunct(")");
      }
      Expect("values");
      do {
        ExpectPunct("(");
        std::vector<InsertValue> row;
        do row.push_back(InsertLiteral());
        while (AcceptPunct(","));
        ExpectPunct(")");
        s->insertRows.push_back(std::move(row));
      } while (AcceptPunct(","));
    } else if (IsKeyword(t, "if")) {
      ++p_;
      s->kind = Stmt::Kind::If;
      s->negate = Accept("not");
      Expect("exists");
      ExpectPunct("(");
      if (!IsKeyword(Peek(), "select")) Fail();
      s->select = SelectStatement();
      ExpectPunct(")");
      if (Peek().kind == Tok::End) Fail();
      s->then = Statement();
      if (Accept("else")) {
        if (Peek().kind == Tok::End) Fail();
        s->otherwise = Statement();
      }
    } else if (IsKeyword(t, "set")) {
      ++p_;
      s->kind = Stmt::Kind::Set;
      if (Peek().kind == Tok::End) Fail();
      // SET options are accepted as they come; the stand-in keeps no session
      // options.
      while (Peek().kind != Tok::End && !StartsStatement(Peek()) &&
             !(Peek().kind == Tok::Punct && Peek().text == ";"))
        ++p_;
    } else if (IsKeyword(t, "use")) {
      ++p_;
      s->kind = Stmt::Kind::Use;
      s->names.push_back(ObjectName());
    } else {
      Fail();
    }
    return s;
  }

  void SkipBalanced() {
    int depth = 1;
    while (depth > 0) {
      const Token& t = Peek();
      if (t.kind == Tok::End) Fail();
      if (t.kind == Tok::Punct && t.text == "(") ++depth;
      if (t.kind == Tok::Punct && t.text == ")") --depth;
      ++p_;
    }
  }

  InsertValue InsertLiteral() {
    if (Accept("null")) return {Null{}, false};
    bool unicode = Peek().kind == Tok::String && Peek().unicode;
    return {Literal(), unicode};
  }

  static bool StartsTableConstraint(const Token& t) {
    for (const char* kw :
         {"constraint", "primary", "unique", "foreign", "check", "index"})
      if (IsKeyword(t, kw)) return true;
    return false;
  }

  bool AtElementEnd() const {
    const Token& t = Peek();
    return t.kind == Tok::Punct && (t.text == "," || t.text == ")");
  }

  // Skips the rest of one element of a column list, nested parentheses
  // included.
  void SkipElement() {
    while (!AtElementEnd()) {
      if (Peek().kind == Tok::End) Fail();
      if (AcceptPunct("(")) {
        SkipBalanced();
      } else {
        ++p_;
      }
    }
  }

  // The column list of a CREATE TABLE, after its "(": each column's name,
  // type, length, nullability and literal default. Table constraints and the
  // rest of a column's clauses (IDENTITY, CHECK, COLLATE, ...) are skipped.
  std::vector<TableColumn> ColumnDefinitions() {
    std::vector<TableColumn> columns;
    do {
      if (StartsTableConstraint(Peek())) {
        SkipElement();
        continue;
      }
      if (Peek().kind != Tok::Word && Peek().kind != Tok::Quoted) Fail();
      TableColumn c;
      c.name = Peek().text;
      ++p_;
      if (Peek().kind != Tok::Word && Peek().kind != Tok::Quoted) Fail();
      const std::string type = Fold(ObjectName());
      std::size_t length = 1;  // char(n) and varchar(n) without n hold one
      if (AcceptPunct("(")) {
        if (Accept("max")) {
          length = 0;
        } else if (Peek().kind == Tok::Number) {
          length = std::stoul(Peek().text.substr(0, 9));
          ++p_;
          if (AcceptPunct(",")) {  // decimal(p, s)
            if (Peek().kind != Tok::Number) Fail();
            ++p_;
          }
        } else {
          Fail();
        }
        ExpectPunct(")");
      }
      if (type == "int" || type == "bigint" || type == "smallint" ||
          type == "tinyint" || type == "bit") {
        c.type = TableColumn::Type::Int;
      } else if (type == "varchar" || type == "nvarchar") {
        c.type = TableColumn::Type::Text;
        c.length = length;
      } else if (type == "char" || type == "nchar") {
        c.type = TableColumn::Type::FixedText;
        c.length = length == 0 ? 1 : length;
      } else if (type == "text" || type == "ntext") {
        c.type = TableColumn::Type::Text;
      }
      c.unicode = type == "nvarchar" || type == "nchar" || type == "ntext";
      while (!AtElementEnd()) {
        if (Peek().kind == Tok::End) Fail();
        if (Accept("not")) {
          Expect("null");
          c.nullable = false;
        } else if (Accept("null")) {
          c.nullable = true;
        } else if (Accept("primary")) {
          Expect("key");
          c.nullable = false;
        } else if (Accept("default")) {
          Default(c);
        } else if (AcceptPunct("(")) {
          SkipBalanced();
        } else {
          ++p_;
        }
      }
      columns.push_back(std::move(c));
    } while (AcceptPunct(","));
    ExpectPunct(")");
    return columns;
  }

  // DEFAULT value, with or without parentheses. Only a literal (or NULL) is
  // kept; any other expression is skipped and marked, so that an INSERT that
  // would need it fails instead of storing a wrong value.
  void Default(TableColumn& c) {
    const std::size_t start = p_;
    int open = 0;
    while (AcceptPunct("(")) ++open;
    std::optional<Value> value;
    if (Accept("null")) {
      value = Null{};
    } else if (Peek().kind == Tok::String || Peek().kind == Tok::Number ||
               (Peek().kind == Tok::Punct && Peek().text == "-" &&
                Peek(1).kind == Tok::Number)) {
      value = Literal();
    }
    int closed = 0;
    while (value && closed < open && AcceptPunct(")")) ++closed;
    if (value && closed == open) {
      c.defaultValue = value;
      return;
    }
    p_ = start;
    c.defaultUnsupported = true;
    if (AcceptPunct("(")) {
      SkipBalanced();
      return;
    }
    if (Peek().kind != Tok::Word) Fail();
    ++p_;  // a function's name, then its arguments
    if (AcceptPunct("(")) SkipBalanced();
  }

  Value Literal() {
    const Token& t = Peek();
    if (t.kind == Tok::String) {
      ++p_;
      return t.text;
    }
    bool minus = false;
    if (t.kind == Tok::Punct && t.text == "-" && Peek(1).kind == Tok::Number) {
      minus = true;
      ++p_;
    }
    if (Peek().kind == Tok::Number) {
      long long v = 0;
      try {
        v = std::stoll(Peek().text);
      } catch (...) {
        Fail();
      }
      if (v > 2147483647LL) Fail();
      ++p_;
      return static_cast<std::int32_t>(minus ? -v : v);
    }
    Fail();
  }

  std::unique_ptr<Select> SelectStatement() {
    auto sel = std::make_unique<Select>();
    sel->line = Peek().line;
    Expect("select");
    do {
      SelectItem item{SelectItem::Kind::Column, {}, std::int32_t{0}, {}, false};
      const Token& t = Peek();
      if (t.kind == Tok::Punct && t.text == "*") {
        item.kind = SelectItem::Kind::Star;
        ++p_;
      } else if (IsKeyword(t, "count") && Peek(1).kind == Tok::Punct &&
                 Peek(1).text == "(") {
        p_ += 2;
        ExpectPunct("*");
        ExpectPunct(")");
        item.kind = SelectItem::Kind::CountStar;
      } else if (t.kind == Tok::Variable) {
        item.kind = SelectItem::Kind::Variable;
        item.name = Fold(t.text);
        ++p_;
      } else if ((t.kind == Tok::Word && !StartsStatement(t) &&
                  !IsKeyword(t, "from")) ||
                 t.kind == Tok::Quoted) {
        item.kind = SelectItem::Kind::Column;
        item.name = Fold(ObjectName());
      } else {
        item.kind = SelectItem::Kind::Literal;
        item.literal = Literal();
      }
      if (item.kind != SelectItem::Kind::Star) {
        if (Accept("as")) {
          if (Peek().kind != Tok::Word && Peek().kind != Tok::Quoted &&
              Peek().kind != Tok::String)
            Fail();
          item.alias = Peek().text;
          item.hasAlias = true;
          ++p_;
        } else if ((Peek().kind == Tok::Word && !StartsStatement(Peek()) &&
                    !IsKeyword(Peek(), "from") && !IsKeyword(Peek(), "where")) ||
                   Peek().kind == Tok::Quoted) {
          item.alias = Peek().text;
          item.hasAlias = true;
          ++p_;
        }
      }
      sel->items.push_back(std::move(item));
    } while (AcceptPunct(","));
    if (Accept("from")) {
      sel->hasFrom = true;
      sel->from = ObjectName();
      if (Accept("where")) sel->where = Or();
    }
    return sel;
  }

  std::unique_ptr<Cond> Or() { return LeftAssociative("or", Cond::Kind::Or, &Parser::And); }
  std::unique_ptr<Cond> And() { return LeftAssociative("and", Cond::Kind::And, &Parser::Not); }
  // operand { word operand }, grouped from the left.
  std::unique_ptr<Cond> LeftAssociative(const char* word, Cond::Kind kind,
                                        std::unique_ptr<Cond> (Parser::*operand)()) {
    auto left = (this->*operand)();
    while (Accept(word)) {
      auto c = std::make_unique<Cond>();
      c->kind = kind;
      c->left = std::move(left);
      c->right = (this->*operand)();
      left = std::move(c);
    }
    return left;
  }
  std::unique_ptr<Cond> Not() {
    if (Accept("not")) {
      auto c = std::make_unique<Cond>();
      c->kind = Cond::Kind::Not;
      c->left = Not();
      return c;
    }
    return Primary();
  }
  std::unique_ptr<Cond> Primary() {
    if (AcceptPunct("(")) {
      auto c = Or();
      ExpectPunct(")");
      return c;
    }
    auto c = std::make_unique<Cond>();
    const Token& t = Peek();
    if (t.kind != Tok::Word && t.kind != Tok::Quoted) Fail();
    if (t.kind == Tok::Word && StartsStatement(t)) Fail();
    c->column = Fold(ObjectName());
    bool negated = Accept("not");
    if (Accept("in")) {
      c->kind = Cond::Kind::In;
      ExpectPunct("(");
      do c->values.push_back(Literal());
      while (AcceptPunct(","));
      ExpectPunct(")");
      if (negated) {
        auto n = std::make_unique<Cond>();
        n->kind = Cond::Kind::Not;
        n->left = std::move(c);
        return n;
      }
      return c;
    }
    if (negated) Fail();
    const Token& op = Peek();
    if (op.kind != Tok::Punct ||
        (op.text != "=" && op.text != "<>" && op.text != "!="))
      Fail();
    c->op = op.text == "=" ? "=" : "<>";
    ++p_;
    c->values.push_back(Literal());
    return c;
  }

  std::vector<Token> t_;
  std::size_t p_ = 0;
};

// ---------------------------------------------------------------- running

// The columns of SYSOBJECTS the stand-in knows, with their SQL Server types:
// name is sysname (nvarchar(128)), xtype and type char(2), id and parent_obj
// int.
struct SysColumn {
  const char* name;
  Column::Kind kind;
  std::uint16_t maxBytes;
};
const SysColumn kSysColumns[] = {
    {"name", Column::Kind::NVarChar, 256},
    {"id", Column::Kind::Int, 4},
    {"xtype", Column::Kind::Char, 2},
    {"parent_obj", Column::Kind::Int, 4},
    {"type", Column::Kind::Char, 2},
};

const SysColumn* FindSysColumn(const std::string& folded) {
  for (const auto& c : kSysColumns)
    if (folded == c.name) return &c;
  return nullptr;
}

Value ColumnValue(const CatalogueEntry& e, const std::string& column) {
  if (column == "name") return e.name;
  if (column == "id") return e.id;
  if (column == "parent_obj") return e.parentId;
  // char(2): blank-padded.
  std::string x = e.xtype;
  x.resize(2, ' ');
  return x;
}

struct RunError {
  Message message;
  bool terminated = false;  // followed by "The statement has been terminated."
};

Message Error(std::int32_t number, std::uint8_t severity, std::string text,
              int line, std::uint8_t state = 1) {
  Message m;
  m.number = number;
  m.severity = severity;
  m.text = std::move(text);
  m.line = line;
  m.state = state;
  return m;
}

bool ValuesEqual(const Value& a, const Value& b, int line) {
  if (a.index() == b.index()) {
    if (const auto* s = std::get_if<std::string>(&a))
      return SqlEquals(*s, std::get<std::string>(b));
    return std::get<std::int32_t>(a) == std::get<std::int32_t>(b);
  }
  // Comparing text with a number converts the text, as SQL Server does.
  const std::string& s =
      a.index() == 0 ? std::get<std::string>(a) : std::get<std::string>(b);
  std::int32_t n = a.index() == 1 ? std::get<std::int32_t>(a)
                                  : std::get<std::int32_t>(b);
  try {
    std::size_t used = 0;
    long long v = std::stoll(s, &used);
    std::string rest = s.substr(used);
    if (rest.find_first_not_of(' ') == std::string::npos) return v == n;
  } catch (...) {
  }
  throw RunError{Error(245, 16,
                       "Conversion failed when converting the nvarchar value '" +
                           s + "' to data type int.",
                       line)};
}

// SQL's three-valued logic: a comparison with NULL is unknown, and a row
// qualifies only when its condition is true.
enum class Truth { False, True, Unknown };

Truth Of(bool b) { return b ? Truth::True : Truth::False; }

// The value of a named (folded) column in the row being tested.
using ColumnGetter = std::function<Value(const std::string&)>;

Truth Test(const Cond& c, const ColumnGetter& get, int line) {
  switch (c.kind) {
    case Cond::Kind::And: {
      Truth l = Test(*c.left, get, line), r = Test(*c.right, get, line);
      if (l == Truth::False || r == Truth::False) return Truth::False;
      return l == Truth::True && r == Truth::True ? Truth::True
                                                  : Truth::Unknown;
    }
    case Cond::Kind::Or: {
      Truth l = Test(*c.left, get, line), r = Test(*c.right, get, line);
      if (l == Truth::True || r == Truth::True) return Truth::True;
      return l == Truth::False && r == Truth::False ? Truth::False
                                                    : Truth::Unknown;
    }
    case Cond::Kind::Not: {
      Truth t = Test(*c.left, get, line);
      return t == Truth::Unknown ? t : Of(t == Truth::False);
    }
    case Cond::Kind::Compare: {
      const Value v = get(c.column);
      if (std::holds_alternative<Null>(v)) return Truth::Unknown;
      bool eq = ValuesEqual(v, c.values[0], line);
      return Of(c.op == "=" ? eq : !eq);
    }
    case Cond::Kind::In: {
      const Value v = get(c.column);
      if (std::holds_alternative<Null>(v)) return Truth::Unknown;
      for (const auto& each : c.values)
        if (ValuesEqual(v, each, line)) return Truth::True;
      return Truth::False;
    }
  }
  return Truth::False;
}

void CheckColumns(const Cond& c, int line,
                  const std::function<bool(const std::string&)>& known) {
  if (c.left) CheckColumns(*c.left, line, known);
  if (c.right) CheckColumns(*c.right, line, known);
  if ((c.kind == Cond::Kind::Compare || c.kind == Cond::Kind::In) &&
      !known(c.column))
    throw RunError{Error(207, 16, "Invalid column name '" + c.column + "'.",
                         line)};
}

// Length in UTF-16 code units, as SQL Server counts an nvarchar's length.
std::size_t Utf16Length(const std::string& s) {
  std::size_t n = 0;
  for (std::size_t i = 0; i < s.size(); ++i) {
    const auto c = static_cast<unsigned char>(s[i]);
    if ((c & 0xC0) == 0x80) continue;  // continuation byte
    n += c >= 0xF0 ? 2 : 1;            // outside the BMP: a surrogate pair
  }
  return n;
}

Message Terminated(int line) {
  return Error(3621, 0, "The statement has been terminated.", line, 0);
}

// A value of an INSERT as the column stores it: text converted to int for an
// int column, numbers written out for a text column, char padded with blanks.
Value Convert(const InsertValue& in, const TableColumn& col, int line) {
  if (std::holds_alternative<Null>(in.value)) return in.value;
  if (col.type == TableColumn::Type::Int) {
    if (const auto* n = std::get_if<std::int32_t>(&in.value)) return *n;
    const std::string& s = std::get<std::string>(in.value);
    const std::string kind = in.unicode ? "nvarchar" : "varchar";
    const std::size_t b = s.find_first_not_of(' ');
    const std::size_t e = s.find_last_not_of(' ');
    const std::string digits = b == std::string::npos ? "0" : s.substr(b, e - b + 1);
    std::size_t at = digits[0] == '-' || digits[0] == '+' ? 1 : 0;
    if (at == digits.size() ||
        digits.find_first_not_of("0123456789", at) != std::string::npos)
      throw RunError{Error(245, 16,
                           "Conversion failed when converting the " + kind +
                               " value '" + s + "' to data type int.",
                           line)};
    long long v = 0;
    for (std::size_t i = at; i < digits.size() && v <= 2147483648LL; ++i)
      v = v * 10 + (digits[i] - '0');
    if (digits[0] == '-') v = -v;
    if (v < -2147483648LL || v > 2147483647LL)
      throw RunError{Error(248, 16,
                           "The conversion of the " + kind + " value '" + s +
                               "' overflowed an int column.",
                           line)};
    return static_cast<std::int32_t>(v);
  }
  std::string text = std::holds_alternative<std::int32_t>(in.value)
                         ? std::to_string(std::get<std::int32_t>(in.value))
                         : std::get<std::string>(in.value);
  if (col.type == TableColumn::Type::Other || col.length == 0) return text;
  // Blanks beyond the length are dropped silently; anything else is too long.
  std::size_t keep = text.size();
  while (Utf16Length(text.substr(0, keep)) > col.length && keep > 0 &&
         text[keep - 1] == ' ')
    --keep;
  text.resize(keep);
  if (Utf16Length(text) > col.length) {
    throw RunError{Error(8152, 16, "String or binary data would be truncated.",
                         line, 14),
                   true};
  }
  if (col.type == TableColumn::Type::FixedText)
    text.append(col.length - Utf16Length(text), ' ');
  return text;
}

// How a table column goes out in a result: int as int, everything else as
// nvarchar of its declared length.
Column ResultColumn(const TableColumn& c, const std::string& name) {
  Column out;
  out.name = name;
  out.nullable = c.nullable;
  if (c.type == TableColumn::Type::Int) {
    out.kind = Column::Kind::Int;
    out.maxBytes = 4;
  } else {
    std::size_t bytes = c.length == 0 || c.type == TableColumn::Type::Other
                            ? 8000
                            : c.length * 2;
    out.kind = Column::Kind::NVarChar;
    out.maxBytes = static_cast<std::uint16_t>(std::clamp<std::size_t>(bytes, 2, 8000));
  }
  return out;
}

class Runner {
 public:
  explicit Runner(BatchContext& ctx) : ctx_(ctx) {}

  StatementOutcome Run(const Stmt& s) {
    StatementOutcome out;
    try {
      Execute(s, out);
    } catch (const RunError& e) {
      out.messages.push_back(e.message);
      if (e.terminated) out.messages.push_back(Terminated(e.message.line));
      out.error = true;
      out.result.reset();
      out.counted = false;
    }
    return out;
  }

 private:
  void Execute(const Stmt& s, StatementOutcome& out) {
    switch (s.kind) {
      case Stmt::Kind::DropTable:
      case Stmt::Kind::DropTrigger: {
        bool table = s.kind == Stmt::Kind::DropTable;
        out.curCmd = table ? 0xC6 : 0xC8;
        for (const auto& name : s.names) {
          const CatalogueEntry* e = ctx_.catalogue.Find(name);
          bool rightKind = e && e->xtype == (table ? "U" : "TR");
          bool denied = ctx_.deniedDrops.count(Fold(name)) > 0;
          if (!rightKind || denied) {
            // SQL Server gives the same text for a missing object and a
            // refused drop, at a higher severity for the refusal.
            out.messages.push_back(Error(
                3701, denied && rightKind ? 14 : 11,
                std::string("Cannot drop the ") + (table ? "table" : "trigger") +
                    " '" + name +
                    "', because it does not exist or you do not have "
                    "permission.",
                s.line, denied && rightKind ? 1 : 5));
            out.error = true;
            continue;
          }
          ctx_.catalogue.Remove(e->id);
        }
        return;
      }
      case Stmt::Kind::CreateTable: {
        out.curCmd = 0xC6;
        const std::string& name = s.names[0];
        if (ctx_.catalogue.Find(name))
          throw RunError{Error(2714, 16,
                               "There is already an object named '" + name +
                                   "' in the database.",
                               s.line, 6)};
        ctx_.catalogue.AddTable(name, s.columns);
        return;
      }
      case Stmt::Kind::CreateTrigger: {
        out.curCmd = 0xC6;
        const std::string& name = s.names[0];
        const CatalogueEntry* table = ctx_.catalogue.Find(s.table);
        if (!table || table->xtype != "U")
          throw RunError{Error(8197, 16,
                               "The object '" + s.table +
                                   "' does not exist or is invalid for this "
                                   "operation.",
                               s.line, 4)};
        if (ctx_.catalogue.Find(name))
          throw RunError{Error(2714, 16,
                               "There is already an object named '" + name +
                                   "' in the database.",
                               s.line, 2)};
        ctx_.catalogue.Add(name, "TR", table->id);
        return;
      }
      case Stmt::Kind::Insert:
        out.curCmd = 0xC3;
        out.count = Insert(s);
        out.counted = true;
        return;
      case Stmt::Kind::Select:
        out.curCmd = 0xC1;
        out.result = Query(*s.select);
        out.counted = true;
        out.count = out.result->rows.size();
        return;
      case Stmt::Kind::If: {
        out.curCmd = 0xC1;
        bool exists = !Query(*s.select).rows.empty();
        if (s.select->items.size() == 1 &&
            s.select->items[0].kind == SelectItem::Kind::CountStar)
          exists = true;  // a count always yields one row
        if (exists != s.negate) {
          Execute(*s.then, out);
        } else if (s.otherwise) {
          Execute(*s.otherwise, out);
        }
        return;
      }
      case Stmt::Kind::Set:
      case Stmt::Kind::Empty:
        out.curCmd = 0xC2;
        return;
      case Stmt::Kind::Use:
        out.curCmd = 0xC2;
        if (!SqlEquals(s.names[0], ctx_.serverDatabase))
          throw RunError{Error(911, 16,
                               "Database '" + s.names[0] +
                                   "' does not exist. Make sure that the name "
                                   "is entered correctly.",
                               s.line)};
        ctx_.currentDatabase = ctx_.serverDatabase;
        out.newDatabase = ctx_.serverDatabase;
        {
          Message info = Error(5701, 0,
                               "Changed database context to '" +
                                   ctx_.serverDatabase + "'.",
                               s.line, 2);
          out.messages.push_back(info);
        }
        return;
    }
  }

  // A user table by name, or error 208 as for any unknown object.
  std::pair<const CatalogueEntry*, TableData*> Table(const std::string& name,
                                                     int line) {
    const CatalogueEntry* e = ctx_.catalogue.Find(name);
    TableData* data = e && e->xtype == "U" ? ctx_.catalogue.Data(e->id) : nullptr;
    if (!data)
      throw RunError{
          Error(208, 16, "Invalid object name '" + name + "'.", line)};
    return {e, data};
  }

  static std::optional<std::size_t> ColumnIndex(const TableData& t,
                                                const std::string& name) {
    for (std::size_t i = 0; i < t.columns.size(); ++i)
      if (SqlEquals(t.columns[i].name, name)) return i;
    return std::nullopt;
  }

  // Adds the rows of an INSERT: all of them, or none when any one fails.
  std::uint64_t Insert(const Stmt& s) {
    const auto found = Table(s.names[0], s.line);
    const CatalogueEntry* entry = found.first;
    TableData* table = found.second;
    std::vector<std::size_t> targets;
    if (s.hasColumnList) {
      for (const auto& name : s.insertColumns) {
        auto i = ColumnIndex(*table, name);
        if (!i)
          throw RunError{
              Error(207, 16, "Invalid column name '" + name + "'.", s.line)};
        if (std::find(targets.begin(), targets.end(), *i) != targets.end())
          throw RunError{Error(264, 16,
                               "The column name '" + name +
                                   "' is specified more than once in the SET "
                                   "clause or column list of an INSERT. A "
                                   "column cannot be assigned more than one "
                                   "value in the same clause. Modify the "
                                   "clause to make sure that a column is "
                                   "updated only once. If this statement "
                                   "updates or inserts columns into a view, "
                                   "column aliasing can conceal the "
                                   "duplication in your code.",
                               s.line)};
        targets.push_back(*i);
      }
    } else {
      for (std::size_t i = 0; i < table->columns.size(); ++i)
        targets.push_back(i);
    }
    for (const auto& row : s.insertRows) {
      if (row.size() == targets.size()) continue;
      const char* tail =
          " The number of values in the VALUES clause must match the number "
          "of columns specified in the INSERT statement.";
      if (!s.hasColumnList)
        throw RunError{Error(213, 16,
                             "Column name or number of supplied values does "
                             "not match table definition.",
                             s.line)};
      if (row.size() > targets.size())
        throw RunError{Error(110, 15,
                             std::string("There are fewer columns in the "
                                         "INSERT statement than values "
                                         "specified in the VALUES clause.") +
                                 tail,
                             s.line)};
      throw RunError{Error(109, 15,
                           std::string("There are more columns in the INSERT "
                                       "statement than values specified in "
                                       "the VALUES clause.") +
                               tail,
                           s.line)};
    }
    std::vector<std::vector<Value>> added;
    added.reserve(s.insertRows.size());
    for (const auto& row : s.insertRows) {
      std::vector<Value> values(table->columns.size(), Null{});
      std::vector<bool> given(table->columns.size(), false);
      for (std::size_t k = 0; k < targets.size(); ++k) {
        values[targets[k]] = Convert(row[k], table->columns[targets[k]], s.line);
        given[targets[k]] = true;
      }
      for (std::size_t i = 0; i < values.size(); ++i) {
        const TableColumn& col = table->columns[i];
        if (!given[i] && col.defaultValue) {
          values[i] = Convert({*col.defaultValue, false}, col, s.line);
        } else if (!given[i] && col.defaultUnsupported) {
          // The stand-in does not evaluate expressions; storing NULL would
          // pass off a wrong value as the column's default.
          throw RunError{Error(50000, 16,
                               "The stand-in cannot compute the default of "
                               "column '" + col.name +
                                   "'; give its value in the INSERT.",
                               s.line)};
        }
        if (std::holds_alternative<Null>(values[i]) && !col.nullable)
          throw RunError{Error(515, 16,
                               "Cannot insert the value NULL into column '" +
                                   col.name + "', table '" +
                                   ctx_.serverDatabase + ".dbo." +
                                   entry->name +
                                   "'; column does not allow nulls. INSERT "
                                   "fails.",
                               s.line, 2),
                         true};
      }
      added.push_back(std::move(values));
    }
    for (auto& row : added) table->rows.push_back(std::move(row));
    return added.size();
  }

  // SELECT over a user table: its columns by name or *, COUNT(*) or
  // literals, with an optional WHERE.
  ResultSet QueryTable(const Select& sel) {
    const auto found = Table(sel.from, sel.line);
    const CatalogueEntry* entry = found.first;
    TableData* table = found.second;
    auto known = [&t = *table](const std::string& c) {
      return ColumnIndex(t, c).has_value();
    };
    if (sel.where) CheckColumns(*sel.where, sel.line, known);
    ResultSet rs;
    std::vector<std::optional<std::size_t>> sources;  // nullopt: a literal
    std::vector<Value> literals;
    bool count = false;
    std::string plainColumn;  // a column named beside COUNT(*)
    for (const auto& item : sel.items) {
      switch (item.kind) {
        case SelectItem::Kind::Star:
          for (std::size_t i = 0; i < table->columns.size(); ++i) {
            rs.columns.push_back(
                ResultColumn(table->columns[i], table->columns[i].name));
            sources.emplace_back(i);
            literals.emplace_back(Null{});
            if (plainColumn.empty()) plainColumn = table->columns[i].name;
          }
          break;
        case SelectItem::Kind::Column: {
          auto i = ColumnIndex(*table, item.name);
          if (!i)
            throw RunError{Error(207, 16,
                                 "Invalid column name '" + item.name + "'.",
                                 sel.line)};
          const TableColumn& c = table->columns[*i];
          rs.columns.push_back(ResultColumn(c, item.hasAlias ? item.alias : c.name));
          sources.emplace_back(*i);
          literals.emplace_back(Null{});
          if (plainColumn.empty()) plainColumn = c.name;
          break;
        }
        case SelectItem::Kind::CountStar:
          count = true;
          rs.columns.push_back(
              {item.hasAlias ? item.alias : "", Column::Kind::Int, 4, false});
          sources.emplace_back(std::nullopt);
          literals.emplace_back(Null{});
          break;
        case SelectItem::Kind::Literal: {
          bool text = std::holds_alternative<std::string>(item.literal);
          std::size_t len =
              text ? std::get<std::string>(item.literal).size() * 2 : 4;
          rs.columns.push_back(
              {item.hasAlias ? item.alias : "",
               text ? Column::Kind::NVarChar : Column::Kind::Int,
               static_cast<std::uint16_t>(std::clamp<std::size_t>(len, 2, 8000)),
               false});
          sources.emplace_back(std::nullopt);
          literals.push_back(item.literal);
          break;
        }
        case SelectItem::Kind::Variable:
          throw RunError{Error(102, 15, "Incorrect syntax near 'FROM'.",
                               sel.line)};
      }
    }
    if (count && !plainColumn.empty())
      throw RunError{Error(8120, 16,
                           "Column '" + entry->name + "." + plainColumn +
                               "' is invalid in the select list because it "
                               "is not contained in either an aggregate "
                               "function or the GROUP BY clause.",
                           sel.line)};
    std::vector<const std::vector<Value>*> hits;
    for (const auto& row : table->rows) {
      auto get = [&](const std::string& c) { return row[*ColumnIndex(*table, c)]; };
      if (!sel.where || Test(*sel.where, get, sel.line) == Truth::True)
        hits.push_back(&row);
    }
    if (count) {
      std::vector<Value> row;
      for (std::size_t k = 0; k < sources.size(); ++k)
        row.push_back(sel.items[k].kind == SelectItem::Kind::CountStar
                          ? Value{static_cast<std::int32_t>(hits.size())}
                          : literals[k]);
      rs.rows.push_back(std::move(row));
      return rs;
    }
    for (const auto* hit : hits) {
      std::vector<Value> row;
      row.reserve(sources.size());
      for (std::size_t k = 0; k < sources.size(); ++k)
        row.push_back(sources[k] ? (*hit)[*sources[k]] : literals[k]);
      rs.rows.push_back(std::move(row));
    }
    return rs;
  }

  ResultSet Query(const Select& sel) {
    ResultSet rs;
    if (!sel.hasFrom) {
      std::vector<Value> row;
      for (const auto& item : sel.items) {
        Column col;
        col.name = item.hasAlias ? item.alias : "";
        Value v;
        if (item.kind == SelectItem::Kind::Literal) {
          v = item.literal;
        } else if (item.kind == SelectItem::Kind::Variable) {
          if (item.name == "@@spid") {
            v = ctx_.spid;
          } else if (item.name == "@@version") {
            v = std::string(
                "Tarnwick TDS stand-in (for tests and demos, not a database "
                "server)");
          } else if (item.name == "@@trancount" || item.name == "@@error" ||
                     item.name == "@@rowcount") {
            v = std::int32_t{0};
          } else if (item.name == "@@servername") {
            v = std::string("standin");
          } else {
            throw RunError{Error(137, 15,
                                 "Must declare the scalar variable \"" +
                                     item.name + "\".",
                                 sel.line, 2)};
          }
        } else if (item.kind == SelectItem::Kind::Column) {
          throw RunError{
              Error(207, 16, "Invalid column name '" + item.name + "'.",
                    sel.line)};
        } else {
          throw RunError{Error(263, 16,
                               "Must specify table to select from.", sel.line)};
        }
        if (const auto* s = std::get_if<std::string>(&v)) {
          col.kind = Column::Kind::NVarChar;
          col.maxBytes = static_cast<std::uint16_t>(
              std::clamp<std::size_t>(s->size() * 2, 2, 8000));
        } else {
          col.kind = Column::Kind::Int;
          col.maxBytes = 4;
        }
        rs.columns.push_back(col);
        row.push_back(v);
      }
      rs.rows.push_back(row);
      return rs;
    }
    if (Fold(sel.from) != "sysobjects") return QueryTable(sel);
    if (sel.where)
      CheckColumns(*sel.where, sel.line, [](const std::string& c) {
        return FindSysColumn(c) != nullptr;
      });

    // Per result column: the SYSOBJECTS column it shows, or a literal.
    struct Source {
      std::string column;
      std::optional<Value> literal;
    };
    std::vector<Source> sources;
    bool count = false;
    for (const auto& item : sel.items) {
      switch (item.kind) {
        case SelectItem::Kind::Star:
          for (const char* c : {"name", "id", "xtype", "parent_obj"}) {
            const SysColumn* sc = FindSysColumn(c);
            rs.columns.push_back({sc->name, sc->kind, sc->maxBytes});
            sources.push_back({c, std::nullopt});
          }
          break;
        case SelectItem::Kind::Column: {
          const SysColumn* sc = FindSysColumn(item.name);
          if (!sc)
            throw RunError{Error(207, 16,
                                 "Invalid column name '" + item.name + "'.",
                                 sel.line)};
          rs.columns.push_back(
              {item.hasAlias ? item.alias : sc->name, sc->kind, sc->maxBytes});
          sources.push_back({sc->name, std::nullopt});
          break;
        }
        case SelectItem::Kind::CountStar:
          count = true;
          rs.columns.push_back(
              {item.hasAlias ? item.alias : "", Column::Kind::Int, 4});
          sources.push_back({});
          break;
        case SelectItem::Kind::Literal: {
          bool text = std::holds_alternative<std::string>(item.literal);
          std::size_t len =
              text ? std::get<std::string>(item.literal).size() * 2 : 4;
          rs.columns.push_back(
              {item.hasAlias ? item.alias : "",
               text ? Column::Kind::NVarChar : Column::Kind::Int,
               static_cast<std::uint16_t>(std::clamp<std::size_t>(len, 2, 8000))});
          sources.push_back({"", item.literal});
          break;
        }
        case SelectItem::Kind::Variable:
          throw RunError{Error(102, 15, "Incorrect syntax near 'FROM'.",
                               sel.line)};
      }
    }
    if (count && sources.size() != 1)
      throw RunError{Error(8120, 16,
                           "Column 'sysobjects.name' is invalid in the select "
                           "list because it is not contained in either an "
                           "aggregate function or the GROUP BY clause.",
                           sel.line)};
    std::vector<const CatalogueEntry*> hits;
    for (const auto& e : ctx_.catalogue.Entries()) {
      auto get = [&e](const std::string& c) { return ColumnValue(e, c); };
      if (!sel.where || Test(*sel.where, get, sel.line) == Truth::True)
        hits.push_back(&e);
    }
    if (count) {
      rs.rows.push_back({static_cast<std::int32_t>(hits.size())});
      return rs;
    }
    for (const CatalogueEntry* e : hits) {
      std::vector<Value> row;
      row.reserve(sources.size());
      for (const auto& src : sources)
        row.push_back(src.literal ? *src.literal : ColumnValue(*e, src.column));
      rs.rows.push_back(std::move(row));
    }
    return rs;
  }

  BatchContext& ctx_;
};

}  // namespace

std::vector<StatementOutcome> RunBatch(const std::string& text,
                                       BatchContext& context) {
  std::vector<std::unique_ptr<Stmt>> statements;
  try {
    statements = Parser(Tokenize(text)).Batch();
  } catch (const SyntaxError& e) {
    StatementOutcome out;
    out.error = true;
    out.messages.push_back(
        Error(102, 15, "Incorrect syntax near '" + e.near + "'.", e.line));
    return {out};
  }
  std::vector<StatementOutcome> outcomes;
  outcomes.reserve(statements.size());
  Runner runner(context);
  for (const auto& s : statements) outcomes.push_back(runner.Run(*s));
  return outcomes;
}

}  // namespace tdsstandin
