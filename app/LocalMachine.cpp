#include "app/LocalMachine.h"

#include "core/TextUtil.h"

#include "platform/LocalHost.h"

namespace qav {

QString LocalComputerName() {
  return Trim(platform::ComputerName());
}

QString LocalUserName() {
  QString name = platform::LoggedOnUserName();
  if (name.isEmpty()) name = QStringLiteral("Unknown");
  return UpperAscii(name);
}

QString LocalIPAddress() {
  return platform::ComputerIPv4Address();
}

}  // namespace qav
