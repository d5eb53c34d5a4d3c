#pragma once

#include <cmath>
#include <string>

#include "protocol/messages.h"
#include "protocol/properties.h"

namespace tarvo::testing {

/// The property entries a load-benchmark player sends in `tick`: a walk round a circle of 300
/// units, a turning view and a running animation clock.
inline std::string LoadMovement(int player, int tick) {
  const double angle = (player * 7 + tick) * 0.05;
  std::string out;
  protocol::PutEntry(out, protocol::kPropX, 300 * std::cos(angle));
  protocol::PutEntry(out, protocol::kPropY, 0);
  protocol::PutEntry(out, protocol::kPropZ, 300 * std::sin(angle));
  protocol::PutEntry(out, protocol::kPropViewAngle, (player * 13 + tick * 4) % 360);
  protocol::PutEntry(out, protocol::kPropAnimationTime, (tick * 3) % 1000);
  return out;
}

/// The relayed line other players receive for that movement (message 2, its line feed included).
inline std::string LoadMovementRelay(int player, int tick) {
  std::string line(1, static_cast<char>(protocol::msg::kOtherPlayer + 32));
  line += protocol::BuildPlayerEntries(player, LoadMovement(player, tick));
  line.push_back('\n');
  return line;
}

}  // namespace tarvo::testing
