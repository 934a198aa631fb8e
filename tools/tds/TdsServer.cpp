#include "tools/tds/TdsServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace qav::tds {

namespace {

// How often the accept loop looks whether it should stop.
constexpr int kAcceptPollMs = 100;

}  // namespace

Server::Server(ServerOptions options) : options_(std::move(options)) {}

Server::~Server() {
  Stop();
}

void Server::Start(std::uint16_t port) {
  listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (listener_ < 0) throw std::runtime_error(std::string("socket: ") + std::strerror(errno));
  const int yes = 1;
  ::setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(port);
  socklen_t length = sizeof address;
  if (::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      ::listen(listener_, 64) != 0 ||
      ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    const std::string reason = std::strerror(errno);
    ::close(listener_);
    listener_ = -1;
    throw std::runtime_error("cannot listen on 127.0.0.1:" + std::to_string(port) + ": " + reason);
  }
  port_ = ntohs(address.sin_port);
  stopping_ = false;
  acceptThread_ = std::thread([this] { AcceptLoop(); });
}

void Server::AcceptLoop() {
  std::uint16_t spid = 51;  // SQL Server's user sessions start above the system ones
  while (!stopping_) {
    pollfd p{listener_, POLLIN, 0};
    if (::poll(&p, 1, kAcceptPollMs) <= 0) continue;
    const int fd = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) continue;
    const int yes = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &yes, sizeof yes);
    ++accepted_;
    std::lock_guard lock(mutex_);
    Reap(false);
    Connection& c = connections_.emplace_back();
    c.session = std::make_unique<Session>(fd, options_, spid++);
    c.finished = std::make_shared<std::atomic<bool>>(false);
    c.thread = std::thread([session = c.session.get(), finished = c.finished] {
      session->Run();
      *finished = true;
    });
  }
}

void Server::Reap(bool all) {
  for (auto it = connections_.begin(); it != connections_.end();) {
    if (all || *it->finished) {
      if (all) it->session->Drop();
      if (it->thread.joinable()) it->thread.join();
      it = connections_.erase(it);
    } else {
      ++it;
    }
  }
}

void Server::DropConnections() {
  std::lock_guard lock(mutex_);
  for (Connection& c : connections_)
    if (!*c.finished) c.session->Drop();
}

void Server::Stop() {
  if (listener_ < 0) return;
  stopping_ = true;
  if (acceptThread_.joinable()) acceptThread_.join();
  ::close(listener_);
  listener_ = -1;
  std::lock_guard lock(mutex_);
  Reap(true);
}

}  // namespace qav::tds
