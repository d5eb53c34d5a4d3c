#include "protocol/messages.h"

#include <algorithm>

#include "protocol/encoding.h"
#include "protocol/properties.h"

namespace tarvo::protocol {
namespace {

using D = Direction;

const MessageInfo kCatalogue[] = {
    {D::kLogin, 0, "player login", "version (8), account (short string), password (short string)",
     0, 0},
    {D::kLogin, 1, "remote-control login", "as player login", 0, 0},
    {D::kToServer, 1, "properties", "entries", 0, 0},
    {D::kToServer, 2, "file request", "file name without extension (rest)", 0, 0},
    {D::kToPlayer, 0, "level data", "level text with paragraph marks (rest), or empty", 0, 0},
    {D::kToPlayer, 1, "level name", "level file name in lower case (rest)", 0, 0},
    {D::kToPlayer, 2, "other player", "player id (byte), entries", 0, 0},
    {D::kToPlayer, 3, "own properties", "entries", 0, 0},
    {D::kToPlayer, 4, "first in level", "empty", 0, 0},
    {D::kToPlayer, 5, "disconnect reason", "text (rest)", 0, 0},
    {D::kToPlayer, 6, "connection accepted", "byte number 0", 0, 0},
    {D::kToPlayer, 7, "file not available", "requested name (rest)", 0, 0},
    {D::kToPlayer, 8, "administrator message", "text with paragraph marks (rest)", 0, 0},
    {D::kToPlayer, 100, "long message follows", "3-digit byte count of the next message", 0, 0},
    {D::kToPlayer, 101, "file", "name (short string), file bytes (rest)", 0, 0},
    {D::kRemoteCommand, 51, "get account", "account number (4)", 1, 4},
    {D::kRemoteCommand, 52, "set account",
     "account number (4), name, password, properties (short strings), flags (byte)", 1, 6},
    {D::kRemoteCommand, 53, "add account", "one accounts-file record", 2, 4},
    {D::kRemoteCommand, 54, "delete account", "account number (4)", 2, 4},
    {D::kRemoteCommand, 59, "get player", "player id (byte)", 1, 1},
    {D::kRemoteCommand, 60, "set player",
     "player id (byte), name, password, properties (short strings), flags (byte)", 1, 1},
    {D::kRemoteCommand, 61, "disconnect player", "player id (byte)", 1, 1},
    {D::kRemoteCommand, 62, "reload levels", "count (2), level names (short strings)", 2, 2},
    {D::kRemoteCommand, 63, "message to all players", "text (rest)", 2, 1},
    {D::kRemoteCommand, 64, "message to one player", "player id (byte), text (rest)", 1, 2},
    {D::kRemoteNotice, 50, "account entry", "account number (4), status (byte), name (rest)", 0, 0},
    {D::kRemoteNotice, 51, "account status", "account number (4), status (byte)", 0, 0},
    {D::kRemoteNotice, 52, "account name", "account number (4), name (rest)", 0, 0},
    {D::kRemoteNotice, 53, "account removed", "account number (4)", 0, 0},
    {D::kRemoteNotice, 54, "account details",
     "account number (4), empty password, properties (short string), flags (byte)", 0, 0},
    {D::kRemoteNotice, 55, "player entry", "player id (byte), account name (short string), entries",
     0, 0},
    {D::kRemoteNotice, 56, "player left", "player id (byte)", 0, 0},
    {D::kRemoteNotice, 57, "player details",
     "player id (byte), account name, empty password, properties (short strings), flags (byte)", 0,
     0},
    {D::kRemoteNotice, 58, "player account", "player id (byte), account name (rest)", 0, 0},
    {D::kRemoteNotice, 59, "player changes", "player id (byte), entries", 0, 0},
    {D::kUdp, 0, "movement", "x, y, z (coordinates), view angle (angle), animation time (2)", 0, 0},
    {D::kUdp, 1, "chat", "text (rest), cut to 200 bytes plus \"...\"", 0, 0},
};

std::string WithNumber4(int n) {
  std::string out;
  PutNumber4(out, n);
  return out;
}

std::string WithByte(int n) {
  std::string out;
  PutByteNumber(out, n);
  return out;
}

void PutAccountChange(std::string& out, const AccountChange& change) {
  PutShortString(out, change.name);
  PutShortString(out, change.password);
  PutShortString(out, change.properties);
  PutByteNumber(out, change.flags);
}

bool ReadAccountChange(PayloadReader& r, AccountChange& change) {
  change.name = r.ShortString();
  change.password = r.ShortString();
  change.properties = r.ShortString();
  change.flags = r.ByteNumber();
  return r.ok();
}

}  // namespace

std::span<const MessageInfo> MessageCatalogue() { return kCatalogue; }

const MessageInfo* FindMessage(Direction direction, int id) {
  for (const MessageInfo& info : MessageCatalogue()) {
    if (info.direction == direction && info.id == id) return &info;
  }
  return nullptr;
}

std::optional<Message> SplitMessage(std::string_view raw) {
  if (raw.empty()) return std::nullopt;
  return Message{static_cast<unsigned char>(raw[0]) - 32, raw.substr(1)};
}

std::string BuildLogin(std::string_view version, std::string_view account,
                       std::string_view password) {
  std::string out(version.substr(0, 8));
  out.resize(8, ' ');
  PutShortString(out, account);
  PutShortString(out, password);
  return out;
}

std::optional<LoginPayload> ParseLogin(std::string_view payload) {
  PayloadReader r(payload);
  LoginPayload login;
  login.version = r.Fixed(8);
  login.account = r.ShortString();
  login.password = r.ShortString();
  if (!r.ok()) return std::nullopt;
  return login;
}

std::string BuildPlayerEntries(int player_id, std::string_view entries) {
  std::string out = WithByte(player_id);
  out.append(entries);
  return out;
}

std::optional<PlayerEntries> ParsePlayerEntries(std::string_view payload) {
  PayloadReader r(payload);
  PlayerEntries p;
  p.player_id = r.ByteNumber();
  p.entries = r.Rest();
  if (!r.ok()) return std::nullopt;
  return p;
}

std::string BuildConnectionAccepted() { return WithByte(0); }

std::string BuildLongMessageFollows(int length) {
  std::string out;
  PutNumber3(out, length);
  return out;
}

std::optional<int> ParseLongMessageFollows(std::string_view payload) {
  PayloadReader r(payload);
  const int n = r.Number3();
  if (!r.ok()) return std::nullopt;
  return n;
}

std::string BuildFile(std::string_view name, std::string_view data) {
  std::string out;
  PutShortString(out, name);
  out.append(data);
  return out;
}

std::optional<FilePayload> ParseFile(std::string_view payload) {
  PayloadReader r(payload);
  FilePayload f;
  f.name = r.ShortString();
  f.data = r.Rest();
  if (!r.ok()) return std::nullopt;
  return f;
}

int FileMessageLength(std::size_t name_length, std::size_t file_size) {
  // id byte + length byte + name + data + terminator
  return static_cast<int>(name_length + file_size + 3);
}

std::string AdminMessageText(std::string_view sender_prefix, std::string_view account_name,
                             std::string_view text) {
  std::string out(sender_prefix);
  out.append(account_name);
  out.push_back(':');
  out.push_back(kParagraphMark);
  out.append(text);
  return out;
}

std::string BuildAccountNumber(int account_number) { return WithNumber4(account_number); }

std::optional<int> ParseAccountNumber(std::string_view payload) {
  PayloadReader r(payload);
  const int n = r.Number4();
  if (!r.ok()) return std::nullopt;
  return n;
}

std::string BuildSetAccount(int account_number, const AccountChange& change) {
  std::string out = WithNumber4(account_number);
  PutAccountChange(out, change);
  return out;
}

std::optional<SetAccountPayload> ParseSetAccount(std::string_view payload) {
  PayloadReader r(payload);
  SetAccountPayload p;
  p.account_number = r.Number4();
  if (!ReadAccountChange(r, p.change)) return std::nullopt;
  return p;
}

std::string BuildSetPlayer(int player_id, const AccountChange& change) {
  std::string out = WithByte(player_id);
  PutAccountChange(out, change);
  return out;
}

std::optional<SetPlayerPayload> ParseSetPlayer(std::string_view payload) {
  PayloadReader r(payload);
  SetPlayerPayload p;
  p.player_id = r.ByteNumber();
  if (!ReadAccountChange(r, p.change)) return std::nullopt;
  return p;
}

std::string BuildPlayerId(int player_id) { return WithByte(player_id); }

std::optional<int> ParsePlayerId(std::string_view payload) {
  PayloadReader r(payload);
  const int id = r.ByteNumber();
  if (!r.ok()) return std::nullopt;
  return id;
}

std::string BuildReloadLevels(std::span<const std::string> names) {
  std::string out;
  PutNumber2(out, static_cast<int>(names.size()));
  for (const std::string& name : names) PutShortString(out, name);
  return out;
}

std::optional<ReloadLevelsPayload> ParseReloadLevels(std::string_view payload) {
  PayloadReader r(payload);
  ReloadLevelsPayload p;
  p.count = r.Number2();
  if (!r.ok()) return std::nullopt;
  while (p.count > 0 && !r.AtEnd()) {
    std::string_view name = r.ShortString();
    if (!r.ok()) break;
    p.names.push_back(name);
  }
  return p;
}

std::string BuildPlayerText(int player_id, std::string_view text) {
  std::string out = WithByte(player_id);
  out.append(text);
  return out;
}

std::optional<PlayerText> ParsePlayerText(std::string_view payload) {
  PayloadReader r(payload);
  PlayerText p;
  p.player_id = r.ByteNumber();
  p.text = r.Rest();
  if (!r.ok()) return std::nullopt;
  return p;
}

std::string BuildAccountEntry(int account_number, int status, std::string_view name) {
  std::string out = WithNumber4(account_number);
  PutByteNumber(out, status);
  out.append(name);
  return out;
}

std::optional<AccountEntry> ParseAccountEntry(std::string_view payload) {
  PayloadReader r(payload);
  AccountEntry e;
  e.account_number = r.Number4();
  e.status = r.ByteNumber();
  e.name = r.Rest();
  if (!r.ok()) return std::nullopt;
  return e;
}

std::string BuildAccountStatus(int account_number, int status) {
  return BuildAccountEntry(account_number, status, {});
}

std::optional<AccountEntry> ParseAccountStatus(std::string_view payload) {
  return ParseAccountEntry(payload);
}

std::string BuildAccountName(int account_number, std::string_view name) {
  std::string out = WithNumber4(account_number);
  out.append(name);
  return out;
}

std::optional<AccountEntry> ParseAccountName(std::string_view payload) {
  PayloadReader r(payload);
  AccountEntry e;
  e.account_number = r.Number4();
  e.name = r.Rest();
  if (!r.ok()) return std::nullopt;
  return e;
}

std::string BuildAccountDetails(int account_number, std::string_view properties, int flags) {
  std::string out = WithNumber4(account_number);
  PutShortString(out, {});
  PutShortString(out, properties);
  PutByteNumber(out, flags);
  return out;
}

std::optional<AccountDetails> ParseAccountDetails(std::string_view payload) {
  PayloadReader r(payload);
  AccountDetails d;
  d.account_number = r.Number4();
  r.ShortString();
  d.properties = r.ShortString();
  d.flags = r.ByteNumber();
  if (!r.ok()) return std::nullopt;
  return d;
}

std::string BuildPlayerEntry(int player_id, std::string_view account_name,
                             std::string_view entries) {
  std::string out = WithByte(player_id);
  PutShortString(out, account_name);
  out.append(entries);
  return out;
}

std::optional<PlayerEntry> ParsePlayerEntry(std::string_view payload) {
  PayloadReader r(payload);
  PlayerEntry e;
  e.player_id = r.ByteNumber();
  e.account_name = r.ShortString();
  e.entries = r.Rest();
  if (!r.ok()) return std::nullopt;
  return e;
}

std::string BuildPlayerDetails(int player_id, std::string_view account_name,
                               std::string_view properties, int flags) {
  std::string out = WithByte(player_id);
  PutShortString(out, account_name);
  PutShortString(out, {});
  PutShortString(out, properties);
  PutByteNumber(out, flags);
  return out;
}

std::optional<PlayerDetails> ParsePlayerDetails(std::string_view payload) {
  PayloadReader r(payload);
  PlayerDetails d;
  d.player_id = r.ByteNumber();
  d.account_name = r.ShortString();
  r.ShortString();
  d.properties = r.ShortString();
  d.flags = r.ByteNumber();
  if (!r.ok()) return std::nullopt;
  return d;
}

std::string BuildPlayerAccount(int player_id, std::string_view account_name) {
  std::string out = WithByte(player_id);
  out.append(account_name);
  return out;
}

std::optional<PlayerAccount> ParsePlayerAccount(std::string_view payload) {
  PayloadReader r(payload);
  PlayerAccount p;
  p.player_id = r.ByteNumber();
  p.account_name = r.Rest();
  if (!r.ok()) return std::nullopt;
  return p;
}

int EncodeAccountFlags(const AccountFlags& flags) {
  return (flags.load_only ? 1 : 0) | ((std::clamp(flags.rights, 0, 3)) << 1) |
         (flags.blocked ? 16 : 0);
}

AccountFlags DecodeAccountFlags(int flags) {
  return AccountFlags{(flags & 1) != 0, (flags >> 1) & 7, (flags & 16) != 0};
}

AccountStatus DecodeAccountStatus(int status) { return AccountStatus{status / 4, status % 4}; }

std::string BuildMovement(const Movement& m) {
  std::string out;
  PutCoordinate(out, m.x);
  PutCoordinate(out, m.y);
  PutCoordinate(out, m.z);
  PutAngle(out, m.view_angle);
  PutNumber2(out, m.animation_time);
  return out;
}

std::optional<Movement> ParseMovement(std::string_view payload) {
  if (payload.size() < kMovementBodySize) return std::nullopt;
  PayloadReader r(payload);
  Movement m;
  m.x = r.Coordinate();
  m.y = r.Coordinate();
  m.z = r.Coordinate();
  m.view_angle = r.Angle();
  m.animation_time = r.Number2();
  return m;
}

std::string BuildUdpChat(std::string_view text) {
  if (text.size() <= kMaxPlayerText) return std::string(text);
  std::string out(text.substr(0, kMaxPlayerText));
  out.append("...");
  return out;
}

}  // namespace tarvo::protocol
