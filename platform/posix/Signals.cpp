#include "platform/Signals.h"

#include <fcntl.h>
#include <unistd.h>
#include <QSocketNotifier>
#include <cerrno>
#include <csignal>

namespace qav::platform {

namespace {

constexpr int kTerminationSignals[] = {SIGTERM, SIGINT, SIGHUP};

// The handler only writes a byte into a pipe; the event loop reads it on its own thread.
int signalPipe[2] = {-1, -1};

extern "C" void OnTerminationSignal(int) {
  const int saved = errno;
  const char byte = 1;
  [[maybe_unused]] const ssize_t n = ::write(signalPipe[1], &byte, 1);
  errno = saved;
}

}  // namespace

TerminationRequests::TerminationRequests(QObject* parent) : QObject(parent) {
  if (signalPipe[0] < 0) {
    if (::pipe(signalPipe) != 0) return;
    for (int fd : signalPipe) ::fcntl(fd, F_SETFD, FD_CLOEXEC);
    for (int fd : signalPipe) ::fcntl(fd, F_SETFL, O_NONBLOCK);
  }
  auto* notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, this);
  connect(notifier, &QSocketNotifier::activated, this, &TerminationRequests::Drain);
  struct sigaction action {};
  action.sa_handler = OnTerminationSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  for (int sig : kTerminationSignals) sigaction(sig, &action, nullptr);
}

TerminationRequests::~TerminationRequests() {
  for (int sig : kTerminationSignals) std::signal(sig, SIG_DFL);
}

void TerminationRequests::Drain() {
  char buffer[16];
  bool any = false;
  while (::read(signalPipe[0], buffer, sizeof buffer) > 0) any = true;
  if (any) emit Requested();
}

}  // namespace qav::platform
