#pragma once

#include <QApplication>

namespace qav {

class Exception;

// The application object. Qt is not built to let exceptions cross its event loop, so every
// error that escapes an event handler stops here and goes to the application-wide handler;
// the silent abort goes nowhere.
class TApplication : public QApplication {
  Q_OBJECT

 public:
  TApplication(int& argc, char** argv);
  ~TApplication() override;
  bool notify(QObject* receiver, QEvent* event) override;

 private:
  // A termination request (SIGTERM, SIGINT, SIGHUP) closes the windows the way the user would,
  // through their exit question, once the message loop runs.
  void OnTerminationRequest();
};

// The runtime's last-chance handling: the "Application Error" box with the error's class and
// message, the same on standard error. The caller ends the process with exit code 1.
void ShowLastChanceError(const char* className, const QString& message);

}  // namespace qav
