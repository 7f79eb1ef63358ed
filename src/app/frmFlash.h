// The splash window: shown while the connection is being made, with the
// status text over the splash picture.
#pragma once

#include <QLabel>
#include <memory>

#include "app/Forms.h"

namespace Ui {
class TFlash;
}

namespace tarnwick {

class TFlash : public TForm {
  Q_OBJECT
 public:
  TFlash();
  ~TFlash() override;

  QLabel* Image1;
  QLabel* lbView;
  QLabel* Label1;
  QLabel* Image2;

  // Shows the window in front and paints it completely before returning, so
  // that it is on the screen while the thread then blocks.
  void ShowNow();

 public slots:
  void FormCreate(QObject* Sender);

 private:
  std::unique_ptr<Ui::TFlash> ui_;
};

}  // namespace tarnwick
