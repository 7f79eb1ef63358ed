// A SQL Server stand-in for tests and demos, not part of the product: a small
// TDS 7.x server on 127.0.0.1 with an in-memory catalogue of tables and
// triggers, enough for the FreeTDS ODBC driver and FreeTDS's tsql.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace tdsstandin {

struct ServerConfig {
  std::string login = "sa";      // the one login the server accepts (UTF-8)
  std::string password;          // its password (UTF-8); empty allowed
  std::string database = "library";
  std::uint16_t port = 0;        // 0: an ephemeral port, see Server::Port()
};

// One object of the catalogue, as SYSOBJECTS shows it.
struct CatalogueObject {
  std::string name;
  std::string xtype;   // "U" for a table, "TR" for a trigger
  std::string parent;  // for a trigger: its table; else empty
};

struct LoginRecord {
  std::string user;      // as received, UTF-8
  std::string password;  // as received, UTF-8 (tests only)
  bool accepted = false;
};

class Server {
 public:
  explicit Server(ServerConfig config = {});
  ~Server();  // stops the server
  Server(const Server&) = delete;
  Server& operator=(const Server&) = delete;

  // Listens on 127.0.0.1 and serves clients on a background thread.
  void Start();
  void Stop();
  std::uint16_t Port() const;

  // Runs SQL (CREATE TABLE / CREATE TRIGGER / DROP ... ) against the catalogue
  // without going through the network; throws std::runtime_error on an error.
  void Seed(const std::string& sql);
  std::vector<CatalogueObject> Objects() const;
  bool Exists(const std::string& name) const;

  // The exact text of every SQL batch received, in order (UTF-8), including
  // what the driver sends by itself.
  std::vector<std::string> Batches() const;
  std::vector<LoginRecord> Logins() const;
  void ClearRecords();

  // Faults.
  void DenyDrop(const std::string& objectName);     // error 3701-like refusal
  void CutAfterBatches(int n);                      // close the socket when
                                                    // batch n+1 arrives (-1: never)
  void SetLoginDelay(std::chrono::milliseconds d);
  void SetBatchDelay(std::chrono::milliseconds d);
  void RefuseLogins(bool refuse);                   // error 18456 for everyone
  void NeverAnswer(bool silent);                    // accept TCP, say nothing

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace tdsstandin
