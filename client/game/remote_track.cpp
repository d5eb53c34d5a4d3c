#include "client/game/remote_track.h"

#include <algorithm>
#include <cmath>
#include <glm/geometric.hpp>

namespace tarvo::client {
namespace {

// Peers report once per 50 ms tick.
constexpr double kStepMs = 50.0;
// A pose this much later than its place on the timeline follows a pause: the track starts anew.
constexpr double kPauseMs = 150.0;
// The playback clock runs at most this much fast or slow ...
constexpr double kMaxRateChange = 0.05;
// ... by this much per millisecond it is off, and jumps when it is off by more than a second.
constexpr double kRateGainPerMs = 0.01;
constexpr double kSnapMs = 1000.0;
// The lateness is the plain average of the first poses, then a running one over about as many.
constexpr int kLatenessWindow = 20;
// A track starts further behind, while its lateness is still a guess; the playback clock
// makes this up within half a second.
constexpr double kStartMarginMs = 20.0;
// Poses kept: a second's worth and more.
constexpr size_t kMaxEntries = 32;
// The walk cycle's times run 1 to 40 and wrap.
constexpr double kWalkCycle = 40.0;

bool SamePose(const RemotePose& a, const RemotePose& b) {
  return a.position == b.position && a.angle == b.angle && a.anim_time == b.anim_time;
}

double LerpAngle(double a, double b, double f) {
  double d = std::fmod(b - a, 360.0);
  if (d > 180.0) d -= 360.0;
  if (d < -180.0) d += 360.0;
  const double r = std::fmod(a + d * f, 360.0);
  return r < 0.0 ? r + 360.0 : r;
}

double DelayMs() { return std::chrono::duration<double, std::milli>(RemoteTrack::kDelay).count(); }

}  // namespace

double BetweenAnimTimes(double a, double b, double f) {
  if (a > 0.0 && b > 0.0 && b < a - kWalkCycle / 2) b += kWalkCycle;
  const double r = a + (b - a) * f;
  return r > kWalkCycle ? r - kWalkCycle : r;
}

double RemoteTrack::Ms(Clock::time_point t) const {
  return std::chrono::duration<double, std::milli>(t - base_).count();
}

void RemoteTrack::Restart(double arrival_ms, const RemotePose& pose) {
  entries_.clear();
  entries_.push_back({arrival_ms, pose});
  next_time_ms_ = arrival_ms + kStepMs;
  lateness_ms_ = 0.0;
  lateness_samples_ = 1;
  playback_ms_ = arrival_ms - DelayMs() - kStartMarginMs;
  played_at_ms_ = arrival_ms;
}

void RemoteTrack::Add(Clock::time_point arrival, const RemotePose& pose) {
  if (entries_.empty()) {
    base_ = arrival;
    Restart(0.0, pose);  // the first pose shows at once and stays for the delay
    return;
  }
  const Entry& last = entries_.back();
  if (SamePose(last.pose, pose)) return;
  const double at = Ms(arrival);
  if (glm::distance(last.pose.position, pose.position) > kTeleportDistance) {
    Restart(at, pose);  // drawn at once
    return;
  }
  const double late = at - next_time_ms_ - lateness_ms_;
  if (late > kPauseMs) {
    // After a pause the avatar stood at its last pose until one step before this one, so it
    // sets off at walking speed rather than creeping over the whole pause.
    const RemotePose held = last.pose;
    Restart(at, pose);
    entries_.push_front({at - kStepMs, held});
    return;
  }
  entries_.push_back({next_time_ms_, pose});
  lateness_samples_ = std::min(lateness_samples_ + 1, kLatenessWindow);
  lateness_ms_ += (at - next_time_ms_ - lateness_ms_) / lateness_samples_;
  next_time_ms_ += kStepMs;
  while (entries_.size() > kMaxEntries) entries_.pop_front();
}

RemotePose RemoteTrack::Advance(Clock::time_point now) {
  if (entries_.empty()) return {};
  const double at = Ms(now);
  const double wanted = at - DelayMs() - lateness_ms_;
  const double elapsed = std::max(0.0, at - played_at_ms_);
  const double off = wanted - (playback_ms_ + elapsed);
  if (std::fabs(off) > kSnapMs) {
    playback_ms_ = wanted;
  } else {
    const double rate = 1.0 + std::clamp(off * kRateGainPerMs, -kMaxRateChange, kMaxRateChange);
    playback_ms_ += elapsed * rate;
  }
  played_at_ms_ = std::max(played_at_ms_, at);

  const double t = playback_ms_;
  if (t <= entries_.front().time_ms) return entries_.front().pose;
  if (t >= entries_.back().time_ms) return entries_.back().pose;
  auto next = std::upper_bound(entries_.begin(), entries_.end(), t,
                               [](double v, const Entry& e) { return v < e.time_ms; });
  const Entry& b = *next;
  const Entry& a = *(next - 1);
  const double f = (t - a.time_ms) / (b.time_ms - a.time_ms);
  RemotePose pose;
  pose.position = a.pose.position + (b.pose.position - a.pose.position) * static_cast<float>(f);
  pose.angle = LerpAngle(a.pose.angle, b.pose.angle, f);
  pose.anim_time = BetweenAnimTimes(a.pose.anim_time, b.pose.anim_time, f);
  return pose;
}

}  // namespace tarvo::client
