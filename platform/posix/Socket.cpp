#include "platform/Socket.h"

#include "platform/posix/SocketErrno.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>
#include <cerrno>

namespace qav::platform {

namespace {

struct ErrnoEntry {
  int error;
  int number;
};

// The Windows numbers are the BSD errno values plus 10000; the platform's values differ, so
// each one is named. EPIPE (a send after the peer went away) reads as a reset, which is what
// Windows reports in that case.
constexpr ErrnoEntry kErrnoMap[] = {
    {EINTR, 10004},           {EBADF, 10009},        {EACCES, 10013},
    {EPERM, 10013},           {EFAULT, 10014},       {EINVAL, 10022},
    {EMFILE, 10024},          {ENFILE, 10024},       {EAGAIN, 10035},
    {EWOULDBLOCK, 10035},     {EINPROGRESS, 10036},  {EALREADY, 10037},
    {ENOTSOCK, 10038},        {EDESTADDRREQ, 10039}, {EMSGSIZE, 10040},
    {EPROTOTYPE, 10041},      {ENOPROTOOPT, 10042},  {EPROTONOSUPPORT, 10043},
    {ESOCKTNOSUPPORT, 10044}, {EOPNOTSUPP, 10045},   {EPFNOSUPPORT, 10046},
    {EAFNOSUPPORT, 10047},    {EADDRINUSE, 10048},   {EADDRNOTAVAIL, 10049},
    {ENETDOWN, 10050},        {ENETUNREACH, 10051},  {ENETRESET, 10052},
    {ECONNABORTED, 10053},    {ECONNRESET, 10054},   {EPIPE, 10054},
    {ENOBUFS, 10055},         {ENOMEM, 10055},       {EISCONN, 10056},
    {ENOTCONN, 10057},        {ESHUTDOWN, 10058},    {ETOOMANYREFS, 10059},
    {ETIMEDOUT, 10060},       {ECONNREFUSED, 10061}, {ELOOP, 10062},
    {ENAMETOOLONG, 10063},    {EHOSTDOWN, 10064},    {EHOSTUNREACH, 10065},
    {ENOTEMPTY, 10066},       {EUSERS, 10068},       {EDQUOT, 10069},
    {ESTALE, 10070},          {EREMOTE, 10071},
};

int LastError() {
  return SocketErrorFromErrno(errno);
}

int Fd(SocketHandle socket) {
  return static_cast<int>(socket);
}

}  // namespace

int SocketErrorFromErrno(int error) {
  for (const ErrnoEntry& entry : kErrnoMap)
    if (entry.error == error) return entry.number;
  return 10000 + error;
}

int SocketErrorFromLookup(int result) {
  switch (result) {
    case 0:
      return 0;
    case EAI_NONAME:
      return sockerr::HostNotFound;
    case EAI_AGAIN:
      return sockerr::TryAgain;
    case EAI_FAIL:
      return sockerr::NoRecovery;
    case EAI_SYSTEM:
      return SocketErrorFromErrno(errno);
    default:
      return sockerr::NoData;
  }
}

SocketHandle OpenTcpSocket(bool lingerOff, int& error) {
  error = 0;
  const int fd =
      ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, lingerOff ? IPPROTO_TCP : 0);
  if (fd < 0) {
    error = LastError();
    return kNoSocket;
  }
  if (lingerOff) {
    const linger noLinger{1, 0};
    if (::setsockopt(fd, SOL_SOCKET, SO_LINGER, &noLinger, sizeof noLinger) != 0) {
      error = LastError();
      ::close(fd);
      return kNoSocket;
    }
  }
  return fd;
}

int CloseSocket(SocketHandle socket) {
  if (::close(Fd(socket)) == 0 || errno == EINTR) return 0;
  return LastError();
}

int StartConnect(SocketHandle socket, quint32 address, quint16 port) {
  sockaddr_in remote{};
  remote.sin_family = AF_INET;
  remote.sin_port = htons(port);
  remote.sin_addr.s_addr = address;
  if (::connect(Fd(socket), reinterpret_cast<const sockaddr*>(&remote), sizeof remote) == 0)
    return 0;
  // An interrupted connect goes on in the background, as one in progress does.
  if (errno == EINPROGRESS || errno == EINTR) return 0;
  return LastError();
}

int PendingSocketError(SocketHandle socket) {
  int error = 0;
  socklen_t size = sizeof error;
  if (::getsockopt(Fd(socket), SOL_SOCKET, SO_ERROR, &error, &size) != 0) error = errno;
  return error ? SocketErrorFromErrno(error) : 0;
}

bool IsListening(SocketHandle socket) {
  int listening = 0;
  socklen_t size = sizeof listening;
  return ::getsockopt(Fd(socket), SOL_SOCKET, SO_ACCEPTCONN, &listening, &size) == 0 && listening;
}

SocketIo SendSocket(SocketHandle socket, const char* data, qint64 size) {
  const ssize_t n = ::send(Fd(socket), data, static_cast<size_t>(size), MSG_NOSIGNAL);
  if (n < 0) return {0, LastError()};
  return {n, 0};
}

SocketIo ReceiveSocket(SocketHandle socket, char* data, qint64 size, bool peek) {
  const ssize_t n =
      ::recv(Fd(socket), data, static_cast<size_t>(size), MSG_DONTWAIT | (peek ? MSG_PEEK : 0));
  if (n < 0) return {0, LastError()};
  return {n, 0};
}

qint64 BytesWaiting(SocketHandle socket) {
  int waiting = 0;
  return ::ioctl(Fd(socket), FIONREAD, &waiting) == 0 ? waiting : 0;
}

void WaitForSocket(SocketHandle socket, bool forWriting, int milliseconds) {
  pollfd pfd{Fd(socket), static_cast<short>(forWriting ? POLLOUT : POLLIN), 0};
  ::poll(&pfd, 1, milliseconds);
}

SocketHandle AcceptConnection(SocketHandle socket, quint32& peerAddress, int& error) {
  sockaddr_in peer{};
  socklen_t size = sizeof peer;
  const int fd = ::accept4(Fd(socket), reinterpret_cast<sockaddr*>(&peer), &size,
                           SOCK_NONBLOCK | SOCK_CLOEXEC);
  if (fd < 0) {
    error = LastError();
    return kNoSocket;
  }
  error = 0;
  peerAddress = peer.sin_addr.s_addr;
  return fd;
}

QByteArray LocalSocketAddress(SocketHandle socket) {
  sockaddr_in local{};
  socklen_t size = sizeof local;
  if (::getsockname(Fd(socket), reinterpret_cast<sockaddr*>(&local), &size) != 0 ||
      local.sin_family != AF_INET)
    return {};
  char text[INET_ADDRSTRLEN] = {};
  if (!::inet_ntop(AF_INET, &local.sin_addr, text, sizeof text)) return {};
  return QByteArray(text);
}

bool ParseIPv4(const QByteArray& text, quint32& address) {
  in_addr dotted{};
  if (text.isEmpty() || ::inet_aton(text.constData(), &dotted) == 0) return false;
  address = dotted.s_addr;
  return true;
}

int LookupIPv4(const QByteArray& name, quint32& address) {
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  const int result = ::getaddrinfo(name.constData(), nullptr, &hints, &found);
  if (result != 0) return SocketErrorFromLookup(result);
  int error = sockerr::NoData;
  for (addrinfo* entry = found; entry; entry = entry->ai_next) {
    if (entry->ai_family != AF_INET) continue;
    address = reinterpret_cast<sockaddr_in*>(entry->ai_addr)->sin_addr.s_addr;
    error = 0;
    break;
  }
  ::freeaddrinfo(found);
  return error;
}

}  // namespace qav::platform
