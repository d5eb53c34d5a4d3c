#pragma once

// A real server core on a loopback port with the accounts window, the account editor and the
// player statistics window on it, and real protocol clients: the ground of the gui tests.

#include <gtest/gtest.h>

#include <QApplication>
#include <memory>
#include <string>
#include <vector>

#include "gui_support.h"
#include "protocol/messages.h"
#include "server/accounts/ui/account_list_window.h"
#include "server/admin/player_stats.h"
#include "server/core/fan_out_observer.h"
#include "server/core/server_frame.h"
#include "server/settle.h"
#include "server/temp_dir.h"
#include "support/protocol_client.h"

namespace tarvo::server {

class AdminWindowsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    testing::EnsureApplication();
    testing::WriteFile(dir_ / "levels/startlevel.x", "start");
    AccountStore accounts;
    accounts.AddNewAccount({"admin", "a", 3, false, false});
    accounts.AddNewAccount({"guest", "g", 0, true, false});
    accounts.AddNewAccount({"bob", "b", 0, false, false});
    accounts.AddNewAccount({"Alice", "c", 0, false, false});
    accounts.AddNewAccount({"carl", "d", 0, false, false});
    ASSERT_TRUE(accounts.SaveAccounts(dir_ / "accounts.txt").ok);
    server_ = std::make_unique<TServerFrame>(dir_.path(), &fan_out_);
    accounts_window_ = std::make_unique<TAccountList>(*server_);
    stats_ = std::make_unique<TPlayerStats>(*server_, accounts_window_->editor());
    fan_out_.Add(accounts_window_.get());
    fan_out_.Add(stats_.get());
    ASSERT_TRUE(server_->StartServer("0").ok());
  }

  void TearDown() override {
    fan_out_.Clear();
    stats_.reset();
    accounts_window_.reset();
  }

  void Settle(int ticks = 6) {
    server::Settle(*server_, clients_, ticks);
    QApplication::processEvents();
  }

  testing::ProtocolClient& Connect(std::string_view account, std::string_view password,
                                   int kind = protocol::msg::kPlayerLogin) {
    clients_.push_back(std::make_unique<testing::ProtocolClient>());
    testing::ProtocolClient& client = *clients_.back();
    EXPECT_TRUE(client.Connect(server_->port()));
    client.Login(account, password, protocol::kVersionCurrent, kind);
    Settle();
    return client;
  }

  /// The messages with `id` the client received so far; its inbox is emptied.
  std::vector<testing::Received> Take(testing::ProtocolClient& client, int id) {
    Settle();
    std::vector<testing::Received> out;
    for (const testing::Received& r : client.inbox())
      if (r.id == id) out.push_back(r);
    client.inbox().clear();
    return out;
  }

  TServerAccount* Account(std::string_view name) const {
    for (const auto& a : server_->accounts().accounts())
      if (a->Name == name) return a.get();
    return nullptr;
  }

  template <typename T>
  T& Control(QWidget& window, const char* role) {
    T* control = window.findChild<T*>(role);
    EXPECT_NE(control, nullptr) << role;
    return *control;
  }

  testing::TempDir dir_;
  FanOutObserver fan_out_;
  std::unique_ptr<TServerFrame> server_;
  std::unique_ptr<TAccountList> accounts_window_;
  std::unique_ptr<TPlayerStats> stats_;
  std::vector<std::unique_ptr<testing::ProtocolClient>> clients_;
};

}  // namespace tarvo::server
