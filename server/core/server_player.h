#pragma once

#include <bitset>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "protocol/framing.h"
#include "protocol/message_backlog.h"
#include "protocol/properties.h"

namespace tarvo::server {

class TServerFrame;
class TServerLevel;
class TServerPlayer;
struct TServerAccount;

/// Which of a player's properties changed while another player (the observer) was elsewhere;
/// owned by the player whose changes it tracks. Created with every flag clear.
struct TServerPlayerModify {
  TServerPlayer* observer = nullptr;
  std::bitset<protocol::kPropertyCount> changed;
};

/// Texts a player may receive in message 5.
inline constexpr std::string_view kRefusedOldVersion =
    "You need at least Tarvo3D beta2 to play on this server.";
inline constexpr std::string_view kRefusedBlocked = "The account has been disabled by an admin.";
inline constexpr std::string_view kRefusedInUse = "The account is already in use.";
inline constexpr std::string_view kRefusedUnknown =
    "An account with the name and password you typed in doesn't exist.";
inline constexpr std::string_view kRefusedTooManyFromAddress =
    "Too many connections from your address.";
inline constexpr std::string_view kRefusedServerFull = "The server is full.";
/// Message 5 for a login refused during a cool-down or while its account's checks are paced.
std::string TooManyFailedLogins(std::chrono::steady_clock::duration wait);
inline constexpr std::string_view kDisconnectedByAdmin =
    "The server administrator has disconnected you.";
inline constexpr std::string_view kServerShutDown = "The server has been shut down.";

/// Largest picture a file request sends, in bytes.
inline constexpr std::size_t kMaxFileRequestSize = 64499;

/// The server's object for one TCP connection: its framing, login, the 18 player properties,
/// the account it is bound to, its level and the change records it owes other players. A
/// temporary session (no connection, id 0) decodes and encodes property texts and never relays.
class TServerPlayer final : public protocol::MessageSink, public protocol::FramingObserver {
 public:
  /// A session for an accepted connection with player id `id` and peer address `address`.
  TServerPlayer(TServerFrame& server, std::unique_ptr<protocol::ByteStream> stream, int id,
                std::uint32_t address);
  /// A temporary session: no connection, id 0, never listed.
  static std::unique_ptr<TServerPlayer> Temporary(TServerFrame& server);
  ~TServerPlayer() override;
  TServerPlayer(const TServerPlayer&) = delete;
  TServerPlayer& operator=(const TServerPlayer&) = delete;

  // ---- Framing ----

  /// Appends a message to the outgoing batch; an overflowing output queue marks the session
  /// closing.
  void QueueMessage(int id, std::string_view payload);
  /// Queues message 100 and then this message, which may hold any byte.
  void QueueLongMessage(int id, std::string_view payload);
  /// Hands the output to the socket; a failed send, or one that accepts nothing, marks closing.
  void SendPending();
  /// Reads what was received, while not too much waits, and handles the waiting messages in
  /// order up to the tick's budget. A failed connection or a packet that does not decompress
  /// marks closing, and so does a closed one once its last message was handled.
  void ReceivePending();
  /// Messages received and not yet handled.
  std::size_t pending_messages() const { return backlog_.size(); }

  // ---- Session ----

  /// Dispatch of one received message (id byte and payload).
  void HandleMessage(std::string_view raw);
  /// The first message of the connection.
  void HandleLogin(std::string_view raw);
  /// Queues message 5 with `reason`, hands the output over and ends the session (at once, or at
  /// the end of its step when it is handling its own messages), then refreshes the count.
  void Disconnect(std::string_view reason);
  /// Marks the session for destruction at the end of its step in the tick.
  void MarkClosing(std::string_view why);
  /// Marks the session for destruction because its output queue overflowed: its unsent output
  /// is dropped with the socket rather than left in the kernel for a peer that does not read.
  void MarkOverflowed();
  /// Closes the connection (destruction and shutdown).
  void CloseSocket();

  // ---- Properties, relay and levels ----

  /// Decodes, stores and relays a property message.
  void ApplyProperties(std::string_view entries);
  /// The value of property `index` in its encoding, without the code byte.
  std::string EncodeProperty(int index) const;
  /// The entry (code byte and value) of property `index`.
  std::string EncodeEntry(int index) const;
  /// Moves the player into the level of that name (leaving its current one first).
  void EnterLevel(std::string_view name);
  /// Takes the player out of its level.
  void LeaveLevel();
  /// The entries of this player that `observer` is owed.
  std::string ChangesFor(const TServerPlayer& observer) const;
  /// This player's change record for `observer`, created when missing.
  TServerPlayerModify& ChangeRecordFor(TServerPlayer& observer);
  /// Deletes this player's change record for `observer`.
  void DropChangeRecord(const TServerPlayer* observer);
  /// Whether a change record for `observer` exists.
  const TServerPlayerModify* FindChangeRecord(const TServerPlayer* observer) const;
  /// Pushes an edited account to this connected player.
  void ApplyAccount(TServerAccount& account);
  /// The account's stored property text built from this session's values.
  std::string StoredPropertyText() const;

  // ---- State ----

  int id() const { return static_cast<int>(values_.Number(protocol::kPropPlayerId)); }
  /// A number no other session of this process had or will have.
  std::uint64_t serial() const { return serial_; }
  std::uint32_t address() const;
  int udp_port() const { return static_cast<int>(values_.Number(protocol::kPropUdpPort)); }
  const protocol::PropertySet& values() const { return values_; }
  int rights() const { return rights_; }
  void SetRights(int rights) { rights_ = rights; }
  TServerLevel* level() const { return level_; }
  TServerAccount* account() const { return account_; }
  /// Drops the link to the account (the account's own link is the caller's).
  void ReleaseAccount() { account_ = nullptr; }
  const std::string& account_name() const { return account_name_; }
  /// Gives the player id back (a remote-control login): with id 0 the session relays nothing
  /// that could be taken for a later player of that id.
  void ReleasePlayerId() { values_.SetNumber(protocol::kPropPlayerId, 0); }
  /// The name given at login (remote-control logins set it themselves).
  void SetAccountName(std::string_view name) { account_name_ = std::string(name); }
  int version() const { return version_; }
  bool awaiting_login() const { return awaiting_login_; }
  /// A login waits for its turn to have its password checked (it is retried each tick).
  bool waiting_turn() const { return waiting_turn_; }
  /// Logged in as a player (not refused, not remote control, not a different first message).
  bool is_playing() const { return playing_; }
  bool closing() const { return closing_; }
  const std::string& close_reason() const { return close_reason_; }
  bool is_connected() const { return stream_ != nullptr; }
  bool servicing() const { return servicing_; }
  const std::vector<TServerPlayerModify>& change_records() const { return change_records_; }
  protocol::PacketConnection& connection() { return connection_; }
  const protocol::PacketConnection& connection() const { return connection_; }
  /// The socket, for the shutdown path; nullptr for a temporary session.
  protocol::ByteStream* stream() { return stream_.get(); }
  using Clock = std::chrono::steady_clock;
  Clock::time_point accepted_at() const { return accepted_at_; }
  /// When the last complete message arrived (the acceptance until then).
  Clock::time_point last_message_at() const { return last_message_at_; }

 private:
  /// After this player's UDP port fell to 0 in a level: it and each level player with a UDP
  /// port have seen each other's movement only in datagrams, so both get the current position
  /// over TCP.
  void ResendPositionsAfterUdpClosed();

  // protocol::MessageSink: messages wait in the backlog for the session's turn in the tick's
  // budget.
  void OnMessage(std::string_view raw) override;
  void HandlePending();
  // protocol::FramingObserver
  void OnOutputOverflow() override;
  void OnBatchRefused(std::size_t batch_size, std::size_t compressed_size) override;

  void Refuse(std::string_view text);
  // Handles one message; a failing handler is logged and the session goes on.
  void HandleGuarded(std::string_view raw);
  // Whether the password of `name` may be checked now; otherwise the login waits for its turn
  // (kept and retried each tick) or is refused, and false is returned.
  bool TakeTurn(std::string_view raw, std::string_view name, bool remote);
  void HandleFileRequest(std::string_view name);
  // The nickname rule: drops a guild tag the guild file does not grant; returns the entry.
  std::string CheckNickname(std::string_view received);
  // Every logged-in player session other than this one.
  void ForOtherPlayers(const std::function<void(TServerPlayer&)>& f);

  TServerFrame& server_;
  std::uint64_t serial_;
  std::unique_ptr<protocol::ByteStream> stream_;
  // Messages received and not yet handled; while twice the budget waits the gate reads
  // nothing, so TCP pushes back on the sender.
  protocol::MessageBacklog backlog_;
  protocol::BackloggedStream gate_{stream_.get(), backlog_};
  protocol::ServerSplitter splitter_;
  protocol::PacketConnection connection_;
  protocol::PropertySet values_;

  int rights_ = 0;
  TServerLevel* level_ = nullptr;
  std::vector<TServerPlayerModify> change_records_;
  TServerAccount* account_ = nullptr;
  std::string account_name_;
  bool closing_ = false;
  bool reset_on_close_ = false;
  std::string close_reason_;
  int version_ = 0;
  bool awaiting_login_ = true;
  bool playing_ = false;
  bool waiting_turn_ = false;
  std::string deferred_login_;  // the login message waiting for its turn
  bool servicing_ = false;
  bool peer_closed_ = false;
  Clock::time_point accepted_at_;
  Clock::time_point last_message_at_;

  friend class TServerFrame;
};

}  // namespace tarvo::server
