#include "tools/kserverctl/commands.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cmath>
#include <ctime>
#include <set>

#include "protocol/encoding.h"
#include "protocol/messages.h"
#include "protocol/properties.h"
#include "server/accounts/account_record.h"
#include "tools/kserverctl/text.h"

namespace tarvo::kserverctl {
namespace {

namespace m = protocol::msg;
namespace p = protocol;
using Clock = RemoteSession::Clock;

constexpr int kFlagLoadOnly = 1;
constexpr int kFlagRights = 14;  // bits 1 to 3
constexpr int kFlagBlocked = 16;

std::string JoinWords(const std::vector<std::string>& words) {
  std::string out;
  for (const std::string& w : words) {
    if (!out.empty()) out += " ";
    out += w;
  }
  return out;
}

// A text for message 8: Latin-1, line breaks as paragraph marks.
std::string MessageText(const std::vector<std::string>& words) {
  return p::ToParagraphMarks(Utf8ToLatin1(JoinWords(words)));
}

void AddEditOptions(CLI::App* sub, AccountEdit& edit) {
  sub->add_option_function<std::string>(
      "--name", [&edit](const std::string& v) { edit.name = v; }, "New account name");
  sub->add_option_function<std::string>(
      "--new-password", [&edit](const std::string& v) { edit.password = v; },
      "New password (an empty one cannot be set: the server keeps the old)");
  sub->add_option_function<int>(
         "--rights", [&edit](const int& v) { edit.rights = v; },
         "Rights 0 No rights, 1 Tarvoian Police, 2 Trusted Admin, 3 Administrator")
      ->check(CLI::Range(0, 3));
  sub->add_flag_callback(
      "--guest", [&edit] { edit.guest = true; }, "Make it a guest account");
  sub->add_flag_callback(
      "--no-guest", [&edit] { edit.guest = false; }, "Make it a regular one");
  sub->add_flag_callback(
      "--blocked", [&edit] { edit.blocked = true; }, "Refuse its logins");
  sub->add_flag_callback(
      "--no-blocked", [&edit] { edit.blocked = false; }, "Allow its logins");
  sub->add_option("--set", edit.sets,
                  "Change a stored property: KEY=VALUE, KEY one of x y z position angle "
                  "animation body_mesh head_mesh body_texture head_texture arm_colour "
                  "shoe_colour hand_colour nickname chat level address; repeatable")
      ->allow_extra_args(false);
}

std::string RightsPhrase(int rights) {
  return std::to_string(rights) + " (" + std::string(RightsText(rights)) + ")";
}

// Before sending a command that needs `needed` rights: refuse when the login's rights are known
// to be too low, since the server would ignore it without a word.
void RequireRights(const RemoteSession& session, int needed, std::string_view what) {
  const auto rights = session.own_rights();
  if (rights && *rights < needed) {
    throw CtlError(kExitNoEffect, std::string(what) + " needs rights " + RightsPhrase(needed) +
                                      "; account \"" + session.options().account +
                                      "\" has rights " + RightsPhrase(*rights));
  }
}

// The server ignores a command silently when its target is gone or the rights do not allow it.
[[noreturn]] void NoVisibleEffect(const RemoteSession& session, WaitResult result,
                                  const std::string& what, const std::string& why) {
  if (result == WaitResult::kClosed) {
    std::string message = "the server closed the connection";
    if (!session.disconnect_reason().empty()) {
      message += ": " + Printable(session.disconnect_reason());
    }
    throw CtlError(kExitConnectionLost, message);
  }
  const double seconds = static_cast<double>(session.options().timeout.count()) / 1000.0;
  throw CtlError(kExitNoEffect, what + ": no answer within " + FormatNumber(seconds) +
                                    " s, the command had no visible effect. The server stays "
                                    "silent when " +
                                    why + ".");
}

std::string AccessReason(const RemoteSession& session, std::optional<int> target_rights) {
  std::string why = "the target no longer exists or your rights do not allow it";
  if (target_rights) {
    why +=
        " (a session of rights r may act on targets of rights t only when r >= t or r = 3; "
        "the target has rights " +
        RightsPhrase(*target_rights);
    if (session.own_rights()) why += ", yours " + RightsPhrase(*session.own_rights());
    why += ")";
  }
  return why;
}

int Resolved(const Resolution& resolution) {
  if (!resolution) throw CtlError(kExitNotFound, resolution.error());
  return *resolution;
}

std::string Done(const Options& options, std::string_view command, std::string_view key, int number,
                 const std::string& text) {
  if (!options.json) return text + "\n";
  JsonWriter json;
  json.BeginObject().Key("ok").Bool(true).Key("command").String(command);
  if (!key.empty()) json.Key(key).Number(number);
  json.EndObject();
  return json.text() + "\n";
}

OutputFormat FormatOf(const Options& options) {
  return options.json ? OutputFormat::kJson : OutputFormat::kTable;
}

const Notice& ReadAccount(RemoteSession& session, int number, const std::string& what) {
  const int ticket = session.RequestAccount(number);
  const WaitResult result =
      session.WaitUntil([&] { return session.AccountReplied(number, ticket); }, session.Deadline());
  if (result != WaitResult::kDone) {
    const AccountRow* row = session.directory().FindAccount(number);
    NoVisibleEffect(session, result, what,
                    AccessReason(session, row ? std::optional<int>(row->rights()) : std::nullopt));
  }
  return *session.AccountDetails(number);
}

const Notice& ReadPlayer(RemoteSession& session, int id, const std::string& what) {
  const int ticket = session.RequestPlayer(id);
  const WaitResult result =
      session.WaitUntil([&] { return session.PlayerReplied(id, ticket); }, session.Deadline());
  if (result != WaitResult::kDone) {
    NoVisibleEffect(session, result, what, AccessReason(session, std::nullopt));
  }
  return *session.PlayerDetails(id);
}

AccountView ViewOf(const RemoteSession& session, const Notice& details) {
  AccountView view;
  view.number = details.number;
  view.flags = details.flags;
  view.properties = details.properties;
  if (const AccountRow* row = session.directory().FindAccount(details.number)) {
    view.name = row->name;
    view.status = row->status;
  }
  return view;
}

PlayerView PlayerViewOf(const Notice& details) {
  return PlayerView{details.number, details.name, details.flags, details.properties};
}

void ReportUnapplied(const std::vector<std::string>& fields, const std::string& what, bool player) {
  if (fields.empty()) return;
  std::string list;
  for (const std::string& f : fields) list += (list.empty() ? "" : ", ") + f;
  std::string why =
      "name, password, rights and flags change only for sessions of rights 2 or more, and "
      "rights never above the sender's own";
  why += player ? "; a connected player takes only position, look and colours from an edit"
                : "; an account in use shows its player's current values";
  throw CtlError(kExitNoEffect, what + ": the server kept " + list + " (" + why + ")");
}

void RunSetAccount(RemoteSession& session, const Options& options, std::ostream& out) {
  const int number = Resolved(session.directory().ResolveAccount(options.target));
  const std::string what = "set-account " + std::to_string(number);
  const auto assignments = ParseAssignments(options.edit.sets);
  const Notice current = ReadAccount(session, number, what);
  const AccountRow* row = session.directory().FindAccount(number);
  const std::string current_name = row ? row->name : std::string();
  const MergedChange change =
      MergeChange(current_name, current.flags, current.properties, options.edit, assignments);
  session.Send(m::kSetAccount,
               p::BuildSetAccount(number, p::AccountChange{change.name, change.password,
                                                           change.properties, change.flags}));
  const Notice& after = ReadAccount(session, number, what);
  const AccountView view = ViewOf(session, after);
  out << FormatAccount(view, FormatOf(options));
  ReportUnapplied(
      UnappliedFields(view.name, after.flags, after.properties, options.edit, assignments), what,
      false);
}

void RunSetPlayer(RemoteSession& session, const Options& options, std::ostream& out) {
  const int id = Resolved(session.directory().ResolvePlayer(options.target));
  const std::string what = "set-player " + std::to_string(id);
  const auto assignments = ParseAssignments(options.edit.sets);
  const Notice current = ReadPlayer(session, id, what);
  MergedChange change =
      MergeChange(current.name, current.flags, current.properties, options.edit, assignments);
  // A player without an account reads back as a guest record; sent back as a guest, the server
  // would take nothing from it. Only an explicit --guest asks for that (it releases an account).
  if (!options.edit.guest) change.flags &= ~1;
  session.Send(m::kSetPlayer,
               p::BuildSetPlayer(id, p::AccountChange{change.name, change.password,
                                                      change.properties, change.flags}));
  const Notice& after = ReadPlayer(session, id, what);
  out << FormatPlayer(PlayerViewOf(after), FormatOf(options));
  ReportUnapplied(
      UnappliedFields(after.name, after.flags, after.properties, options.edit, assignments), what,
      true);
}

void RunAddAccount(RemoteSession& session, const Options& options, std::ostream& out) {
  RequireRights(session, 2, "adding an account");
  server::TServerAccount account;
  account.Name = Utf8ToLatin1(options.new_name);
  account.Password = Utf8ToLatin1(options.new_password);
  account.Rights = options.new_rights;
  account.LoadOnly = options.new_guest;
  account.Blocked = options.new_blocked;
  std::vector<std::string> warnings;
  const std::string record = server::FormatAccountRecord(account, &warnings);
  if (!warnings.empty()) {
    throw CtlError(kExitUsage, "the account cannot be stored as given: " + warnings.front());
  }
  std::set<int> known;
  for (const AccountRow& a : session.directory().accounts()) known.insert(a.number);
  const auto added = [&]() -> const AccountRow* {
    for (const AccountRow& a : session.directory().accounts()) {
      if (a.name == account.Name && known.count(a.number) == 0) return &a;
    }
    return nullptr;
  };
  session.Send(m::kAddAccount, record);
  const WaitResult result =
      session.WaitUntil([&] { return added() != nullptr; }, session.Deadline());
  if (result != WaitResult::kDone) {
    NoVisibleEffect(session, result, "add-account",
                    "the sender's rights are below 2 (Trusted Admin)");
  }
  const AccountRow* row = added();
  out << Done(options, "add-account", "number", row->number,
              "added account " + std::to_string(row->number) + " \"" + Printable(row->name) +
                  "\" with rights " + RightsPhrase(row->rights()));
}

void RunDeleteAccount(RemoteSession& session, const Options& options, std::ostream& out) {
  const int number = Resolved(session.directory().ResolveAccount(options.target));
  RequireRights(session, 2, "deleting an account");
  const AccountRow row = *session.directory().FindAccount(number);
  session.Send(m::kDeleteAccount, p::BuildAccountNumber(number));
  const WaitResult result = session.WaitUntil(
      [&] { return session.directory().FindAccount(number) == nullptr; }, session.Deadline());
  if (result != WaitResult::kDone) {
    NoVisibleEffect(session, result, "delete-account " + std::to_string(number),
                    AccessReason(session, row.rights()));
  }
  out << Done(options, "delete-account", "number", number,
              "deleted account " + std::to_string(number) + " \"" + Printable(row.name) + "\"");
}

void RunKick(RemoteSession& session, const Options& options, std::ostream& out) {
  const int id = Resolved(session.directory().ResolvePlayer(options.target));
  session.Send(m::kDisconnectPlayer, p::BuildPlayerId(id));
  const WaitResult result = session.WaitUntil(
      [&] { return session.directory().FindPlayer(id) == nullptr; }, session.Deadline());
  if (result != WaitResult::kDone) {
    NoVisibleEffect(session, result, "kick " + std::to_string(id),
                    AccessReason(session, std::nullopt));
  }
  out << Done(options, "kick", "id", id, "disconnected player " + std::to_string(id));
}

void RunSay(RemoteSession& session, const Options& options, std::ostream& out) {
  RequireRights(session, 2, "a message to all players");
  const std::string text = MessageText(options.words);
  if (text.empty()) throw CtlError(kExitUsage, "say: the message is empty");
  session.Send(m::kMessageToAll, text);
  session.Barrier();
  const int players = static_cast<int>(session.directory().players().size());
  out << Done(options, "say", "players", players,
              "message sent to " + std::to_string(players) + " player(s)");
}

void RunTell(RemoteSession& session, const Options& options, std::ostream& out) {
  const int id = Resolved(session.directory().ResolvePlayer(options.target));
  const std::string text = MessageText(options.words);
  if (text.empty()) throw CtlError(kExitUsage, "tell: the message is empty");
  session.Send(m::kMessageToPlayer, p::BuildPlayerText(id, text));
  session.Barrier();
  if (session.directory().FindPlayer(id) == nullptr) {
    throw CtlError(kExitNoEffect,
                   "tell " + std::to_string(id) + ": the player left before the message");
  }
  out << Done(options, "tell", "id", id, "message sent to player " + std::to_string(id));
}

void RunReload(RemoteSession& session, const Options& options, std::ostream& out) {
  RequireRights(session, 2, "reloading levels");
  std::vector<std::string> names;
  for (const std::string& word : options.words) {
    names.push_back(Utf8ToLatin1(word));
    if (names.back().empty() || names.back().size() > p::kMaxShortString) {
      throw CtlError(kExitUsage, "reload: a level name must hold 1 to 223 bytes");
    }
  }
  if (names.empty()) throw CtlError(kExitUsage, "reload: name at least one level");
  session.Send(m::kReloadLevels, p::BuildReloadLevels(names));
  session.Barrier();
  out << Done(options, "reload", "levels", static_cast<int>(names.size()),
              "asked the server to reload " + std::to_string(names.size()) + " level(s)");
}

std::string TimeOfDay() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  char buffer[16];
  std::strftime(buffer, sizeof buffer, "%H:%M:%S ", &local);
  return buffer;
}

// Watching starts before the login, so changes that arrive while it is being confirmed count.
void PrepareWatch(RemoteSession& session, const Options& options, std::ostream& out) {
  session.SetNoticeListener([&options, &out](const Notice& notice, const RemoteDirectory& before) {
    std::string line = FormatNotice(notice, before, FormatOf(options));
    if (options.timestamps && !options.json) line = TimeOfDay() + line;
    out << line << std::flush;
  });
}

void RunWatch(RemoteSession& session, const std::atomic<bool>* stop) {
  const WaitResult result = session.WaitUntil([] { return false; }, Clock::time_point::max(), stop);
  session.SetNoticeListener(nullptr);
  if (result == WaitResult::kClosed) {
    std::string message = "the server closed the connection";
    if (!session.disconnect_reason().empty()) {
      message += ": " + Printable(session.disconnect_reason());
    }
    throw CtlError(kExitConnectionLost, message);
  }
}

}  // namespace

void DefineCli(CLI::App& app, Options& o) {
  app.description(
      "Administers a running game server from afar: lists and edits accounts and players, "
      "disconnects players, sends administrator messages, reloads levels and watches the "
      "changes as they happen.");
  app.footer(
      "Accounts and players may be named by number or id, or by account name where only one "
      "matches.\nExit status: 0 done, 1 wrong arguments, 2 no connection, 3 login refused, "
      "4 no answer in time, 5 no such account or player, 6 the command had no visible effect, "
      "7 connection lost.");
  app.add_option("--host", o.session.host, "Server address or host name")->capture_default_str();
  app.add_option("--port", o.session.port, "Server TCP port")->capture_default_str();
  app.add_option("--account", o.session.account, "Account to log in with (rights 1 or more)")
      ->required();
  app.add_option("--password", o.session.password, "Its password")->envname("KSERVERCTL_PASSWORD");
  app.add_option("--timeout", o.timeout_seconds, "Seconds to wait for each answer")
      ->check(CLI::PositiveNumber)
      ->capture_default_str();
  app.add_flag("--json", o.json, "Write JSON for scripts instead of tables");
  app.require_subcommand(1);

  const auto sub = [&](const char* name, const char* help) {
    CLI::App* s = app.add_subcommand(name, help);
    s->callback([&o, name] { o.command = name; });
    return s;
  };
  sub("accounts", "List every account");
  sub("players", "List the connected players");
  sub("account", "Show one account with its stored properties")
      ->add_option("ACCOUNT", o.target, "Account number or name")
      ->required();
  sub("player", "Show one connected player")
      ->add_option("PLAYER", o.target, "Player id or account name")
      ->required();

  CLI::App* add = sub("add-account", "Create an account");
  add->add_option("NAME", o.new_name, "Account name")->required();
  add->add_option("PASSWORD", o.new_password, "Password")->required();
  add->add_option("--rights", o.new_rights,
                  "0 No rights, 1 Tarvoian Police, 2 Trusted Admin, 3 Administrator")
      ->check(CLI::Range(0, 3))
      ->capture_default_str();
  add->add_flag("--guest", o.new_guest, "A guest account: any number of players may use it");
  add->add_flag("--blocked", o.new_blocked, "Refuse its logins");

  CLI::App* set_account = sub("set-account", "Change an account; fields not given stay");
  set_account->add_option("ACCOUNT", o.target, "Account number or name")->required();
  AddEditOptions(set_account, o.edit);

  sub("delete-account", "Delete an account (its player stays connected)")
      ->add_option("ACCOUNT", o.target, "Account number or name")
      ->required();

  CLI::App* set_player = sub("set-player", "Change a connected player; fields not given stay");
  set_player->add_option("PLAYER", o.target, "Player id or account name")->required();
  AddEditOptions(set_player, o.edit);

  sub("kick", "Disconnect a player")
      ->add_option("PLAYER", o.target, "Player id or account name")
      ->required();
  sub("say", "Send an administrator message to every player")
      ->add_option("TEXT", o.words, "The message")
      ->required();
  CLI::App* tell = sub("tell", "Send an administrator message to one player");
  tell->add_option("PLAYER", o.target, "Player id or account name")->required();
  tell->add_option("TEXT", o.words, "The message")->required();
  sub("reload", "Reload level files on the server")
      ->add_option("LEVEL", o.words, "Level file names")
      ->required();
  CLI::App* watch = sub("watch", "Print every change as the server reports it, until Ctrl-C");
  watch->add_flag("!--no-time", o.timestamps, "Leave out the time of day before each line");
}

void FinishOptions(Options& options) {
  if (!(options.timeout_seconds > 0) || options.timeout_seconds > 86400) {
    throw CtlError(kExitUsage, "--timeout must be a positive number of seconds");
  }
  options.session.timeout = std::chrono::milliseconds(
      static_cast<std::int64_t>(std::ceil(options.timeout_seconds * 1000.0)));
  if (options.command == "set-account" || options.command == "set-player") {
    if (options.edit.empty()) {
      throw CtlError(kExitUsage, options.command +
                                     ": nothing to change; give at least one of "
                                     "--name --new-password --rights --guest "
                                     "--no-guest --blocked --no-blocked --set");
    }
    if (options.edit.password && options.edit.password->empty()) {
      throw CtlError(kExitUsage, "--new-password: an empty password keeps the old one");
    }
    ParseAssignments(options.edit.sets);
  }
}

std::vector<PropertyField> ParseAssignments(const std::vector<std::string>& assignments) {
  std::vector<PropertyField> fields;
  for (const std::string& assignment : assignments) {
    const std::size_t eq = assignment.find('=');
    if (eq == std::string::npos) {
      throw CtlError(kExitUsage, "--set " + assignment + ": expected KEY=VALUE");
    }
    const std::string key = assignment.substr(0, eq);
    const std::string value = assignment.substr(eq + 1);
    if (key == "position") {
      std::vector<std::string> parts;
      std::size_t start = 0;
      for (;;) {
        const std::size_t comma = value.find(',', start);
        parts.push_back(value.substr(start, comma - start));
        if (comma == std::string::npos) break;
        start = comma + 1;
      }
      if (parts.size() != 3) throw CtlError(kExitUsage, "--set position=X,Y,Z: three numbers");
      for (int i = 0; i < 3; ++i) {
        auto field = ParsePropertyValue(p::kPropX + i, parts[i]);
        if (!field) throw CtlError(kExitUsage, "--set " + field.error());
        fields.push_back(*field);
      }
      continue;
    }
    const auto index = PropertyIndexForKey(key);
    if (!index || !p::kProperties[*index].saved_in_account) {
      throw CtlError(kExitUsage, "--set " + key + ": not a stored property");
    }
    auto field = ParsePropertyValue(*index, value);
    if (!field) throw CtlError(kExitUsage, "--set " + field.error());
    fields.push_back(*field);
  }
  return fields;
}

MergedChange MergeChange(std::string_view current_name, int current_flags,
                         const PropertyList& current_properties, const AccountEdit& edit,
                         const std::vector<PropertyField>& assignments) {
  MergedChange change;
  change.name = edit.name ? Utf8ToLatin1(*edit.name) : std::string(current_name);
  change.password = edit.password ? Utf8ToLatin1(*edit.password) : std::string();
  // Bits this program does not set (rights above 3 from a file, unknown bits) stay as they are.
  int flags = current_flags;
  if (edit.guest) flags = (flags & ~kFlagLoadOnly) | (*edit.guest ? kFlagLoadOnly : 0);
  if (edit.rights) flags = (flags & ~kFlagRights) | ((*edit.rights & 7) << 1);
  if (edit.blocked) flags = (flags & ~kFlagBlocked) | (*edit.blocked ? kFlagBlocked : 0);
  change.flags = flags;

  PropertyList merged = current_properties;
  for (const PropertyField& field : assignments) MergeField(merged, field);
  std::stable_sort(
      merged.fields.begin(), merged.fields.end(),
      [](const PropertyField& a, const PropertyField& b) { return a.index < b.index; });
  for (const PropertyField& field : merged.fields) change.properties += EncodeField(field);
  if (change.properties.size() > p::kMaxShortString) {
    throw CtlError(kExitUsage, "the property text would be " +
                                   std::to_string(change.properties.size()) +
                                   " bytes, more than the 223 one message can carry; use "
                                   "shorter texts");
  }
  if (change.name.size() > p::kMaxShortString || change.password.size() > p::kMaxShortString) {
    throw CtlError(kExitUsage, "a name or password may hold at most 223 bytes");
  }
  return change;
}

std::vector<std::string> UnappliedFields(std::string_view name_now, int flags_now,
                                         const PropertyList& properties_now,
                                         const AccountEdit& edit,
                                         const std::vector<PropertyField>& assignments) {
  std::vector<std::string> kept;
  if (edit.name && Utf8ToLatin1(*edit.name) != name_now) kept.push_back("name");
  if (edit.rights && ((flags_now & kFlagRights) >> 1) != *edit.rights) kept.push_back("rights");
  if (edit.guest && ((flags_now & kFlagLoadOnly) != 0) != *edit.guest) kept.push_back("guest");
  if (edit.blocked && ((flags_now & kFlagBlocked) != 0) != *edit.blocked) {
    kept.push_back("blocked");
  }
  for (const PropertyField& wanted : assignments) {
    const PropertyField* now = properties_now.Find(wanted.index);
    if (!now || !SameValue(*now, wanted)) kept.push_back(std::string(PropertyKey(wanted.index)));
  }
  return kept;
}

void RunCommand(RemoteSession& session, const Options& options, std::ostream& out,
                const std::atomic<bool>* stop) {
  const std::string& c = options.command;
  const OutputFormat format = FormatOf(options);
  if (c == "accounts") {
    out << FormatAccounts(session.directory().accounts(), format);
  } else if (c == "players") {
    out << FormatPlayers(session.directory().players(), format);
  } else if (c == "account") {
    const int number = Resolved(session.directory().ResolveAccount(options.target));
    const Notice& details = ReadAccount(session, number, "account " + std::to_string(number));
    out << FormatAccount(ViewOf(session, details), format);
  } else if (c == "player") {
    const int id = Resolved(session.directory().ResolvePlayer(options.target));
    const Notice& details = ReadPlayer(session, id, "player " + std::to_string(id));
    out << FormatPlayer(PlayerViewOf(details), format);
  } else if (c == "add-account") {
    RunAddAccount(session, options, out);
  } else if (c == "set-account") {
    RunSetAccount(session, options, out);
  } else if (c == "delete-account") {
    RunDeleteAccount(session, options, out);
  } else if (c == "set-player") {
    RunSetPlayer(session, options, out);
  } else if (c == "kick") {
    RunKick(session, options, out);
  } else if (c == "say") {
    RunSay(session, options, out);
  } else if (c == "tell") {
    RunTell(session, options, out);
  } else if (c == "reload") {
    RunReload(session, options, out);
  } else if (c == "watch") {
    RunWatch(session, stop);
  } else {
    throw CtlError(kExitUsage, "unknown command \"" + c + "\"");
  }
}

int Run(const Options& options, std::ostream& out, std::ostream& err,
        const std::atomic<bool>* stop) {
  try {
    RemoteSession session;
    if (options.command == "watch") PrepareWatch(session, options, out);
    session.Open(options.session);
    RunCommand(session, options, out, stop);
    out.flush();
    return kExitOk;
  } catch (const CtlError& error) {
    out.flush();
    err << "kserverctl: " << error.what() << "\n";
    return error.code();
  }
}

}  // namespace tarvo::kserverctl
