// The program's entry: the stored parameters live in the Windows registry on
// Windows and in the registry file named at build time elsewhere; the program
// reads no command line and no environment.
#include "app/Startup.h"
#ifdef _WIN32
#include "platform/registry/Win32Hive.h"
#else
#include "platform/registry/RegFileHive.h"
#endif

int main(int /*argc*/, char** argv) {
#ifdef _WIN32
  tarnwick::Win32Hive hklm;
#else
  tarnwick::RegFileHive hklm(TARNWICK_HKLM_FILE);
#endif
  return tarnwick::RunProgram(hklm, argv[0]);
}
