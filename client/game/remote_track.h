#pragma once

#include <chrono>
#include <deque>
#include <glm/vec3.hpp>

namespace tarvo::client {

/// Where a remote avatar is drawn: position, heading in degrees and walk-cycle time.
struct RemotePose {
  glm::vec3 position{0.0f};
  double angle = 0.0;
  double anim_time = 0.0;
};

/// The walk-cycle time the fraction `f` of the way from `a` to `b`; a step from near 40 to a
/// small time is the cycle wrapping, not a walk backwards.
double BetweenAnimTimes(double a, double b, double f);

/// The recent poses received for one remote player, and the pose to draw: about 100 ms in the
/// past, between the two poses around that moment. Peers report once per 50 ms tick, so the
/// poses are laid 50 ms apart, and a playback clock runs through them at nearly real speed
/// (never more than 5 % off), pulled gently towards the arrivals' average lateness. Jittery
/// arrivals then change nothing but that average: a steady walker glides at a steady speed.
class RemoteTrack {
 public:
  using Clock = std::chrono::steady_clock;
  /// How far behind the average arrival the avatar is drawn: a 50 ms step plus room for 40 ms
  /// of jitter and some for the estimate.
  static constexpr std::chrono::milliseconds kDelay{110};
  /// A jump longer than this is a teleport: drawn at once, never glided.
  static constexpr float kTeleportDistance = 200.0f;

  /// Records a pose that arrived at `arrival` (not before the previous arrival).
  void Add(Clock::time_point arrival, const RemotePose& pose);
  /// Moves the playback clock on to `now` (not before the previous call) and gives the pose to
  /// draw then; the last pose once the track has run out.
  RemotePose Advance(Clock::time_point now);
  bool empty() const { return entries_.empty(); }

 private:
  struct Entry {
    double time_ms;  // on the track's timeline: 50 ms per pose
    RemotePose pose;
  };
  double Ms(Clock::time_point t) const;
  void Restart(double arrival_ms, const RemotePose& pose);

  Clock::time_point base_{};
  std::deque<Entry> entries_;
  double next_time_ms_ = 0.0;  // where the next pose goes on the timeline
  double lateness_ms_ = 0.0;   // average of arrival minus timeline
  int lateness_samples_ = 0;
  double playback_ms_ = 0.0;   // the playback clock, on the timeline
  double played_at_ms_ = 0.0;  // when it was last advanced
};

}  // namespace tarvo::client
