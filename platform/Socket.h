#pragma once

#include <QByteArray>
#include <QtGlobal>

// Non-blocking IPv4 TCP sockets for the mail connection. Every error is a number in the classic
// Windows Sockets numbering (10035 "would block", 11001 "host not found", ...), which is what
// Windows reports natively and what the POSIX bodies map errno to, so that the texts and the
// numbers the program shows are the same on every platform. Addresses are IPv4 in network byte
// order.
namespace qav {

namespace sockerr {
constexpr int Interrupted = 10004;
constexpr int WouldBlock = 10035;
constexpr int NetworkUnreachable = 10051;
constexpr int NotConnected = 10057;
constexpr int TimedOut = 10060;
constexpr int ConnectionRefused = 10061;
constexpr int HostUnreachable = 10065;
constexpr int HostNotFound = 11001;
constexpr int TryAgain = 11002;
constexpr int NoRecovery = 11003;
constexpr int NoData = 11004;
}  // namespace sockerr

namespace platform {

using SocketHandle = qintptr;
constexpr SocketHandle kNoSocket = -1;

// The outcome of a send or receive: bytes moved, or an error (count 0). A receive that returns
// 0 bytes without error means the peer closed the connection.
struct SocketIo {
  qint64 count = 0;
  int error = 0;
};

// A new non-blocking TCP socket; with lingerOff, closing it resets the connection at once
// instead of lingering. kNoSocket and the error on failure.
SocketHandle OpenTcpSocket(bool lingerOff, int& error);
// Closes the socket; an interrupted close counts as done.
int CloseSocket(SocketHandle socket);
// Starts connecting; 0 when the connect is under way (its end is announced by the socket
// becoming writable), else the error.
int StartConnect(SocketHandle socket, quint32 address, quint16 port);
// The error a finished connect ended with, 0 when it succeeded.
int PendingSocketError(SocketHandle socket);
bool IsListening(SocketHandle socket);
// Never raises a signal when the peer has gone.
SocketIo SendSocket(SocketHandle socket, const char* data, qint64 size);
// Never blocks; with peek the bytes stay in the socket.
SocketIo ReceiveSocket(SocketHandle socket, char* data, qint64 size, bool peek);
// Bytes received and not read yet.
qint64 BytesWaiting(SocketHandle socket);
// Waits up to `milliseconds` for the socket to become readable (or writable).
void WaitForSocket(SocketHandle socket, bool forWriting, int milliseconds);
// Takes the next incoming connection of a listening socket, non-blocking like its listener.
SocketHandle AcceptConnection(SocketHandle socket, quint32& peerAddress, int& error);

// The local address of a connected socket, dotted ("192.168.1.20"); empty when it has none.
QByteArray LocalSocketAddress(SocketHandle socket);

// A dotted IPv4 address ("10.0.0.1" and the shorter forms inet_aton takes).
bool ParseIPv4(const QByteArray& text, quint32& address);
// Looks the name up (blocking: call it off the GUI thread) and gives its first IPv4 address;
// 0, or a lookup error (11001 to 11004) or a socket error.
int LookupIPv4(const QByteArray& name, quint32& address);

}  // namespace platform
}  // namespace qav
