#include "client/config/des_cipher.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

namespace tarvo::client {
namespace {

std::uint8_t ReverseBits(std::uint8_t byte) {
  std::uint8_t reversed = 0;
  for (int i = 0; i < 8; ++i) {
    reversed = static_cast<std::uint8_t>((reversed << 1) | ((byte >> i) & 1));
  }
  return reversed;
}

void ToBytes(std::uint64_t value, std::uint8_t out[8]) {
  for (int i = 7; i >= 0; --i) {
    out[i] = static_cast<std::uint8_t>(value);
    value >>= 8;
  }
}

std::uint64_t FromBytes(const std::uint8_t bytes[8]) {
  std::uint64_t value = 0;
  for (int i = 0; i < 8; ++i) value = (value << 8) | bytes[i];
  return value;
}

// Our cipher under the key with every byte bit-reversed is standard DES under `key`.
DesCipher StandardDes(std::uint64_t key) {
  std::uint8_t bytes[8];
  ToBytes(key, bytes);
  for (std::uint8_t& byte : bytes) byte = ReverseBits(byte);
  return DesCipher(bytes);
}

std::uint64_t Encrypt(DesCipher& cipher, std::uint64_t block) {
  std::uint8_t bytes[8];
  ToBytes(block, bytes);
  cipher.EncryptBlock(bytes, 0, bytes, 0);
  return FromBytes(bytes);
}

std::uint64_t Decrypt(DesCipher& cipher, std::uint64_t block) {
  std::uint8_t bytes[8];
  ToBytes(block, bytes);
  cipher.DecryptBlock(bytes, 0, bytes, 0);
  return FromBytes(bytes);
}

struct Vector {
  std::uint64_t key;
  std::uint64_t plain;
  std::uint64_t cipher;
};

TEST(DesCipherTest, PublishedVectorsWithBitReversedKeys) {
  const Vector vectors[] = {
      {0x133457799BBCDFF1, 0x0123456789ABCDEF, 0x85E813540F0AB405},
      {0x0123456789ABCDEF, 0x4E6F772069732074, 0x3FA40E8A984D4815},  // "Now is t"
      {0x0E329232EA6D0D73, 0x8787878787878787, 0x0000000000000000},
      {0x0000000000000000, 0x0000000000000000, 0x8CA64DE9C1B123A7},
      {0xFFFFFFFFFFFFFFFF, 0xFFFFFFFFFFFFFFFF, 0x7359B2163E4EDC58},
      {0x3000000000000000, 0x1000000000000001, 0x958E6E627A05557B},
      {0x1111111111111111, 0x1111111111111111, 0xF40379AB9E0EC533},
      {0x0123456789ABCDEF, 0x1111111111111111, 0x17668DFC7292532D},
      {0xFEDCBA9876543210, 0x0123456789ABCDEF, 0xED39D950FA74BCC4},
      {0x0101010101010101, 0x8000000000000000, 0x95F8A5E5DD31D900},
  };
  for (const Vector& v : vectors) {
    DesCipher cipher = StandardDes(v.key);
    EXPECT_EQ(Encrypt(cipher, v.plain), v.cipher) << std::hex << v.key;
    EXPECT_EQ(Decrypt(cipher, v.cipher), v.plain) << std::hex << v.key;
  }
}

TEST(DesCipherTest, IteratedEncryptAndDecryptChain) {
  // Sixteen steps, each keyed by its own input, alternating encryption and decryption; the
  // published end value checks every S-box entry and permutation reached on the way.
  std::uint64_t x = 0x9474B8E8C73BCA7D;
  for (int i = 0; i < 16; ++i) {
    DesCipher cipher = StandardDes(x);
    x = (i % 2 == 0) ? Encrypt(cipher, x) : Decrypt(cipher, x);
  }
  EXPECT_EQ(x, 0x1B1A2DDB4C642438u);
}

TEST(DesCipherTest, KeyByteTopBitIsIgnoredAndOffsetsAreHonoured) {
  // Reading bits least significant first leaves the top bit of each byte out of the schedule.
  const std::uint8_t key[8] = {'q', '7', '#', 'L', 'm', '2', '&', 'x'};
  std::uint8_t flipped[8];
  for (int i = 0; i < 8; ++i) flipped[i] = static_cast<std::uint8_t>(key[i] ^ 0x80);
  DesCipher a(key);
  DesCipher b(flipped);

  std::uint8_t buffer[20] = {};
  for (int i = 0; i < 8; ++i) buffer[3 + i] = static_cast<std::uint8_t>(i * 37);
  std::uint8_t out_a[20] = {};
  std::uint8_t out_b[20] = {};
  a.EncryptBlock(buffer, 3, out_a, 11);
  b.EncryptBlock(buffer, 3, out_b, 11);
  EXPECT_EQ(std::string(out_a + 11, out_a + 19), std::string(out_b + 11, out_b + 19));
  EXPECT_EQ(out_a[10], 0);  // Nothing written outside the destination block.
  a.DecryptBlock(out_a, 11, out_a, 11);
  EXPECT_EQ(std::string(out_a + 11, out_a + 19), std::string(buffer + 3, buffer + 11));
}

std::string Hexless(const std::uint8_t block[24]) {
  std::string text;
  for (int i = 0; i < 24; ++i) {
    text.push_back(static_cast<char>(32 + block[i] / 16));
    text.push_back(static_cast<char>(32 + block[i] % 16));
  }
  return text;
}

// A stored text made by hand from a plain 24-byte block, independent of EncryptPasswordText.
std::string StoredTextOf(std::uint8_t block[24]) {
  std::uint8_t key[8];
  for (int i = 0; i < 8; ++i) key[i] = static_cast<std::uint8_t>(PasswordKey[i]);
  DesCipher cipher(key);
  for (int offset = 0; offset < 24; offset += 8) cipher.EncryptBlock(block, offset, block, offset);
  return Hexless(block);
}

TEST(PasswordTextTest, StoredFormIsLengthTextAndFillerInThreeBlocks) {
  std::uint8_t block[24] = {5, 'g', 'u', 'e', 's', 't'};
  const std::string stored = StoredTextOf(block);
  EXPECT_EQ(DecryptPasswordText(stored, PasswordKey), "guest");
  // Characters after the 48th do not matter.
  EXPECT_EQ(DecryptPasswordText(stored + "garbage", PasswordKey), "guest");
  EXPECT_EQ(DecryptPasswordText(stored.substr(0, 47), PasswordKey), "###");
  EXPECT_EQ(DecryptPasswordText("", PasswordKey), "###");

  std::uint8_t too_long[24] = {24};
  EXPECT_EQ(DecryptPasswordText(StoredTextOf(too_long), PasswordKey), "");
  std::uint8_t longest[24] = {23};
  for (int i = 1; i < 24; ++i) longest[i] = static_cast<std::uint8_t>('A' + i);
  EXPECT_EQ(DecryptPasswordText(StoredTextOf(longest), PasswordKey).size(), 23u);
}

TEST(PasswordTextTest, RoundTripsWithFreshFillerEachTime) {
  const std::string passwords[] = {"", "guest", "with space, \"quotes\"",
                                   std::string("\xE4\xF6\x01\xFF", 4)};
  for (const std::string& password : passwords) {
    const std::string first = EncryptPasswordText(password, PasswordKey);
    const std::string second = EncryptPasswordText(password, PasswordKey);
    ASSERT_EQ(first.size(), 48u);
    for (const char c : first) {
      EXPECT_GE(c, ' ');
      EXPECT_LE(c, '/');
    }
    EXPECT_NE(first, second) << "filler must be random";
    EXPECT_EQ(DecryptPasswordText(first, PasswordKey), password);
    EXPECT_EQ(DecryptPasswordText(second, PasswordKey), password);
  }
}

TEST(PasswordTextTest, LongPasswordsKeepTheirFirst23Characters) {
  const std::string password = "abcdefghijklmnopqrstuvwxyz0123";  // 30 characters
  EXPECT_EQ(DecryptPasswordText(EncryptPasswordText(password, PasswordKey), PasswordKey),
            password.substr(0, 23));
  // The key is its first 8 characters; a short key text is padded, not read past its end.
  EXPECT_EQ(DecryptPasswordText(EncryptPasswordText("pw", "q7#Lm2&x-extra"), PasswordKey), "pw");
  EXPECT_EQ(DecryptPasswordText(EncryptPasswordText("pw", "k"), "k"), "pw");
}

}  // namespace
}  // namespace tarvo::client
