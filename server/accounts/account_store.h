#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "base/result.h"
#include "server/accounts/server_account.h"

namespace tarvo::server {

class AccountStore;

/// Name of the accounts file in the server directory.
inline constexpr std::string_view kAccountsFileName = "accounts.txt";

/// Told of every change to the account list. The server core implements it to send the account
/// notices to remote-control sessions and to refresh the windows; the default does nothing.
class AccountObserver {
 public:
  virtual ~AccountObserver() = default;
  /// `LoadAccounts` replaced the whole list (views rebuild; nothing is sent).
  virtual void AccountsLoaded(const AccountStore& /*list*/) {}
  /// An account was appended at run time (account entry notice).
  virtual void AccountAdded(const TServerAccount& /*account*/) {}
  /// An account is about to be destroyed; its `Session`, if any, must drop its link now
  /// (account removed notice).
  virtual void AccountRemoved(const TServerAccount& /*account*/) {}
  /// An account changed; the flags say whether its status byte or its name differ from before
  /// (account status notice first, then account name notice). Not called when neither changed.
  virtual void AccountChanged(const TServerAccount& /*account*/, bool /*status_changed*/,
                              bool /*name_changed*/) {}
};

/// How `LoadAccounts` went.
struct AccountLoadResult {
  enum class Status { kLoaded, kMissing, kUnreadable };
  Status status = Status::kMissing;
  int accounts = 0;       ///< accounts read
  int skipped_lines = 0;  ///< lines too short to be records
  std::string error;      ///< reason when unreadable
};

/// How `SaveAccounts` went. On failure the old file is untouched and the next save tries again.
struct AccountSaveResult {
  bool ok = false;
  int accounts = 0;
  std::string error;                  ///< reason of a failure
  std::vector<std::string> warnings;  ///< values cut or left out so that every record reads back
};

/// An account for `AddNewAccount` and `AddAccountToFile`.
struct NewAccount {
  std::string name;
  std::string password;
  int rights = 0;
  bool load_only = false;
  bool blocked = false;
};

/// The process-wide ordered list of accounts: file order, run-time additions at the end. Owns
/// its records and hands out `Id`s from its account counter, which starts at 1.
class AccountStore {
 public:
  explicit AccountStore(AccountObserver* observer = nullptr);
  ~AccountStore();
  AccountStore(const AccountStore&) = delete;
  AccountStore& operator=(const AccountStore&) = delete;

  /// Replaces the observer (nullptr: nothing is told).
  void SetObserver(AccountObserver* observer);

  /// Supplies the stored property entries of a session for `RefreshStoredProperties`; the
  /// server core installs it, since the session's values live there.
  void SetStoredPropertiesSource(std::function<std::string(const TServerPlayer&)> source);

  const std::vector<std::unique_ptr<TServerAccount>>& accounts() const { return accounts_; }
  std::size_t size() const { return accounts_.size(); }

  /// The first account whose name and password equal these, byte for byte; flags are ignored.
  TServerAccount* FindAccount(std::string_view name, std::string_view password) const;
  /// The account with this run-time `Id`, or nullptr.
  TServerAccount* FindById(std::int32_t id) const;
  /// Whether `account` is still in the list.
  bool Contains(const TServerAccount* account) const;

  /// A new record with the next `Id`, not in the list (editors' temporary records use this too,
  /// so that every record gets its own number).
  std::unique_ptr<TServerAccount> CreateAccount();
  /// Appends an account and tells the observer.
  TServerAccount& AddAccount(std::unique_ptr<TServerAccount> account);
  /// Builds a record from one accounts-file record, appends it and tells the observer.
  TServerAccount& ParseAccountRecord(std::string_view record);
  /// Builds an account from its parts and appends it (observer told).
  TServerAccount& AddNewAccount(const NewAccount& fields);
  /// Tells the observer, then removes and destroys the account. False when it is not listed.
  bool RemoveAccount(TServerAccount* account);
  /// Runs `change` on the account and tells the observer when its status byte or name changed.
  void ChangeAccount(TServerAccount& account, const std::function<void(TServerAccount&)>& change);
  /// Links the account to a session, or releases it with nullptr (a status change).
  void SetSession(TServerAccount& account, TServerPlayer* session);

  /// Rebuilds `Properties` from the account's session, when it has one.
  void RefreshStoredProperties(TServerAccount& account);
  /// `RefreshStoredProperties` on every account in list order (shutdown).
  void RefreshAllStoredProperties();

  /// Replaces the list by the records of the accounts file. A file that cannot be read leaves
  /// the list unchanged. Empty lines and lines too short to be records are skipped.
  AccountLoadResult LoadAccounts(const std::filesystem::path& file);
  /// Writes every account, in order, to the accounts file, replacing it atomically.
  [[nodiscard]] AccountSaveResult SaveAccounts(const std::filesystem::path& file);
  /// The whole file's bytes: records joined by line feeds, none after the last.
  std::string FormatAccountsFile(std::vector<std::string>* warnings = nullptr) const;

 private:
  void Append(std::unique_ptr<TServerAccount> account);

  std::vector<std::unique_ptr<TServerAccount>> accounts_;
  std::int32_t next_id_ = 1;
  AccountObserver* observer_;
  std::function<std::string(const TServerPlayer&)> properties_source_;
  // An accounts file that existed but could not be read is moved aside before the first save,
  // so that replacing it cannot destroy accounts that were never loaded.
  std::filesystem::path unread_file_;
};

/// Whether a new account can be added: the name must be non-empty, name and password must fit a
/// record, rights must be 0..3.
base::Result<void> CheckNewAccount(const NewAccount& fields);

/// Appends one account to an accounts file without a running server: loads the file (a missing
/// file starts empty), refuses a name and password pair that exists, then saves. The value says
/// what was done.
base::Result<std::string> AddAccountToFile(const std::filesystem::path& file,
                                           const NewAccount& fields);

}  // namespace tarvo::server
