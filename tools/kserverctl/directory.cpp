#include "tools/kserverctl/directory.h"

#include <algorithm>
#include <charconv>

#include "protocol/messages.h"
#include "tools/kserverctl/text.h"

namespace tarvo::kserverctl {
namespace {

namespace m = protocol::msg;

std::optional<int> DigitsValue(std::string_view text) {
  if (text.empty() || text.size() > 9) return std::nullopt;
  int value = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || end != text.data() + text.size() || value < 0) return std::nullopt;
  return value;
}

std::string NumberList(const std::vector<int>& numbers) {
  std::string out;
  for (int n : numbers) {
    if (!out.empty()) out += ", ";
    out += std::to_string(n);
  }
  return out;
}

}  // namespace

void MergeField(PropertyList& list, const PropertyField& field) {
  for (PropertyField& existing : list.fields) {
    if (existing.index == field.index) {
      existing = field;
      return;
    }
  }
  list.fields.push_back(field);
}

void RemoteDirectory::Apply(const Notice& notice) {
  const auto account = std::find_if(accounts_.begin(), accounts_.end(),
                                    [&](const AccountRow& a) { return a.number == notice.number; });
  const auto player = std::find_if(players_.begin(), players_.end(),
                                   [&](const PlayerRow& p) { return p.id == notice.number; });
  switch (notice.id) {
    case m::kAccountEntry:
      if (account != accounts_.end()) {
        *account = AccountRow{notice.number, notice.name, notice.status};
      } else {
        accounts_.push_back(AccountRow{notice.number, notice.name, notice.status});
      }
      break;
    case m::kAccountStatus:
      if (account != accounts_.end()) account->status = notice.status;
      break;
    case m::kAccountName:
      if (account != accounts_.end()) account->name = notice.name;
      break;
    case m::kAccountRemoved:
      if (account != accounts_.end()) accounts_.erase(account);
      break;
    case m::kPlayerEntry:
      if (player != players_.end()) {
        *player = PlayerRow{notice.number, notice.name, notice.properties};
      } else {
        players_.push_back(PlayerRow{notice.number, notice.name, notice.properties});
      }
      break;
    case m::kPlayerLeft:
      if (player != players_.end()) players_.erase(player);
      break;
    case m::kPlayerAccount:
      if (player != players_.end()) player->account = notice.name;
      break;
    case m::kPlayerChanges:
      if (player != players_.end()) {
        for (const PropertyField& field : notice.properties.fields) {
          MergeField(player->properties, field);
        }
      }
      break;
    default:
      break;
  }
}

const AccountRow* RemoteDirectory::FindAccount(int number) const {
  for (const AccountRow& a : accounts_) {
    if (a.number == number) return &a;
  }
  return nullptr;
}

const PlayerRow* RemoteDirectory::FindPlayer(int id) const {
  for (const PlayerRow& p : players_) {
    if (p.id == id) return &p;
  }
  return nullptr;
}

Resolution RemoteDirectory::ResolveAccount(std::string_view text) const {
  if (const auto number = DigitsValue(text); number && FindAccount(*number)) {
    return *number;
  }
  const std::string name = Utf8ToLatin1(text);
  std::vector<int> matches;
  for (const AccountRow& a : accounts_) {
    if (a.name == name) matches.push_back(a.number);
  }
  if (matches.size() == 1) return matches.front();
  const std::string shown(text);
  if (matches.empty()) {
    return base::Fail("no account numbered or named \"" + shown + "\"");
  }
  return base::Fail("\"" + shown + "\" is ambiguous: " + std::to_string(matches.size()) +
                    " accounts have that name (numbers " + NumberList(matches) +
                    "); name the account by its number");
}

Resolution RemoteDirectory::ResolvePlayer(std::string_view text) const {
  if (const auto id = DigitsValue(text); id && FindPlayer(*id)) return *id;
  const std::string name = Utf8ToLatin1(text);
  std::vector<int> matches;
  for (const PlayerRow& p : players_) {
    if (p.account == name) matches.push_back(p.id);
  }
  if (matches.size() == 1) return matches.front();
  const std::string shown(text);
  if (matches.empty()) {
    return base::Fail("no connected player with id or account name \"" + shown + "\"");
  }
  return base::Fail("\"" + shown + "\" is ambiguous: " + std::to_string(matches.size()) +
                    " players use that account (ids " + NumberList(matches) +
                    "); name the player by its id");
}

}  // namespace tarvo::kserverctl
