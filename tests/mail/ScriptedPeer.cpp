#include "tests/mail/ScriptedPeer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#include <chrono>
#include <stdexcept>

namespace qav::test {

namespace {

constexpr int kStepLimitMs = 30000;
constexpr int kTickMs = 10;

}  // namespace

ScriptedPeer::ScriptedPeer(std::vector<PeerStep> script) {
  listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof address;
  if (listener_ < 0 || ::bind(listener_, reinterpret_cast<sockaddr*>(&address), size) != 0 ||
      ::listen(listener_, 1) != 0 ||
      ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &size) != 0)
    throw std::runtime_error("scripted peer: cannot listen on loopback");
  port_ = ntohs(address.sin_port);
  thread_ = std::thread([this, script = std::move(script)]() mutable { Run(std::move(script)); });
}

ScriptedPeer::~ScriptedPeer() {
  stop_ = true;
  thread_.join();
  if (connection_ >= 0) ::close(connection_);
  ::close(listener_);
}

std::string ScriptedPeer::Received() const {
  std::lock_guard lock(mutex_);
  return received_;
}

bool ScriptedPeer::WaitForBytes(size_t count, int ms) const {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  while (std::chrono::steady_clock::now() < end) {
    if (Received().size() >= count) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(kTickMs));
  }
  return false;
}

bool ScriptedPeer::WaitForClientClose(int ms) const {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  while (!clientClosed_ && std::chrono::steady_clock::now() < end)
    std::this_thread::sleep_for(std::chrono::milliseconds(kTickMs));
  return clientClosed_;
}

bool ScriptedPeer::Accept() {
  for (int waited = 0; waited < kStepLimitMs && !stop_; waited += kTickMs) {
    pollfd pfd{listener_, POLLIN, 0};
    if (::poll(&pfd, 1, kTickMs) <= 0) continue;
    connection_ = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
    if (connection_ < 0) return false;
    const int on = 1;
    ::setsockopt(connection_, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    return true;
  }
  return false;
}

bool ScriptedPeer::ReadSome(int ms) {
  if (clientClosed_) return false;
  pollfd pfd{connection_, POLLIN, 0};
  if (::poll(&pfd, 1, ms) <= 0) return true;
  char chunk[4096];
  const ssize_t n = ::recv(connection_, chunk, sizeof chunk, 0);
  if (n <= 0) {
    clientClosed_ = true;
    return false;
  }
  std::lock_guard lock(mutex_);
  received_.append(chunk, static_cast<size_t>(n));
  return true;
}

bool ScriptedPeer::AwaitText(const std::string& terminator) {
  for (int waited = 0; waited < kStepLimitMs && !stop_; waited += kTickMs) {
    {
      std::lock_guard lock(mutex_);
      const size_t at = received_.find(terminator, consumed_);
      if (at != std::string::npos) {
        consumed_ = at + terminator.size();
        return true;
      }
    }
    if (!ReadSome(kTickMs)) return false;
  }
  return false;
}

void ScriptedPeer::Run(std::vector<PeerStep> script) {
  if (!Accept()) return;
  bool ok = true;
  for (const PeerStep& step : script) {
    if (stop_) return;
    switch (step.kind) {
      case PeerStep::Send:
        ok = ::send(connection_, step.text.data(), step.text.size(), MSG_NOSIGNAL) ==
             static_cast<ssize_t>(step.text.size());
        break;
      case PeerStep::Line:
        ok = AwaitText("\n");
        break;
      case PeerStep::Data:
        ok = AwaitText("\r\n.\r\n");
        break;
      case PeerStep::Pause:
        // Nothing is read meanwhile, so a client's send buffer can fill up.
        for (int waited = 0; waited < step.ms && !stop_; waited += kTickMs)
          std::this_thread::sleep_for(std::chrono::milliseconds(kTickMs));
        break;
      case PeerStep::Close:
        ::shutdown(connection_, SHUT_WR);
        break;
    }
    if (!ok) return;
  }
  completed_ = true;
  while (!stop_ && ReadSome(kTickMs)) {
  }
}

}  // namespace qav::test
