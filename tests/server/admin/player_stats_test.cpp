// The player statistics window, the send-message dialog and the editor opened from it, against
// a live server core and real player clients.
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTreeWidget>

#include "admin_windows_fixture.h"
#include "protocol/properties.h"
#include "server/admin/send_message.h"

namespace tarvo::server {
namespace {

namespace msg = protocol::msg;

class PlayerStatsTest : public AdminWindowsTest {
 protected:
  QTreeWidget& rows() { return Control<QTreeWidget>(*stats_, "players_list"); }
  QPushButton& Button(const char* role) { return Control<QPushButton>(*stats_, role); }
  TSendFrame& dialog() { return stats_->send_dialog(); }
  TEditAccount& editor() { return accounts_window_->editor(); }

  void SendNickname(testing::ProtocolClient& client, std::string_view nickname) {
    std::string entries;
    protocol::PutEntry(entries, protocol::kPropNickname, 0, nickname);
    client.Send(msg::kProperties, entries);
    Settle();
  }
};

TEST_F(PlayerStatsTest, DisconnectEndsOnlyTheFirstSelectedPlayerWithTheReason) {
  testing::ProtocolClient& bob = Connect("bob", "b");
  testing::ProtocolClient& carl = Connect("carl", "d");
  stats_->show();
  ASSERT_EQ(rows().topLevelItemCount(), 2);
  EXPECT_EQ(rows().headerItem()->text(2), "Level");
  EXPECT_EQ(rows().columnWidth(6), 70);
  EXPECT_EQ(rows().topLevelItem(0)->text(2), "startlevel.x");
  EXPECT_EQ(rows().topLevelItem(0)->text(6), "270");
  // Selected last, but the first row in the list.
  rows().topLevelItem(1)->setSelected(true);
  rows().topLevelItem(0)->setSelected(true);
  QTest::keyClick(&rows(), Qt::Key_Delete);

  const auto reason = bob.WaitFor(msg::kDisconnectReason);
  ASSERT_TRUE(reason);
  EXPECT_EQ(reason->payload, "The server administrator has disconnected you.");
  EXPECT_TRUE(bob.WaitClosed());
  Settle();
  EXPECT_FALSE(carl.closed());
  ASSERT_EQ(server_->player_sessions().size(), 1u);
  EXPECT_EQ(server_->player_sessions().front()->account_name(), "carl");
  EXPECT_EQ(rows().topLevelItemCount(), 1) << "refilled after the disconnect";
}

TEST_F(PlayerStatsTest, MessagesGoAsTypedUnderTheAdministratorLine) {
  stats_->show();
  EXPECT_FALSE(Button("message_all_button").isEnabled());
  stats_->findChild<QPushButton*>("message_all_button")->click();
  EXPECT_FALSE(dialog().isVisible());

  testing::ProtocolClient& bob = Connect("bob", "b");
  SendNickname(bob, "Bobby");
  Button("update_button").click();
  EXPECT_TRUE(Button("message_all_button").isEnabled());
  EXPECT_FALSE(Button("message_button").isEnabled()) << "no row selected";
  Button("message_all_button").click();
  ASSERT_TRUE(dialog().isVisible());
  EXPECT_EQ(dialog().windowTitle(), "Send Message To All");
  QTest::keyClicks(&Control<QLineEdit>(dialog(), "message_edit"), " hi  ");
  Control<QPushButton>(dialog(), "send_button").click();
  EXPECT_FALSE(dialog().isVisible());
  const auto message = Take(bob, msg::kAdminMessage);
  ASSERT_EQ(message.size(), 1u);
  EXPECT_EQ(message[0].payload, "Server administrator:\xA7 hi  ");

  rows().topLevelItem(0)->setSelected(true);
  Button("message_button").click();
  EXPECT_EQ(dialog().windowTitle(), "Send Message To Bobby");
  EXPECT_TRUE(Control<QLineEdit>(dialog(), "message_edit").text().isEmpty());
  Control<QPushButton>(dialog(), "send_button").click();  // empty: nothing is sent
  Settle();
  EXPECT_TRUE(Take(bob, msg::kAdminMessage).empty());
}

TEST_F(PlayerStatsTest, EditingAPlayerWithoutAccountChangesOnlyTheLivePlayer) {
  testing::ProtocolClient& guest = Connect("guest", "g");
  const std::string guest_properties = Account("guest")->Properties;
  stats_->show();
  rows().topLevelItem(0)->setSelected(true);
  QTest::keyClick(&rows(), Qt::Key_Return);
  ASSERT_NE(editor().record(), nullptr);
  EXPECT_NE(editor().record(), Account("guest")) << "a record of its own, not the guest account";
  EXPECT_EQ(editor().record()->Name, "guest");
  EXPECT_FALSE(Control<QLineEdit>(editor(), "name_edit").isEnabled());
  QLineEdit& body = Control<QLineEdit>(editor(), "body_mesh_edit");
  ASSERT_TRUE(body.isEnabled());
  body.setText("robot.x");
  Control<QLineEdit>(editor(), "x_edit").setText(" 12.5");
  Control<QLineEdit>(editor(), "z_edit").setText("4,5");  // not a number: z stays
  guest.inbox().clear();
  Control<QPushButton>(editor(), "apply_button").click();

  const protocol::PropertySet& live = server_->player_sessions().front()->values();
  EXPECT_EQ(live.Text(protocol::kPropBodyMesh), "robot.x");
  EXPECT_EQ(live.Number(protocol::kPropX), 12.5);
  EXPECT_EQ(live.Number(protocol::kPropZ), 0);
  const auto own = Take(guest, msg::kOwnProperties);
  ASSERT_FALSE(own.empty());
  EXPECT_NE(own.back().payload.find("robot.x"), std::string::npos);
  EXPECT_EQ(rows().topLevelItem(0)->text(8), "robot.x") << "refreshed by the apply";
  EXPECT_EQ(server_->accounts().size(), 5u);
  EXPECT_EQ(accounts_window_->view().size(), 5u);
  EXPECT_EQ(Account("guest")->Properties, guest_properties);
}

TEST_F(PlayerStatsTest, ARowWhosePlayerLeftNeverReachesTheNextHolderOfItsId) {
  testing::ProtocolClient& first = Connect("guest", "g");
  stats_->show();
  rows().topLevelItem(0)->setSelected(true);
  Button("message_button").click();
  Button("edit_button").click();
  ASSERT_NE(editor().record(), nullptr);
  first.Close();
  for (int i = 0; i < 50 && !server_->player_sessions().empty(); ++i) Settle(1);
  ASSERT_TRUE(server_->player_sessions().empty());

  testing::ProtocolClient& next = Connect("guest", "g");
  ASSERT_EQ(server_->player_sessions().front()->id(), 1);
  next.inbox().clear();
  // The row still names the player who left.
  ASSERT_EQ(rows().topLevelItemCount(), 1);
  rows().clearSelection();
  rows().topLevelItem(0)->setSelected(true);
  EXPECT_FALSE(Button("edit_button").isEnabled());
  dialog().hide();
  Button("message_button").click();
  EXPECT_FALSE(dialog().isVisible());
  Button("disconnect_button").click();
  // So do the editor's temporary record and the dialog's target.
  Control<QLineEdit>(editor(), "body_mesh_edit").setText("robot.x");
  Control<QPushButton>(editor(), "apply_button").click();
  QTest::keyClicks(&Control<QLineEdit>(dialog(), "message_edit"), "hello");
  Control<QPushButton>(dialog(), "send_button").click();

  Settle();
  EXPECT_FALSE(next.closed());
  ASSERT_EQ(server_->player_sessions().size(), 1u);
  EXPECT_EQ(server_->player_sessions().front()->values().Text(protocol::kPropBodyMesh), "body.x");
  EXPECT_TRUE(Take(next, msg::kAdminMessage).empty());
  EXPECT_TRUE(Take(next, msg::kDisconnectReason).empty());
}

}  // namespace
}  // namespace tarvo::server
