// A bare ODBC client for the stand-in's tests: connects with SQLConnectW and
// runs text with SQLExecDirectW, draining every result with SQLMoreResults,
// and reports what the driver returned for each step. Kept apart from the
// product's database layer so that the stand-in is tested on its own.
#pragma once

#include <sql.h>
#include <sqlext.h>

#include <string>
#include <vector>

namespace standintest {

struct Diagnostic {
  std::string state;
  long native = 0;
  std::string text;
};

struct StepResult {
  SQLRETURN rc = SQL_SUCCESS;
  std::vector<Diagnostic> diagnostics;
  std::vector<std::vector<std::string>> rows;  // a result set, if any
};

class OdbcClient {
 public:
  OdbcClient();
  ~OdbcClient();
  OdbcClient(const OdbcClient&) = delete;
  OdbcClient& operator=(const OdbcClient&) = delete;

  StepResult Connect(const std::string& dsn, const std::string& user,
                     const std::string& password, int loginTimeoutSeconds = 5);
  // One entry for SQLExecDirectW and one for each SQLMoreResults that did not
  // return SQL_NO_DATA.
  // queryTimeoutSeconds 0: none.
  std::vector<StepResult> Execute(const std::string& text,
                                  int queryTimeoutSeconds = 0);

 private:
  SQLHENV env_ = SQL_NULL_HENV;
  SQLHDBC dbc_ = SQL_NULL_HDBC;
  bool connected_ = false;
};

}  // namespace standintest
