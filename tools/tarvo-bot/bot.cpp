#include "tools/tarvo-bot/bot.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <sstream>

#include "protocol/properties.h"

namespace tarvo::bot {
namespace {

constexpr double kStep = 5;  // scene units per tick: a brisk walk
constexpr double kCircleRadius = 60;
constexpr double kLineHalfLength = 100;
constexpr double kRoamRadius = 300;  // random walkers stay this close to where they started
constexpr double kDegrees = 180 / std::numbers::pi;

double NormalisedDegrees(double degrees) {
  degrees = std::fmod(degrees, 360.0);
  return degrees < 0 ? degrees + 360 : degrees;
}

}  // namespace

bool ParseWalkPattern(const std::string& text, WalkPattern& pattern) {
  if (text == "circle") {
    pattern = WalkPattern::kCircle;
  } else if (text == "line") {
    pattern = WalkPattern::kLine;
  } else if (text == "random") {
    pattern = WalkPattern::kRandom;
  } else if (text == "still") {
    pattern = WalkPattern::kStill;
  } else {
    return false;
  }
  return true;
}

Bot::Bot(const BotOptions& options, int index)
    : options_(options),
      nickname_(options.nick_prefix + std::to_string(index)),
      random_(static_cast<std::uint32_t>(index) * 7919u + 17u),
      next_chat_(options.chat_seconds > 0 ? options.chat_seconds : 0) {
  settings_.ServerAddress = options.host;
  settings_.ServerPort = options.port;
  settings_.AccountName = options.account;
  settings_.AccountPassword = options.password;
  settings_.NoUdp = options.no_udp;
  world_.LocalPlayer().Nickname = nickname_;
  world_.SetChat(this);
  // Bots start at different phases so a crowd does not walk in lockstep.
  phase_ = static_cast<double>(index) * 37.0;
}

Bot::~Bot() {
  session_.reset();
  world_.SetChat(nullptr);
}

bool Bot::Connect() {
  client::SessionOptions session_options;
  session_options.level_directory = options_.level_directory;
  session_ = std::make_unique<client::TAdventureClient>(settings_, world_, *this, session_options);
  was_connected_ = session_->Connected();
  return was_connected_;
}

void Bot::Tick(double seconds) {
  // The order of the game client's tick.
  if (world_.CurrentSession() != nullptr) session_->ReceiveTcp();
  if (world_.CurrentSession() != nullptr) session_->ReceiveUdp();
  if (!Connected()) return;
  if (LoggedIn() && levels_entered_ > 0) {
    Walk();
    if (options_.chat_seconds > 0 && seconds >= next_chat_) {
      next_chat_ = seconds + options_.chat_seconds;
      client::TPlayer& me = world_.LocalPlayer();
      me.ChatText = "hello " + std::to_string(++chats_sent_) + " from " + nickname_;
      std::string entry(1, protocol::kProperties[protocol::kPropChatText].code());
      entry += me.EncodeProperty(protocol::kPropChatText);
      me.ApplyProperties(entry, true);
      session_->SendChat(me.ChatText);
    }
  }
  world_.LocalPlayer().ReportChanges();
  if (world_.CurrentSession() != nullptr) session_->SendPending();
}

void Bot::Walk() {
  client::TPlayer& me = world_.LocalPlayer();
  if (!has_centre_) {
    has_centre_ = true;
    centre_x_ = me.X;
    centre_z_ = me.Z;
  }
  switch (options_.walk) {
    case WalkPattern::kStill:
      me.AnimTime = 0;
      return;
    case WalkPattern::kCircle: {
      phase_ += kStep / kCircleRadius * kDegrees;
      const double a = phase_ / kDegrees;
      me.X = centre_x_ + kCircleRadius * std::cos(a);
      me.Z = centre_z_ + kCircleRadius * std::sin(a);
      me.Angle = NormalisedDegrees(phase_ + 90);
      break;
    }
    case WalkPattern::kLine: {
      phase_ += kStep;
      const double span = 4 * kLineHalfLength;
      const double t = std::fmod(phase_, span);
      const bool outward = t < span / 2;
      me.X = centre_x_ - kLineHalfLength + (outward ? t : span - t);
      me.Z = centre_z_;
      me.Angle = outward ? 0 : 180;
      break;
    }
    case WalkPattern::kRandom: {
      if (heading_ticks_-- <= 0) {
        heading_ticks_ = std::uniform_int_distribution<int>(10, 40)(random_);
        me.Angle = NormalisedDegrees(std::uniform_real_distribution<double>(0, 360)(random_));
      }
      const double a = me.Angle / kDegrees;
      double x = me.X + kStep * std::cos(a);
      double z = me.Z + kStep * std::sin(a);
      if (std::hypot(x - centre_x_, z - centre_z_) > kRoamRadius) {
        me.Angle = NormalisedDegrees(me.Angle + 180);  // turn back at the edge
        x = me.X;
        z = me.Z;
      }
      me.X = x;
      me.Z = z;
      break;
    }
  }
  me.AnimTime = me.AnimTime % 40 + 1;  // the walk cycle, 1 to 40
}

void Bot::ShowMessage(std::string_view text, std::string_view) {
  shown_.emplace_back(text);
  // The session shows the reason right after it has marked itself unconnected.
  if (was_connected_ && session_ != nullptr && !session_->Connected()) {
    disconnect_text_ = std::string(text);
  }
}

void Bot::LoadLevel(const std::filesystem::path&) { ++levels_entered_; }

void Bot::AddChatLine(const std::string& line) {
  if (line.rfind(world_.LocalPlayer().Nickname + ": ", 0) != 0) ++chats_seen_;
}

SwarmTotals Tally(const std::vector<std::unique_ptr<Bot>>& bots) {
  SwarmTotals t;
  for (const auto& bot : bots) {
    ++t.bots;
    if (bot->Connected()) ++t.connected;
    if (bot->LoggedIn()) ++t.logged_in;
    if (bot->levels_entered() > 0) ++t.in_level;
    t.chats_sent += bot->chats_sent();
    t.chats_seen += bot->chats_seen();
    if (bot->ConnectFailed()) {
      ++t.connect_failures;
      ++t.connect_failure_texts[bot->shown().empty() ? std::string() : bot->shown().front()];
    }
    if (bot->Disconnected()) {
      ++t.disconnects;
      ++t.disconnect_texts[bot->disconnect_text()];
    }
    const client::TAdventureClient* s = bot->session();
    if (s == nullptr) continue;
    const client::SessionStats& st = s->Stats();
    t.messages_sent += st.messages_sent;
    t.messages_received += st.messages_received;
    t.bytes_sent += s->BytesSent();
    t.bytes_received += s->BytesReceived();
    t.tcp_movements += st.tcp_movements;
    t.udp_movements += st.udp_movements;
    t.datagrams_sent += st.datagrams_sent;
    t.datagrams_received += st.datagrams_received;
    t.datagrams_dropped += st.datagrams_dropped;
  }
  return t;
}

std::string StatusLine(double seconds, const SwarmTotals& t) {
  std::ostringstream out;
  out.setf(std::ios::fixed);
  out.precision(1);
  out << "[" << seconds << "s] bots " << t.bots << ", connected " << t.connected << ", logged in "
      << t.logged_in << ", in a level " << t.in_level << " | messages " << t.messages_sent
      << " sent, " << t.messages_received << " received | movements seen " << t.tcp_movements
      << " TCP, " << t.udp_movements << " UDP | datagrams " << t.datagrams_sent << " sent, "
      << t.datagrams_received << " received | chat " << t.chats_sent << " said, " << t.chats_seen
      << " heard | disconnects " << t.disconnects;
  return out.str();
}

std::string Summary(double seconds, const SwarmTotals& t) {
  std::ostringstream out;
  out.setf(std::ios::fixed);
  out.precision(1);
  out << "Summary after " << seconds << " s\n"
      << "  logins:               " << t.logged_in << " of " << t.bots << " bots (" << t.in_level
      << " entered a level)\n"
      << "  messages sent:        " << t.messages_sent << " (" << t.bytes_sent << " bytes)\n"
      << "  messages received:    " << t.messages_received << " (" << t.bytes_received
      << " bytes)\n"
      << "  relayed movements:    " << t.tcp_movements + t.udp_movements << " (" << t.tcp_movements
      << " over TCP, " << t.udp_movements << " over UDP)\n"
      << "  UDP datagrams:        " << t.datagrams_sent << " sent, " << t.datagrams_received
      << " received, " << t.datagrams_dropped << " dropped\n"
      << "  chat lines:           " << t.chats_sent << " said, " << t.chats_seen << " heard\n"
      << "  failed connects:      " << t.connect_failures << "\n";
  for (const auto& [text, count] : t.connect_failure_texts) {
    out << "    " << count << " x \"" << text << "\"\n";
  }
  out << "  disconnects:          " << t.disconnects << "\n";
  for (const auto& [text, count] : t.disconnect_texts) {
    out << "    " << count << " x \"" << text << "\"\n";
  }
  return out.str();
}

}  // namespace tarvo::bot
