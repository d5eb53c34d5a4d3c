#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "protocol/byte_stream.h"
#include "protocol/compression.h"

namespace tarvo::protocol {

inline constexpr std::size_t kBatchLimit = 4096;          ///< a batch this long is flushed
inline constexpr std::size_t kOutputQueueLimit = 262144;  ///< output this long is discarded
inline constexpr std::size_t kSendChunk = 256;            ///< bytes offered per send call
inline constexpr std::size_t kReceiveChunk = 1024;        ///< bytes read per receive call
inline constexpr std::size_t kMaxBatchSize = 256000;      ///< decompressed bound of one packet
inline constexpr std::size_t kMaxPacketBody = 65535;      ///< what the 16-bit length can frame

/// Receives the messages taken out of a batch. `raw` is the id byte and payload, without the
/// terminator (possibly empty for an empty line).
class MessageSink {
 public:
  virtual ~MessageSink() = default;
  virtual void OnMessage(std::string_view raw) = 0;
  /// A long message of exactly the announced length, terminator included.
  virtual void OnLongMessage(std::string_view raw) { (void)raw; }
};

/// A side's rule for taking a decompressed batch apart.
class BatchSplitter {
 public:
  virtual ~BatchSplitter() = default;
  virtual void Split(std::string_view batch, MessageSink& sink) = 0;
};

/// The server's rule: every message ending in a line feed is handed over, empty ones included;
/// bytes after the last line feed are dropped.
class ServerSplitter final : public BatchSplitter {
 public:
  void Split(std::string_view batch, MessageSink& sink) override;
};

/// The player client's rule: a zero byte or an empty line ends the packet, an unterminated tail
/// is dropped, and after message 100 the announced number of bytes is taken whole, across packet
/// boundaries when the batch ends first.
class ClientSplitter final : public BatchSplitter {
 public:
  void Split(std::string_view batch, MessageSink& sink) override;
  /// Called by the handler of message 100: the next `length` bytes form one message. A length
  /// of 0 or less announces nothing and is ignored, so it cannot stall every later packet.
  void EnterLongMessageMode(int length);
  bool long_message_mode() const { return long_message_length_ > 0; }
  int long_message_length() const { return long_message_length_; }
  void Reset() { long_message_length_ = 0; }

 private:
  int long_message_length_ = 0;
};

/// Told about framing events that the owner must act on or log.
class FramingObserver {
 public:
  virtual ~FramingObserver() = default;
  /// The output queue reached its limit and was discarded: the connection must close.
  virtual void OnOutputOverflow() {}
  /// A batch compressed to more than the 16-bit length can frame and was not sent.
  virtual void OnBatchRefused(std::size_t batch_size, std::size_t compressed_size) {
    (void)batch_size;
    (void)compressed_size;
  }
};

enum class QueueStatus {
  kQueued,
  kRefusedLineFeed,  ///< the client does not send payloads holding a line feed
  kRefusedTooLarge,  ///< its packet could not be framed; nothing was queued
  kOverflow,         ///< a flush overflowed the output queue; the connection must close
};

enum class SendStatus {
  kDone,          ///< the output queue is empty
  kWouldBlock,    ///< the socket takes no more now
  kZeroAccepted,  ///< the socket accepted 0 bytes
  kError,         ///< the socket failed
  kOverflow,      ///< the flush before sending overflowed the output queue
};

enum class ReceiveStatus {
  kDrained,          ///< the socket had nothing more; the connection stays open
  kClosed,           ///< the peer closed the connection
  kError,            ///< the socket failed
  kDecompressError,  ///< a packet did not decompress within the bound; the input was discarded
  kBusy,             ///< called again from inside a handler; nothing was done
};

/// Batching, packets and compression of one TCP connection, the same for both programs: messages
/// are queued into a batch, batches become zlib packets with a 16-bit length, packets leave in
/// pieces of at most 256 bytes, and received packets are reassembled, decompressed and split by
/// the side's policy.
class PacketConnection {
 public:
  /// `stream` may be null for a connection without a socket; `refuse_line_feeds` is the
  /// client's rule.
  PacketConnection(ByteStream* stream, BatchSplitter& splitter, bool refuse_line_feeds);

  void SetStream(ByteStream* stream) { stream_ = stream; }
  void SetObserver(FramingObserver* observer) { observer_ = observer; }
  /// The deflate that writes this connection's packets.
  void SetCompressor(Compressor compressor) { compressor_ = compressor; }
  /// When set, a flushed batch is only sealed: its compression waits for `CompressSealed` (on
  /// any thread) or for the next `SendPending`, whichever comes first, so that the batches of
  /// many connections can be compressed side by side. The output queue limit is checked when
  /// the packets join the queue.
  void SetDeferredCompression(bool deferred) { deferred_ = deferred; }

  /// Appends one message (id byte, payload, terminator) to the outgoing batch, flushing before
  /// when it would reach 4096 bytes and after when it has.
  QueueStatus QueueMessage(int id, std::string_view payload);
  /// Queues message 100 announcing the message, then the message itself, whose payload may hold
  /// any byte. Refused whole when the message's packet could not be framed, so the receiver is
  /// never told to wait for bytes that do not come.
  QueueStatus QueueLongMessage(int id, std::string_view payload);
  /// Queues a packet body compressed elsewhere (a relay stream shared by many connections)
  /// behind everything queued so far, the open batch first.
  QueueStatus QueuePacket(std::string_view packet);
  /// Compresses the batch into one packet at the end of the output queue (with deferred
  /// compression: seals it, in order, for a later compression).
  QueueStatus FlushBatch();
  /// Whether sealed batches wait for compression.
  bool HasUncompressed() const { return uncompressed_ > 0; }
  /// Whether anything waits to leave: an open or sealed batch, or bytes in the output queue.
  bool HasOutput() const { return !batch_.empty() || sealed_count_ > 0 || output_queue_size() > 0; }
  /// Compresses the sealed batches. Touches nothing but them, so different connections may do
  /// this on different threads at once while their owner waits.
  void CompressSealed();
  /// Flushes, compresses what is sealed, then offers the output queue to the stream in pieces
  /// of at most 256 bytes, all but the last through `SendMore`.
  SendStatus SendPending();
  /// Reads everything the stream holds (1024 bytes per call, until a read comes back short),
  /// reassembles packets and hands every message of every complete packet to `sink` through the
  /// splitter. A close behind the data read is reported by the next call.
  ReceiveStatus ReceivePending(MessageSink& sink);

  /// Forgets queued, unsent and unread bytes (the connection is ending).
  void Clear();

  const std::string& outgoing_batch() const { return batch_; }
  std::size_t output_queue_size() const { return output_.size() - output_head_; }
  std::size_t input_queue_size() const { return input_.size() - input_head_; }
  std::uint64_t bytes_sent() const { return bytes_sent_; }
  std::uint64_t bytes_received() const { return bytes_received_; }
  std::uint64_t packets_sent() const { return packets_sent_; }
  std::uint64_t packets_received() const { return packets_received_; }

 private:
  // A flushed batch and, once compressed, its packet body.
  struct Sealed {
    std::string batch;
    std::string packet;
    bool compressed = false;
  };

  Sealed& Seal();
  // Moves the sealed packets, in order, to the output queue; compresses any left first.
  QueueStatus CommitSealed();
  QueueStatus AppendPacket(std::string_view compressed, std::size_t batch_size);
  SendStatus OfferOutput();
  void CompactOutput();

  ByteStream* stream_;
  BatchSplitter& splitter_;
  bool refuse_line_feeds_;
  FramingObserver* observer_ = nullptr;
  Compressor compressor_ = kDefaultCompressor;
  bool deferred_ = false;
  bool receiving_ = false;

  std::string batch_;
  std::string output_;
  std::size_t output_head_ = 0;
  std::string input_;
  std::size_t input_head_ = 0;
  std::vector<Sealed> sealed_;  // the first `sealed_count_` are in use; the rest keep capacity
  std::size_t sealed_count_ = 0;
  std::size_t uncompressed_ = 0;
  std::string inflated_;  // scratch, reused

  std::uint64_t bytes_sent_ = 0;
  std::uint64_t bytes_received_ = 0;
  std::uint64_t packets_sent_ = 0;
  std::uint64_t packets_received_ = 0;
};

/// A UDP datagram: id byte and payload, no terminator. Nothing when the payload holds a line
/// feed (such a datagram is never sent).
std::optional<std::string> BuildDatagram(int id, std::string_view payload);

}  // namespace tarvo::protocol
