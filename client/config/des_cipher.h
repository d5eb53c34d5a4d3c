#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace tarvo::client {

/// The fixed key the client enciphers the stored account password with.
// NOLINTNEXTLINE(readability-identifier-naming): its established name
inline constexpr std::string_view PasswordKey = "q7#Lm2&x";

/// The Data Encryption Standard on 8-byte blocks (electronic codebook), except that key bytes are
/// read least significant bit first: it equals standard DES under the key whose bytes are each
/// bit-reversed, and the bit it ignores in each key byte is the top one.
class DesCipher {
 public:
  /// Builds the encryption and decryption schedules from 8 key bytes.
  explicit DesCipher(const std::uint8_t key[8]);

  /// Enciphers the 8 bytes at `source` + `source_offset` into `destination` +
  /// `destination_offset`; the two may be the same bytes.
  void EncryptBlock(const std::uint8_t* source, std::size_t source_offset,
                    std::uint8_t* destination, std::size_t destination_offset);
  /// Deciphers like EncryptBlock.
  void DecryptBlock(const std::uint8_t* source, std::size_t source_offset,
                    std::uint8_t* destination, std::size_t destination_offset);

 private:
  using Schedule = std::array<std::uint32_t, 32>;

  void Crypt(const Schedule& schedule, const std::uint8_t* source, std::uint8_t* destination);

  Schedule encrypt_keys_{};
  Schedule decrypt_keys_{};
  std::array<std::uint32_t, 2> work_{};
};

/// The 48-character stored form of `password` (cut to 23 characters) under the first 8
/// characters of `key`; random filler makes every call give a different text.
std::string EncryptPasswordText(std::string_view password, std::string_view key);

/// The password in a stored text: "###" for a text shorter than 48 characters, empty when the
/// deciphered length is not a valid one. Characters after the 48th are ignored.
std::string DecryptPasswordText(std::string_view stored, std::string_view key);

}  // namespace tarvo::client
