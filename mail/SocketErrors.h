#pragma once

#include "app/Exception.h"

namespace qav {

// Every failure of the socket connection.
QAV_EXCEPTION_CLASS(ESockError, Exception);
// A send or line read ended by cancellation or by the time limit.
QAV_EXCEPTION_CLASS(EAbortError, ESockError);

// The socket error numbers the connection reports: the classic Windows Sockets numbering, so
// that texts and stored numbers stay the same on every platform.
namespace sockerr {
constexpr int WouldBlock = 10035;
constexpr int NotConnected = 10057;
}  // namespace sockerr

// The number, ":" and the table text ("10061:Connection refused"), or "Unknown Error No. "
// and the number for a number the table lacks.
QString SocketErrorMessage(int number);
// The number of the table for an errno value of a socket call. Values the table has no
// counterpart for become 10000 plus the errno value, so that they still count as errors.
int SocketErrorFromErrno(int error);
// The number of the table for a getaddrinfo result (EAI_ value); 0 for success.
int SocketErrorFromLookup(int result);

}  // namespace qav
