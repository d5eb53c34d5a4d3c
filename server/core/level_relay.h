#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "protocol/compression.h"
#include "protocol/shared_deflate.h"

namespace tarvo::server {

class LevelCache;
class TServerPlayer;

/// The movement a level's players relay in one tick, collected once in arrival order instead of
/// being appended to every other player's batch, and sent at the end of the tick as one stream
/// per audience: players without UDP receive every line, players with UDP only the lines of
/// players without it. Each recipient's packets are that stream minus its own lines.
///
/// Order. A recipient's own batch (everything else it was sent: logins, level entries and
/// departures, looks, nicknames, chat from the operator, its own properties) is flushed before
/// its packets of the stream, so a line about another player can only be moved later than the
/// batch messages queued beside it in the tick, never earlier. That is harmless unless a batch
/// message about the same player has to come after the line: its departure or removal, its level
/// entry seen again, or a property message holding movement, or a change of who may see which
/// line (a player entering or leaving the level, a UDP port changing). Every such event calls
/// `FlushToBatches` first, which queues the lines collected so far into the batches exactly as
/// the relay always did, so those lines keep their place before the event. Between two events
/// the level's players and their UDP ports stay the same, so the stream's recipients are the
/// ones each line had when it arrived, and a client never applies a movement of a player it has
/// not yet been told about or has been told has left.
class LevelRelay {
 public:
  /// Whether a movement-only relay payload may wait for the shared stream. A zero byte ends a
  /// client's packet early, so a payload holding one keeps the batch it always had.
  static bool Shareable(std::string_view payload);

  /// Collects one movement-only relay (the payload of message 2) of `owner`.
  void Add(const TServerPlayer& owner, std::string_view payload);
  bool empty() const { return owners_.empty(); }
  /// Queues the collected lines into the batches of `players` (line by line, as the relay
  /// always did) and forgets them.
  void FlushToBatches(const std::vector<TServerPlayer*>& players);
  /// The tick's end: every player's share of the stream joins its output queue behind its own
  /// batch, and is sent at once when `send_now`.
  void Deliver(const std::vector<TServerPlayer*>& players, protocol::Compressor compressor,
               bool send_now);

 private:
  struct Line {
    const TServerPlayer* owner;
    bool owner_udp;
    std::size_t start;  // in `text_`: the whole message line
    std::size_t size;
  };
  std::string text_;
  std::vector<Line> owners_;
  protocol::RelayPackets all_;        // for players without UDP
  protocol::RelayPackets tcp_only_;   // for players with UDP
  std::vector<std::string> packets_;  // scratch
  std::uint64_t ticks_ = 0;
};

/// Delivers the relay streams of every level with lines waiting (the tick's last step).
void DeliverLevelRelays(LevelCache& levels, protocol::Compressor compressor, bool send_now);

}  // namespace tarvo::server
