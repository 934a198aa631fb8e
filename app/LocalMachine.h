#pragma once

#include <QString>

namespace qav {

// The computer's name, without surrounding blanks and control characters.
QString LocalComputerName();
// The logged-on user's name in capitals, or "UNKNOWN" when the platform cannot tell.
QString LocalUserName();
// The last IPv4 address the host name resolves to, dotted; empty when it cannot be found.
QString LocalIPAddress();

}  // namespace qav
