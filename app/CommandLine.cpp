#include "app/CommandLine.h"

namespace qav {

namespace {
QStringList& Arguments() {
  static QStringList arguments;
  return arguments;
}
}  // namespace

void SetCommandLine(const QStringList& arguments) {
  Arguments() = arguments;
}

int ParamCount() {
  return static_cast<int>(Arguments().size());
}

QString ParamStr(int index) {
  return index >= 1 && index <= Arguments().size() ? Arguments().at(index - 1) : QString();
}

}  // namespace qav
