// The cleanup window: the program's main window after a successful
// connection. Its start button removes the OPAC tables and triggers.
#pragma once

#include <QPushButton>
#include <memory>

#include "app/Forms.h"
#include "platform/database/Database.h"

namespace Ui {
class TTarnwickMain;
}

namespace tarnwick {

inline constexpr const char kCleanupDoneText[] = "清除成功！";
inline constexpr const char kCleanupCaption[] = "提示信息";
// Outer size (frame included) of the window when it opens.
inline constexpr int kMainOuterWidth = 354;
inline constexpr int kMainOuterHeight = 110;

class TTarnwickMain : public TForm {
  Q_OBJECT
 public:
  TTarnwickMain();
  ~TTarnwickMain() override;

  TQuery qrTmp;  // bound to the open connection "LibDB"
  QPushButton* btDoWork;
  QPushButton* btClose;

 public slots:
  void btDoWorkClick(QObject* Sender);
  void btCloseClick(QObject* Sender);

 private:
  std::unique_ptr<Ui::TTarnwickMain> ui_;
};

extern TTarnwickMain* TarnwickMain;

}  // namespace tarnwick
