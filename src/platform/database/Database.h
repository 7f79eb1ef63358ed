// Database access over the ODBC C API (unixODBC on Linux, the ODBC manager on
// Windows): a connection object and a statement object in the shape the rest
// of the program expects of them.
#pragma once

#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace tarnwick {

// Every failure reported by the driver manager, the driver or the server.
// what() joins the message texts of all diagnostic records; it never holds a
// password.
class EDatabaseError : public std::runtime_error {
 public:
  EDatabaseError(const std::string& message, std::string sqlState,
                 long nativeError)
      : std::runtime_error(message),
        sqlState_(std::move(sqlState)),
        nativeError_(nativeError) {}
  const std::string& SqlState() const { return sqlState_; }
  long NativeError() const { return nativeError_; }

 private:
  std::string sqlState_;
  long nativeError_;
};

// An ordered list of text lines (UTF-8).
class TStrings {
 public:
  void Clear() { lines_.clear(); }
  void Add(const std::string& line) { lines_.push_back(line); }
  std::size_t Count() const { return lines_.size(); }
  const std::string& operator[](std::size_t i) const { return lines_[i]; }
  // The value of the first line "NAME=value" whose NAME matches (ASCII case
  // insensitive); empty when there is none.
  std::string Values(const std::string& name) const;
  // Each line followed by CR LF, the last one included.
  std::string Text() const;

 private:
  std::vector<std::string> lines_;
};

// One database connection. AliasName names the ODBC data source; Params holds
// "USER NAME=<login>" and "PASSWORD=<password>". While open, the connection is
// registered under DatabaseName in its session, where queries find it.
class TDatabase {
 public:
  TDatabase();
  ~TDatabase();  // closes the connection
  TDatabase(const TDatabase&) = delete;
  TDatabase& operator=(const TDatabase&) = delete;

  std::string AliasName;
  std::string DatabaseName;
  std::string SessionName = "Default";
  bool LoginPrompt = false;  // no login dialog exists; must stay false
  TStrings Params;
  int LoginTimeoutSeconds = 15;

  std::function<void(TDatabase& sender)> BeforeConnect;
  std::function<void(TDatabase& sender)> AfterConnect;

  // Runs BeforeConnect, connects with the alias, login and password as they
  // are at that moment, registers the connection, then runs AfterConnect.
  // Each step runs only if the one before it succeeded; a failure propagates.
  // Does nothing when already connected.
  void Open();
  void Close();
  bool Connected() const;
  void SetConnected(bool value) { value ? Open() : Close(); }

  struct Impl;  // ODBC handles

 private:
  std::unique_ptr<Impl> impl_;
  friend class TQuery;
};

// A statement sent over the connection registered as DatabaseName in
// SessionName. The statement text is SQL.Text(): each line and CR LF.
class TQuery {
 public:
  std::string DatabaseName;
  std::string SessionName = "Default";
  TStrings SQL;

  // Sends the text unchanged as one batch and returns when the server has
  // finished all of it; any error of any statement of the batch throws
  // EDatabaseError (the first error's SQLSTATE and number, every message).
  // No result set is kept. When a statement fails before any result of the
  // batch has been returned, the driver manager allows no further results to
  // be read: the statement is then freed, the driver cancels what is left of
  // the batch and waits for the server to acknowledge, so later statements of
  // that batch may not run.
  void ExecSQL();
  // Sends the text and returns the rows of its first result set, every
  // column as text (NULL as empty).
  std::vector<std::vector<std::string>> OpenRows();
  // Leaves the query inactive; nothing to do after ExecSQL.
  void Close();
};

}  // namespace tarnwick
