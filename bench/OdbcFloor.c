/* tarnwick-bench-odbc-floor: the least any client can do for the cleanup
 * through unixODBC and the FreeTDS driver, written straight against the ODBC
 * API in C: connect to the data source, send the nine batches with
 * SQLExecDirect, disconnect. It keeps no outcome and runs no check. The
 * benchmark times it beside the program's own runner to tell the cost of the
 * driver-manager path from the cost of the program's database layer.
 *
 *   BENCH_PW=... tarnwick-bench-odbc-floor DSN LOGIN
 *
 * The password comes from the environment so that it never shows in the
 * benchmark's printed commands. */
#include <sql.h>
#include <sqlext.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static const char* const kBatches[] = {
    "DROP table lib_opac_ver\r\n",
    "DROP table lib_opac_bianma\r\n",
    "DROP table lib_opac_tiaoma\r\n",
    "DROP table lib_opac_change\r\n",
    "IF EXISTS (SELECT NAME FROM SYSOBJECTS WHERE XTYPE = 'TR' AND NAME = 'T_INSERT_bianma')\r\n"
    "DROP TRIGGER T_INSERT_bianma\r\n",
    "IF EXISTS (SELECT NAME FROM SYSOBJECTS WHERE XTYPE = 'TR' AND NAME = 'T_INSERT_tiaoma')\r\n"
    "DROP TRIGGER T_INSERT_tiaoma\r\n",
    "IF EXISTS (SELECT NAME FROM SYSOBJECTS WHERE XTYPE = 'TR' AND NAME = 'T_DELETE_bianma')\r\n"
    "DROP TRIGGER T_DELETE_bianma\r\n",
    "IF EXISTS (SELECT NAME FROM SYSOBJECTS WHERE XTYPE = 'TR' AND NAME = 'T_DELETE_tiaoma')\r\n"
    "DROP TRIGGER T_DELETE_tiaoma\r\n",
    "IF EXISTS (SELECT NAME FROM SYSOBJECTS WHERE XTYPE = 'TR' AND NAME = 'T_CHG_cunfang')\r\n"
    "DROP TRIGGER T_CHG_cunfang\r\n",
};

int main(int argc, char** argv) {
  SQLHENV env = SQL_NULL_HENV;
  SQLHDBC dbc = SQL_NULL_HDBC;
  const char* password = getenv("BENCH_PW");
  size_t i;
  if (argc != 3 || !password) {
    fprintf(stderr, "usage: BENCH_PW=... tarnwick-bench-odbc-floor DSN LOGIN\n");
    return 2;
  }
  SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env);
  SQLSetEnvAttr(env, SQL_ATTR_ODBC_VERSION, (SQLPOINTER)SQL_OV_ODBC3, 0);
  SQLAllocHandle(SQL_HANDLE_DBC, env, &dbc);
  if (!SQL_SUCCEEDED(SQLConnect(dbc, (SQLCHAR*)argv[1], SQL_NTS, (SQLCHAR*)argv[2], SQL_NTS,
                                (SQLCHAR*)password, SQL_NTS))) {
    fprintf(stderr, "tarnwick-bench-odbc-floor: no connection\n");
    return 1;
  }
  for (i = 0; i < sizeof kBatches / sizeof kBatches[0]; ++i) {
    SQLHSTMT stmt = SQL_NULL_HSTMT;
    SQLRETURN rc;
    SQLAllocHandle(SQL_HANDLE_STMT, dbc, &stmt);
    rc = SQLExecDirect(stmt, (SQLCHAR*)kBatches[i], (SQLINTEGER)strlen(kBatches[i]));
    /* Read every result so that the server has finished the batch. */
    while (rc != SQL_NO_DATA && rc != SQL_INVALID_HANDLE && rc != SQL_STILL_EXECUTING)
      rc = SQLMoreResults(stmt);
    SQLFreeHandle(SQL_HANDLE_STMT, stmt);
  }
  SQLDisconnect(dbc);
  SQLFreeHandle(SQL_HANDLE_DBC, dbc);
  SQLFreeHandle(SQL_HANDLE_ENV, env);
  return 0;
}
