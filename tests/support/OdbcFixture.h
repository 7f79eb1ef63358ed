// A temporary ODBC configuration for tests that reach a server through
// unixODBC and the FreeTDS driver, without touching anything under /etc.
//
//   tdsstandin::Server server(config);
//   server.Start();
//   tarnwick::test::OdbcFixture odbc(server.Port());   // DSN "LibODBC"
//   db.AliasName = odbc.Dsn();
//
// While the fixture lives, ODBCSYSINI and ODBCINI point at a fresh temporary
// folder holding odbcinst.ini (the FreeTDS driver, named by its path) and
// odbc.ini (the DSN), and FREETDSCONF at an empty freetds.conf there, so that
// no system-wide FreeTDS setting changes what the tests see. The destructor
// restores the three variables as they were and removes the folder. One
// fixture at a time per process: the variables are process-wide.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace tarnwick::test {

// The TDS version the FreeTDS driver and the stand-in both speak.
inline constexpr const char kTdsVersion[] = "7.4";
inline constexpr const char kFreeTdsDriverPath[] =
    "/usr/lib/x86_64-linux-gnu/odbc/libtdsodbc.so";

struct DsnSettings {
  std::string name = "LibODBC";
  std::string server = "127.0.0.1";
  std::uint16_t port = 0;
  std::string database = "library";
  std::string tdsVersion = kTdsVersion;
  std::vector<std::string> extraLines;  // further "Key=Value" lines
};

class OdbcFixture {
 public:
  // Writes a configuration with one DSN named `dsn` for 127.0.0.1:`port`.
  explicit OdbcFixture(std::uint16_t port, std::string dsn = "LibODBC",
                       std::string database = "library");
  // Writes a configuration with the given DSNs (none is allowed).
  explicit OdbcFixture(std::vector<DsnSettings> dsns);
  ~OdbcFixture();
  OdbcFixture(const OdbcFixture&) = delete;
  OdbcFixture& operator=(const OdbcFixture&) = delete;

  // The name of the first DSN ("LibODBC" by default).
  const std::string& Dsn() const;
  // The temporary folder (ODBCSYSINI).
  const std::string& Dir() const { return dir_; }

 private:
  void Write();

  std::vector<DsnSettings> dsns_;
  std::string dir_;
  struct Saved {
    const char* name;
    std::optional<std::string> value;
  };
  std::vector<Saved> saved_;
};

}  // namespace tarnwick::test
