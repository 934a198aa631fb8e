#pragma once

#include "tools/tds/TdsSession.h"

#include <atomic>
#include <list>
#include <memory>
#include <mutex>
#include <thread>

namespace qav::tds {

// Serves an embedded suite to SQL Server's clients on 127.0.0.1, a thread per connection.
class Server {
 public:
  explicit Server(ServerOptions options);
  Server(const Server&) = delete;
  Server& operator=(const Server&) = delete;
  ~Server();

  // Listens on `port`, any free one for 0; raises std::runtime_error when it cannot.
  void Start(std::uint16_t port = 0);
  std::uint16_t Port() const { return port_; }
  // Closes the listener and every connection, and waits for their threads.
  void Stop();
  // Cuts every open connection, as a server that goes down does; new ones are still taken.
  void DropConnections();
  // Connections accepted so far.
  int Accepted() const { return accepted_; }

 private:
  struct Connection {
    std::unique_ptr<Session> session;
    std::thread thread;
    std::shared_ptr<std::atomic<bool>> finished;
  };

  void AcceptLoop();
  void Reap(bool all);

  ServerOptions options_;
  int listener_ = -1;
  std::uint16_t port_ = 0;
  std::atomic<bool> stopping_{false};
  std::atomic<int> accepted_{0};
  std::thread acceptThread_;
  std::mutex mutex_;
  std::list<Connection> connections_;
};

}  // namespace qav::tds
