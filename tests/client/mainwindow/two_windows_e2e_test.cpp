#include <gtest/gtest.h>

#include <QApplication>
#include <QTest>
#include <chrono>
#include <functional>

#include "client/mainwindow/adventure_window.h"
#include "client/mainwindow/window_test_app.h"
#include "support/kserver_process.h"

namespace tarvo::client {
namespace {

// One player: a main window with its settings, connected to the test's server.
struct Player {
  Player(const std::string& nickname, std::uint16_t port, bool no_udp) {
    window = std::make_unique<TAdventure>(window_test::TestPaths(nickname));
    window->game().LocalPlayer().Nickname = nickname;
    settings.ServerPort = std::to_string(port);
    settings.NoUdp = no_udp;
    window->show();
    window->StartSession(settings);
  }
  TPlayer& Me() { return window->game().LocalPlayer(); }
  ClientSettings settings;
  std::unique_ptr<TAdventure> window;
};

class TwoWindowsE2E : public ::testing::TestWithParam<bool> {
 protected:
  void SetUp() override {
    window_test::WindowTestApp();
    ASSERT_TRUE(server.Start()) << server.Log();
    a = std::make_unique<Player>("Ann", server.port(), false);
    b = std::make_unique<Player>("Bob", server.port(), GetParam());
    for (Player* p : {a.get(), b.get()}) {
      ASSERT_TRUE(QTest::qWaitForWindowExposed(p->window.get()));
    }
    ASSERT_TRUE(TickUntil([&] { return Copy(*b, *a) != nullptr && Copy(*a, *b) != nullptr; }))
        << server.Log();
  }
  // What `observer` holds of `mover`.
  static TPlayer* Copy(Player& observer, Player& mover) {
    return observer.window->world().FindOtherPlayer(mover.Me().Id);
  }
  // Both windows tick every 50 ms, as their frame timers do, until `done` or 10 s.
  bool TickUntil(const std::function<bool()>& done, int limit_ticks = 200) {
    for (int i = 0; i < limit_ticks; ++i) {
      Tick();
      if (done()) return true;
    }
    return false;
  }
  void Tick() {
    for (Player* p : {a.get(), b.get()}) {
      p->window->game().SetApplicationActive(true);
      p->window->Tick();
    }
    QTest::qWait(50);
  }
  testing::KServerProcess server;
  std::unique_ptr<Player> a, b;
};

TEST_P(TwoWindowsE2E, KeysMoveTheAvatarInTheOtherSceneAndChatArrives) {
  a->window->game().input().Press(GameKey::kPad8);
  for (int i = 0; i < 40; ++i) Tick();
  a->window->game().input().Release(GameKey::kPad8);
  const glm::vec3 moved = GameWorld::Objects(a->Me())->frame->GetPosition(nullptr);
  EXPECT_GT(glm::length(moved), 200.0f);
  // Bob's scene shows Ann's avatar where Ann stands, to the wire's half-unit resolution.
  ASSERT_TRUE(TickUntil([&] {
    TPlayer* copy = Copy(*b, *a);
    AvatarEngineObjects* avatar = copy ? GameWorld::Objects(*copy) : nullptr;
    if (avatar == nullptr) return false;
    const glm::vec3 seen = avatar->frame->GetPosition(nullptr);
    const glm::vec3 there = GameWorld::Objects(a->Me())->frame->GetPosition(nullptr);
    return std::abs(seen.x - there.x) <= 0.5f && std::abs(seen.z - there.z) <= 0.5f;
  })) << "Bob's copy of Ann never reached where she stands";

  QLineEdit& line = a->window->chat_line();
  QTest::mouseClick(&line, Qt::LeftButton);
  line.setText("hello Bob");
  QTest::keyClick(&line, Qt::Key_Return);
  EXPECT_TRUE(TickUntil([&] {
    const auto& lines = b->window->game().ChatLines();
    return std::find(lines.begin(), lines.end(), "Ann: hello Bob") != lines.end();
  }));
}

INSTANTIATE_TEST_SUITE_P(OverUdpAndWithout, TwoWindowsE2E, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "BobWithoutUdp" : "Udp"; });

}  // namespace
}  // namespace tarvo::client
