// tarnwick-save-params HIVE_FILE
//
// Reads three lines from standard input (the ODBC data source name, the login,
// the password) and stores them in the registry file HIVE_FILE exactly as the
// program's connection-parameter window would: SaveDbParams trims them and
// encodes the login and the password. The texts come on standard input rather
// than the command line so that the password never shows in a process list.
#include <iostream>
#include <string>

#include "params/DbParams.h"
#include "platform/registry/RegFileHive.h"

int main(int argc, char** argv) {
  if (argc != 2 || std::string(argv[1]).empty() || argv[1][0] == '-') {
    std::cerr << "Usage: tarnwick-save-params HIVE_FILE\n"
                 "Reads the data source name, the login and the password, one "
                 "a line, from standard input.\n";
    return 2;
  }
  std::string odbcName, login, password;
  if (!std::getline(std::cin, odbcName) || !std::getline(std::cin, login)) {
    std::cerr << "tarnwick-save-params: expected three lines on standard input\n";
    return 2;
  }
  // A missing last line is an empty password.
  std::getline(std::cin, password);
  auto chomp = [](std::string& s) {
    if (!s.empty() && s.back() == '\r') s.pop_back();
  };
  chomp(odbcName);
  chomp(login);
  chomp(password);

  try {
    tarnwick::RegFileHive hive(argv[1]);
    if (!tarnwick::SaveDbParams(hive, odbcName, login, password)) {
      std::cerr << "tarnwick-save-params: cannot open the key for writing in "
                << argv[1] << "\n";
      return 1;
    }
  } catch (const std::exception& e) {
    // The messages name keys and values, never their data.
    std::cerr << "tarnwick-save-params: " << e.what() << "\n";
    return 1;
  }
  return 0;
}
