#include "protocol/framing.h"

#include <spdlog/spdlog.h>

#include <algorithm>
#include <cstring>
#include <exception>

#include "protocol/compression.h"
#include "protocol/encoding.h"
#include "protocol/messages.h"

namespace tarvo::protocol {
namespace {

// A handler's failure must not stop the messages after it.
template <typename F>
void Guarded(F&& f) {
  try {
    f();
  } catch (const std::exception& e) {
    spdlog::warn("a message could not be handled: {}", e.what());
  } catch (...) {
    spdlog::warn("a message could not be handled");
  }
}

std::string MessageLine(int id, std::string_view payload) {
  std::string line;
  line.reserve(payload.size() + 2);
  line.push_back(static_cast<char>((id + 32) & 0xFF));
  line.append(payload);
  line.push_back('\n');
  return line;
}

}  // namespace

void ServerSplitter::Split(std::string_view batch, MessageSink& sink) {
  std::size_t start = 0;
  for (;;) {
    const std::size_t end = batch.find('\n', start);
    if (end == std::string_view::npos) return;
    std::string_view raw = batch.substr(start, end - start);
    Guarded([&] { sink.OnMessage(raw); });
    start = end + 1;
  }
}

void ClientSplitter::EnterLongMessageMode(int length) {
  if (length > 0) long_message_length_ = length;
}

void ClientSplitter::Split(std::string_view batch, MessageSink& sink) {
  std::size_t cursor = 0;
  while (cursor < batch.size()) {
    const std::size_t left = batch.size() - cursor;
    if (long_message_length_ > 0) {
      const std::size_t step = static_cast<std::size_t>(long_message_length_);
      // Too short for the whole long message: the rest of this batch is dropped and the next
      // batch starts with it.
      if (step > left) return;
      std::string_view raw = batch.substr(cursor, step);
      long_message_length_ = 0;
      Guarded([&] { sink.OnLongMessage(raw); });
      cursor += step;
      continue;
    }
    // A zero byte ends the data as far as the line search is concerned.
    std::string_view rest = batch.substr(cursor);
    const std::size_t zero = rest.find('\0');
    if (zero != std::string_view::npos) rest = rest.substr(0, zero);
    const std::size_t feed = rest.find('\n');
    if (feed == std::string_view::npos || feed == 0) return;  // no line feed, or an empty line
    std::string_view raw = rest.substr(0, feed);
    Guarded([&] { sink.OnMessage(raw); });
    cursor += feed + 1;
  }
}

PacketConnection::PacketConnection(ByteStream* stream, BatchSplitter& splitter,
                                   bool refuse_line_feeds)
    : stream_(stream), splitter_(splitter), refuse_line_feeds_(refuse_line_feeds) {}

QueueStatus PacketConnection::QueueMessage(int id, std::string_view payload) {
  if (refuse_line_feeds_ && payload.find('\n') != std::string_view::npos) {
    return QueueStatus::kRefusedLineFeed;
  }
  const std::size_t line_size = payload.size() + 2;
  QueueStatus status = QueueStatus::kQueued;
  if (batch_.size() + line_size >= kBatchLimit) status = FlushBatch();
  if (status == QueueStatus::kOverflow) return status;
  // One resize and a copy: the relay queues tens of thousands of short lines a tick.
  const std::size_t at = batch_.size();
  batch_.resize(at + line_size);
  char* line = batch_.data() + at;
  line[0] = static_cast<char>((id + 32) & 0xFF);
  if (!payload.empty()) std::memcpy(line + 1, payload.data(), payload.size());
  line[line_size - 1] = '\n';
  if (batch_.size() >= kBatchLimit) return FlushBatch();
  return QueueStatus::kQueued;
}

QueueStatus PacketConnection::QueueLongMessage(int id, std::string_view payload) {
  const std::string line = MessageLine(id, payload);
  const int length = static_cast<int>(line.size());
  if (line.size() < kBatchLimit) {
    // Shares a batch with others; a batch under 4096 bytes always fits a packet.
    QueueStatus status = QueueMessage(msg::kLongMessageFollows, BuildLongMessageFollows(length));
    if (status != QueueStatus::kQueued) return status;
    batch_.append(line);
    if (batch_.size() >= kBatchLimit) return FlushBatch();
    return QueueStatus::kQueued;
  }
  // Travels alone: compress it first, and announce it only when its packet can be framed.
  std::string packet;
  if (CompressAppend(line, packet, compressor_) == 0 || packet.size() > kMaxPacketBody) {
    if (observer_) observer_->OnBatchRefused(line.size(), packet.size());
    return QueueStatus::kRefusedTooLarge;
  }
  QueueStatus status = QueueMessage(msg::kLongMessageFollows, BuildLongMessageFollows(length));
  if (status != QueueStatus::kQueued) return status;
  if (!batch_.empty()) Seal();
  Sealed& alone = Seal();
  alone.batch.assign(line);
  alone.packet = std::move(packet);
  alone.compressed = true;
  --uncompressed_;
  return deferred_ ? QueueStatus::kQueued : CommitSealed();
}

QueueStatus PacketConnection::QueuePacket(std::string_view packet) {
  if (packet.empty() || packet.size() > kMaxPacketBody) {
    if (observer_) observer_->OnBatchRefused(0, packet.size());  // its batch is not known here
    return QueueStatus::kRefusedTooLarge;
  }
  // Nothing waits before it: it joins the output queue at once, without a copy in between.
  if (batch_.empty() && sealed_count_ == 0) return AppendPacket(packet, 0);
  if (!batch_.empty()) Seal();
  Sealed& ready = Seal();
  ready.batch.clear();
  ready.packet.assign(packet);
  ready.compressed = true;
  --uncompressed_;
  return deferred_ ? QueueStatus::kQueued : CommitSealed();
}

QueueStatus PacketConnection::FlushBatch() {
  if (batch_.empty()) return QueueStatus::kQueued;
  Seal();
  return deferred_ ? QueueStatus::kQueued : CommitSealed();
}

PacketConnection::Sealed& PacketConnection::Seal() {
  if (sealed_count_ == sealed_.size()) sealed_.emplace_back();
  Sealed& sealed = sealed_[sealed_count_++];
  sealed.batch.swap(batch_);
  batch_.clear();
  sealed.compressed = false;
  ++uncompressed_;
  return sealed;
}

void PacketConnection::CompressSealed() {
  for (std::size_t i = 0; i < sealed_count_ && uncompressed_ > 0; ++i) {
    Sealed& sealed = sealed_[i];
    if (sealed.compressed) continue;
    sealed.packet.clear();
    CompressAppend(sealed.batch, sealed.packet, compressor_);
    sealed.compressed = true;
    --uncompressed_;
  }
}

QueueStatus PacketConnection::CommitSealed() {
  CompressSealed();
  QueueStatus result = QueueStatus::kQueued;
  for (std::size_t i = 0; i < sealed_count_; ++i) {
    const Sealed& sealed = sealed_[i];
    QueueStatus status;
    if (sealed.packet.empty() || sealed.packet.size() > kMaxPacketBody) {
      // The 16-bit length cannot frame it (or it could not be compressed): refuse it rather than
      // send a packet that would desynchronise every packet after it.
      if (observer_) observer_->OnBatchRefused(sealed.batch.size(), sealed.packet.size());
      status = QueueStatus::kRefusedTooLarge;
    } else {
      status = AppendPacket(sealed.packet, sealed.batch.size());
    }
    if (status == QueueStatus::kOverflow || result == QueueStatus::kQueued) result = status;
  }
  sealed_count_ = 0;
  return result;
}

QueueStatus PacketConnection::AppendPacket(std::string_view compressed, std::size_t) {
  CompactOutput();
  output_.push_back(static_cast<char>((compressed.size() >> 8) & 0xFF));
  output_.push_back(static_cast<char>(compressed.size() & 0xFF));
  output_.append(compressed);
  ++packets_sent_;
  if (output_queue_size() >= kOutputQueueLimit) {
    output_.clear();
    output_head_ = 0;
    if (observer_) observer_->OnOutputOverflow();
    return QueueStatus::kOverflow;
  }
  return QueueStatus::kQueued;
}

void PacketConnection::CompactOutput() {
  if (output_head_ == 0) return;
  if (output_head_ >= output_.size()) {
    output_.clear();
    output_head_ = 0;
  } else if (output_head_ > output_.size() / 2) {
    output_.erase(0, output_head_);
    output_head_ = 0;
  }
}

SendStatus PacketConnection::SendPending() {
  if (!batch_.empty()) Seal();
  if (CommitSealed() == QueueStatus::kOverflow) return SendStatus::kOverflow;
  if (output_queue_size() == 0) return SendStatus::kDone;
  if (stream_ == nullptr) return SendStatus::kError;
  return OfferOutput();
}

SendStatus PacketConnection::OfferOutput() {
  while (output_queue_size() > 0) {
    const std::size_t left = output_queue_size();
    const std::size_t n = std::min(kSendChunk, left);
    const auto* piece = reinterpret_cast<const std::uint8_t*>(output_.data() + output_head_);
    // The pieces are small: all but the last say more follow, so they leave as few segments
    // rather than one each.
    const IoResult r = n < left ? stream_->SendMore(piece, n) : stream_->Send(piece, n);
    if (r.status == IoStatus::kWouldBlock) return SendStatus::kWouldBlock;
    if (r.status != IoStatus::kOk) return SendStatus::kError;
    if (r.bytes == 0) return SendStatus::kZeroAccepted;
    output_head_ += std::min(r.bytes, n);
    bytes_sent_ += r.bytes;
  }
  output_.clear();
  output_head_ = 0;
  return SendStatus::kDone;
}

ReceiveStatus PacketConnection::ReceivePending(MessageSink& sink) {
  if (receiving_) return ReceiveStatus::kBusy;
  if (stream_ == nullptr) return ReceiveStatus::kError;
  receiving_ = true;
  struct Reset {
    bool& flag;
    ~Reset() { flag = false; }
  } reset{receiving_};

  std::uint8_t chunk[kReceiveChunk];
  for (;;) {
    const IoResult r = stream_->Receive(chunk, sizeof chunk);
    if (r.status == IoStatus::kWouldBlock) return ReceiveStatus::kDrained;
    if (r.status == IoStatus::kClosed) return ReceiveStatus::kClosed;
    if (r.status != IoStatus::kOk) return ReceiveStatus::kError;
    if (r.bytes == 0) return ReceiveStatus::kClosed;
    bytes_received_ += r.bytes;
    if (input_head_ > 0 && input_head_ >= input_.size() / 2) {
      input_.erase(0, input_head_);
      input_head_ = 0;
    }
    input_.append(reinterpret_cast<const char*>(chunk), r.bytes);

    while (input_queue_size() >= 2) {
      const auto* head = reinterpret_cast<const unsigned char*>(input_.data() + input_head_);
      const std::size_t length = (static_cast<std::size_t>(head[0]) << 8) | head[1];
      if (input_queue_size() < length + 2) break;
      const std::string_view body(input_.data() + input_head_ + 2, length);
      const InflateResult result = InflateBounded(body, kMaxBatchSize, inflated_);
      if (result != InflateResult::kOk) {
        // Drop everything received: the stream cannot be trusted past a bad packet.
        input_.clear();
        input_head_ = 0;
        return ReceiveStatus::kDecompressError;
      }
      // Take the packet out before the handlers run, so nothing they do can see it twice.
      input_head_ += length + 2;
      ++packets_received_;
      std::string batch = std::move(inflated_);
      splitter_.Split(batch, sink);
      inflated_ = std::move(batch);
    }
    // A short read emptied the socket: asking again would only hear that it would block.
    if (r.bytes < sizeof chunk) return ReceiveStatus::kDrained;
  }
}

void PacketConnection::Clear() {
  batch_.clear();
  sealed_count_ = 0;
  uncompressed_ = 0;
  output_.clear();
  output_head_ = 0;
  input_.clear();
  input_head_ = 0;
}

std::optional<std::string> BuildDatagram(int id, std::string_view payload) {
  if (payload.find('\n') != std::string_view::npos) return std::nullopt;
  std::string out;
  out.reserve(payload.size() + 1);
  out.push_back(static_cast<char>((id + 32) & 0xFF));
  out.append(payload);
  return out;
}

}  // namespace tarvo::protocol
