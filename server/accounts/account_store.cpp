#include "server/accounts/account_store.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "base/files.h"
#include "server/accounts/account_record.h"

namespace tarvo::server {

AccountStore::AccountStore(AccountObserver* observer) : observer_(observer) {}

AccountStore::~AccountStore() = default;

void AccountStore::SetObserver(AccountObserver* observer) { observer_ = observer; }

void AccountStore::SetStoredPropertiesSource(
    std::function<std::string(const TServerPlayer&)> source) {
  properties_source_ = std::move(source);
}

TServerAccount* AccountStore::FindAccount(std::string_view name, std::string_view password) const {
  for (const auto& account : accounts_) {
    if (account->Name == name && account->Password == password) return account.get();
  }
  return nullptr;
}

TServerAccount* AccountStore::FindById(std::int32_t id) const {
  for (const auto& account : accounts_) {
    if (account->Id == id) return account.get();
  }
  return nullptr;
}

bool AccountStore::Contains(const TServerAccount* account) const {
  return std::any_of(accounts_.begin(), accounts_.end(),
                     [account](const auto& a) { return a.get() == account; });
}

std::unique_ptr<TServerAccount> AccountStore::CreateAccount() {
  auto account = std::make_unique<TServerAccount>();
  account->Id = next_id_++;
  return account;
}

void AccountStore::Append(std::unique_ptr<TServerAccount> account) {
  accounts_.push_back(std::move(account));
}

TServerAccount& AccountStore::AddAccount(std::unique_ptr<TServerAccount> account) {
  TServerAccount& added = *account;
  Append(std::move(account));
  if (observer_) observer_->AccountAdded(added);
  return added;
}

TServerAccount& AccountStore::ParseAccountRecord(std::string_view record) {
  auto account = CreateAccount();
  ParseAccountFields(record, *account);
  return AddAccount(std::move(account));
}

TServerAccount& AccountStore::AddNewAccount(const NewAccount& fields) {
  auto account = CreateAccount();
  account->Name = fields.name;
  account->Password = fields.password;
  account->Rights = fields.rights;
  account->LoadOnly = fields.load_only;
  account->Blocked = fields.blocked;
  return AddAccount(std::move(account));
}

bool AccountStore::RemoveAccount(TServerAccount* account) {
  const auto it = std::find_if(accounts_.begin(), accounts_.end(),
                               [account](const auto& a) { return a.get() == account; });
  if (it == accounts_.end()) return false;
  if (observer_) observer_->AccountRemoved(*account);
  // Erase by position found again: the observer may not change the list, but be safe if it did.
  const auto again = std::find_if(accounts_.begin(), accounts_.end(),
                                  [account](const auto& a) { return a.get() == account; });
  if (again != accounts_.end()) accounts_.erase(again);
  return true;
}

void AccountStore::ChangeAccount(TServerAccount& account,
                                 const std::function<void(TServerAccount&)>& change) {
  const char old_status = AccountStatusChar(account);
  const std::string old_name = account.Name;
  change(account);
  const bool status_changed = AccountStatusChar(account) != old_status;
  const bool name_changed = account.Name != old_name;
  if (observer_ && (status_changed || name_changed))
    observer_->AccountChanged(account, status_changed, name_changed);
}

void AccountStore::SetSession(TServerAccount& account, TServerPlayer* session) {
  ChangeAccount(account, [session](TServerAccount& a) { a.Session = session; });
}

void AccountStore::RefreshStoredProperties(TServerAccount& account) {
  if (account.Session != nullptr && properties_source_)
    account.Properties = properties_source_(*account.Session);
}

void AccountStore::RefreshAllStoredProperties() {
  for (auto& account : accounts_) RefreshStoredProperties(*account);
}

AccountLoadResult AccountStore::LoadAccounts(const std::filesystem::path& file) {
  AccountLoadResult result;
  const base::Result<std::string> read = base::ReadWholeFile(file);
  if (!read) {
    if (base::IsMissing(file)) {
      result.status = AccountLoadResult::Status::kMissing;
    } else {
      result.status = AccountLoadResult::Status::kUnreadable;
      result.error = read.error();
      unread_file_ = file;
    }
    return result;
  }
  const std::string& data = *read;
  result.status = AccountLoadResult::Status::kLoaded;
  unread_file_.clear();
  accounts_.clear();

  std::size_t pos = 0;
  while (pos < data.size()) {
    std::size_t end = data.find('\n', pos);
    if (end == std::string::npos) end = data.size();
    std::string_view line(data.data() + pos, end - pos);
    pos = end + 1;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line.empty()) continue;
    if (!RecordHoldsHeader(line)) {
      ++result.skipped_lines;
      continue;
    }
    auto account = CreateAccount();
    ParseAccountFields(line, *account);
    Append(std::move(account));
    ++result.accounts;
  }
  if (observer_) observer_->AccountsLoaded(*this);
  return result;
}

std::string AccountStore::FormatAccountsFile(std::vector<std::string>* warnings) const {
  std::string out;
  for (std::size_t i = 0; i < accounts_.size(); ++i) {
    if (i > 0) out.push_back('\n');
    out += FormatAccountRecord(*accounts_[i], warnings);
  }
  return out;
}

AccountSaveResult AccountStore::SaveAccounts(const std::filesystem::path& file) {
  AccountSaveResult result;
  const std::string contents = FormatAccountsFile(&result.warnings);
  if (!unread_file_.empty() && unread_file_ == file) {
    const std::filesystem::path aside = file.string() + ".unreadable";
    if (std::rename(file.c_str(), aside.c_str()) == 0) {
      result.warnings.push_back("the accounts file that could not be read at start was kept as " +
                                aside.string());
    } else if (errno != ENOENT) {
      result.error = "cannot move the unread accounts file " + file.string() +
                     " aside: " + std::strerror(errno);
      return result;
    }
    unread_file_.clear();
  }
  if (const base::Result<void> written = base::WriteFileAtomically(file, contents, 0600);
      !written) {
    result.error = written.error();
    return result;
  }
  result.ok = true;
  result.accounts = static_cast<int>(accounts_.size());
  return result;
}

base::Result<void> CheckNewAccount(const NewAccount& fields) {
  if (fields.name.empty()) return base::Fail("The account name must not be empty.");
  if (fields.name.size() > kMaxRecordByteLength || fields.password.size() > kMaxRecordByteLength)
    return base::Fail("Account name and password are limited to " +
                      std::to_string(kMaxRecordByteLength) + " bytes each.");
  const auto has_line_break = [](const std::string& s) {
    return s.find_first_of("\r\n") != std::string::npos;
  };
  if (has_line_break(fields.name) || has_line_break(fields.password))
    return base::Fail("Account name and password must not contain line breaks.");
  if (fields.rights < 0 || fields.rights > 3) return base::Fail("Rights must be 0, 1, 2 or 3.");
  return base::Ok();
}

base::Result<std::string> AddAccountToFile(const std::filesystem::path& file,
                                           const NewAccount& fields) {
  if (const base::Result<void> checked = CheckNewAccount(fields); !checked)
    return base::Fail(checked.error());
  AccountStore list;
  const AccountLoadResult loaded = list.LoadAccounts(file);
  if (loaded.status == AccountLoadResult::Status::kUnreadable)
    return base::Fail("The accounts file cannot be read, nothing was changed: " + loaded.error);
  if (list.FindAccount(fields.name, fields.password) != nullptr)
    return base::Fail("An account with this name and password already exists in " + file.string() +
                      ".");
  list.AddNewAccount(fields);
  const AccountSaveResult saved = list.SaveAccounts(file);
  if (!saved.ok) return base::Fail("The accounts file could not be written: " + saved.error);
  std::string message =
      "Account \"" + fields.name + "\" (" + std::string(RightsCaption(fields.rights)) +
      (fields.load_only ? ", guest" : "") + (fields.blocked ? ", blocked" : "") + ") added to " +
      file.string() + "; it now holds " + std::to_string(saved.accounts) + " account(s).";
  if (loaded.skipped_lines > 0)
    message += " " + std::to_string(loaded.skipped_lines) +
               " line(s) that were not account records were dropped.";
  return message;
}

}  // namespace tarvo::server
