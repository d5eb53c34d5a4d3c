#include "server/app/log_observer.h"

#include <spdlog/spdlog.h>

#include "net/address.h"
#include "server/core/server_level.h"
#include "server/core/server_player.h"

namespace tarvo::server {

namespace {

std::string Describe(const TServerPlayer& session) {
  std::string out = "player " + std::to_string(session.id());
  if (!session.account_name().empty())
    out += ", account \"" + Printable(session.account_name()) + "\"";
  out += ", address " + net::FormatIpv4(session.address());
  return out;
}

}  // namespace

void LogObserver::ServerStarted(const ServerStartInfo& info) {
  spdlog::info(
      "server started at port {} on host \"{}\": {} account(s) loaded{}, {} level file(s) indexed",
      info.port, Printable(info.host_name), info.accounts_loaded,
      info.accounts_note.empty() ? "" : " (" + info.accounts_note + ")", info.level_files);
}

void LogObserver::SessionCountChanged(int count) {
  spdlog::debug("current session count: {}", count);
}

void LogObserver::SessionAccepted(const TServerPlayer& session) {
  spdlog::debug("connection accepted: {}", Describe(session));
}

void LogObserver::SessionRefusedFull(std::uint32_t address) {
  spdlog::warn("connection from {} closed: every player id is taken", net::FormatIpv4(address));
}

void LogObserver::PlayerLoggedIn(const TServerPlayer& session) {
  spdlog::info("login: {}{}", Describe(session),
               session.account() == nullptr ? " (guest account)" : "");
}

void LogObserver::LoginRefused(const TServerPlayer& session, std::string_view reason) {
  spdlog::info("login refused: {}: {}", Describe(session), Printable(reason));
}

void LogObserver::SessionClosed(const TServerPlayer& session, std::string_view why) {
  spdlog::info("disconnect: {}: {}", Describe(session), Printable(why));
}

void LogObserver::PacketRefused(const TServerPlayer& session, std::size_t batch_size,
                                std::size_t compressed_size) {
  spdlog::warn(
      "over-long packet refused: {}: a batch of {} bytes compresses to {} bytes, more than a "
      "packet can carry",
      Describe(session), batch_size, compressed_size);
}

void LogObserver::AccountsSaved(const AccountSaveResult& result) {
  for (const std::string& warning : result.warnings) spdlog::warn("accounts: {}", warning);
  if (result.ok) {
    spdlog::info("accounts saved: {} account(s)", result.accounts);
  } else {
    spdlog::error("accounts could not be saved (the next save tries again): {}", result.error);
  }
}

void LogObserver::LevelLoaded(const TServerLevel& level, bool reload) {
  spdlog::info("level {}: {} ({}, {} bytes)", reload ? "reloaded" : "loaded",
               Printable(level.name()), Printable(level.path()), level.text().size());
}

void LogObserver::LevelNotFound(std::string_view name) {
  spdlog::warn("level not found: \"{}\"", Printable(name));
}

void LogObserver::LevelDropped(std::string_view name) {
  spdlog::info("level dropped from the cache: {}", Printable(name));
}

void LogObserver::Note(std::string_view text) { spdlog::info("{}", text); }

}  // namespace tarvo::server
