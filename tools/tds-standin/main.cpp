// tarnwick-tds-standin: the SQL Server stand-in as a program, for the demo and
// for tests that drive the whole application.
#include <signal.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>

#include "StandinServer.h"

namespace {

const char kHelp[] =
    "Usage: tarnwick-tds-standin [options]\n"
    "\n"
    "A stand-in for Microsoft SQL Server, for tests and demos only: it is NOT\n"
    "a database server. It speaks enough TDS 7.x on 127.0.0.1 for the FreeTDS\n"
    "ODBC driver and tsql, keeps its tables, their rows and triggers in memory\n"
    "(nothing is stored), and understands only a few statements: DROP TABLE,\n"
    "DROP TRIGGER, IF [NOT] EXISTS (SELECT ...), SELECT ... FROM SYSOBJECTS or\n"
    "a table, CREATE TABLE, CREATE TRIGGER, INSERT ... VALUES, SET and USE.\n"
    "\n"
    "Options:\n"
    "  --port N              TCP port on 127.0.0.1 (default 0: any free port)\n"
    "  --login NAME          the one login accepted (default sa)\n"
    "  --password TEXT       its password (default empty)\n"
    "  --database NAME       the database (default library)\n"
    "  --seed FILE           run the SQL in FILE first; lines holding only GO\n"
    "                        separate its batches\n"
    "  --batch-log FILE      append every batch received to FILE at once: the\n"
    "                        batch's exact text, then a line feed, then the\n"
    "                        line \"-- end of batch --\". To read a batch back,\n"
    "                        take the text before that line and drop the one\n"
    "                        line feed added in front of it.\n"
    "  --catalogue-file FILE rewrite FILE after every batch: one object a line,\n"
    "                        \"xtype<TAB>name<TAB>parent\" (parent: a trigger's\n"
    "                        table, else empty)\n"
    "  --row-counts-file FILE rewrite FILE after every batch: one table a line,\n"
    "                        \"name<TAB>rows\"\n"
    "  --login-delay-ms N    wait N ms before answering each login\n"
    "  --refuse-logins       refuse every login (error 18456)\n"
    "  --help                show this text\n"
    "\n"
    "Once it listens it prints \"listening on 127.0.0.1:PORT\". It runs until\n"
    "SIGTERM or SIGINT and then exits with status 0.\n";

int Usage(const std::string& problem) {
  std::cerr << "tarnwick-tds-standin: " << problem
            << "\nTry 'tarnwick-tds-standin --help'.\n";
  return 2;
}

bool ParseNumber(const std::string& s, long max, long& out) {
  if (s.empty() || s.find_first_not_of("0123456789") != std::string::npos ||
      s.size() > 9)
    return false;
  out = std::stol(s);
  return out <= max;
}

// Writes TEXT beside PATH and renames it over PATH, so a reader never sees
// half a file.
void ReplaceFile(const std::string& path, const std::string& text) {
  std::string tmp = path + ".tmp";
  {
    std::ofstream f(tmp, std::ios::binary | std::ios::trunc);
    f << text;
    if (!f.flush()) {
      std::cerr << "tarnwick-tds-standin: cannot write " << tmp << "\n";
      return;
    }
  }
  if (std::rename(tmp.c_str(), path.c_str()) != 0)
    std::cerr << "tarnwick-tds-standin: cannot replace " << path << ": "
              << std::strerror(errno) << "\n";
}

void WriteCatalogue(const std::string& path,
                    const std::vector<tdsstandin::CatalogueObject>& objects) {
  std::ostringstream text;
  for (const auto& o : objects)
    text << o.xtype << '\t' << o.name << '\t' << o.parent << '\n';
  ReplaceFile(path, text.str());
}

void WriteRowCounts(const std::string& path,
                    const std::vector<tdsstandin::CatalogueObject>& objects) {
  std::ostringstream text;
  for (const auto& o : objects)
    if (o.xtype == "U") text << o.name << '\t' << o.rows << '\n';
  ReplaceFile(path, text.str());
}

}  // namespace

int main(int argc, char** argv) {
  tdsstandin::ServerConfig config;
  std::string seedFile, batchLog, catalogueFile, rowCountsFile;
  long loginDelayMs = 0;
  bool refuse = false;

  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    auto value = [&](std::string& out) {
      if (i + 1 >= argc) return false;
      out = argv[++i];
      return true;
    };
    std::string v;
    if (a == "--help" || a == "-h") {
      std::cout << kHelp;
      return 0;
    } else if (a == "--port") {
      long port;
      if (!value(v) || !ParseNumber(v, 65535, port))
        return Usage("--port needs a number from 0 to 65535");
      config.port = static_cast<std::uint16_t>(port);
    } else if (a == "--login") {
      if (!value(config.login)) return Usage("--login needs a value");
    } else if (a == "--password") {
      if (!value(config.password)) return Usage("--password needs a value");
    } else if (a == "--database") {
      if (!value(config.database)) return Usage("--database needs a value");
    } else if (a == "--seed") {
      if (!value(seedFile)) return Usage("--seed needs a file");
    } else if (a == "--batch-log") {
      if (!value(batchLog)) return Usage("--batch-log needs a file");
    } else if (a == "--catalogue-file") {
      if (!value(catalogueFile)) return Usage("--catalogue-file needs a file");
    } else if (a == "--row-counts-file") {
      if (!value(rowCountsFile)) return Usage("--row-counts-file needs a file");
    } else if (a == "--login-delay-ms") {
      if (!value(v) || !ParseNumber(v, 3600000, loginDelayMs))
        return Usage("--login-delay-ms needs a number of milliseconds");
    } else if (a == "--refuse-logins") {
      refuse = true;
    } else {
      return Usage("unknown option '" + a + "'");
    }
  }

  // Signals are taken by sigwait below; every thread inherits the mask.
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGTERM);
  sigaddset(&signals, SIGINT);
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);

  tdsstandin::Server server(config);
  if (!seedFile.empty()) {
    std::ifstream f(seedFile, std::ios::binary);
    if (!f) {
      std::cerr << "tarnwick-tds-standin: cannot read " << seedFile << "\n";
      return 1;
    }
    std::stringstream text;
    text << f.rdbuf();
    try {
      server.Seed(text.str());
    } catch (const std::exception& e) {
      std::cerr << "tarnwick-tds-standin: " << seedFile << ": " << e.what()
                << "\n";
      return 1;
    }
  }
  server.RefuseLogins(refuse);
  server.SetLoginDelay(std::chrono::milliseconds(loginDelayMs));

  std::FILE* log = nullptr;
  if (!batchLog.empty()) {
    log = std::fopen(batchLog.c_str(), "ab");
    if (!log) {
      std::cerr << "tarnwick-tds-standin: cannot open " << batchLog << ": "
                << std::strerror(errno) << "\n";
      return 1;
    }
  }
  if (!catalogueFile.empty()) WriteCatalogue(catalogueFile, server.Objects());
  if (!rowCountsFile.empty()) WriteRowCounts(rowCountsFile, server.Objects());
  server.SetBatchObserver(
      [log, catalogueFile, rowCountsFile](
          const std::string& batch,
          const std::vector<tdsstandin::CatalogueObject>& objs) {
        if (log) {
          std::fwrite(batch.data(), 1, batch.size(), log);
          std::fputs("\n-- end of batch --\n", log);
          std::fflush(log);
        }
        if (!catalogueFile.empty()) WriteCatalogue(catalogueFile, objs);
        if (!rowCountsFile.empty()) WriteRowCounts(rowCountsFile, objs);
      });

  try {
    server.Start();
  } catch (const std::exception& e) {
    std::cerr << "tarnwick-tds-standin: " << e.what() << "\n";
    return 1;
  }
  std::cout << "listening on 127.0.0.1:" << server.Port() << std::endl;

  int sig = 0;
  sigwait(&signals, &sig);
  server.Stop();
  if (log) std::fclose(log);
  return 0;
}
