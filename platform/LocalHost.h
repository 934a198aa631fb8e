#pragma once

#include <QString>

// What the error report tells of the machine it was written on.
namespace qav::platform {

// The computer's name as the system has it; empty when it cannot tell.
QString ComputerName();
// The name of the user the process runs as; empty when the system cannot tell.
QString LoggedOnUserName();
// The last IPv4 address the computer's name resolves to, dotted; empty when it has none.
QString ComputerIPv4Address();

}  // namespace qav::platform
