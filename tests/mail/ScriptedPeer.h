#pragma once

#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace qav::test {

// One step of a scripted peer.
struct PeerStep {
  enum Kind { Send, Line, Data, Pause, Close };
  Kind kind;
  std::string text;
  int ms = 0;
};

// Sends the bytes in one packet.
inline PeerStep Send(std::string bytes) {
  return {PeerStep::Send, std::move(bytes)};
}
// Waits for the client's next line.
inline PeerStep AwaitLine() {
  return {PeerStep::Line, {}};
}
// Waits for the client's data up to the CR LF "." CR LF that ends it.
inline PeerStep AwaitData() {
  return {PeerStep::Data, {}};
}
inline PeerStep Pause(int ms) {
  return {PeerStep::Pause, {}, ms};
}
// Half-closes: the client reads the end of the stream; what it still sends is recorded.
inline PeerStep Close() {
  return {PeerStep::Close, {}};
}

// A TCP peer on 127.0.0.1 for what a real server will not do on demand. It accepts one
// connection and plays its script on a thread of its own, recording every byte the client
// sends; after the script it goes on recording until the client closes. Every wait gives up
// in the end, so that a faulty client cannot hang the suite, but only after a time that leaves
// a loaded machine room: a wait that succeeds returns at once.
class ScriptedPeer {
 public:
  explicit ScriptedPeer(std::vector<PeerStep> script);
  ~ScriptedPeer();

  int Port() const { return port_; }
  // Everything the client sent so far.
  std::string Received() const;
  // Waits (without an event loop) until the client has sent at least that many bytes.
  bool WaitForBytes(size_t count, int ms = 30000) const;
  // Waits until the client closed its end.
  bool WaitForClientClose(int ms = 30000) const;
  // The script ran to its end without a wait giving up.
  bool Completed() const { return completed_; }

 private:
  void Run(std::vector<PeerStep> script);
  bool Accept();
  // Reads what has arrived, waiting up to ms; false once the client has closed.
  bool ReadSome(int ms);
  bool AwaitText(const std::string& terminator);

  int listener_ = -1;
  int connection_ = -1;
  int port_ = 0;
  mutable std::mutex mutex_;
  std::string received_;
  size_t consumed_ = 0;
  std::atomic<bool> stop_{false};
  std::atomic<bool> clientClosed_{false};
  std::atomic<bool> completed_{false};
  std::thread thread_;
};

}  // namespace qav::test
