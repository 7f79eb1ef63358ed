#include "app/Application.h"

#include <QEventLoop>
#include <QFont>
#include <QIcon>
#include <QProxyStyle>
#include <QStyle>
#include <QStyleFactory>

#include "app/MessageBoxes.h"
#include "platform/text/Codepage.h"

// Resources of a static library are registered by hand: nothing references
// the generated object, so the linker would otherwise leave it out.
static void RegisterTarnwickResources() { Q_INIT_RESOURCE(tarnwick); }

namespace tarnwick {

TApplication* Application = nullptr;

namespace {

// The platform's look, except that a password edit shows each character as
// "*" (several styles draw a bullet).
class TarnwickStyle : public QProxyStyle {
 public:
  using QProxyStyle::QProxyStyle;
  int styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                QStyleHintReturn* returnData) const override {
    if (hint == SH_LineEdit_PasswordCharacter) return '*';
    return QProxyStyle::styleHint(hint, option, widget, returnData);
  }
};

}  // namespace

void InitResources() {
  static const bool done = (RegisterTarnwickResources(), true);
  (void)done;
}

TQtApplication::TQtApplication(int& argc, char** argv)
    : QApplication(argc, argv) {}

bool TQtApplication::notify(QObject* receiver, QEvent* event) {
  try {
    return QApplication::notify(receiver, event);
  } catch (...) {
    ReportException(std::current_exception());
    return false;
  }
}

TApplication::TApplication(RegistryHive& hklm) : hklm_(hklm) {
  InitResources();
  Application = this;
}

TApplication::~TApplication() {
  DestroyComponents();
  if (Application == this) Application = nullptr;
}

void TApplication::Initialize() {
#ifndef Q_OS_WIN
  // The plain Windows look the program's users know, on every platform.
  QApplication::setStyle(
      new TarnwickStyle(QStyleFactory::create(QStringLiteral("Windows"))));
#else
  QApplication::setStyle(new TarnwickStyle());
#endif
  // The layouts ask for 宋体; where it is missing, a Song/Ming face or any
  // CJK face takes its place so that the Chinese texts render.
  QFont::insertSubstitutions(
      QStringLiteral("宋体"),
      {QStringLiteral("SimSun"), QStringLiteral("NSimSun"),
       QStringLiteral("AR PL UMing CN"), QStringLiteral("AR PL SungtiL GB"),
       QStringLiteral("Noto Serif CJK SC"), QStringLiteral("Noto Sans CJK SC"),
       QStringLiteral("WenQuanYi Zen Hei"), QStringLiteral("Droid Sans Fallback")});
  QFont font(QStringLiteral("宋体"));
  font.setPixelSize(12);
  QApplication::setFont(font);
  QApplication::setWindowIcon(QIcon(QStringLiteral(":/emblem.png")));
  // The program ends when its main window is closed, not when the last
  // window of any kind goes away.
  QApplication::setQuitOnLastWindowClosed(false);
}

void TApplication::SetTitle(const QString& title) {
  title_ = title;
  QCoreApplication::setApplicationName(title);
}

void TApplication::Run() {
  TForm* main = mainForm_;
  if (!main) return;
  QEventLoop loop;
  QObject::connect(main, &TForm::Closed, &loop, &QEventLoop::quit);
  QObject::connect(main, &QObject::destroyed, &loop, &QEventLoop::quit);
  main->show();
  if (!main->isVisible()) return;
  loop.exec();
}

void TApplication::DestroyComponents() {
  while (!owned_.empty()) {
    std::unique_ptr<QObject> last = std::move(owned_.back());
    owned_.pop_back();
    if (last.get() == mainForm_) mainForm_ = nullptr;
    last.reset();
  }
}

QString ErrorReportText(const std::string& message) {
  std::string text = message;
  const std::string gbk = Utf8ToCp936(message);
  if (!gbk.empty() && static_cast<unsigned char>(gbk.back()) > '.') text += '.';
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

void ReportException(std::exception_ptr failure) {
  std::string message;
  try {
    std::rethrow_exception(std::move(failure));
  } catch (const std::exception& e) {
    message = e.what();
  } catch (...) {
    message = "Unknown failure";
  }
  QString caption = Application ? Application->Title() : QString();
  if (caption.isEmpty()) caption = QCoreApplication::applicationName();
  ShowMessageBox(ErrorReportText(message), caption, mb::kOk | mb::kIconStop);
}

}  // namespace tarnwick
