#include "client/game/remote_track.h"

#include <gtest/gtest.h>

#include <glm/geometric.hpp>
#include <random>

namespace tarvo::client {
namespace {

using std::chrono::milliseconds;
using TimePoint = RemoteTrack::Clock::time_point;

TimePoint At(double ms) {
  return TimePoint{} + std::chrono::duration_cast<RemoteTrack::Clock::duration>(
                           std::chrono::duration<double, std::milli>(ms));
}

// A peer running along x at 12 units per 50 ms tick for `steps` ticks, each pose arriving
// up to 40 ms early or late (in order, as a stream delivers them). Frames every 10 ms.
TEST(RemoteTrack, SteadyWalkerUnderJitterIsDrawnAtASteadySpeed) {
  constexpr double kTrueSpeed = 12.0 / 50.0;  // units per ms
  for (unsigned seed = 1; seed <= 100; ++seed) {
    std::mt19937 random(seed);
    std::uniform_real_distribution<double> jitter(-40.0, 40.0);
    constexpr int kSteps = 100;
    std::vector<double> arrivals;
    for (int i = 0; i < kSteps; ++i) {
      const double nominal = 1000.0 + 50.0 * i + jitter(random);
      arrivals.push_back(arrivals.empty() ? nominal : std::max(arrivals.back(), nominal));
    }
    RemoteTrack track;
    size_t next = 0;
    float previous_x = 0.0f;
    for (double now = 1000.0; now < arrivals.back(); now += 10.0) {
      while (next < arrivals.size() && arrivals[next] <= now) {
        track.Add(At(arrivals[next]), {{12.0f * next, 0.0f, 5.0f}, 90.0, 1.0});
        ++next;
      }
      const RemotePose pose = track.Advance(At(now));
      if (now >= arrivals.front() + 200.0 + 10.0) {
        const double speed = (pose.position.x - previous_x) / 10.0;
        ASSERT_NEAR(speed, kTrueSpeed, kTrueSpeed * 0.10) << "seed " << seed << " at " << now;
      }
      previous_x = pose.position.x;
    }
    for (; next < arrivals.size(); ++next) {
      track.Add(At(arrivals[next]), {{12.0f * next, 0.0f, 5.0f}, 90.0, 1.0});
    }
    // It stops: drawn at its last position 150 ms after that was due.
    const double due = 1000.0 + 50.0 * (kSteps - 1);
    EXPECT_EQ(track.Advance(At(due + 150.0)).position.x, 12.0f * (kSteps - 1)) << "seed " << seed;
  }
}

TEST(RemoteTrack, TeleportIsDrawnAtOnceAndAStopWithin150Ms) {
  RemoteTrack track;
  for (int i = 0; i < 10; ++i) track.Add(At(50.0 * i), {{10.0f * i, 0.0f, 0.0f}, 0.0, 1.0});
  // Stopped: the last pose arrived at 450 ms.
  EXPECT_NEAR(track.Advance(At(450)).position.x, 68.0f, 4.1f) << "about 110 ms behind";
  EXPECT_EQ(track.Advance(At(600)).position, glm::vec3(90.0f, 0.0f, 0.0f));
  EXPECT_EQ(track.Advance(At(2000)).position, glm::vec3(90.0f, 0.0f, 0.0f));

  // 201 units away: placed at once.
  track.Add(At(2000), {{291.0f, 0.0f, 0.0f}, 180.0, 0.0});
  EXPECT_EQ(track.Advance(At(2000)).position, glm::vec3(291.0f, 0.0f, 0.0f));
  EXPECT_EQ(track.Advance(At(2000)).angle, 180.0);

  // Setting off again after the pause starts at walking pace, not with a jump.
  track.Add(At(3000), {{301.0f, 0.0f, 0.0f}, 180.0, 3.0});
  EXPECT_EQ(track.Advance(At(3050)).position.x, 291.0f);
  const float x = track.Advance(At(3080)).position.x;
  EXPECT_GT(x, 291.0f);
  EXPECT_LT(x, 301.0f);
  EXPECT_EQ(track.Advance(At(3130)).position.x, 301.0f);
}

TEST(RemoteTrack, HeadingTakesTheShortWayAndTheWalkCycleWraps) {
  RemoteTrack track;
  track.Add(At(0), {{0.0f, 0.0f, 0.0f}, 350.0, 38.0});
  track.Add(At(50), {{10.0f, 0.0f, 0.0f}, 10.0, 2.0});
  bool between = false;
  for (int ms = 0; ms <= 400; ms += 10) {
    const RemotePose pose = track.Advance(At(ms));
    EXPECT_TRUE(pose.angle >= 350.0 || pose.angle <= 10.0) << pose.angle;
    EXPECT_TRUE(pose.anim_time >= 38.0 || pose.anim_time <= 2.0) << pose.anim_time;
    between = between || (pose.angle > 355.0 && pose.anim_time > 39.0);
  }
  EXPECT_TRUE(between);
}

}  // namespace
}  // namespace tarvo::client
