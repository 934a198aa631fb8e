#pragma once

#include "core/Exception.h"
#include "platform/Socket.h"

namespace qav {

// Every failure of the socket connection.
QAV_EXCEPTION_CLASS(ESockError, Exception);
// A send or line read ended by cancellation or by the time limit.
QAV_EXCEPTION_CLASS(EAbortError, ESockError);

// The number, ":" and the table text ("10061:Connection refused"), or "Unknown Error No. "
// and the number for a number the table lacks.
QString SocketErrorMessage(int number);
}  // namespace qav
