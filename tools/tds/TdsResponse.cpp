#include "tools/tds/TdsResponse.h"

namespace qav::tds {

Writer& Response::Tokens() {
  if (hasPendingDone_) WritePendingDone(true);
  return buffer_;
}

void Response::Done(Token kind, std::uint16_t status, std::uint16_t command, std::uint64_t rows) {
  if (hasPendingDone_) WritePendingDone(true);
  hasPendingDone_ = true;
  pendingKind_ = kind;
  pendingStatus_ = status;
  pendingCommand_ = command;
  pendingRows_ = rows;
}

void Response::WritePendingDone(bool more) {
  hasPendingDone_ = false;
  WriteDone(buffer_, pendingKind_, more ? (pendingStatus_ | kDoneMore) : pendingStatus_,
            pendingCommand_, pendingRows_);
}

bool Response::Flush() {
  if (cancelled_) return true;
  const qsizetype room = channel_.PacketSize() - kHeaderSize;
  // Keep at least one byte back, so that the final packet is never empty.
  const qsizetype ready = (buffer_.Size() - 1) / room * room;
  if (ready <= 0) return false;
  if (!channel_.Send(std::string_view(buffer_.Data().constData(), static_cast<std::size_t>(ready)),
                     false)) {
    cancelled_ = true;
    return true;
  }
  buffer_.Data().remove(0, ready);
  sent_ = true;
  if (channel_.AttentionArrived(0)) cancelled_ = true;
  return cancelled_;
}

void Response::Finish() {
  if (finished_) return;
  finished_ = true;
  if (cancelled_) {
    // What was begun ends as its own message (its tokens whole, so that the client can skip
    // them); the acknowledgement of the attention follows as a message of its own.
    hasPendingDone_ = false;
    if (sent_)
      channel_.Send(
          std::string_view(buffer_.Data().constData(), static_cast<std::size_t>(buffer_.Size())),
          true);
    buffer_.Clear();
    WriteDone(buffer_, Token::Done, kDoneAttention, 0, 0);
  } else if (hasPendingDone_) {
    WritePendingDone(false);
  }
  channel_.Send(
      std::string_view(buffer_.Data().constData(), static_cast<std::size_t>(buffer_.Size())), true);
  buffer_.Clear();
}

}  // namespace qav::tds
