#include "app/dmLibData.h"

#include "app/frmFlash.h"
#include "app/unGlobal.h"
#include "params/DbParams.h"

namespace tarnwick {

TLibDM* LibDM = nullptr;
TFlash* Flash = nullptr;

TLibDM::TLibDM(RegistryHive& hklm) : hklm_(hklm) {
  setObjectName(QStringLiteral("LibDM"));
  // The connection's design settings.
  LibDB.AliasName = "LibODBC";
  LibDB.DatabaseName = "LibDB";
  LibDB.SessionName = "Default";
  LibDB.LoginPrompt = false;
  LibDB.Params.Clear();
  LibDB.Params.Add("USER NAME=sa");
  LibDB.Params.Add("PASSWORD=");
  LibDB.BeforeConnect = [this](TDatabase& sender) { LibDBBeforeConnect(sender); };
  LibDB.AfterConnect = [this](TDatabase& sender) { LibDBAfterConnect(sender); };
  // Connected: opened once every setting is in place. A failure leaves the
  // constructor, whose members (the connection and the splash) go with it.
  LibDB.SetConnected(true);
}

TLibDM::~TLibDM() {
  splash_.reset();
  LibDB.Close();
  if (LibDM == this) LibDM = nullptr;
}

void TLibDM::LibDBBeforeConnect(TDatabase& /*Sender*/) {
  DbParamsReceiver receiver;
  receiver.odbcName = [this](const std::string& name) {
    LibDB.AliasName = name;
    LibDB.Params.Clear();
  };
  receiver.login = [this](const std::string& login) {
    LibDB.Params.Add("USER NAME=" + login);
  };
  receiver.password = [this](const std::string& password) {
    LibDB.Params.Add("PASSWORD=" + password);
  };
  LoadDbParams(hklm_, receiver);

  StatusText = kConnectingText;
  splash_ = std::make_unique<TFlash>();
  Flash = splash_.get();
  Flash->ShowNow();
}

void TLibDM::LibDBAfterConnect(TDatabase& /*Sender*/) {
  splash_.reset();
  StatusText = kStatusOk;
}

}  // namespace tarnwick
