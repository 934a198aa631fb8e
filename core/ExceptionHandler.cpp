#include "core/ExceptionHandler.h"

#include <cstdio>

namespace qav {

namespace {
ExceptionHandler& Handler() {
  static ExceptionHandler handler;
  return handler;
}
}  // namespace

void SetApplicationExceptionHandler(ExceptionHandler handler) {
  Handler() = std::move(handler);
}

void HandleException(const Exception& error) {
  if (Handler()) {
    Handler()(error);
    return;
  }
  std::fprintf(stderr, "%s: %s\n", error.ClassName(), error.what());
}

void RunEventHandler(const std::function<void()>& handler) {
  try {
    handler();
  } catch (const EAbort&) {
  } catch (const Exception& e) {
    HandleException(e);
  } catch (const std::exception& e) {
    HandleException(Exception(QString::fromUtf8(e.what())));
  }
}

}  // namespace qav
