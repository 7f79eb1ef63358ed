// The connection-parameter window: explains a failed connection and lets the
// user correct the stored connection parameters for the next start.
#pragma once

#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QString>
#include <memory>

#include "app/Forms.h"

namespace Ui {
class TDbPara;
}

namespace tarnwick {

class RegistryHive;

inline constexpr const char kSaveFailedText[] =
    "保存您配置的参数失败！只有具有权限的用户，如Administrator才能修改，请与系统管理员联系！";
inline constexpr const char kInfoCaption[] = "提示信息";
// Outer height (frame included) of the expanded window.
inline constexpr int kDbParaExpandedHeight = 261;

class TDbPara : public TForm {
  Q_OBJECT
 public:
  // `connectFailure`: why the connection was not made (shown as the tooltip
  // of the headline), empty when unknown.
  explicit TDbPara(RegistryHive& hklm, const QString& connectFailure = {});
  ~TDbPara() override;

  QPushButton* btExit;
  QLabel* Label4;
  QLabel* Label5;
  QLabel* Label6;
  QLabel* Label7;
  QLabel* Label8;
  QPushButton* btMod;
  QGroupBox* grbBox;
  QLabel* Label1;
  QLabel* Label2;
  QLabel* Label3;
  QLineEdit* edOdbc;
  QLineEdit* edUser;
  QLineEdit* edPass;
  QPushButton* btOk;
  QLabel* Label9;
  QLabel* Label10;

 public slots:
  void FormKeyPress(QObject* Sender, QChar* Key);
  void FormCreate(QObject* Sender);
  void btOkClick(QObject* Sender);
  void btExitClick(QObject* Sender);
  void btModClick(QObject* Sender);

 private:
  std::unique_ptr<Ui::TDbPara> ui_;
  RegistryHive& hklm_;
};

extern TDbPara* DbPara;

}  // namespace tarnwick
