#include "app/Startup.h"

#include <QString>
#include <exception>

#include "app/Application.h"
#include "app/dmLibData.h"
#include "app/unGlobal.h"
#include "cleanup/frmTarnwickMain.h"
#include "params/frmDbPara.h"

namespace tarnwick {

void StartUp(TApplication& app) {
  StatusText.clear();
  app.Initialize();
  // Why the connection was not made, for the parameter window's headline
  // (a driver's message names no password).
  QString reason;
  try {
    app.SetTitle(QStringLiteral("Tarnwick"));
    app.CreateForm(LibDM, app.Hklm());
    if (StatusText == kStatusOk)
      app.CreateForm(TarnwickMain);
    else
      app.CreateForm(DbPara, app.Hklm(), reason);
  } catch (const std::exception& e) {
    reason = QString::fromUtf8(e.what());
    app.CreateForm(DbPara, app.Hklm(), reason);
  } catch (...) {
    app.CreateForm(DbPara, app.Hklm(), reason);
  }
}

int RunProgram(RegistryHive& hklm, const char* programPath) {
  // The program takes no command line: Qt sees only the program's name.
  int argc = 1;
  char* argv[] = {const_cast<char*>(programPath), nullptr};
  TQtApplication qtApp(argc, argv);
  TApplication app(hklm);
  StartUp(app);
  app.Run();
  return 0;
}

}  // namespace tarnwick
