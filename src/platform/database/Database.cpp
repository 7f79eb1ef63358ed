#include "platform/database/Database.h"

#ifdef _WIN32
#include <windows.h>
#endif
#include <sql.h>
#include <sqlext.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <mutex>
#include <utility>

#include "platform/database/WideText.h"

static_assert(sizeof(SQLWCHAR) == sizeof(char16_t),
              "the wide ODBC calls are fed UTF-16 code units");

namespace tarnwick {

namespace {

// ---------------------------------------------------------------------------
// Text helpers

char AsciiLower(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool EqualsNoCase(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (AsciiLower(a[i]) != AsciiLower(b[i])) return false;
  }
  return true;
}

std::string LowerAscii(std::string s) {
  for (char& c : s) c = AsciiLower(c);
  return s;
}

// A UTF-16 buffer ready for a wide ODBC call.
struct WideArg {
  std::u16string text;
  SQLWCHAR* ptr() {
    // An empty text is still passed as a valid, empty string (length 0), never
    // as a null pointer: an empty login must reach the driver as empty.
    static SQLWCHAR empty[1] = {0};
    return text.empty() ? empty : reinterpret_cast<SQLWCHAR*>(text.data());
  }
  SQLSMALLINT len16() const { return static_cast<SQLSMALLINT>(text.size()); }
  SQLINTEGER len32() const { return static_cast<SQLINTEGER>(text.size()); }
};

// Replaces every occurrence of `secret` in `text`. Short secrets are left
// alone: blotting out every "a" of a message would destroy it, and no driver
// we know of echoes a password anyway. This only guards against one that does.
std::string Redact(std::string text, const std::string& secret) {
  if (secret.size() < 4) return text;
  std::size_t pos = 0;
  while ((pos = text.find(secret, pos)) != std::string::npos) {
    text.replace(pos, secret.size(), "****");
    pos += 4;
  }
  return text;
}

// ---------------------------------------------------------------------------
// Diagnostics

struct DiagRecord {
  std::string state;
  long native = 0;
  std::string message;
};

std::vector<DiagRecord> ReadDiagnostics(SQLSMALLINT handleType,
                                        SQLHANDLE handle) {
  std::vector<DiagRecord> out;
  if (handle == SQL_NULL_HANDLE) return out;
  for (SQLSMALLINT rec = 1; rec < 100; ++rec) {
    SQLWCHAR state[6] = {0};
    SQLINTEGER native = 0;
    std::u16string msg(1024, u'\0');
    SQLSMALLINT msgLen = 0;
    SQLRETURN rc = SQLGetDiagRecW(
        handleType, handle, rec, state, &native,
        reinterpret_cast<SQLWCHAR*>(msg.data()),
        static_cast<SQLSMALLINT>(msg.size()), &msgLen);
    if (rc == SQL_SUCCESS_WITH_INFO && msgLen >= static_cast<SQLSMALLINT>(msg.size())) {
      msg.assign(static_cast<std::size_t>(msgLen) + 1, u'\0');
      rc = SQLGetDiagRecW(handleType, handle, rec, state, &native,
                          reinterpret_cast<SQLWCHAR*>(msg.data()),
                          static_cast<SQLSMALLINT>(msg.size()), &msgLen);
    }
    if (rc != SQL_SUCCESS && rc != SQL_SUCCESS_WITH_INFO) break;
    msg.resize(std::min<std::size_t>(static_cast<std::size_t>(std::max<SQLSMALLINT>(msgLen, 0)),
                                     msg.size() - 1));
    DiagRecord r;
    r.state = Utf16ToUtf8(std::u16string(reinterpret_cast<const char16_t*>(state), 5));
    r.native = static_cast<long>(native);
    r.message = Utf16ToUtf8(msg);
    out.push_back(std::move(r));
  }
  return out;
}

// A warning (SQLSTATE class 01) or an informational message is no failure.
bool IsWarningState(const std::string& state) {
  return state.rfind("01", 0) == 0 || state.rfind("00", 0) == 0;
}

// Collects the diagnostic records of a failing call (or a series of calls, for
// a batch whose several statements fail) and turns them into one exception.
class ErrorCollector {
 public:
  explicit ErrorCollector(std::string secret = {}) : secret_(std::move(secret)) {}

  void Add(const std::vector<DiagRecord>& records, const char* fallback) {
    bool any = false;
    for (const DiagRecord& r : records) {
      if (IsWarningState(r.state)) continue;
      Push(r);
      any = true;
    }
    if (!any) {
      // The call failed but left no error record (or only warnings): still a
      // failure, described by what was being done.
      DiagRecord r;
      r.state = "HY000";
      r.message = fallback;
      for (const DiagRecord& w : records) r.message += "\n" + w.message;
      Push(r);
    }
  }

  bool Empty() const { return records_.empty(); }

  [[noreturn]] void Throw() const {
    std::string message;
    for (const DiagRecord& r : records_) {
      if (!message.empty()) message += "\n";
      message += r.message;
    }
    const DiagRecord& first = records_.front();
    throw EDatabaseError(Redact(message, secret_), first.state, first.native);
  }

 private:
  void Push(const DiagRecord& r) {
    // The same record can be reported by two consecutive calls; keep it once.
    for (const DiagRecord& seen : records_) {
      if (seen.state == r.state && seen.native == r.native &&
          seen.message == r.message) {
        return;
      }
    }
    records_.push_back(r);
  }

  std::string secret_;
  std::vector<DiagRecord> records_;
};

bool Succeeded(SQLRETURN rc) {
  return rc == SQL_SUCCESS || rc == SQL_SUCCESS_WITH_INFO;
}

// Some drivers answer SQL_SUCCESS_WITH_INFO where a statement of the batch
// actually failed. An error record (a SQLSTATE outside the warning classes)
// makes the call a failure whatever its return code.
bool HasErrorRecord(const std::vector<DiagRecord>& records) {
  return std::any_of(records.begin(), records.end(), [](const DiagRecord& r) {
    return !IsWarningState(r.state);
  });
}

[[noreturn]] void ThrowFromHandle(SQLSMALLINT type, SQLHANDLE handle,
                                  const char* what,
                                  const std::string& secret = {}) {
  ErrorCollector errors(secret);
  errors.Add(ReadDiagnostics(type, handle), what);
  errors.Throw();
}

// ---------------------------------------------------------------------------
// Handles

// Owns one ODBC handle and frees it on destruction.
class OdbcHandle {
 public:
  OdbcHandle() = default;
  OdbcHandle(SQLSMALLINT type, SQLHANDLE handle) : type_(type), handle_(handle) {}
  ~OdbcHandle() { Reset(); }
  OdbcHandle(const OdbcHandle&) = delete;
  OdbcHandle& operator=(const OdbcHandle&) = delete;
  OdbcHandle(OdbcHandle&& o) noexcept
      : type_(o.type_), handle_(std::exchange(o.handle_, SQLHANDLE{})) {}
  OdbcHandle& operator=(OdbcHandle&& o) noexcept {
    if (this != &o) {
      Reset();
      type_ = o.type_;
      handle_ = std::exchange(o.handle_, SQLHANDLE{});
    }
    return *this;
  }
  SQLHANDLE get() const { return handle_; }
  SQLSMALLINT type() const { return type_; }
  void Reset() {
    if (handle_ != SQL_NULL_HANDLE) {
      SQLFreeHandle(type_, handle_);
      handle_ = SQL_NULL_HANDLE;
    }
  }

 private:
  SQLSMALLINT type_ = SQL_HANDLE_ENV;
  SQLHANDLE handle_ = SQL_NULL_HANDLE;
};

OdbcHandle Allocate(SQLSMALLINT type, const OdbcHandle* parent,
                    const char* what) {
  SQLHANDLE h = SQL_NULL_HANDLE;
  SQLHANDLE in = parent ? parent->get() : SQL_NULL_HANDLE;
  SQLRETURN rc = SQLAllocHandle(type, in, &h);
  if (!Succeeded(rc)) {
    if (parent) ThrowFromHandle(parent->type(), parent->get(), what);
    throw EDatabaseError(what, "HY001", 0);
  }
  return OdbcHandle(type, h);
}

}  // namespace

// ---------------------------------------------------------------------------
// TStrings

std::string TStrings::Values(const std::string& name) const {
  for (const std::string& line : lines_) {
    const std::size_t eq = line.find('=');
    if (eq == std::string::npos) continue;
    if (EqualsNoCase(line.substr(0, eq), name)) return line.substr(eq + 1);
  }
  return {};
}

std::string TStrings::Text() const {
  std::string text;
  for (const std::string& line : lines_) {
    text += line;
    text += "\r\n";
  }
  return text;
}

// ---------------------------------------------------------------------------
// The session registry: open connections by session and database name (both
// ASCII case-insensitive, as database and session names are).

struct TDatabase::Impl {
  OdbcHandle env;
  OdbcHandle dbc;
  bool connected = false;
  bool registered = false;
  std::string registeredKey;
};

namespace {

std::mutex& RegistryMutex() {
  static std::mutex m;
  return m;
}

std::map<std::string, TDatabase::Impl*>& Registry() {
  static std::map<std::string, TDatabase::Impl*> r;
  return r;
}

std::string RegistryKey(const std::string& session, const std::string& name) {
  return LowerAscii(session) + '\n' + LowerAscii(name);
}

void Disconnect(TDatabase::Impl& impl) {
  if (impl.connected) {
    // A broken connection may refuse to disconnect cleanly; the handles are
    // freed either way.
    SQLDisconnect(impl.dbc.get());
    impl.connected = false;
  }
  impl.dbc.Reset();
  impl.env.Reset();
}

void Unregister(TDatabase::Impl& impl) {
  if (!impl.registered) return;
  std::lock_guard<std::mutex> lock(RegistryMutex());
  auto it = Registry().find(impl.registeredKey);
  if (it != Registry().end() && it->second == &impl) Registry().erase(it);
  impl.registered = false;
}

}  // namespace

// ---------------------------------------------------------------------------
// TDatabase

TDatabase::TDatabase() : impl_(std::make_unique<Impl>()) {}

TDatabase::~TDatabase() { Close(); }

bool TDatabase::Connected() const { return impl_->connected; }

void TDatabase::Close() {
  Unregister(*impl_);
  Disconnect(*impl_);
}

void TDatabase::Open() {
  if (Connected()) return;

  if (BeforeConnect) BeforeConnect(*this);

  // Taken after BeforeConnect, which may still set them.
  if (DatabaseName.empty()) {
    throw EDatabaseError("The database has no name to be registered under.",
                         "HY000", 0);
  }
  const std::string key = RegistryKey(SessionName, DatabaseName);
  {
    std::lock_guard<std::mutex> lock(RegistryMutex());
    if (Registry().count(key)) {
      throw EDatabaseError("A database named '" + DatabaseName +
                               "' is already open in session '" + SessionName +
                               "'.",
                           "08002", 0);
    }
  }

  const std::string user = Params.Values("USER NAME");
  const std::string password = Params.Values("PASSWORD");

  // The alias, the login and the password go to the driver as three separate
  // arguments of SQLConnectW; no connection string is ever built from them, so
  // a password holding ';', '}' or '=' reaches the server unchanged and cannot
  // add connection attributes of its own. (This is also why the program does
  // not use QtSql's ODBC driver: it joins "DSN=...;UID=...;PWD=..." without
  // quoting, leaves out an empty login, and does not report an error raised
  // by a later statement of a batch.)
  WideArg wAlias, wUser, wPassword;
  try {
    wAlias.text = Utf8ToUtf16(AliasName);
    wUser.text = Utf8ToUtf16(user);
    wPassword.text = Utf8ToUtf16(password);
  } catch (const EInvalidUtf8&) {
    throw EDatabaseError(
        "The data source name, login or password is not valid text.", "HY000",
        0);
  }

  Impl& impl = *impl_;
  try {
    impl.env = Allocate(SQL_HANDLE_ENV, nullptr,
                        "The ODBC environment could not be allocated.");
    SQLRETURN rc = SQLSetEnvAttr(impl.env.get(), SQL_ATTR_ODBC_VERSION,
                                 reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
    if (!Succeeded(rc)) {
      ThrowFromHandle(SQL_HANDLE_ENV, impl.env.get(),
                      "The ODBC version could not be set.");
    }
    impl.dbc = Allocate(SQL_HANDLE_DBC, &impl.env,
                        "The ODBC connection could not be allocated.");
    // Bounds the wait for an unreachable server. Autocommit stays as the
    // driver has it (on): the program starts no transaction.
    rc = SQLSetConnectAttr(
        impl.dbc.get(), SQL_ATTR_LOGIN_TIMEOUT,
        reinterpret_cast<SQLPOINTER>(static_cast<SQLULEN>(
            LoginTimeoutSeconds > 0 ? LoginTimeoutSeconds : 0)),
        SQL_IS_UINTEGER);
    if (!Succeeded(rc)) {
      ThrowFromHandle(SQL_HANDLE_DBC, impl.dbc.get(),
                      "The login timeout could not be set.", password);
    }
    rc = SQLConnectW(impl.dbc.get(), wAlias.ptr(), wAlias.len16(), wUser.ptr(),
                     wUser.len16(), wPassword.ptr(), wPassword.len16());
    if (!Succeeded(rc)) {
      ThrowFromHandle(SQL_HANDLE_DBC, impl.dbc.get(),
                      "The connection to the data source failed.", password);
    }
    impl.connected = true;

    {
      std::lock_guard<std::mutex> lock(RegistryMutex());
      if (Registry().count(key)) {
        throw EDatabaseError("A database named '" + DatabaseName +
                                 "' is already open in session '" +
                                 SessionName + "'.",
                             "08002", 0);
      }
      Registry()[key] = &impl;
      impl.registered = true;
      impl.registeredKey = key;
    }

    if (AfterConnect) AfterConnect(*this);
  } catch (...) {
    Close();
    throw;
  }
}

// ---------------------------------------------------------------------------
// TQuery

namespace {

TDatabase::Impl& FindConnection(const std::string& session,
                                const std::string& name) {
  std::lock_guard<std::mutex> lock(RegistryMutex());
  auto it = Registry().find(RegistryKey(session, name));
  if (it == Registry().end() || !it->second->connected) {
    throw EDatabaseError("No open database named '" + name +
                             "' in session '" + session + "'.",
                         "08003", 0);
  }
  return *it->second;
}

// How a call on the statement went.
enum class Step { Ok, Failed, NoMore };

// Interprets the return code of SQLExecDirectW / SQLMoreResults, adding any
// error to `errors`.
Step Examine(SQLRETURN rc, SQLHSTMT stmt, ErrorCollector& errors,
             const char* what) {
  if (rc == SQL_NO_DATA) return Step::NoMore;
  if (rc == SQL_SUCCESS) return Step::Ok;
  if (rc == SQL_SUCCESS_WITH_INFO) {
    std::vector<DiagRecord> records = ReadDiagnostics(SQL_HANDLE_STMT, stmt);
    if (!HasErrorRecord(records)) return Step::Ok;
    errors.Add(records, what);
    return Step::Failed;
  }
  errors.Add(ReadDiagnostics(SQL_HANDLE_STMT, stmt), what);
  return Step::Failed;
}

// Errors after which the statement has nothing more to give: the connection
// is gone, or the driver manager refuses the call sequence.
bool IsTerminal(SQLRETURN rc, SQLHSTMT stmt) {
  if (rc == SQL_INVALID_HANDLE) return true;
  for (const DiagRecord& r : ReadDiagnostics(SQL_HANDLE_STMT, stmt)) {
    if (r.state.rfind("08", 0) == 0 || r.state == "HY010" ||
        r.state == "HYT00" || r.state == "HYT01") {
      return true;
    }
  }
  return false;
}

// One execution of a statement text: its own statement handle, freed on every
// path.
class Execution {
 public:
  Execution(TDatabase::Impl& conn, const std::string& text)
      : stmt_(Allocate(SQL_HANDLE_STMT, &conn.dbc,
                       "The statement could not be allocated.")) {
    // The text goes to the server as it is: no escape-clause processing, and
    // no parameter markers are looked for.
    SQLSetStmtAttr(stmt_.get(), SQL_ATTR_NOSCAN,
                   reinterpret_cast<SQLPOINTER>(SQL_NOSCAN_ON), 0);
    WideArg sql;
    try {
      sql.text = Utf8ToUtf16(text);
    } catch (const EInvalidUtf8&) {
      throw EDatabaseError("The statement text is not valid UTF-8.", "HY000", 0);
    }
    SQLRETURN rc = SQLExecDirectW(stmt_.get(), sql.ptr(), sql.len32());
    last_ = rc;
    state_ = Examine(rc, stmt_.get(), errors_,
                     "The statement could not be executed.");
  }

  SQLHSTMT get() const { return stmt_.get(); }
  bool HasColumns() const {
    SQLSMALLINT cols = 0;
    return Succeeded(SQLNumResultCols(stmt_.get(), &cols)) && cols > 0;
  }
  Step state() const { return state_; }

  // Moves to the next result; false when there is none left (or nothing more
  // can be had from this statement).
  bool Next() {
    if (state_ == Step::NoMore) return false;
    if (state_ == Step::Failed && IsTerminal(last_, stmt_.get())) {
      state_ = Step::NoMore;
      return false;
    }
    // Bounded: a driver that kept answering with errors would otherwise keep
    // this loop going forever.
    if (++moves_ > 100000) {
      state_ = Step::NoMore;
      return false;
    }
    last_ = SQLMoreResults(stmt_.get());
    state_ = Examine(last_, stmt_.get(), errors_,
                     "A statement of the batch failed.");
    return state_ != Step::NoMore;
  }

  // Goes through every remaining result so that the server has finished the
  // batch and every error of it has been seen.
  void Drain() {
    while (Next()) {
    }
  }

  void ThrowIfFailed() const {
    if (!errors_.Empty()) errors_.Throw();
  }

  void AddFetchError(SQLRETURN rc) {
    last_ = rc;
    errors_.Add(ReadDiagnostics(SQL_HANDLE_STMT, stmt_.get()),
                "A row could not be read.");
    state_ = Step::Failed;
  }

 private:
  OdbcHandle stmt_;
  ErrorCollector errors_;
  SQLRETURN last_ = SQL_SUCCESS;
  Step state_ = Step::Ok;
  int moves_ = 0;
};

// Reads one column of the current row as text, in pieces of any length.
bool ReadColumn(SQLHSTMT stmt, SQLUSMALLINT col, std::string& out) {
  std::u16string value;
  char16_t buf[512];
  for (;;) {
    SQLLEN ind = 0;
    SQLRETURN rc = SQLGetData(stmt, col, SQL_C_WCHAR, buf, sizeof buf, &ind);
    if (rc == SQL_NO_DATA) break;
    if (!Succeeded(rc)) return false;
    if (ind == SQL_NULL_DATA) break;
    const std::size_t capacity = sizeof buf / sizeof buf[0] - 1;
    std::size_t got;
    if (ind == SQL_NO_TOTAL || static_cast<std::size_t>(ind) / sizeof(char16_t) > capacity) {
      got = capacity;
    } else {
      got = static_cast<std::size_t>(ind) / sizeof(char16_t);
    }
    value.append(buf, got);
    if (rc == SQL_SUCCESS) break;  // the whole value has been read
  }
  out = Utf16ToUtf8(value);
  return true;
}

}  // namespace

void TQuery::ExecSQL() {
  TDatabase::Impl& conn = FindConnection(SessionName, DatabaseName);
  Execution exec(conn, SQL.Text());
  exec.Drain();
  exec.ThrowIfFailed();
}

std::vector<std::vector<std::string>> TQuery::OpenRows() {
  TDatabase::Impl& conn = FindConnection(SessionName, DatabaseName);
  Execution exec(conn, SQL.Text());
  std::vector<std::vector<std::string>> rows;
  bool found = false;
  while (!found && exec.state() != Step::NoMore) {
    if (exec.state() == Step::Ok && exec.HasColumns()) {
      found = true;
      SQLSMALLINT cols = 0;
      SQLNumResultCols(exec.get(), &cols);
      for (;;) {
        SQLRETURN rc = SQLFetch(exec.get());
        if (rc == SQL_NO_DATA) break;
        if (!Succeeded(rc)) {
          exec.AddFetchError(rc);
          break;
        }
        std::vector<std::string> row(static_cast<std::size_t>(cols));
        for (SQLSMALLINT c = 1; c <= cols; ++c) {
          if (!ReadColumn(exec.get(), static_cast<SQLUSMALLINT>(c),
                          row[static_cast<std::size_t>(c - 1)])) {
            exec.AddFetchError(SQL_ERROR);
            break;
          }
        }
        if (exec.state() == Step::Failed) break;
        rows.push_back(std::move(row));
      }
    }
    if (!found && !exec.Next()) break;
  }
  exec.Drain();
  exec.ThrowIfFailed();
  return rows;
}

void TQuery::Close() {
  // Every execution frees its statement handle before it returns, so there
  // is nothing left open here.
}

}  // namespace tarnwick
