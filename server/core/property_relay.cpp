// Property relay and level membership of a session.
#include <algorithm>

#include "protocol/encoding.h"
#include "protocol/messages.h"
#include "server/core/file_store.h"
#include "server/core/server_frame.h"
#include "server/core/server_player.h"

namespace tarvo::server {

namespace msg = protocol::msg;
using protocol::kProperties;

namespace {

bool IsMovementEntry(int index) {
  return (index >= protocol::kPropX && index <= protocol::kPropAnimationTime) ||
         index == protocol::kPropChatText;
}

std::string_view TrimBlanks(std::string_view text) {
  while (!text.empty() && static_cast<unsigned char>(text.front()) <= 32) text.remove_prefix(1);
  while (!text.empty() && static_cast<unsigned char>(text.back()) <= 32) text.remove_suffix(1);
  return text;
}

std::string WithId(int id, std::string_view entries) {
  return protocol::BuildPlayerEntries(id, entries);
}

}  // namespace

void TServerPlayer::ForOtherPlayers(const std::function<void(TServerPlayer&)>& f) {
  for (const auto& p : server_.player_sessions()) {
    if (p.get() != this && p->is_playing()) f(*p);
  }
}

std::string TServerPlayer::EncodeEntry(int index) const {
  std::string out;
  protocol::PutEntry(out, index, values_);
  return out;
}

std::string TServerPlayer::EncodeProperty(int index) const { return EncodeEntry(index).substr(1); }

std::string TServerPlayer::StoredPropertyText() const {
  return protocol::EncodeEntries(values_, protocol::kAccountStoredOrder);
}

void TServerPlayer::ApplyProperties(std::string_view entries) {
  std::string level_entries;     // relay class "level"
  std::string movement_entries;  // 1 to 5 and the chat text
  std::string all_entries;       // every entry, for remote control
  const int udp_port_before = udp_port();
  protocol::EntryReader reader(entries, protocol::EntrySide::kServer);
  protocol::PropertyEntry entry;
  for (;;) {
    const std::size_t start = reader.position();
    const protocol::EntryStatus status = reader.Next(entry);
    if (status == protocol::EntryStatus::kEnd) break;
    // An unknown code ends the message: nothing of it is relayed.
    if (status == protocol::EntryStatus::kInvalidCode) return;
    if (entry.kind != protocol::PropertyEntry::Kind::kProperty) return;
    const int index = entry.index;
    // Anything but movement may be relayed in the player's batches or change who sees its
    // movement: what it relayed before must reach them first.
    if (level_ != nullptr && !IsMovementEntry(index)) level_->FlushRelay();
    // A connected client cannot change its player id or its address: the id names it in every
    // relay and the address decides whose datagrams peers accept.
    if (is_connected() && (index == protocol::kPropPlayerId || index == protocol::kPropAddress))
      continue;
    protocol::StoreEntry(values_, entry);
    if (kProperties[index].max_text > 0)
      values_.SetText(index, protocol::CutPlayerText(values_.Text(index)));

    std::string bytes(entries.substr(start, reader.position() - start));
    if (index == protocol::kPropNickname) {
      bytes = CheckNickname(entry.text);
    } else if (index == protocol::kPropUdpPort && id() > 0) {
      const std::string relay = WithId(id(), bytes);
      ForOtherPlayers([&](TServerPlayer& p) { p.QueueMessage(msg::kOtherPlayer, relay); });
    }
    for (TServerPlayerModify& record : change_records_) record.changed.set(index);
    if (kProperties[index].relay == protocol::RelayClass::kLevel) level_entries += bytes;
    if (IsMovementEntry(index)) movement_entries += bytes;
    all_entries += bytes;
  }

  if (level_ != nullptr && (!level_entries.empty() || !movement_entries.empty())) {
    const std::string level_only = WithId(id(), level_entries);
    const std::string with_movement = level_only + movement_entries;
    const bool own_udp = udp_port() > 0;
    if (level_entries.empty() && LevelRelay::Shareable(with_movement)) {
      level_->relay().Add(*this, with_movement);
    } else {
      level_->FlushRelay();
      for (TServerPlayer* p : level_->players()) {
        if (p == this) continue;
        if (!own_udp || p->udp_port() <= 0) {
          p->QueueMessage(msg::kOtherPlayer, with_movement);
        } else if (!level_entries.empty()) {
          p->QueueMessage(msg::kOtherPlayer, level_only);
        }
      }
    }
  }
  if (!all_entries.empty() && id() > 0 && server_.HasRemoteSessions())
    server_.NotifyRemoteSessions(msg::kPlayerChanges, WithId(id(), all_entries));
  // A client whose datagrams do not get through (a NAT in the way) closes its channel; from
  // now on its movement and its peers' go over TCP, but what was lost in datagrams so far is
  // not sent again by a player who stands still.
  if (udp_port_before > 0 && udp_port() <= 0 && level_ != nullptr && id() > 0)
    ResendPositionsAfterUdpClosed();
}

void TServerPlayer::ResendPositionsAfterUdpClosed() {
  const auto positions = [](const TServerPlayer& player) {
    std::string entries;
    for (int i = protocol::kPropX; i <= protocol::kPropAnimationTime; ++i)
      protocol::PutEntry(entries, i, player.values_);
    return WithId(player.id(), entries);
  };
  const std::string mine = positions(*this);
  for (TServerPlayer* p : level_->players()) {
    if (p == this || p->udp_port() <= 0) continue;
    QueueMessage(msg::kOtherPlayer, positions(*p));
    p->QueueMessage(msg::kOtherPlayer, mine);
  }
}

std::string TServerPlayer::CheckNickname(std::string_view received) {
  const std::string_view text = values_.Text(protocol::kPropNickname);
  std::string_view name = text;
  std::string_view guild;
  if (const std::size_t open = text.find('('); open != std::string_view::npos) {
    name = TrimBlanks(text.substr(0, open));
    const std::string_view after = text.substr(open + 1);
    const std::size_t close = after.find(')');
    if (close != std::string_view::npos) guild = TrimBlanks(after.substr(0, close));
  }
  std::string nickname(name);
  if (account_ != nullptr && server_.files().IsGuildMember(guild, name, account_name_))
    nickname += " (" + std::string(guild) + ")";
  values_.SetText(protocol::kPropNickname, protocol::CutPlayerText(nickname));
  std::string entry = EncodeEntry(protocol::kPropNickname);
  if (values_.Text(protocol::kPropNickname) != received) QueueMessage(msg::kOwnProperties, entry);
  if (id() > 0) {
    const std::string relay = WithId(id(), entry);
    ForOtherPlayers([&](TServerPlayer& p) { p.QueueMessage(msg::kOtherPlayer, relay); });
    if (server_.HasRemoteSessions()) server_.NotifyRemoteSessions(msg::kPlayerChanges, relay);
  }
  return entry;
}

void TServerPlayer::EnterLevel(std::string_view name) {
  if (level_ != nullptr) LeaveLevel();
  const std::string key = BaseNameLower(name);
  TServerLevel* level = server_.FindLevel(key);
  if (level == nullptr) return;
  level->FlushRelay();  // its players' movement so far comes before this player's entry
  level_ = level;
  values_.SetText(protocol::kPropLevelName, key);
  QueueMessage(msg::kLevelName, key);
  QueueMessage(msg::kLevelData, level->HasCopy(*this) ? std::string_view() : level->text());
  level->UnmarkCopy(*this);

  for (TServerPlayer* p : level->players()) {
    std::string to_me = WithId(p->id(), "R!");
    to_me += p->ChangesFor(*this);
    QueueMessage(msg::kOtherPlayer, to_me);
    p->DropChangeRecord(this);
    std::string to_them = WithId(id(), "R!");
    to_them += ChangesFor(*p);
    p->QueueMessage(msg::kOtherPlayer, to_them);
    DropChangeRecord(p);
  }
  level->players().push_back(this);
  if (level->players().size() == 1) QueueMessage(msg::kFirstInLevel, {});
  if (server_.HasRemoteSessions()) {
    std::string entries;
    protocol::PutEntry(entries, protocol::kPropLevelName, values_);
    server_.NotifyRemoteSessions(msg::kPlayerChanges, WithId(id(), entries));
  }
  server_.observer().PlayerListChanged();
}

void TServerPlayer::LeaveLevel() {
  if (level_ != nullptr) {
    std::vector<TServerPlayer*>& players = level_->players();
    if (players.size() > 1 && players.front() == this)
      players[1]->QueueMessage(msg::kFirstInLevel, {});
    level_->RemovePlayer(this);
    level_->MarkCopy(*this);
    const std::string gone = WithId(id(), "R ");
    for (TServerPlayer* p : players) {
      p->QueueMessage(msg::kOtherPlayer, gone);
      p->ChangeRecordFor(*this);
      QueueMessage(msg::kOtherPlayer, WithId(p->id(), "R "));
      ChangeRecordFor(*p);
    }
  }
  level_ = nullptr;
  values_.SetText(protocol::kPropLevelName, "");
}

const TServerPlayerModify* TServerPlayer::FindChangeRecord(const TServerPlayer* observer) const {
  for (const TServerPlayerModify& record : change_records_) {
    if (record.observer == observer) return &record;
  }
  return nullptr;
}

std::string TServerPlayer::ChangesFor(const TServerPlayer& observer) const {
  const TServerPlayerModify* record = FindChangeRecord(&observer);
  const bool udp_missing = udp_port() <= 0 || observer.udp_port() <= 0;
  std::string out;
  for (int i = 0; i < protocol::kPropertyCount; ++i) {
    if (record != nullptr && !record->changed.test(static_cast<std::size_t>(i))) continue;
    if (kProperties[i].relay == protocol::RelayClass::kLevel ||
        (IsMovementEntry(i) && udp_missing)) {
      protocol::PutEntry(out, i, values_);
    }
  }
  return out;
}

TServerPlayerModify& TServerPlayer::ChangeRecordFor(TServerPlayer& observer) {
  for (TServerPlayerModify& record : change_records_) {
    if (record.observer == &observer) return record;
  }
  change_records_.push_back({&observer, {}});
  return change_records_.back();
}

void TServerPlayer::DropChangeRecord(const TServerPlayer* observer) {
  std::erase_if(change_records_,
                [observer](const TServerPlayerModify& r) { return r.observer == observer; });
}

void TServerPlayer::ApplyAccount(TServerAccount& account) {
  if (account.LoadOnly) {
    if (account.Session == this) server_.accounts().SetSession(account, nullptr);
    if (account_ == &account) {
      account_ = nullptr;
      server_.observer().AccountViewChanged(account);
    }
    return;
  }
  if (account.Name != account_name_) {
    account_name_ = account.Name;
    if (server_.HasRemoteSessions())
      server_.NotifyRemoteSessions(msg::kPlayerAccount,
                                   protocol::BuildPlayerAccount(id(), account_name_));
  }
  const auto edited = Temporary(server_);
  edited->ApplyProperties(account.Properties);
  std::string changes;
  for (const protocol::PropertyInfo& info : kProperties) {
    if (info.taken_from_account && !values_.SameOnWire(info.index, edited->values_))
      changes += edited->EncodeEntry(info.index);
  }
  const std::string& edited_level = edited->values_.Text(protocol::kPropLevelName);
  const bool same_level = values_.Text(protocol::kPropLevelName) == edited_level;
  if (same_level) {
    for (int i = protocol::kPropX; i <= protocol::kPropViewAngle; ++i)
      changes += edited->EncodeEntry(i);
  }
  ApplyProperties(changes);
  QueueMessage(msg::kOwnProperties, changes);
  if (!same_level) EnterLevel(edited_level);
}

}  // namespace tarvo::server
