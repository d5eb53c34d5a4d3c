#include "server/accounts/server_account.h"

#include <algorithm>

#include "protocol/encoding.h"

namespace tarvo::server {

std::string EncodeAccountId(const TServerAccount& account) {
  std::string out;
  protocol::PutNumber4(out, account.Id);
  return out;
}

char AccountStatusChar(const TServerAccount& account) {
  const int state = account.LoadOnly ? 0 : (account.Session != nullptr ? 2 : 1);
  // Rights come from a 3-bit field, so the byte stays within 32..62.
  const int rights = std::clamp(account.Rights, 0, 7);
  return static_cast<char>(32 + 4 * rights + state);
}

std::string AccountSummary(const TServerAccount& account) {
  std::string out = EncodeAccountId(account);
  out.push_back(AccountStatusChar(account));
  out.append(account.Name);
  return out;
}

int AccountGroup(const TServerAccount& account) {
  switch (account.Rights) {
    case 3:
      return 4;
    case 2:
      return 3;
    case 1:
      return 2;
    default:
      return account.LoadOnly ? 0 : 1;
  }
}

std::string_view RightsCaption(int rights) {
  return kRightsCaptions[static_cast<std::size_t>(std::clamp(rights, 0, 3))];
}

}  // namespace tarvo::server
