#include "server/core/remote_control.h"

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "net/address.h"
#include "protocol/properties.h"
#include "server/accounts/account_record.h"
#include "server/core/log_text.h"
#include "server/core/server_frame.h"
#include "server/core/server_player.h"

namespace tarvo::server {

namespace msg = protocol::msg;

namespace {

constexpr std::string_view kAdministratorPrefix = "Administrator ";
constexpr std::string_view kPolicePrefix = "Police ";

int AccountFlags(const TServerAccount& account) {
  return protocol::EncodeAccountFlags({account.LoadOnly, account.Rights, account.Blocked});
}

std::string DescribeAccount(const TServerAccount& account) {
  return "account " + std::to_string(account.Id) + " " + Quoted(account.Name);
}

std::string DescribePlayer(const TServerPlayer& player) {
  return "player " + std::to_string(player.id()) + " (account " + Quoted(player.account_name()) +
         ")";
}

// The fields that set account and set player may change, to tell afterwards what they did.
struct AccountFields {
  std::string name;
  std::string password;
  std::string properties;
  bool load_only = false;
  bool blocked = false;
  int rights = 0;

  static AccountFields Of(const TServerAccount& a) {
    return {a.Name, a.Password, a.Properties, a.LoadOnly, a.Blocked, a.Rights};
  }
};

std::string DescribeChanges(const AccountFields& before, const TServerAccount& after) {
  std::vector<std::string> parts;
  if (before.name != after.Name)
    parts.push_back("name " + Quoted(before.name) + " -> " + Quoted(after.Name));
  if (before.password != after.Password) parts.emplace_back("password");
  if (before.properties != after.Properties) parts.emplace_back("properties");
  if (before.rights != after.Rights)
    parts.push_back("rights " + std::to_string(before.rights) + " -> " +
                    std::to_string(after.Rights));
  if (before.load_only != after.LoadOnly)
    parts.emplace_back(after.LoadOnly ? "now a guest account" : "no longer a guest account");
  if (before.blocked != after.Blocked) parts.emplace_back(after.Blocked ? "blocked" : "unblocked");
  if (parts.empty()) return "nothing changed";
  std::string out;
  for (const std::string& part : parts) out += (out.empty() ? "" : ", ") + part;
  return out;
}

// Steps shared by set account and set player: what a session of rights `r` may write into a
// record. Police replace the property text only; admins also name, password and flags, never
// raising the rights above their own unless they are administrators. Returns a note when the
// rights asked for were capped.
std::string WriteFields(TServerAccount& record, const protocol::AccountChange& change, int r) {
  std::string note;
  if (r >= 2) {
    record.Name = std::string(change.name);
    if (!change.password.empty()) record.Password = std::string(change.password);
  }
  record.Properties = std::string(change.properties);
  if (r >= 2) {
    const protocol::AccountFlags flags = protocol::DecodeAccountFlags(change.flags);
    record.LoadOnly = flags.load_only;
    record.Rights = flags.rights;
    if (r < 3 && record.Rights > r) {
      note = "rights " + std::to_string(record.Rights) + " asked, " + std::to_string(r) +
             " stored (the sender's own)";
      record.Rights = r;
    }
    record.Blocked = flags.blocked;
  }
  return note;
}

// One command being handled: the server, the sending session and its rights.
class Command {
 public:
  Command(TServerFrame& server, TServerPlayer& sender)
      : server_(server), sender_(sender), r_(sender.rights()) {}

  void GetAccount(std::string_view payload);
  void SetAccount(std::string_view payload);
  void AddAccount(std::string_view payload);
  void DeleteAccount(std::string_view payload);
  void GetPlayer(std::string_view payload);
  void SetPlayer(std::string_view payload);
  void DisconnectPlayer(std::string_view payload);
  void ReloadLevels(std::string_view payload);
  void MessageToAll(std::string_view payload);
  void MessageToPlayer(std::string_view payload);

 private:
  // The account of that number when the sender may act on it.
  TServerAccount* TargetAccount(int number, std::string_view what);
  // The player session of that id when the sender may act on it.
  TServerPlayer* TargetPlayer(int id, std::string_view what);
  void Log(std::string_view text);
  std::string Sender() const;

  TServerFrame& server_;
  TServerPlayer& sender_;
  int r_;
};

std::string Command::Sender() const {
  const auto& remotes = server_.remote_sessions();
  const bool remote = std::any_of(remotes.begin(), remotes.end(),
                                  [this](const auto& s) { return s.get() == &sender_; });
  std::string out = Quoted(sender_.account_name()) + " (rights " + std::to_string(r_) + ", " +
                    net::FormatIpv4(sender_.address());
  out += remote ? ", remote control)" : ", player " + std::to_string(sender_.id()) + ")";
  return out;
}

void Command::Log(std::string_view text) {
  server_.observer().Note("remote control: " + Sender() + ": " + std::string(text));
}

TServerAccount* Command::TargetAccount(int number, std::string_view what) {
  TServerAccount* account = server_.accounts().FindById(number);
  if (account == nullptr) return nullptr;
  if (!RemoteControl::MayActOn(r_, account->Rights)) {
    if (!what.empty())
      Log(std::string(what) + " " + DescribeAccount(*account) + " refused: its rights are " +
          std::to_string(account->Rights));
    return nullptr;
  }
  return account;
}

TServerPlayer* Command::TargetPlayer(int id, std::string_view what) {
  TServerPlayer* player = server_.FindPlayer(id);
  if (player == nullptr) return nullptr;
  if (!RemoteControl::MayActOn(r_, player->rights())) {
    if (!what.empty())
      Log(std::string(what) + " " + DescribePlayer(*player) + " refused: its rights are " +
          std::to_string(player->rights()));
    return nullptr;
  }
  return player;
}

void Command::GetAccount(std::string_view payload) {
  const auto number = protocol::ParseAccountNumber(payload);
  if (!number) return;
  TServerAccount* account = TargetAccount(*number, {});
  if (account == nullptr) return;
  server_.accounts().RefreshStoredProperties(*account);
  sender_.QueueMessage(
      msg::kAccountDetails,
      protocol::BuildAccountDetails(*number, account->Properties, AccountFlags(*account)));
}

void Command::SetAccount(std::string_view payload) {
  const auto parsed = protocol::ParseSetAccount(payload);
  if (!parsed) return;
  TServerAccount* account = TargetAccount(parsed->account_number, "set");
  if (account == nullptr) return;
  const AccountFields before = AccountFields::Of(*account);
  std::string note;
  // The status and name notices leave as the change ends.
  server_.accounts().ChangeAccount(
      *account, [&](TServerAccount& a) { note = WriteFields(a, parsed->change, r_); });
  if (account->Session != nullptr) {
    account->Session->ApplyAccount(*account);
  } else {
    // Entries the new text leaves out keep their old values.
    const auto merged = TServerPlayer::Temporary(server_);
    merged->ApplyProperties(before.properties);
    merged->ApplyProperties(account->Properties);
    account->Properties = merged->StoredPropertyText();
  }
  server_.observer().AccountViewChanged(*account);
  if (account->Session != nullptr) server_.observer().PlayerListChanged();
  Log("set " + DescribeAccount(*account) + ": " + DescribeChanges(before, *account) +
      (note.empty() ? "" : "; " + note));
}

void Command::AddAccount(std::string_view payload) {
  std::unique_ptr<TServerAccount> account = server_.accounts().CreateAccount();
  ParseAccountFields(payload, *account);
  // Adding is no way around the cap of set account: an account never gets more rights than the
  // session that made it, unless an administrator made it.
  std::string note;
  if (r_ < 3 && account->Rights > r_) {
    note = "; rights " + std::to_string(account->Rights) + " asked, " + std::to_string(r_) +
           " stored (the sender's own)";
    account->Rights = r_;
  }
  TServerAccount& added = server_.accounts().AddAccount(std::move(account));
  Log("added " + DescribeAccount(added) + " with rights " + std::to_string(added.Rights) +
      (added.LoadOnly ? ", guest" : "") + (added.Blocked ? ", blocked" : "") + note);
}

void Command::DeleteAccount(std::string_view payload) {
  const auto number = protocol::ParseAccountNumber(payload);
  if (!number) return;
  TServerAccount* account = TargetAccount(*number, "delete");
  if (account == nullptr) return;
  std::string what = "deleted " + DescribeAccount(*account);
  if (const TServerPlayer* player = account->Session)
    what += "; its player " + std::to_string(player->id()) + " plays on without an account";
  // The server's removal releases a connected player, tells the remote sessions and frees it.
  server_.accounts().RemoveAccount(account);
  Log(what);
}

void Command::GetPlayer(std::string_view payload) {
  const auto id = protocol::ParsePlayerId(payload);
  if (!id) return;
  TServerPlayer* player = TargetPlayer(*id, {});
  if (player == nullptr) return;
  std::unique_ptr<TServerAccount> temporary;
  TServerAccount* record = player->account();
  if (record != nullptr) {
    server_.accounts().RefreshStoredProperties(*record);
  } else {
    temporary = server_.accounts().CreateAccount();
    temporary->Name = player->account_name();
    temporary->LoadOnly = true;
    temporary->Properties = player->StoredPropertyText();
    record = temporary.get();
  }
  sender_.QueueMessage(
      msg::kPlayerDetails,
      protocol::BuildPlayerDetails(*id, record->Name, record->Properties, AccountFlags(*record)));
}

void Command::SetPlayer(std::string_view payload) {
  const auto parsed = protocol::ParseSetPlayer(payload);
  if (!parsed) return;
  TServerPlayer* player = TargetPlayer(parsed->player_id, "set");
  if (player == nullptr) return;
  TServerAccount* bound = player->account();
  if (bound != nullptr && bound->Rights >= r_ && r_ != 3) {
    Log("set player " + DescribePlayer(*player) + " refused: its account's rights are " +
        std::to_string(bound->Rights));
    return;
  }
  const std::string target = DescribePlayer(*player);
  std::string note;
  if (bound == nullptr) {
    // A player without an account gets the record pushed once; the record then goes. It starts
    // with the player's account name, so that an edit that does not name one (police may not)
    // leaves the name the player logged in with.
    std::unique_ptr<TServerAccount> temporary = server_.accounts().CreateAccount();
    temporary->Name = player->account_name();
    const AccountFields before = AccountFields::Of(*temporary);
    note = WriteFields(*temporary, parsed->change, r_);
    player->ApplyAccount(*temporary);
    server_.observer().PlayerListChanged();
    Log("set player " + target + " (no account): " + DescribeChanges(before, *temporary) +
        (note.empty() ? "" : "; " + note));
    return;
  }
  const AccountFields before = AccountFields::Of(*bound);
  // The status and name notices leave after the player has the edit.
  server_.accounts().ChangeAccount(*bound, [&](TServerAccount& a) {
    note = WriteFields(a, parsed->change, r_);
    player->ApplyAccount(a);
  });
  server_.observer().AccountViewChanged(*bound);
  server_.observer().PlayerListChanged();
  Log("set player " + target + ", " + DescribeAccount(*bound) + ": " +
      DescribeChanges(before, *bound) + (note.empty() ? "" : "; " + note));
}

void Command::DisconnectPlayer(std::string_view payload) {
  const auto id = protocol::ParsePlayerId(payload);
  if (!id) return;
  TServerPlayer* player = TargetPlayer(*id, "disconnect");
  if (player == nullptr) return;
  Log("disconnected " + DescribePlayer(*player) +
      (player == &sender_ ? " (itself; it closes after its messages)" : ""));
  // A session handling its own messages is only marked closing here; the tick ends it.
  player->Disconnect(kDisconnectedByAdmin);
}

void Command::ReloadLevels(std::string_view payload) {
  const auto parsed = protocol::ParseReloadLevels(payload);
  if (!parsed || parsed->count < 1) return;
  std::vector<std::string> names(parsed->names.begin(), parsed->names.end());
  std::string list;
  for (const std::string& name : names) list += (list.empty() ? "" : ", ") + Quoted(name);
  Log("reload levels " + (list.empty() ? std::string("(none named)") : list));
  server_.ReloadLevels(names);
}

void Command::MessageToAll(std::string_view payload) {
  server_.SendAdminMessageToAll(
      protocol::AdminMessageText(kAdministratorPrefix, sender_.account_name(), payload));
  Log("message to all players: " + Quoted(payload));
}

void Command::MessageToPlayer(std::string_view payload) {
  const auto parsed = protocol::ParsePlayerText(payload);
  if (!parsed) return;
  TServerPlayer* player = server_.FindPlayer(parsed->player_id);
  if (player == nullptr) return;
  const std::string_view prefix = r_ >= 2 ? kAdministratorPrefix : kPolicePrefix;
  server_.SendAdminMessage(
      *player, protocol::AdminMessageText(prefix, sender_.account_name(), parsed->text));
  Log("message to " + DescribePlayer(*player) + ": " + Quoted(parsed->text));
}

// Why a remote-control login is refused, or empty when it succeeds.
std::string_view RefusalReason(const TServerAccount* account, int version) {
  if (version < 1) return "unknown version";
  if (account == nullptr) return "no account with this name and password";
  if (account->Rights < 1) return "the account has no rights";
  if (account->Blocked) return "the account is blocked";
  return {};
}

}  // namespace

void RemoteControl::HandleLogin(TServerFrame& server, TServerPlayer& session,
                                const protocol::LoginPayload& login, TServerAccount* account,
                                int version) {
  session.SetAccountName(login.account);
  const std::string_view refusal = RefusalReason(account, version);
  if (!refusal.empty()) {
    session.MarkClosing("remote-control login refused");
    server.observer().LoginRefused(
        session, "remote-control login: " + std::string(refusal) + " (no reason sent)");
    return;
  }
  // Told to everyone as a departing player, under the id it still has.
  server.MoveToRemoteSessions(session);
  session.ReleasePlayerId();
  session.SetRights(account->Rights);
  server.observer().Note("remote control: login of " + Quoted(session.account_name()) +
                         " (rights " + std::to_string(account->Rights) + ", " +
                         net::FormatIpv4(session.address()) + ")");

  for (const auto& a : server.accounts().accounts())
    session.QueueMessage(msg::kAccountEntry, AccountSummary(*a));
  for (const auto& p : server.player_sessions()) {
    std::string entries;
    protocol::PutEntry(entries, protocol::kPropLevelName, p->values());
    protocol::PutEntry(entries, protocol::kPropNickname, p->values());
    protocol::PutEntry(entries, protocol::kPropHeadMesh, p->values());
    session.QueueMessage(msg::kPlayerEntry,
                         protocol::BuildPlayerEntry(p->id(), p->account_name(), entries));
  }
}

void RemoteControl::HandleCommand(TServerFrame& server, TServerPlayer& session, int id,
                                  std::string_view payload) {
  const protocol::MessageInfo* info =
      protocol::FindMessage(protocol::Direction::kRemoteCommand, id);
  if (info == nullptr) return;
  if (payload.size() < static_cast<std::size_t>(info->min_payload)) return;
  if (session.rights() < info->min_rights) return;
  Command command(server, session);
  switch (id) {
    case msg::kGetAccount:
      return command.GetAccount(payload);
    case msg::kSetAccount:
      return command.SetAccount(payload);
    case msg::kAddAccount:
      return command.AddAccount(payload);
    case msg::kDeleteAccount:
      return command.DeleteAccount(payload);
    case msg::kGetPlayer:
      return command.GetPlayer(payload);
    case msg::kSetPlayer:
      return command.SetPlayer(payload);
    case msg::kDisconnectPlayer:
      return command.DisconnectPlayer(payload);
    case msg::kReloadLevels:
      return command.ReloadLevels(payload);
    case msg::kMessageToAll:
      return command.MessageToAll(payload);
    case msg::kMessageToPlayer:
      return command.MessageToPlayer(payload);
    default:
      return;
  }
}

bool RemoteControl::IsCommand(int id) {
  switch (id) {
    case protocol::msg::kGetAccount:
    case protocol::msg::kSetAccount:
    case protocol::msg::kAddAccount:
    case protocol::msg::kDeleteAccount:
    case protocol::msg::kGetPlayer:
    case protocol::msg::kSetPlayer:
    case protocol::msg::kDisconnectPlayer:
    case protocol::msg::kReloadLevels:
    case protocol::msg::kMessageToAll:
    case protocol::msg::kMessageToPlayer:
      return true;
    default:
      return false;
  }
}

}  // namespace tarvo::server
