#include "app/ExceptionHandler.h"

#include <cstdio>

namespace qav {

namespace {
ExceptionHandler& Handler() {
  static ExceptionHandler handler;
  return handler;
}
}  // namespace

void SetApplicationExceptionHandler(ExceptionHandler handler) { Handler() = std::move(handler); }

void HandleException(const Exception& error) {
  if (Handler()) {
    Handler()(error);
    return;
  }
  std::fprintf(stderr, "%s: %s\n", error.ClassName(), error.what());
}

}  // namespace qav
