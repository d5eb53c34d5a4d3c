#pragma once

#include <optional>
#include <string>
#include <vector>

#include "tools/kserverctl/decoding.h"
#include "tools/kserverctl/directory.h"

namespace tarvo::kserverctl {

/// Readable tables for people, or JSON for scripts.
enum class OutputFormat { kTable, kJson };

/// What is known of one account after reading it: its details reply and its list entry.
struct AccountView {
  int number = 0;
  std::string name;           ///< wire text, from the account list
  std::optional<int> status;  ///< from the account list, when the account is in it
  int flags = 0;
  PropertyList properties;
};

/// A player's details reply.
struct PlayerView {
  int id = 0;
  std::string account;  ///< wire text
  int flags = 0;
  PropertyList properties;
};

/// The account list, one row per account.
std::string FormatAccounts(const std::vector<AccountRow>& accounts, OutputFormat format);
/// The player list, one row per connected player.
std::string FormatPlayers(const std::vector<PlayerRow>& players, OutputFormat format);
/// One account with its flags and every stored property by name.
std::string FormatAccount(const AccountView& account, OutputFormat format);
/// One player with the flags of its account and every property by name.
std::string FormatPlayer(const PlayerView& player, OutputFormat format);
/// One line for a change notice. `directory` is the state before the notice, so a removal or
/// rename can still name what it was.
std::string FormatNotice(const Notice& notice, const RemoteDirectory& directory,
                         OutputFormat format);
/// The properties as one JSON object: numbers as numbers, texts, colours and the address as
/// strings.
void WriteProperties(class JsonWriter& json, const PropertyList& properties);

}  // namespace tarvo::kserverctl
