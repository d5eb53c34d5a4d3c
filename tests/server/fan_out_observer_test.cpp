// The fan-out observer: every notice reaches every observer, and one that leaves hears no more.
#include "server/core/fan_out_observer.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "server/core/server_frame.h"
#include "support/fake_stream.h"
#include "temp_dir.h"

namespace tarvo::server {
namespace {

// Counts every notice, so that a notice the fan-out forgets to forward shows as a short count.
class CountingObserver : public ServerObserver {  // every notice, so a new one must be counted
 public:
  void ServerStarted(const ServerStartInfo&) override { ++calls; }
  void SessionCountChanged(int) override { ++calls; }
  void AccountViewChanged(const TServerAccount&) override { ++calls; }
  void AccountRemoved(const TServerAccount&) override { ++calls; }
  void PlayerListChanged() override { ++calls; }
  void SessionAccepted(const TServerPlayer&) override { ++calls; }
  void ConnectionRefused(std::uint32_t, std::string_view, std::string_view) override { ++calls; }
  void PlayerLoggedIn(const TServerPlayer&) override { ++calls; }
  void LoginRefused(const TServerPlayer&, std::string_view) override { ++calls; }
  void SessionClosed(const TServerPlayer&, std::string_view) override { ++calls; }
  void PacketRefused(const TServerPlayer&, std::size_t, std::size_t) override { ++calls; }
  void AccountsSaved(const AccountSaveResult&) override { ++calls; }
  void LevelLoaded(const TServerLevel&, bool) override { ++calls; }
  void LevelNotFound(std::string_view) override { ++calls; }
  void LevelDropped(std::string_view) override { ++calls; }
  void Note(std::string_view) override { ++calls; }
  int calls = 0;
};

TEST(FanOutObserverTest, ForwardsEveryNoticeToEveryObserver) {
  FanOutObserver fan_out;
  CountingObserver a, b;
  fan_out.Add(&a);
  fan_out.Add(&b);
  fan_out.Add(&a);  // a duplicate would hear everything twice
  testing::TempDir dir;
  TServerFrame server(dir.path());
  const TServerPlayer session(server, std::make_unique<testing::FakeStream>(), 1, 0);
  const TServerAccount account;
  const TServerLevel level(server.files(), "x");
  ServerObserver& o = fan_out;
  o.ServerStarted({});
  o.SessionCountChanged(1);
  o.AccountViewChanged(account);
  o.AccountRemoved(account);
  o.PlayerListChanged();
  o.SessionAccepted(session);
  o.ConnectionRefused(0, "", "");
  o.PlayerLoggedIn(session);
  o.LoginRefused(session, "x");
  o.SessionClosed(session, "x");
  o.PacketRefused(session, 1, 2);
  o.AccountsSaved({});
  o.LevelLoaded(level, false);
  o.LevelNotFound("x");
  o.LevelDropped("x");
  o.Note("x");
  EXPECT_EQ(a.calls, 16);
  EXPECT_EQ(b.calls, 16);
}

TEST(FanOutObserverTest, ObserverRemovedDuringANoticeHearsNoMore) {
  FanOutObserver fan_out;
  CountingObserver second;
  struct Closer : CountingObserver {
    void Note(std::string_view) override { fan_out->Remove(other); }
    FanOutObserver* fan_out = nullptr;
    ServerObserver* other = nullptr;
  } first;
  first.fan_out = &fan_out;
  first.other = &second;
  fan_out.Add(&first);
  fan_out.Add(&second);
  fan_out.Note("closing");
  fan_out.Note("again");
  EXPECT_EQ(second.calls, 0);
  EXPECT_EQ(fan_out.size(), 1u);
}

}  // namespace
}  // namespace tarvo::server
