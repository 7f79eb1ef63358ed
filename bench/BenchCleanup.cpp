// tarnwick-bench-cleanup: the cleanup as one short process, for timing against
// other clients that send the same batches.
//
//   tarnwick-bench-cleanup run HIVE
//       loads the stored connection parameters from the registry file HIVE the
//       way the program does at start, connects, runs the nine batches (and
//       the check after a failed one) and disconnects. Exit status 0 when the
//       connection was made, 1 when not (the cleanup's own outcome is not an
//       error: on an empty catalogue four batches fail by design).
//   tarnwick-bench-cleanup save-params HIVE DSN LOGIN
//       stores DSN, LOGIN and the password read from the first line of
//       standard input in HIVE, encoded as the program stores them. The
//       password is read from standard input so that it never shows in a
//       process list or in the benchmark's printed commands.
#include <exception>
#include <iostream>
#include <string>

#include "cleanup/OpacCleanup.h"
#include "params/DbParams.h"
#include "platform/database/Database.h"
#include "platform/registry/RegFileHive.h"

namespace {

int Usage() {
  std::cerr << "usage: tarnwick-bench-cleanup run HIVE\n"
               "       tarnwick-bench-cleanup save-params HIVE DSN LOGIN  "
               "(password on standard input)\n";
  return 2;
}

int Run(const std::string& hivePath) {
  tarnwick::RegFileHive hive(hivePath);
  tarnwick::TDatabase db;
  db.DatabaseName = "LibDB";
  db.AliasName = "LibODBC";
  db.LoginPrompt = false;
  db.Params.Add("USER NAME=sa");
  db.Params.Add("PASSWORD=");
  tarnwick::DbParamsReceiver receiver;
  receiver.odbcName = [&](const std::string& name) {
    db.AliasName = name;
    db.Params.Clear();
  };
  receiver.login = [&](const std::string& login) { db.Params.Add("USER NAME=" + login); };
  receiver.password = [&](const std::string& pw) { db.Params.Add("PASSWORD=" + pw); };
  db.BeforeConnect = [&](tarnwick::TDatabase&) {
    tarnwick::LoadDbParams(hive, receiver);
  };
  try {
    db.Open();
  } catch (const std::exception& e) {
    // The layer's messages never carry the password.
    std::cerr << "tarnwick-bench-cleanup: no connection: " << e.what() << "\n";
    return 1;
  }
  tarnwick::TQuery query;
  query.DatabaseName = "LibDB";
  const tarnwick::CleanupOutcome outcome = tarnwick::RunOpacCleanup(query);
  db.Close();
  if (!outcome.success)
    std::cerr << "tarnwick-bench-cleanup: objects left: "
              << outcome.remaining.size() << "\n";
  return 0;
}

int SaveParams(const std::string& hivePath, const std::string& dsn,
               const std::string& login) {
  std::string password;
  std::getline(std::cin, password);
  tarnwick::RegFileHive hive(hivePath);
  try {
    if (!tarnwick::SaveDbParams(hive, dsn, login, password)) {
      std::cerr << "tarnwick-bench-cleanup: cannot write " << hivePath << "\n";
      return 1;
    }
  } catch (const std::exception& e) {
    std::cerr << "tarnwick-bench-cleanup: " << e.what() << "\n";
    return 1;
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 && std::string(argv[1]) == "run") return Run(argv[2]);
  if (argc == 5 && std::string(argv[1]) == "save-params")
    return SaveParams(argv[2], argv[3], argv[4]);
  return Usage();
}
