#pragma once

#include "core/Exception.h"

#include <functional>

namespace qav {

// The application-wide handler for errors that escape an event handler. Components that hand
// an error on without failing (a script runner told to report, say) call HandleException; the
// company module installs the real handler at start-up.
using ExceptionHandler = std::function<void(const Exception&)>;

void SetApplicationExceptionHandler(ExceptionHandler handler);
// Passes the error to the installed handler; without one it is written to standard error.
void HandleException(const Exception& error);

// Runs an event handler of a window: an error that escapes it goes to HandleException here,
// instead of unwinding through the toolkit's signal dispatch; the silent abort goes nowhere.
void RunEventHandler(const std::function<void()>& handler);

}  // namespace qav
