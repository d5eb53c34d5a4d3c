// The accounts window and the account editor against a live server core, players and a
// remote-control client.
#include <QCheckBox>
#include <QLineEdit>
#include <QListView>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QTreeWidget>

#include "admin_windows_fixture.h"
#include "protocol/properties.h"
#include "server/accounts/stored_properties.h"
#include "server/accounts/ui/field_text.h"
#include "server/app/windowed_server.h"

namespace tarvo::server {
namespace {

namespace msg = protocol::msg;

class AccountsWindowTest : public AdminWindowsTest {
 protected:
  TEditAccount& editor() { return accounts_window_->editor(); }
  QListView& list() { return Control<QListView>(*accounts_window_, "accounts_list"); }

  void SelectGroup(int group) {
    QTreeWidget& tree = Control<QTreeWidget>(*accounts_window_, "groups_tree");
    QTreeWidgetItem* root = tree.topLevelItem(0);
    tree.setCurrentItem(group < 0 ? root : root->child(group));
  }

  void Select(std::string_view name) {
    const auto& view = accounts_window_->view();
    for (std::size_t i = 0; i < view.size(); ++i) {
      if (view[i]->Name == name)
        list().setCurrentIndex(list().model()->index(static_cast<int>(i), 0));
    }
  }

  std::vector<std::string> Shown() {
    std::vector<std::string> out;
    for (int i = 0; i < list().model()->rowCount(); ++i)
      out.push_back(list().model()->index(i, 0).data().toString().toStdString());
    return out;
  }

  std::string Selected() {
    const auto rows = list().selectionModel()->selectedIndexes();
    return rows.isEmpty() ? "" : rows.front().data().toString().toStdString();
  }
};

TEST_F(AccountsWindowTest, ListsByGroupSortedWithoutCaseAndTypeAheadWraps) {
  accounts_window_->show();
  Control<QPushButton>(*accounts_window_, "add_button").click();
  Control<QPushButton>(editor(), "apply_button").click();
  EXPECT_EQ(Shown(),
            (std::vector<std::string>{"(noname)", "admin", "Alice", "bob", "carl", "guest"}));
  SelectGroup(1);
  EXPECT_EQ(Shown(), (std::vector<std::string>{"(noname)", "Alice", "bob", "carl"}));

  Select("carl");
  QTest::keyClicks(&list(), "a");
  EXPECT_EQ(Selected(), "Alice") << "the search wraps past the end";
  QTest::qWait(QApplication::keyboardInputInterval() + 50);
  QTest::keyClicks(&list(), "zz");
  EXPECT_EQ(Selected(), "") << "nothing matches";
  EXPECT_FALSE(Control<QPushButton>(*accounts_window_, "delete_button").isEnabled());
}

TEST_F(AccountsWindowTest, AddFollowsTheGroupAndACancelledAccountIsNeverSeen) {
  testing::ProtocolClient& remote = Connect("admin", "a", msg::kRemoteLogin);
  Take(remote, msg::kAccountEntry);
  accounts_window_->show();
  SelectGroup(4);
  QTest::keyClick(&list(), Qt::Key_Insert);
  ASSERT_TRUE(editor().isVisible());
  EXPECT_TRUE(Control<QRadioButton>(editor(), "rights_button_3").isChecked());
  EXPECT_FALSE(Control<QCheckBox>(editor(), "load_only_check").isChecked());
  EXPECT_FALSE(Control<QLineEdit>(editor(), "last_ip_edit").isEnabled());
  EXPECT_FALSE(Control<QLineEdit>(editor(), "body_mesh_edit").isEnabled());
  Control<QLineEdit>(editor(), "name_edit").setText("ghost");
  QTest::keyClick(&Control<QLineEdit>(editor(), "name_edit"), Qt::Key_Escape);
  EXPECT_FALSE(editor().isVisible());
  EXPECT_EQ(editor().record(), nullptr);

  SelectGroup(-1);
  Control<QPushButton>(*accounts_window_, "add_button").click();
  EXPECT_TRUE(Control<QRadioButton>(editor(), "rights_button_0").isChecked());
  Control<QPushButton>(editor(), "cancel_button").click();

  EXPECT_EQ(Account("ghost"), nullptr);
  EXPECT_EQ(server_->accounts().size(), 5u);
  EXPECT_EQ(accounts_window_->view().size(), 5u);
  EXPECT_TRUE(Take(remote, msg::kAccountEntry).empty());

  // Applied, the account joins the list, the view and the remote control's list.
  QTest::keyClick(&list(), Qt::Key_Insert);
  Control<QLineEdit>(editor(), "name_edit").setText("  dora ");
  Control<QPushButton>(editor(), "apply_button").click();
  ASSERT_NE(Account("dora"), nullptr);
  EXPECT_EQ(Shown()[4], "dora");
  const auto entries = Take(remote, msg::kAccountEntry);
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0].payload, AccountSummary(*Account("dora")));
}

TEST_F(AccountsWindowTest, OnlyStatusAndNameChangesAreTold) {
  testing::ProtocolClient& remote = Connect("admin", "a", msg::kRemoteLogin);
  testing::ProtocolClient& player = Connect("bob", "b");
  TServerAccount& bob = *Account("bob");
  ASSERT_NE(bob.Session, nullptr);
  remote.inbox().clear();
  accounts_window_->show();
  SelectGroup(1);

  Select("bob");
  QTest::keyClick(&list(), Qt::Key_Return);
  ASSERT_EQ(editor().record(), &bob);
  Control<QLineEdit>(editor(), "password_edit").setText("new");
  // The player changes its look while the editor is open; the apply must not undo it.
  std::string look;
  protocol::PutEntry(look, protocol::kPropBodyMesh, 0, "robot.x");
  player.Send(msg::kProperties, look);
  Settle();
  Control<QPushButton>(editor(), "apply_button").click();
  EXPECT_EQ(bob.Password, "new");
  EXPECT_EQ(bob.Session->values().Text(protocol::kPropBodyMesh), "robot.x");
  EXPECT_TRUE(Take(remote, msg::kAccountStatus).empty());
  EXPECT_TRUE(Take(remote, msg::kAccountName).empty());

  // Made a guest: the status byte changes, the player is no longer bound, the entry stays.
  Select("bob");
  Control<QPushButton>(*accounts_window_, "edit_button").click();
  Control<QCheckBox>(editor(), "load_only_check").setChecked(true);
  Control<QPushButton>(editor(), "apply_button").click();
  const auto status = Take(remote, msg::kAccountStatus);
  ASSERT_EQ(status.size(), 1u);
  EXPECT_EQ(status[0].payload, EncodeAccountId(bob) + ' ');
  EXPECT_EQ(bob.Session, nullptr);
  EXPECT_EQ(server_->player_sessions().front()->account(), nullptr);
  EXPECT_EQ(Shown(), (std::vector<std::string>{"Alice", "bob", "carl"}));
}

TEST_F(AccountsWindowTest, EditedPlaceMovesTheLivePlayerAndIsStored) {
  testing::WriteFile(dir_ / "levels/other.x", "other");
  testing::ProtocolClient& player = Connect("bob", "b");
  TServerAccount& bob = *Account("bob");
  ASSERT_NE(bob.Session, nullptr);
  std::string walked;
  protocol::PutEntry(walked, protocol::kPropX, 100.0, "");
  player.Send(msg::kProperties, walked);
  Settle();
  const auto edit = [&](const char* field, const char* text) {
    Control<QLineEdit>(editor(), field).setText(text);
  };
  accounts_window_->show();
  Select("bob");
  Control<QPushButton>(*accounts_window_, "edit_button").click();
  edit("x_edit", "500");
  edit("y_edit", "20");
  edit("z_edit", "-30");
  edit("view_angle_edit", "90");
  Control<QPushButton>(editor(), "apply_button").click();
  Settle();
  const protocol::PropertySet stored = DecodeStoredProperties(bob.Properties);
  for (const auto& [index, value] : {std::pair{protocol::kPropX, 500.0},
                                     {protocol::kPropY, 20.0},
                                     {protocol::kPropZ, -30.0},
                                     {protocol::kPropViewAngle, 90.0}}) {
    EXPECT_EQ(bob.Session->values().Number(index), value) << index;
    EXPECT_EQ(stored.Number(index), value) << index;
  }
  EXPECT_FALSE(Take(player, msg::kOwnProperties).empty()) << "the player is told where it is";

  Select("bob");
  Control<QPushButton>(*accounts_window_, "edit_button").click();
  edit("level_edit", "other.x");
  Control<QPushButton>(editor(), "apply_button").click();
  Settle();
  EXPECT_EQ(bob.Session->values().Text(protocol::kPropLevelName), "other.x");
  EXPECT_EQ(DecodeStoredProperties(bob.Properties).Text(protocol::kPropLevelName), "other.x");
}

TEST_F(AccountsWindowTest, DeletingAnAccountInUseKeepsItsPlayer) {
  testing::ProtocolClient& remote = Connect("admin", "a", msg::kRemoteLogin);
  testing::ProtocolClient& player = Connect("bob", "b");
  const std::string bob_id = EncodeAccountId(*Account("bob"));
  remote.inbox().clear();
  accounts_window_->show();
  Select("bob");
  testing::MessageBoxCloser answer_ok;
  QTest::keyClick(&list(), Qt::Key_Delete);
  ASSERT_EQ(answer_ok.boxes.size(), 1u);
  EXPECT_EQ(answer_ok.boxes[0].text, "Do you really want to delete the account \"bob\" ?");
  EXPECT_EQ(answer_ok.boxes[0].caption, "Question");
  EXPECT_EQ(Account("bob"), nullptr);
  EXPECT_EQ(Shown(), (std::vector<std::string>{"admin", "Alice", "carl", "guest"}));

  const auto removed = Take(remote, msg::kAccountRemoved);
  ASSERT_EQ(removed.size(), 1u);
  EXPECT_EQ(removed[0].payload, bob_id);
  EXPECT_FALSE(player.closed());
  ASSERT_EQ(server_->player_sessions().size(), 1u);
  EXPECT_EQ(server_->player_sessions().front()->account(), nullptr);
  ASSERT_TRUE(server_->SaveAccounts().ok);
  AccountStore saved;
  (void)saved.LoadAccounts(server_->accounts_file());
  EXPECT_EQ(saved.size(), 4u);
  EXPECT_EQ(saved.FindAccount("bob", "b"), nullptr);
}

TEST_F(AccountsWindowTest, RemoteDeleteOfTheEditedAccountClosesTheEditorUntouched) {
  testing::ProtocolClient& remote = Connect("admin", "a", msg::kRemoteLogin);
  accounts_window_->show();
  Select("carl");
  Control<QPushButton>(*accounts_window_, "edit_button").click();
  Control<QLineEdit>(editor(), "name_edit").setText("renamed");
  remote.Send(msg::kDeleteAccount, protocol::BuildAccountNumber(Account("carl")->Id));
  remote.inbox().clear();
  Settle();
  EXPECT_FALSE(editor().isVisible());
  EXPECT_EQ(editor().record(), nullptr);
  EXPECT_NE(editor().findChild<QMessageBox*>(), nullptr) << "the editor says why it closed";
  EXPECT_EQ(Account("carl"), nullptr);
  EXPECT_EQ(Shown(), (std::vector<std::string>{"admin", "Alice", "bob", "guest"}));
  editor().ApplyEditor();  // holds nothing: hides only
  EXPECT_EQ(Account("renamed"), nullptr);
  EXPECT_TRUE(Take(remote, msg::kAccountName).empty());
}

TEST(EditorFieldTextTest, NumbersAndIntegersReadBackAsWrittenAndNothingElse) {
  EXPECT_EQ(FormatNumber(0.1), "0.1");
  EXPECT_EQ(FormatNumber(-1234.5), "-1234.5");
  EXPECT_EQ(ParseNumber(" -12.5 "), -12.5);
  EXPECT_EQ(ParseNumber("1e3"), 1000.0);
  for (const char* text : {"", "1,5", "inf", "nan", "-inf", "1.5x", "+-1"})
    EXPECT_FALSE(ParseNumber(text)) << text;

  EXPECT_EQ(FormatColour(0xFDCC47), "0xFDCC47");
  EXPECT_EQ(FormatColour(0xFF), "0x0000FF");
  EXPECT_EQ(ParseInteger("0xFDCC47"), 0xFDCC47);
  EXPECT_EQ(ParseInteger("$ff"), 255);
  EXPECT_EQ(ParseInteger("X10"), 16);
  EXPECT_EQ(ParseInteger(" -2147483648"), INT32_MIN);
  EXPECT_EQ(ParseInteger("$FFFFFFFF"), -1);
  for (const char* text : {"2147483648", "$100000000", "0x", "12a", "0x-1", "1.0"})
    EXPECT_FALSE(ParseInteger(text)) << text;
}

TEST(WindowedAccountsTest, MainWindowButtonsOpenTheWindowsOnTheLoadedAccounts) {
  testing::EnsureApplication();
  testing::TempDir dir;
  AccountStore accounts;
  accounts.AddNewAccount({"admin", "a", 3, false, false});
  accounts.AddNewAccount({"bob", "b", 0, false, false});
  ASSERT_TRUE(accounts.SaveAccounts(dir / "accounts.txt").ok);
  WindowedOptions options;
  options.directory = dir.path();
  options.tray_available = false;
  WindowedServer windows(options);
  windows.SetEndProgram([](int) {});
  windows.Show();
  windows.start_dialog().port_edit().setText("0");
  windows.start_dialog().ok_button().click();
  ASSERT_TRUE(windows.server().running());

  windows.main_window().edit_accounts_button().click();
  EXPECT_TRUE(windows.accounts_window().isVisible());
  EXPECT_EQ(windows.accounts_window().view().size(), 2u);
  windows.main_window().view_players_button().click();
  EXPECT_TRUE(windows.player_stats().isVisible());
  EXPECT_TRUE(windows.server().Shutdown());
}

}  // namespace
}  // namespace tarvo::server
