#pragma once

// The POSIX bodies' translation of errno and getaddrinfo results into the Windows Sockets
// numbering the socket functions report in.
namespace qav::platform {

// The number for an errno value of a socket call. Values without a counterpart become 10000
// plus the errno value, so that they still count as errors.
int SocketErrorFromErrno(int error);
// The number for a getaddrinfo result (an EAI_ value); 0 for success. Call it on the thread
// that ran the lookup (EAI_SYSTEM leaves its reason in that thread's errno).
int SocketErrorFromLookup(int result);

}  // namespace qav::platform
