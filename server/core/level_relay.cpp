#include "server/core/level_relay.h"

#include <cstdio>
#include <cstdlib>

#include "protocol/messages.h"
#include "server/core/server_level.h"
#include "server/core/server_player.h"

namespace tarvo::server {

namespace msg = protocol::msg;

bool LevelRelay::Shareable(std::string_view payload) {
  return payload.find('\0') == std::string_view::npos;
}

void LevelRelay::Add(const TServerPlayer& owner, std::string_view payload) {
  const std::size_t start = text_.size();
  text_.push_back(static_cast<char>(msg::kOtherPlayer + 32));
  text_.append(payload);
  text_.push_back('\n');
  owners_.push_back({&owner, owner.udp_port() > 0, start, text_.size() - start});
}

void LevelRelay::FlushToBatches(const std::vector<TServerPlayer*>& players) {
  for (const Line& line : owners_) {
    const std::string_view payload(text_.data() + line.start + 1, line.size - 2);
    for (TServerPlayer* p : players) {
      if (p == line.owner) continue;
      if (!line.owner_udp || p->udp_port() <= 0) p->QueueMessage(msg::kOtherPlayer, payload);
    }
  }
  owners_.clear();
  text_.clear();
}

void LevelRelay::Deliver(const std::vector<TServerPlayer*>& players,
                         protocol::Compressor compressor, bool send_now) {
  if (owners_.empty()) return;
  bool udp_recipients = false;
  for (const TServerPlayer* p : players) udp_recipients = udp_recipients || p->udp_port() > 0;
  all_.Reset(compressor);
  tcp_only_.Reset(compressor);
  for (const Line& line : owners_) {
    const std::string_view text(text_.data() + line.start, line.size);
    all_.Add(text, line.owner->serial());
    if (udp_recipients && !line.owner_udp) tcp_only_.Add(text, line.owner->serial());
  }
  owners_.clear();
  text_.clear();
  all_.Prepare();
  if (!tcp_only_.empty()) tcp_only_.Prepare();

#ifndef NDEBUG
  // The packets come from a hand-written deflate: in debug and sanitizer builds one recipient a
  // tick is inflated and compared with the batches the relay used to build.
  const std::size_t checked = players.empty() ? 0 : ticks_ % players.size();
#endif
  ++ticks_;
  for (std::size_t k = 0; k < players.size(); ++k) {
    TServerPlayer& p = *players[k];
    protocol::RelayPackets& stream = p.udp_port() > 0 ? tcp_only_ : all_;
    if (!p.is_connected() || stream.empty()) continue;
    stream.PacketsFor(p.serial(), packets_);
#ifndef NDEBUG
    if (k == checked && !stream.Verify(p.serial(), packets_)) {
      std::fprintf(stderr, "relay stream of player %d does not inflate to its batches\n", p.id());
      std::abort();
    }
#endif
    for (const std::string& packet : packets_) {
      if (p.connection().QueuePacket(packet) == protocol::QueueStatus::kOverflow) {
        p.MarkOverflowed();
        break;
      }
    }
    if (send_now && !packets_.empty()) p.SendPending();
  }
}

void DeliverLevelRelays(LevelCache& levels, protocol::Compressor compressor, bool send_now) {
  for (const auto& level : levels.levels()) {
    if (!level->relay().empty()) level->relay().Deliver(level->players(), compressor, send_now);
  }
}

}  // namespace tarvo::server
