#include "params/frmDbPara.h"

#include "app/MessageBoxes.h"
#include "params/DbParams.h"
#include "ui_frmDbPara.h"

namespace tarnwick {

TDbPara* DbPara = nullptr;

namespace {

// An edit shows a text only up to its first zero byte, as a C string would.
QString EditText(const std::string& utf8) { return QString::fromUtf8(utf8.c_str()); }

std::string Utf8(const QLineEdit* edit) { return edit->text().toStdString(); }

}  // namespace

TDbPara::TDbPara(RegistryHive& hklm, const QString& connectFailure)
    : ui_(std::make_unique<Ui::TDbPara>()), hklm_(hklm) {
  // A dialog frame with only a close box, not resizable.
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint |
                 Qt::MSWindowsFixedSizeDialogHint);
  ui_->setupUi(this);
  btExit = ui_->btExit;
  Label4 = ui_->Label4;
  Label5 = ui_->Label5;
  Label6 = ui_->Label6;
  Label7 = ui_->Label7;
  Label8 = ui_->Label8;
  btMod = ui_->btMod;
  grbBox = ui_->grbBox;
  Label1 = ui_->Label1;
  Label2 = ui_->Label2;
  Label3 = ui_->Label3;
  edOdbc = ui_->edOdbc;
  edUser = ui_->edUser;
  edPass = ui_->edPass;
  btOk = ui_->btOk;
  Label9 = ui_->Label9;
  Label10 = ui_->Label10;
  setFixedSize(size());
  if (!connectFailure.isEmpty()) Label4->setToolTip(connectFailure);
  btExit->setFocus();
  Loaded();
}

TDbPara::~TDbPara() {
  if (DbPara == this) DbPara = nullptr;
}

void TDbPara::FormCreate(QObject* /*Sender*/) {
  setWindowTitle(QStringLiteral("设置数据库【") + QString::fromUtf8(kParamsSubKeyName) +
                 QStringLiteral("】连接参数"));
  DbParamsReceiver receiver;
  receiver.odbcName = [this](const std::string& s) { edOdbc->setText(EditText(s)); };
  receiver.login = [this](const std::string& s) { edUser->setText(EditText(s)); };
  receiver.password = [this](const std::string& s) { edPass->setText(EditText(s)); };
  if (!LoadDbParams(hklm_, receiver)) {
    edOdbc->clear();
    edUser->clear();
    edPass->clear();
  }
}

void TDbPara::FormKeyPress(QObject* /*Sender*/, QChar* Key) {
  // Enter moves on to the next control like Tab; the character itself still
  // reaches the control it was typed in.
  if (*Key == QChar(13)) focusNextPrevChild(true);
}

void TDbPara::btModClick(QObject* /*Sender*/) {
  grbBox->setVisible(true);
  const int frame = OuterSize().height() - height();
  setFixedSize(width(), kDbParaExpandedHeight - frame);
}

void TDbPara::btOkClick(QObject* /*Sender*/) {
  if (!SaveDbParams(hklm_, Utf8(edOdbc), Utf8(edUser), Utf8(edPass)))
    ShowMessageBox(QString::fromUtf8(kSaveFailedText), QString::fromUtf8(kInfoCaption),
                   mb::kOk | mb::kIconInformation);
  Close();
}

void TDbPara::btExitClick(QObject* /*Sender*/) { Close(); }

}  // namespace tarnwick
