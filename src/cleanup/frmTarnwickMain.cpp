#include "cleanup/frmTarnwickMain.h"

#include "app/MessageBoxes.h"
#include "cleanup/OpacCleanup.h"
#include "ui_frmTarnwickMain.h"

namespace tarnwick {

TTarnwickMain* TarnwickMain = nullptr;

TTarnwickMain::TTarnwickMain() : ui_(std::make_unique<Ui::TTarnwickMain>()) {
  qrTmp.DatabaseName = "LibDB";
  qrTmp.SQL.Clear();
  ui_->setupUi(this);
  btDoWork = ui_->btDoWork;
  btClose = ui_->btClose;
  SetOuterSize(QSize(kMainOuterWidth, kMainOuterHeight));
  btDoWork->setFocus();
  Loaded();
}

TTarnwickMain::~TTarnwickMain() {
  if (TarnwickMain == this) TarnwickMain = nullptr;
}

void TTarnwickMain::btDoWorkClick(QObject* /*Sender*/) {
  // Disabled first, and never enabled again: the cleanup runs once.
  btDoWork->setEnabled(false);
  // The batches block the thread; show the disabled button meanwhile.
  btDoWork->repaint();
  const CleanupOutcome outcome = RunOpacCleanup(qrTmp);
  if (outcome.success)
    ShowMessageBox(QString::fromUtf8(kCleanupDoneText), QString::fromUtf8(kCleanupCaption),
                   mb::kOk);
  else
    ShowMessageBox(QString::fromUtf8(CleanupFailureText(outcome)),
                   QString::fromUtf8(kCleanupCaption), mb::kOk | mb::kIconWarning);
}

void TTarnwickMain::btCloseClick(QObject* /*Sender*/) { Close(); }

}  // namespace tarnwick
