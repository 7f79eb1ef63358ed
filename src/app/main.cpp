// The program's entry: the stored parameters live in the registry file named
// at build time; the program reads no command line and no environment.
#include "app/Startup.h"
#include "platform/registry/RegFileHive.h"

int main(int /*argc*/, char** argv) {
  tarnwick::RegFileHive hklm(TARNWICK_HKLM_FILE);
  return tarnwick::RunProgram(hklm, argv[0]);
}
