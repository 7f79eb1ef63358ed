// The application object: owns the connection module and the windows for the
// whole run, makes the first window created through it the main window, runs
// the event loop until the main window is closed, and destroys what it owns,
// the most recently created first. Also the general error report.
#pragma once

#include <QApplication>
#include <QObject>
#include <QString>
#include <exception>
#include <memory>
#include <type_traits>
#include <utility>
#include <vector>

#include "app/Forms.h"

namespace tarnwick {

class RegistryHive;

// The QApplication of the program. A failure that escapes an event handler is
// caught here, where every event is dispatched, and goes to the general error
// report instead of crossing the event loop.
class TQtApplication : public QApplication {
  Q_OBJECT
 public:
  TQtApplication(int& argc, char** argv);
  bool notify(QObject* receiver, QEvent* event) override;
};

class TApplication {
 public:
  explicit TApplication(RegistryHive& hklm);
  ~TApplication();
  TApplication(const TApplication&) = delete;
  TApplication& operator=(const TApplication&) = delete;

  // Sets the look: the Windows widget style, the Song typeface for the
  // Chinese texts, the program's icon.
  void Initialize();

  // The application title: the caption of the general error report.
  QString Title() const { return title_; }
  void SetTitle(const QString& title);

  RegistryHive& Hklm() { return hklm_; }

  // Creates a window or the connection module, owned by the application.
  // `ref` is cleared first and set only when creation succeeds; a failing
  // constructor has destroyed what it built and the failure propagates. The
  // first window created becomes the main window; a module never does.
  template <class T, class... Args>
  void CreateForm(T*& ref, Args&&... args) {
    static_assert(std::is_base_of_v<QObject, T>);
    ref = nullptr;
    auto instance = std::make_unique<T>(std::forward<Args>(args)...);
    T* raw = instance.get();
    owned_.push_back(std::move(instance));
    if constexpr (std::is_base_of_v<TForm, T>) {
      if (!mainForm_) mainForm_ = raw;
    }
    ref = raw;
  }

  TForm* MainForm() const { return mainForm_; }

  // Shows the main window and handles events until it is closed.
  void Run();

  // Destroys what the application owns, the most recently created first.
  void DestroyComponents();

 private:
  RegistryHive& hklm_;
  QString title_;
  std::vector<std::unique_ptr<QObject>> owned_;
  TForm* mainForm_ = nullptr;
};

// The one application object of the process while it exists.
extern TApplication* Application;

// The text the general error report shows for a failure's message: the
// message, with "." appended when its last character sorts after "." (in the
// byte order of its code page 936 form).
QString ErrorReportText(const std::string& message);

// The general error report: a modal box captioned with the application title,
// the stop icon, an OK button and the failure's message.
void ReportException(std::exception_ptr failure);

// Registers the program's pictures (idempotent).
void InitResources();

}  // namespace tarnwick
