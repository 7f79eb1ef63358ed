// The connection module: the one database connection of the program, opened
// while the module is created, with the splash window shown meanwhile.
#pragma once

#include <QObject>
#include <memory>

#include "platform/database/Database.h"

namespace tarnwick {

class RegistryHive;
class TFlash;

class TLibDM : public QObject {
  Q_OBJECT
 public:
  // Applies the connection's design settings and opens it. A failure of the
  // connection (or of loading its parameters) destroys what was built, the
  // splash window included, and propagates.
  explicit TLibDM(RegistryHive& hklm);
  ~TLibDM() override;  // closes the connection

  TDatabase LibDB;

  void LibDBBeforeConnect(TDatabase& Sender);
  void LibDBAfterConnect(TDatabase& Sender);

 private:
  RegistryHive& hklm_;
  std::unique_ptr<TFlash> splash_;  // only during the connection attempt
};

// The module, once created; empty when its creation failed.
extern TLibDM* LibDM;
// The splash window while it exists.
extern TFlash* Flash;

}  // namespace tarnwick
