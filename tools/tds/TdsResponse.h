#pragma once

#include "tools/tds/TdsChannel.h"
#include "tools/tds/TdsTokens.h"

namespace qav::tds {

// The token stream of one response, sent packet by packet as it grows, so that a large result
// never sits whole in memory and an attention from the client is seen while rows are going
// out. The last DONE token is held back until it is known whether more follow: only the final
// one goes without the "more" bit.
class Response {
 public:
  explicit Response(Channel& channel) : channel_(channel) {}
  Response(const Response&) = delete;
  Response& operator=(const Response&) = delete;

  // Where tokens are appended; writes the held-back DONE first.
  Writer& Tokens();
  void Done(Token kind, std::uint16_t status, std::uint16_t command, std::uint64_t rows);

  // Sends the whole packets that are ready and looks for an attention; true once the client
  // has cancelled (or gone), after which the caller should stop producing tokens.
  bool Flush();
  bool Cancelled() const { return cancelled_; }
  // Marks the response as cancelled, as an attention found elsewhere does.
  void Cancel() { cancelled_ = true; }
  // Sends the rest with the end-of-message flag; a cancelled response ends what it had begun
  // to send, and the DONE that acknowledges the attention follows as a message of its own.
  void Finish();

 private:
  void WritePendingDone(bool more);

  Channel& channel_;
  Writer buffer_;
  bool cancelled_ = false;
  bool finished_ = false;
  bool sent_ = false;  // packets of this response have gone out
  bool hasPendingDone_ = false;
  Token pendingKind_ = Token::Done;
  std::uint16_t pendingStatus_ = 0, pendingCommand_ = 0;
  std::uint64_t pendingRows_ = 0;
};

}  // namespace qav::tds
