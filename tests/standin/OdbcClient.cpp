#include "OdbcClient.h"

#include <stdexcept>

#include "Tds.h"

namespace standintest {

namespace {

std::vector<SQLWCHAR> Wide(const std::string& s) {
  std::u16string w = tdsstandin::tds::Utf8ToUtf16(s);
  std::vector<SQLWCHAR> out(w.begin(), w.end());
  out.push_back(0);
  return out;
}

std::string Narrow(const SQLWCHAR* p, std::size_t units) {
  std::vector<std::uint8_t> bytes;
  for (std::size_t i = 0; i < units; ++i) {
    bytes.push_back(p[i] & 0xFF);
    bytes.push_back(p[i] >> 8);
  }
  return tdsstandin::tds::Utf16ToUtf8(bytes.data(), units);
}

std::vector<Diagnostic> Diagnostics(SQLSMALLINT type, SQLHANDLE h) {
  std::vector<Diagnostic> out;
  for (SQLSMALLINT i = 1;; ++i) {
    SQLWCHAR state[6] = {};
    SQLINTEGER native = 0;
    SQLWCHAR text[1024];
    SQLSMALLINT len = 0;
    SQLRETURN rc = SQLGetDiagRecW(type, h, i, state, &native, text, 1024, &len);
    if (!SQL_SUCCEEDED(rc)) break;
    out.push_back({Narrow(state, 5), native,
                   Narrow(text, std::min<SQLSMALLINT>(len, 1023))});
  }
  return out;
}

void Rows(SQLHSTMT st, StepResult& r) {
  SQLSMALLINT cols = 0;
  SQLNumResultCols(st, &cols);
  if (cols <= 0) return;
  while (SQL_SUCCEEDED(SQLFetch(st))) {
    std::vector<std::string> row;
    for (SQLSMALLINT c = 1; c <= cols; ++c) {
      SQLWCHAR buf[512];
      SQLLEN ind = 0;
      SQLGetData(st, c, SQL_C_WCHAR, buf, sizeof buf, &ind);
      row.push_back(ind == SQL_NULL_DATA
                        ? "<null>"
                        : Narrow(buf, static_cast<std::size_t>(ind) / 2));
    }
    r.rows.push_back(row);
  }
}

}  // namespace

OdbcClient::OdbcClient() {
  SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env_);
  SQLSetEnvAttr(env_, SQL_ATTR_ODBC_VERSION,
                reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
  SQLAllocHandle(SQL_HANDLE_DBC, env_, &dbc_);
}

OdbcClient::~OdbcClient() {
  if (connected_) SQLDisconnect(dbc_);
  SQLFreeHandle(SQL_HANDLE_DBC, dbc_);
  SQLFreeHandle(SQL_HANDLE_ENV, env_);
}

StepResult OdbcClient::Connect(const std::string& dsn, const std::string& user,
                               const std::string& password,
                               int loginTimeoutSeconds) {
  SQLSetConnectAttr(dbc_, SQL_ATTR_LOGIN_TIMEOUT,
                    reinterpret_cast<SQLPOINTER>(
                        static_cast<SQLULEN>(loginTimeoutSeconds)),
                    0);
  auto d = Wide(dsn), u = Wide(user), p = Wide(password);
  StepResult r;
  r.rc = SQLConnectW(dbc_, d.data(), SQL_NTS, u.data(), SQL_NTS, p.data(),
                     SQL_NTS);
  r.diagnostics = Diagnostics(SQL_HANDLE_DBC, dbc_);
  connected_ = SQL_SUCCEEDED(r.rc);
  return r;
}

std::vector<StepResult> OdbcClient::Execute(const std::string& text,
                                            int queryTimeoutSeconds) {
  SQLHSTMT st = SQL_NULL_HSTMT;
  if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_STMT, dbc_, &st)))
    throw std::runtime_error("no statement handle");
  SQLSetStmtAttr(st, SQL_ATTR_QUERY_TIMEOUT,
                 reinterpret_cast<SQLPOINTER>(
                     static_cast<SQLULEN>(queryTimeoutSeconds)),
                 0);
  std::vector<StepResult> out;
  auto t = Wide(text);
  StepResult first;
  first.rc = SQLExecDirectW(st, t.data(), SQL_NTS);
  first.diagnostics = Diagnostics(SQL_HANDLE_STMT, st);
  if (SQL_SUCCEEDED(first.rc)) Rows(st, first);
  out.push_back(first);
  // Drain the rest; stop when the connection is gone (no more results).
  for (int i = 0; i < 100; ++i) {
    StepResult r;
    r.rc = SQLMoreResults(st);
    if (r.rc == SQL_NO_DATA || r.rc == SQL_INVALID_HANDLE) break;
    r.diagnostics = Diagnostics(SQL_HANDLE_STMT, st);
    if (SQL_SUCCEEDED(r.rc)) Rows(st, r);
    out.push_back(r);
    if (r.rc == SQL_ERROR && !r.diagnostics.empty() &&
        r.diagnostics[0].state.rfind("08", 0) == 0)
      break;
  }
  SQLFreeHandle(SQL_HANDLE_STMT, st);
  return out;
}

}  // namespace standintest
