#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/result.h"
#include "tools/kserverctl/decoding.h"

namespace tarvo::kserverctl {

/// An account as the lists and notices describe it.
struct AccountRow {
  int number = 0;
  std::string name;  ///< wire text
  int status = 0;    ///< rights * 4 + state

  int rights() const { return status / 4; }
  int state() const { return status % 4; }
};

/// A connected player as the lists and notices describe it; `properties` holds the latest value
/// of every property heard of, in the order first heard.
struct PlayerRow {
  int id = 0;
  std::string account;  ///< wire text
  PropertyList properties;
};

/// Replaces the entry of `field`'s property in `list`, or appends it.
void MergeField(PropertyList& list, const PropertyField& field);

/// The account number or player id named on the command line, or why there is none: not found
/// or ambiguous.
using Resolution = base::Result<int>;

/// The server's accounts and players as received at login and kept current by the notices.
class RemoteDirectory {
 public:
  /// Takes in one notice (50..59); replies (54, 57) change nothing here.
  void Apply(const Notice& notice);

  const std::vector<AccountRow>& accounts() const { return accounts_; }
  const std::vector<PlayerRow>& players() const { return players_; }
  const AccountRow* FindAccount(int number) const;
  const PlayerRow* FindPlayer(int id) const;

  /// An account by number or, where exactly one account has it, by name (UTF-8 as typed). A
  /// text of digits names the account with that number when there is one, else a name.
  Resolution ResolveAccount(std::string_view text) const;
  /// A player by id or by the name of its account, where exactly one player uses it.
  Resolution ResolvePlayer(std::string_view text) const;

 private:
  std::vector<AccountRow> accounts_;
  std::vector<PlayerRow> players_;
};

}  // namespace tarvo::kserverctl
