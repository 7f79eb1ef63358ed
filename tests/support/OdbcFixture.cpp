#include "OdbcFixture.h"

#include <odbcinst.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <stdexcept>

namespace tarnwick::test {

namespace {

std::string MakeTempDir() {
  std::string pattern =
      (std::filesystem::temp_directory_path() / "tarnwick-odbc-XXXXXX").string();
  if (!mkdtemp(pattern.data())) {
    throw std::runtime_error("cannot create a temporary ODBC folder");
  }
  return pattern;
}

// unixODBC keeps the DSN entries it has read for 20 seconds, keyed by the
// logical file name "odbc.ini" and not by ODBCINI: without this a second
// fixture in the same process would reach the previous server's port. Any
// SQLWritePrivateProfileString clears that cache, so write a harmless entry
// into a scratch file of our own.
void ClearOdbcIniCache(const std::string& dir) {
  const std::string scratch = dir + "/cache-reset.ini";
  SQLWritePrivateProfileString("tarnwick-test", "reset", "1", scratch.c_str());
}

void WriteFile(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
  if (!out) throw std::runtime_error("cannot write " + path);
}

}  // namespace

OdbcFixture::OdbcFixture(std::uint16_t port, std::string dsn,
                         std::string database) {
  DsnSettings s;
  s.name = std::move(dsn);
  s.port = port;
  s.database = std::move(database);
  dsns_.push_back(std::move(s));
  Write();
}

OdbcFixture::OdbcFixture(std::vector<DsnSettings> dsns)
    : dsns_(std::move(dsns)) {
  Write();
}

void OdbcFixture::Write() {
  dir_ = MakeTempDir();
  WriteFile(dir_ + "/odbcinst.ini",
            std::string("[FreeTDS]\nDescription=FreeTDS ODBC driver\nDriver=") +
                kFreeTdsDriverPath + "\n");
  std::string ini;
  for (const DsnSettings& d : dsns_) {
    ini += "[" + d.name + "]\n";
    ini += "Driver=FreeTDS\n";
    ini += "Server=" + d.server + "\n";
    ini += "Port=" + std::to_string(d.port) + "\n";
    ini += "TDS_Version=" + d.tdsVersion + "\n";
    ini += "Database=" + d.database + "\n";
    for (const std::string& line : d.extraLines) ini += line + "\n";
    ini += "\n";
  }
  WriteFile(dir_ + "/odbc.ini", ini);
  WriteFile(dir_ + "/freetds.conf", "[global]\n");

  const std::pair<const char*, std::string> vars[] = {
      {"ODBCSYSINI", dir_},
      {"ODBCINI", dir_ + "/odbc.ini"},
      {"FREETDSCONF", dir_ + "/freetds.conf"},
  };
  for (const auto& [name, value] : vars) {
    const char* old = getenv(name);
    saved_.push_back({name, old ? std::optional<std::string>(old) : std::nullopt});
    setenv(name, value.c_str(), 1);
  }
  ClearOdbcIniCache(dir_);
}

OdbcFixture::~OdbcFixture() {
  for (const Saved& s : saved_) {
    if (s.value) {
      setenv(s.name, s.value->c_str(), 1);
    } else {
      unsetenv(s.name);
    }
  }
  ClearOdbcIniCache(dir_);
  std::error_code ec;
  std::filesystem::remove_all(dir_, ec);
}

const std::string& OdbcFixture::Dsn() const {
  static const std::string none;
  return dsns_.empty() ? none : dsns_.front().name;
}

}  // namespace tarnwick::test
