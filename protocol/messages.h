#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace tarvo::protocol {

/// Message ids. The id byte on the wire is id + 32. Ids are reused across directions, so each
/// direction has its own table.
namespace msg {

/// First message of every TCP connection.
enum Login : int { kPlayerLogin = 0, kRemoteLogin = 1 };

/// Player client to server, after the login.
enum ToServer : int { kProperties = 1, kFileRequest = 2 };

/// Server to player client.
enum ToPlayer : int {
  kLevelData = 0,
  kLevelName = 1,
  kOtherPlayer = 2,
  kOwnProperties = 3,
  kFirstInLevel = 4,
  kDisconnectReason = 5,
  kConnectionAccepted = 6,
  kFileNotAvailable = 7,
  kAdminMessage = 8,
  kLongMessageFollows = 100,
  kFile = 101,
};

/// Remote-control client to server.
enum RemoteCommand : int {
  kGetAccount = 51,
  kSetAccount = 52,
  kAddAccount = 53,
  kDeleteAccount = 54,
  kGetPlayer = 59,
  kSetPlayer = 60,
  kDisconnectPlayer = 61,
  kReloadLevels = 62,
  kMessageToAll = 63,
  kMessageToPlayer = 64,
};

/// Server to remote-control client.
enum RemoteNotice : int {
  kAccountEntry = 50,
  kAccountStatus = 51,
  kAccountName = 52,
  kAccountRemoved = 53,
  kAccountDetails = 54,
  kPlayerEntry = 55,
  kPlayerLeft = 56,
  kPlayerDetails = 57,
  kPlayerAccount = 58,
  kPlayerChanges = 59,
};

/// Client to client over UDP.
enum Udp : int { kUdpMovement = 0, kUdpChat = 1 };

}  // namespace msg

/// Who sends a message to whom.
enum class Direction { kLogin, kToServer, kToPlayer, kRemoteCommand, kRemoteNotice, kUdp };

/// One row of the message catalogue.
struct MessageInfo {
  Direction direction;
  int id;
  std::string_view name;
  std::string_view payload;  ///< the fields in order, for people and tools
  int min_rights;            ///< remote commands: the least rights level allowed; else 0
  int min_payload;           ///< remote commands: the shortest payload accepted; else 0
};

/// The whole catalogue.
std::span<const MessageInfo> MessageCatalogue();
/// The catalogue row for an id in a direction, or nullptr.
const MessageInfo* FindMessage(Direction direction, int id);

/// A message as handed to a handler: id and payload (terminator and id byte removed).
struct Message {
  int id = 0;
  std::string_view payload;
};
/// Splits a raw message (id byte + payload) into id and payload; nullopt for an empty one.
std::optional<Message> SplitMessage(std::string_view raw);

/// Rights levels of accounts and their captions.
inline constexpr std::string_view kRightsCaptions[4] = {"No rights", "Tarvoian Police",
                                                        "Trusted Admin", "Administrator"};

/// Version texts of the login.
inline constexpr std::string_view kVersionOld = "VX3DV001";
inline constexpr std::string_view kVersionCurrent = "VX3DV002";

// ---- Login (ids 0 and 1) ----

struct LoginPayload {
  std::string_view version;  ///< 8 bytes
  std::string_view account;
  std::string_view password;
};
std::string BuildLogin(std::string_view version, std::string_view account,
                       std::string_view password);
/// Fails when the payload is shorter than the version text, or a name or password is missing
/// or runs past the end.
std::optional<LoginPayload> ParseLogin(std::string_view payload);

// ---- Player messages ----

/// Message 2 and remote notice 59: player id, then property entries.
struct PlayerEntries {
  int player_id = 0;
  std::string_view entries;
};
std::string BuildPlayerEntries(int player_id, std::string_view entries);
std::optional<PlayerEntries> ParsePlayerEntries(std::string_view payload);

/// Message 6: byte number 0.
std::string BuildConnectionAccepted();

/// Message 100: the byte count of the long message that follows (id byte and terminator
/// included). Fails on fewer than three payload bytes.
std::string BuildLongMessageFollows(int length);
std::optional<int> ParseLongMessageFollows(std::string_view payload);

/// Message 101: the name, then the file's bytes.
struct FilePayload {
  std::string_view name;
  std::string_view data;
};
std::string BuildFile(std::string_view name, std::string_view data);
std::optional<FilePayload> ParseFile(std::string_view payload);
/// Byte count of message 101 for a name and file size, as announced by message 100.
int FileMessageLength(std::size_t name_length, std::size_t file_size);

/// Message 8 texts: "Administrator " / "Police " / "Server administrator:" prefixes.
std::string AdminMessageText(std::string_view sender_prefix, std::string_view account_name,
                             std::string_view text);

// ---- Remote-control commands ----

/// Messages 51, 54, 53 (account number only) and notices 51, 53.
std::string BuildAccountNumber(int account_number);
std::optional<int> ParseAccountNumber(std::string_view payload);

/// Message 52 (set account) and the tail of message 60 (set player).
struct AccountChange {
  std::string_view name;
  std::string_view password;  ///< empty keeps the old one
  std::string_view properties;
  int flags = 0;
};
struct SetAccountPayload {
  int account_number = 0;
  AccountChange change;
};
struct SetPlayerPayload {
  int player_id = 0;
  AccountChange change;
};
std::string BuildSetAccount(int account_number, const AccountChange& change);
std::optional<SetAccountPayload> ParseSetAccount(std::string_view payload);
std::string BuildSetPlayer(int player_id, const AccountChange& change);
std::optional<SetPlayerPayload> ParseSetPlayer(std::string_view payload);

/// Messages 59 and 61, and notice 56: one player id.
std::string BuildPlayerId(int player_id);
std::optional<int> ParsePlayerId(std::string_view payload);

/// Message 62: a count (at least 1 to act), then level names to the end of the payload. The
/// names are read while whole short strings remain; the count does not limit them.
struct ReloadLevelsPayload {
  int count = 0;
  std::vector<std::string_view> names;
};
std::string BuildReloadLevels(std::span<const std::string> names);
std::optional<ReloadLevelsPayload> ParseReloadLevels(std::string_view payload);

/// Message 64: player id, then the text.
struct PlayerText {
  int player_id = 0;
  std::string_view text;
};
std::string BuildPlayerText(int player_id, std::string_view text);
std::optional<PlayerText> ParsePlayerText(std::string_view payload);

// ---- Remote-control notices ----

/// Notice 50: account number, status byte, name (rest). Notice 51 without the name.
struct AccountEntry {
  int account_number = 0;
  int status = 0;
  std::string_view name;
};
std::string BuildAccountEntry(int account_number, int status, std::string_view name);
std::optional<AccountEntry> ParseAccountEntry(std::string_view payload);
std::string BuildAccountStatus(int account_number, int status);
std::optional<AccountEntry> ParseAccountStatus(std::string_view payload);

/// Notice 52: account number, new name (rest).
std::string BuildAccountName(int account_number, std::string_view name);
std::optional<AccountEntry> ParseAccountName(std::string_view payload);

/// Notice 54: account number, empty password field, property text, flags.
struct AccountDetails {
  int account_number = 0;
  std::string_view properties;
  int flags = 0;
};
std::string BuildAccountDetails(int account_number, std::string_view properties, int flags);
std::optional<AccountDetails> ParseAccountDetails(std::string_view payload);

/// Notice 55: player id, account name (short string), entries.
struct PlayerEntry {
  int player_id = 0;
  std::string_view account_name;
  std::string_view entries;
};
std::string BuildPlayerEntry(int player_id, std::string_view account_name,
                             std::string_view entries);
std::optional<PlayerEntry> ParsePlayerEntry(std::string_view payload);

/// Notice 57: player id, account name, empty password field, property text, flags.
struct PlayerDetails {
  int player_id = 0;
  std::string_view account_name;
  std::string_view properties;
  int flags = 0;
};
std::string BuildPlayerDetails(int player_id, std::string_view account_name,
                               std::string_view properties, int flags);
std::optional<PlayerDetails> ParsePlayerDetails(std::string_view payload);

/// Notice 58: player id, account name (rest).
struct PlayerAccount {
  int player_id = 0;
  std::string_view account_name;
};
std::string BuildPlayerAccount(int player_id, std::string_view account_name);
std::optional<PlayerAccount> ParsePlayerAccount(std::string_view payload);

/// Account flags byte: bit 0 load-only, bits 1 to 3 rights, bit 4 blocked.
struct AccountFlags {
  bool load_only = false;
  int rights = 0;
  bool blocked = false;
};
int EncodeAccountFlags(const AccountFlags& flags);
AccountFlags DecodeAccountFlags(int flags);
/// Account status byte value: rights * 4 + state (0 guest, 1 free, 2 in use).
struct AccountStatus {
  int rights = 0;
  int state = 0;
};
AccountStatus DecodeAccountStatus(int status);

// ---- UDP ----

/// The 9-byte movement body: x, y, z (coordinates), view angle, animation time (2-digit).
struct Movement {
  double x = 0, y = 0, z = 0, view_angle = 0;
  int animation_time = 0;
};
inline constexpr std::size_t kMovementBodySize = 9;
std::string BuildMovement(const Movement& movement);
/// Fails on fewer than 9 bytes; bytes after the ninth are ignored.
std::optional<Movement> ParseMovement(std::string_view payload);
/// The chat body: texts longer than 200 bytes are cut to 200 and "..." appended.
std::string BuildUdpChat(std::string_view text);

}  // namespace tarvo::protocol
