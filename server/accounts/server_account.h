#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tarvo::server {

class TServerPlayer;

/// One account: login name and password, rights, flags, the player's stored properties and
/// three lists that are carried through the accounts file unchanged.
struct TServerAccount {
  /// Run-time number naming the account in remote-control messages; never stored.
  std::int32_t Id = 0;
  std::string Name;
  std::string Password;
  /// Stored property entries (code + 32, then the value), ascending codes.
  std::string Properties;
  /// Guest account: any number of players may use it, and play never changes it.
  bool LoadOnly = false;
  /// Logins with this account are refused.
  bool Blocked = false;
  /// 0 "No rights" .. 3 "Administrator"; 4 to 7 may come from a file and are kept as read.
  int Rights = 0;
  std::vector<std::string> ShortListA;
  std::vector<std::string> ShortListB;
  /// Never holds empty entries after a load.
  std::vector<std::string> LongList;
  /// The session using the account; never stored. Owned by the server core.
  TServerPlayer* Session = nullptr;
};

/// Captions of the rights levels 0 to 3.
inline constexpr std::array<std::string_view, 4> kRightsCaptions = {
    "No rights", "Tarvoian Police", "Trusted Admin", "Administrator"};

/// Captions of the five account groups, by group number.
inline constexpr std::array<std::string_view, 5> kAccountGroupCaptions = {
    "Guest Accounts", "Regular Accounts", "Tarvoian Police", "Trusted Admins", "Administrators"};

/// Shown in lists for an account without a name.
inline constexpr std::string_view kNoName = "(noname)";

/// `Id` as four 7-bit digits (+32), most significant first.
std::string EncodeAccountId(const TServerAccount& account);

/// 32 + 4 × rights + state (0 guest, 2 in use, 1 otherwise).
char AccountStatusChar(const TServerAccount& account);

/// `EncodeAccountId` + `AccountStatusChar` + name, the body of an account entry notice.
std::string AccountSummary(const TServerAccount& account);

/// Group 0..4: administrators 4, trusted admins 3, police 2, else guests 0 and regular 1.
int AccountGroup(const TServerAccount& account);

/// The caption of a rights level; levels above 3 read as "Administrator".
std::string_view RightsCaption(int rights);

}  // namespace tarvo::server
