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
  void OnTerminationRequest();
};

// A request of the operating system to end the program (SIGTERM, SIGHUP, SIGINT; logoff or
// shutdown): nobody is there to answer questions, so the program ends at once and in order.
// Open dialogs are dismissed, the windows close without their exit question, and every running
// message loop returns 0; the caller of the outermost one then frees the windows and modules
// (and so closes the connections).
void EndOnTerminationRequest();
// True once EndOnTerminationRequest has run.
bool TerminationRequested();

// The runtime's last-chance handling: the "Application Error" box with the error's class and
// message, the same on standard error. The caller ends the process with exit code 1.
void ShowLastChanceError(const char* className, const QString& message);

}  // namespace qav
