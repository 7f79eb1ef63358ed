// The SQL Server stand-in on an ephemeral port with a temporary ODBC
// configuration whose DSN "LibODBC" reaches it, for one test.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "OdbcFixture.h"
#include "OpacCatalogue.h"
#include "StandinServer.h"
#include "platform/database/Database.h"

namespace tarnwick::test {

class StandinSession {
 public:
  explicit StandinSession(const std::string& login = "sa", const std::string& password = "")
      : server_(Config(login, password)) {
    server_.Start();
    odbc_ = std::make_unique<OdbcFixture>(server_.Port());
  }

  tdsstandin::Server& Server() { return server_; }
  void Seed(const std::string& sql) { server_.Seed(sql); }

  // Opens `db` as the program's connection "LibDB" with the server's login.
  void Open(TDatabase& db) {
    db.AliasName = "LibODBC";
    db.DatabaseName = "LibDB";
    db.Params.Clear();
    db.Params.Add("USER NAME=" + login_);
    db.Params.Add("PASSWORD=" + password_);
    db.Open();
    mark_ = server_.Batches().size();
  }

  // The batches received since Open() (what the driver sends while
  // connecting is left out).
  std::vector<std::string> UserBatches() const {
    auto all = server_.Batches();
    return {all.begin() + static_cast<long>(std::min(mark_, all.size())), all.end()};
  }

 private:
  tdsstandin::ServerConfig Config(const std::string& login, const std::string& password) {
    login_ = login;
    password_ = password;
    tdsstandin::ServerConfig c;
    c.login = login;
    c.password = password;
    return c;
  }

  std::string login_, password_;
  tdsstandin::Server server_;
  std::unique_ptr<OdbcFixture> odbc_;
  std::size_t mark_ = 0;
};

}  // namespace tarnwick::test
