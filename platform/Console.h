#pragma once

#include <cstddef>
#include <string>

// What a console program (the batch exporter) needs of its terminal.
namespace qav::platform {

// For a console program: the first interrupt (Ctrl+C, SIGTERM, or SIGHUP when its terminal
// goes) calls `handler` inside the signal handler, so it may only do what is safe there (set an
// atomic flag, call WriteStandardError). A second interrupt ends the process as the system would,
// once `lastWords` has run: outside the signal handler, on a thread of its own, so that it may
// do what any code may (remove temporary files), while the rest of the program goes on.
void InstallInterruptHandler(void (*handler)(), void (*lastWords)() = nullptr);
// Writes bytes to standard error without buffering or locks; safe inside a signal handler. While
// a StandardErrorCapture runs they still reach the real standard error, not the capture.
void WriteStandardError(const char* text, std::size_t size) noexcept;

// Opens /dev/null on each of standard input, output and error that is not open, so that no
// file or pipe the program opens later takes their numbers (and a note meant for standard error
// lands in it). The first thing a console program does.
void OpenMissingStandardDescriptors();

// Writes all `size` bytes to standard output, unbuffered; 0 or the system's error number.
int WriteStandardOutput(const char* data, std::size_t size);

// While it lives, what the process writes to standard error goes to a buffer of its own instead:
// for a library that prints its own error lines where the program reports the error itself.
// Meant for short calls; other threads' lines in that time are caught too.
class StandardErrorCapture {
 public:
  StandardErrorCapture();
  ~StandardErrorCapture();
  StandardErrorCapture(const StandardErrorCapture&) = delete;
  StandardErrorCapture& operator=(const StandardErrorCapture&) = delete;

  // Ends the capture (once) and returns what was written meanwhile.
  std::string Finish();

 private:
  int saved_ = -1;
  int buffer_ = -1;
};

// True when standard error is a terminal, where a progress line can redraw itself.
bool StandardErrorIsTerminal();

}  // namespace qav::platform
