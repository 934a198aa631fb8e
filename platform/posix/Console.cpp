#include "platform/Console.h"
#include "platform/Files.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>
#include <cerrno>
#include <csignal>
#include <cstdio>

namespace qav::platform {

void InstallInterruptHandler(void (*handler)()) {
  static void (*installed)() = nullptr;
  installed = handler;
  struct sigaction action {};
  action.sa_handler = [](int) {
    const int saved = errno;
    if (installed) installed();
    errno = saved;
  };
  sigemptyset(&action.sa_mask);
  // The first signal asks; the handler then goes, so the second ends the program.
  action.sa_flags = SA_RESETHAND;
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
}

void WriteStandardError(const char* text, std::size_t size) noexcept {
  [[maybe_unused]] const ssize_t n = ::write(STDERR_FILENO, text, size);
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
  if (saved_ < 0 || ::dup2(buffer_, STDERR_FILENO) < 0) {
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
