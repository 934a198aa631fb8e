#include "platform/Console.h"
#include "platform/Files.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <thread>

namespace qav::platform {

namespace {

constexpr int kInterruptSignals[] = {SIGINT, SIGTERM, SIGHUP};

void (*firstInterrupt)() = nullptr;
void (*lastWordsBeforeEnd)() = nullptr;
std::atomic<int> interrupts{0};
// The signal handler hands the second interrupt's number to the last-words thread here.
int lastWordsPipe[2] = {-1, -1};
// Where the program's own notes to standard error go: the real standard error also while a
// StandardErrorCapture holds descriptor 2.
std::atomic<int> standardError{STDERR_FILENO};
static_assert(std::atomic<int>::is_always_lock_free, "read inside a signal handler");

void EndAsTheSystemWould(int sig) {
  std::signal(sig, SIG_DFL);
  ::raise(sig);
  ::_exit(128 + sig);
}

extern "C" void OnInterrupt(int sig) {
  const int saved = errno;
  if (interrupts.fetch_add(1) == 0) {
    if (firstInterrupt) firstInterrupt();
  } else {
    const char byte = static_cast<char>(sig);
    if (lastWordsPipe[1] < 0 || ::write(lastWordsPipe[1], &byte, 1) != 1) EndAsTheSystemWould(sig);
  }
  errno = saved;
}

void LastWords() {
  char sig = 0;
  while (::read(lastWordsPipe[0], &sig, 1) != 1)
    if (errno != EINTR) return;
  if (lastWordsBeforeEnd) lastWordsBeforeEnd();
  EndAsTheSystemWould(sig);
}

}  // namespace

void InstallInterruptHandler(void (*handler)(), void (*lastWords)()) {
  firstInterrupt = handler;
  lastWordsBeforeEnd = lastWords;
  if (lastWordsPipe[0] < 0 && ::pipe2(lastWordsPipe, O_CLOEXEC) == 0)
    std::thread(LastWords).detach();
  struct sigaction action {};
  action.sa_handler = OnInterrupt;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  for (int sig : kInterruptSignals) sigaction(sig, &action, nullptr);
}

void WriteStandardError(const char* text, std::size_t size) noexcept {
  [[maybe_unused]] const ssize_t n = ::write(standardError.load(), text, size);
}

void OpenMissingStandardDescriptors() {
  // open() takes the lowest free descriptor: each one missing gets /dev/null in turn.
  for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
    if (::fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
    const int opened = ::open("/dev/null", fd == STDIN_FILENO ? O_RDONLY : O_WRONLY);
    if (opened >= 0 && opened != fd) ::close(opened);
  }
}

int WriteStandardOutput(const char* data, std::size_t size) {
  return WriteFully(STDOUT_FILENO, data, size);
}

StandardErrorCapture::StandardErrorCapture() {
  std::fflush(stderr);
  // A file in memory without a name: nothing is left behind, whatever ends the process.
  buffer_ = ::memfd_create("qav-stderr", MFD_CLOEXEC);
  if (buffer_ < 0) return;
  saved_ = ::fcntl(STDERR_FILENO, F_DUPFD_CLOEXEC, 0);
  if (saved_ >= 0) standardError.store(saved_);
  if (saved_ < 0 || ::dup2(buffer_, STDERR_FILENO) < 0) {
    standardError.store(STDERR_FILENO);
    if (saved_ >= 0) ::close(saved_);
    ::close(buffer_);
    saved_ = buffer_ = -1;
  }
}

StandardErrorCapture::~StandardErrorCapture() {
  Finish();
}

std::string StandardErrorCapture::Finish() {
  std::string text;
  if (buffer_ < 0) return text;
  std::fflush(stderr);
  ::dup2(saved_, STDERR_FILENO);
  standardError.store(STDERR_FILENO);
  ::close(saved_);
  char chunk[4096];
  ssize_t n = 0;
  for (off_t at = 0; (n = ::pread(buffer_, chunk, sizeof chunk, at)) > 0; at += n)
    text.append(chunk, static_cast<std::size_t>(n));
  ::close(buffer_);
  saved_ = buffer_ = -1;
  return text;
}

bool StandardErrorIsTerminal() {
  return ::isatty(STDERR_FILENO) == 1;
}

}  // namespace qav::platform
