// A SQL Server stand-in for tests and demos, not part of the product: a small
// TDS 7.x server on 127.0.0.1 with an in-memory catalogue of tables and
// triggers, enough for the FreeTDS ODBC driver and FreeTDS's tsql.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
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
  std::uint64_t rows = 0;  // for a table: how many rows it holds
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

  // Runs SQL (CREATE TABLE / CREATE TRIGGER / INSERT / DROP ...) against the catalogue
  // without going through the network and without recording it. Lines that
  // hold only "GO" separate batches (a CREATE TRIGGER takes the rest of its
  // batch as its body). Throws std::runtime_error carrying the server's
  // message when a statement fails; the statements before it stay done.
  void Seed(const std::string& sql);
  std::vector<CatalogueObject> Objects() const;
  bool Exists(const std::string& name) const;

  // The exact text of every SQL batch received, in order (UTF-8), including
  // what the driver sends by itself. A batch that a cut (CutAfterBatches)
  // answered by closing the connection is not recorded: none of it ran.
  std::vector<std::string> Batches() const;
  std::vector<LoginRecord> Logins() const;
  void ClearRecords();

  // Faults.
  void DenyDrop(const std::string& objectName);     // error 3701-like refusal
  // Counting SQL batches on all connections from this call on: when batch
  // n+1 arrives, its connection is closed without an answer. The cut happens
  // once; later batches and connections are served again. -1: never.
  void CutAfterBatches(int n);
  void SetLoginDelay(std::chrono::milliseconds d);
  // Each batch waits d before it runs; a client that cancels meanwhile (its
  // query timeout) gets the cancel acknowledged, and the batch neither runs
  // nor is recorded.
  void SetBatchDelay(std::chrono::milliseconds d);
  void RefuseLogins(bool refuse);                   // error 18456 for everyone
  void NeverAnswer(bool silent);                    // accept TCP, say nothing

  // Called after each recorded batch has run, in the order batches run, with
  // the batch text and the catalogue as it then is. The standalone program
  // writes its batch log and catalogue file from here. Set before Start().
  using BatchObserver = std::function<void(
      const std::string& batch, const std::vector<CatalogueObject>& objects)>;
  void SetBatchObserver(BatchObserver observer);

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace tdsstandin
