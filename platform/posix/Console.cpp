#include "platform/Console.h"
#include "platform/Files.h"

#include <unistd.h>
#include <cerrno>
#include <csignal>

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

bool StandardErrorIsTerminal() {
  return ::isatty(STDERR_FILENO) == 1;
}

}  // namespace qav::platform
