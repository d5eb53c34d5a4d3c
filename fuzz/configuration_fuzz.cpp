// Client configuration files and stored passwords: any text is applied without harm, the file
// written from the result reads back to the same settings, and any stored password text
// deciphers to a password of a valid length (or the documented markers).
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "client/config/configuration.h"
#include "client/config/des_cipher.h"

namespace {

[[noreturn]] void Fail(const char* what) {
  std::fprintf(stderr, "configuration: %s\n", what);
  std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace tarvo::client;
  const std::string_view text(reinterpret_cast<const char*>(data), size);

  ClientSettings settings;
  ApplyConfigurationText(text, settings);
  // The file never carries the account, so compare what it does carry.
  ClientSettings reread;
  ApplyConfigurationText(ConfigurationText(settings), reread);
  reread.AccountName = settings.AccountName;
  reread.AccountPassword = settings.AccountPassword;
  if (!(reread == settings)) Fail("written settings read back differently");

  const std::string password = DecryptPasswordText(text, PasswordKey);
  if (password.size() > 23) Fail("deciphered password longer than 23 characters");
  // Whatever a stored text gave, enciphering it again gives it back.
  if (password != "###" &&
      DecryptPasswordText(EncryptPasswordText(password, PasswordKey), PasswordKey) != password) {
    Fail("password does not survive enciphering");
  }
  return 0;
}
