#include "app/Application.h"

#include "app/Dialogs.h"
#include "app/Exception.h"
#include "app/ExceptionHandler.h"

#include <fcntl.h>
#include <unistd.h>
#include <QSocketNotifier>
#include <csignal>
#include <cstdio>

namespace qav {

namespace {

int signalPipe[2] = {-1, -1};

void OnSignal(int) {
  const char byte = 1;
  [[maybe_unused]] const ssize_t n = ::write(signalPipe[1], &byte, 1);
}

}  // namespace

TApplication::TApplication(int& argc, char** argv) : QApplication(argc, argv) {
  WatchTerminationSignals();
}

TApplication::~TApplication() {
  for (int sig : {SIGTERM, SIGINT, SIGHUP}) std::signal(sig, SIG_DFL);
}

void TApplication::WatchTerminationSignals() {
  if (signalPipe[0] < 0) {
    if (::pipe(signalPipe) != 0) return;
    for (int fd : signalPipe) ::fcntl(fd, F_SETFD, FD_CLOEXEC);
    ::fcntl(signalPipe[1], F_SETFL, O_NONBLOCK);
  }
  auto* notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, this);
  connect(notifier, &QSocketNotifier::activated, this, &TApplication::OnTerminationSignal);
  struct sigaction action {};
  action.sa_handler = OnSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  for (int sig : {SIGTERM, SIGINT, SIGHUP}) sigaction(sig, &action, nullptr);
}

void TApplication::OnTerminationSignal() {
  char buffer[16];
  [[maybe_unused]] const ssize_t n = ::read(signalPipe[0], buffer, sizeof buffer);
  closeAllWindows();
}

bool TApplication::notify(QObject* receiver, QEvent* event) {
  try {
    try {
      return QApplication::notify(receiver, event);
    } catch (const EAbort&) {
    } catch (const Exception& e) {
      HandleException(e);
    } catch (const std::exception& e) {
      HandleException(Exception(QString::fromUtf8(e.what())));
    }
  } catch (const Exception& e) {
    // The handler itself failed (the error log cannot be written, say): nothing is left to
    // report through, so the program ends as after a start-up error.
    ShowLastChanceError(e.ClassName(), e.Message());
    exit(1);
  } catch (const std::exception& e) {
    ShowLastChanceError("Exception", QString::fromUtf8(e.what()));
    exit(1);
  }
  return false;
}

void ShowLastChanceError(const char* className, const QString& message) {
  std::fprintf(stderr, "Application Error: %s: %s\n", className, message.toUtf8().constData());
  std::fflush(stderr);
  DialogRequest r;
  r.kind = DialogRequest::Kind::Error;
  r.title = QStringLiteral("Application Error");
  r.text = QStringLiteral("Exception %1 in module qavtool.\n%2")
               .arg(QString::fromLatin1(className), message);
  Dialogs::Show(r);
}

}  // namespace qav
