// Test tool: runs the parameter operations on a hive file in a process of its
// own, so that tests can run them as another user, kill them, or run several
// at once. Output is one line per result; failures print "error: <message>".
//
//   hive_tool load FILE                    prints found/missing and the values
//   hive_tool save FILE ODBC LOGIN PASS    prints true/false
//   hive_tool saveloop FILE                saves numbered values until killed
//   hive_tool setloop FILE KEY COUNT       writes value N = 1..COUNT into KEY
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>

#include "params/DbParams.h"
#include "platform/registry/RegFileHive.h"
#include "platform/registry/TRegistry.h"

using namespace tarnwick;

int main(int argc, char** argv) {
  if (argc < 3) return 2;
  const std::string cmd = argv[1];
  RegFileHive hive(argv[2]);
  try {
    if (cmd == "load" && argc == 3) {
      DbParamsReceiver r;
      r.odbcName = [](const std::string& s) { std::printf("odbc=%s\n", s.c_str()); };
      r.login = [](const std::string& s) { std::printf("login=%s\n", s.c_str()); };
      r.password = [](const std::string& s) { std::printf("password=%s\n", s.c_str()); };
      const bool found = LoadDbParams(hive, r);
      std::printf("%s\n", found ? "found" : "missing");
      return 0;
    }
    if (cmd == "save" && argc == 6) {
      std::printf("%s\n", SaveDbParams(hive, argv[3], argv[4], argv[5]) ? "true" : "false");
      return 0;
    }
    if (cmd == "saveloop" && argc == 3) {
      for (unsigned long i = 1;; ++i) {
        const std::string n = std::to_string(i);
        SaveDbParams(hive, "dsn" + n, "user" + n, "pass" + n);
      }
    }
    if (cmd == "setloop" && argc == 5) {
      const int count = std::atoi(argv[4]);
      for (int i = 1; i <= count; ++i) {
        TRegistry reg(hive);
        if (!reg.OpenKey(argv[3], true)) {
          std::printf("false\n");
          return 1;
        }
        reg.WriteString("N", std::to_string(i));
      }
      return 0;
    }
  } catch (const std::exception& e) {
    std::printf("error: %s\n", e.what());
    return 3;
  }
  return 2;
}
