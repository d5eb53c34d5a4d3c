#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "server/accounts/account_store.h"

namespace tarvo::server {

class TServerLevel;
class TServerPlayer;

/// What the server reports once its socket is up.
struct ServerStartInfo {
  std::uint16_t port = 0;       ///< the port actually bound (the system's choice for "0")
  std::string port_text;        ///< the port text as given
  std::string host_name;        ///< this machine's name
  std::string address;          ///< the local address listened on, "0.0.0.0" for all
  int accounts_loaded = 0;      ///< accounts read from the accounts file
  std::string accounts_note;    ///< why none were read (missing, unreadable), or empty
  std::size_t level_files = 0;  ///< files indexed below the levels directory
};

/// Told by the server core of everything a window or a log shows. Every call happens on the
/// server's one thread. Every notice is pure, so that a notice added here cannot be left out of
/// the fan-out; `QuietObserver` is the base for observers that pick the notices they need.
class ServerObserver {
 public:
  virtual ~ServerObserver() = default;

  /// The listening socket is up, the accounts are loaded and the level files indexed.
  virtual void ServerStarted(const ServerStartInfo& info) = 0;
  /// The number of player sessions shown changed (remote-control sessions are not counted).
  virtual void SessionCountChanged(int count) = 0;
  /// An account's place or state in the accounts view may have changed (bound or released).
  virtual void AccountViewChanged(const TServerAccount& account) = 0;
  /// An account is leaving the account list (deleted by a window or by remote control). The
  /// record is still valid during the call and destroyed right after it.
  virtual void AccountRemoved(const TServerAccount& account) = 0;
  /// The player list changed: a login, a departure or a level change.
  virtual void PlayerListChanged() = 0;

  /// A connection was accepted and got a player id.
  virtual void SessionAccepted(const TServerPlayer& session) = 0;
  /// A connection got no session (every player id taken, or a cap on connections reached);
  /// `text` is the reason it was sent, `why` says which limit it met.
  virtual void ConnectionRefused(std::uint32_t address, std::string_view text,
                                 std::string_view why) = 0;
  /// A player logged in.
  virtual void PlayerLoggedIn(const TServerPlayer& session) = 0;
  /// A login was refused; `reason` is the text sent to the client, or a description when no
  /// text is sent.
  virtual void LoginRefused(const TServerPlayer& session, std::string_view reason) = 0;
  /// A session is being destroyed; `why` says what ended it.
  virtual void SessionClosed(const TServerPlayer& session, std::string_view why) = 0;
  /// A batch could not be framed (its compressed size exceeds the 16-bit packet length).
  virtual void PacketRefused(const TServerPlayer& session, std::size_t batch_size,
                             std::size_t compressed_size) = 0;
  /// The accounts file was written (or not: see `result.ok`).
  virtual void AccountsSaved(const AccountSaveResult& result) = 0;
  /// A level was read from disk into the cache (`reload`: read again by a reload).
  virtual void LevelLoaded(const TServerLevel& level, bool reload) = 0;
  /// A level name that names no file was asked for.
  virtual void LevelNotFound(std::string_view name) = 0;
  /// A cached level without players was dropped by a reload.
  virtual void LevelDropped(std::string_view name) = 0;
  /// Anything else worth a line in a log.
  virtual void Note(std::string_view text) = 0;
};

/// An observer that ignores every notice it does not override.
class QuietObserver : public ServerObserver {
 public:
  void ServerStarted(const ServerStartInfo& /*info*/) override {}
  void SessionCountChanged(int /*count*/) override {}
  void AccountViewChanged(const TServerAccount& /*account*/) override {}
  void AccountRemoved(const TServerAccount& /*account*/) override {}
  void PlayerListChanged() override {}
  void SessionAccepted(const TServerPlayer& /*session*/) override {}
  void ConnectionRefused(std::uint32_t /*address*/, std::string_view /*text*/,
                         std::string_view /*why*/) override {}
  void PlayerLoggedIn(const TServerPlayer& /*session*/) override {}
  void LoginRefused(const TServerPlayer& /*session*/, std::string_view /*reason*/) override {}
  void SessionClosed(const TServerPlayer& /*session*/, std::string_view /*why*/) override {}
  void PacketRefused(const TServerPlayer& /*session*/, std::size_t /*batch_size*/,
                     std::size_t /*compressed_size*/) override {}
  void AccountsSaved(const AccountSaveResult& /*result*/) override {}
  void LevelLoaded(const TServerLevel& /*level*/, bool /*reload*/) override {}
  void LevelNotFound(std::string_view /*name*/) override {}
  void LevelDropped(std::string_view /*name*/) override {}
  void Note(std::string_view /*text*/) override {}
};

}  // namespace tarvo::server
