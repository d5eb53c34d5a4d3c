#include "client/config/des_cipher.h"

#include <random>

namespace tarvo::client {
namespace {

// Tables number bits from 1, most significant first.
constexpr std::uint8_t kInitialPermutation[64] = {
    58, 50, 42, 34, 26, 18, 10, 2,  60, 52, 44, 36, 28, 20, 12, 4,  62, 54, 46, 38, 30, 22,
    14, 6,  64, 56, 48, 40, 32, 24, 16, 8,  57, 49, 41, 33, 25, 17, 9,  1,  59, 51, 43, 35,
    27, 19, 11, 3,  61, 53, 45, 37, 29, 21, 13, 5,  63, 55, 47, 39, 31, 23, 15, 7};

constexpr std::uint8_t kPermutationP[32] = {16, 7, 20, 21, 29, 12, 28, 17, 1,  15, 23,
                                            26, 5, 18, 31, 10, 2,  8,  24, 14, 32, 27,
                                            3,  9, 19, 13, 30, 6,  22, 11, 4,  25};

constexpr std::uint8_t kPermutedChoice1[56] = {
    57, 49, 41, 33, 25, 17, 9,  1,  58, 50, 42, 34, 26, 18, 10, 2,  59, 51, 43,
    35, 27, 19, 11, 3,  60, 52, 44, 36, 63, 55, 47, 39, 31, 23, 15, 7,  62, 54,
    46, 38, 30, 22, 14, 6,  61, 53, 45, 37, 29, 21, 13, 5,  28, 20, 12, 4};

constexpr std::uint8_t kPermutedChoice2[48] = {
    14, 17, 11, 24, 1,  5,  3,  28, 15, 6,  21, 10, 23, 19, 12, 4,  26, 8,  16, 7,  27, 20, 13, 2,
    41, 52, 31, 37, 47, 55, 30, 40, 51, 45, 33, 48, 44, 49, 39, 56, 34, 53, 46, 42, 50, 36, 29, 32};

// Left rotation of both key halves before each round, counted from the start.
constexpr std::uint8_t kTotalRotation[16] = {1,  2,  4,  6,  8,  10, 12, 14,
                                             15, 17, 19, 21, 23, 25, 27, 28};

constexpr std::uint8_t kSBoxes[8][64] = {
    {14, 4,  13, 1, 2,  15, 11, 8, 3, 10, 6, 12, 5,  9,  0,  7,  0,  15, 7,  4,  14, 2,
     13, 1,  10, 6, 12, 11, 9,  5, 3, 8,  4, 1,  14, 8,  13, 6,  2,  11, 15, 12, 9,  7,
     3,  10, 5,  0, 15, 12, 8,  2, 4, 9,  1, 7,  5,  11, 3,  14, 10, 0,  6,  13},
    {15, 1,  8,  14, 6,  11, 3,  4, 9,  7,  2, 13, 12, 0,  5,  10, 3,  13, 4,  7, 15, 2,
     8,  14, 12, 0,  1,  10, 6,  9, 11, 5,  0, 14, 7,  11, 10, 4,  13, 1,  5,  8, 12, 6,
     9,  3,  2,  15, 13, 8,  10, 1, 3,  15, 4, 2,  11, 6,  7,  12, 0,  5,  14, 9},
    {10, 0,  9,  14, 6, 3,  15, 5,  1,  13, 12, 7, 11, 4,  2,  8,  13, 7, 0,  9, 3, 4,
     6,  10, 2,  8,  5, 14, 12, 11, 15, 1,  13, 6, 4,  9,  8,  15, 3,  0, 11, 1, 2, 12,
     5,  10, 14, 7,  1, 10, 13, 0,  6,  9,  8,  7, 4,  15, 14, 3,  11, 5, 2,  12},
    {7, 13, 14, 3, 0, 6,  9, 10, 1,  2, 8,  5, 11, 12, 4,  15, 13, 8,  11, 5, 6, 15,
     0, 3,  4,  7, 2, 12, 1, 10, 14, 9, 10, 6, 9,  0,  12, 11, 7,  13, 15, 1, 3, 14,
     5, 2,  8,  4, 3, 15, 0, 6,  10, 1, 13, 8, 9,  4,  5,  11, 12, 7,  2,  14},
    {2,  12, 4, 1,  7,  10, 11, 6, 8, 5,  3, 15, 13, 0,  14, 9,  14, 11, 2,  12, 4,  7,
     13, 1,  5, 0,  15, 10, 3,  9, 8, 6,  4, 2,  1,  11, 10, 13, 7,  8,  15, 9,  12, 5,
     6,  3,  0, 14, 11, 8,  12, 7, 1, 14, 2, 13, 6,  15, 0,  9,  10, 4,  5,  3},
    {12, 1,  10, 15, 9,  2,  6, 8,  0, 13, 3,  4,  14, 7,  5, 11, 10, 15, 4, 2, 7, 12,
     9,  5,  6,  1,  13, 14, 0, 11, 3, 8,  9,  14, 15, 5,  2, 8,  12, 3,  7, 0, 4, 10,
     1,  13, 11, 6,  4,  3,  2, 12, 9, 5,  15, 10, 11, 14, 1, 7,  6,  0,  8, 13},
    {4, 11, 2,  14, 15, 0,  8,  13, 3, 12, 9,  7, 5,  10, 6,  1,  13, 0,  11, 7,  4, 9,
     1, 10, 14, 3,  5,  12, 2,  15, 8, 6,  1,  4, 11, 13, 12, 3,  7,  14, 10, 15, 6, 8,
     0, 5,  9,  2,  6,  11, 13, 8,  1, 4,  10, 7, 9,  5,  0,  15, 14, 2,  3,  12},
    {13, 2, 8,  4, 6, 15, 11, 1,  10, 9,  3, 14, 5,  0,  12, 7,  1,  15, 13, 8, 10, 3,
     7,  4, 12, 5, 6, 11, 0,  14, 9,  2,  7, 11, 4,  1,  9,  12, 14, 2,  0,  6, 10, 13,
     15, 3, 5,  8, 2, 1,  14, 7,  4,  10, 8, 13, 15, 12, 9,  0,  3,  5,  6,  11}};

// Moves bit table[i] of a `in_width`-bit value to bit i + 1 of an `out_width`-bit result.
constexpr std::uint64_t Permute(std::uint64_t value, int in_width, const std::uint8_t* table,
                                int out_width) {
  std::uint64_t result = 0;
  for (int i = 0; i < out_width; ++i) {
    result = (result << 1) | ((value >> (in_width - table[i])) & 1);
  }
  return result;
}

struct FinalPermutation {
  std::uint8_t table[64] = {};
};

// The final permutation undoes the initial one.
constexpr FinalPermutation MakeFinalPermutation() {
  FinalPermutation final_permutation;
  for (int i = 0; i < 64; ++i) {
    final_permutation.table[kInitialPermutation[i] - 1] = static_cast<std::uint8_t>(i + 1);
  }
  return final_permutation;
}

constexpr FinalPermutation kFinalPermutation = MakeFinalPermutation();

// Each S-box with permutation P folded in: entry v is P of that box's output for input v,
// already at its place in the 32-bit word.
struct SpTables {
  std::uint32_t box[8][64] = {};
};

constexpr SpTables MakeSpTables() {
  SpTables tables;
  for (int b = 0; b < 8; ++b) {
    for (int v = 0; v < 64; ++v) {
      const int row = ((v >> 4) & 2) | (v & 1);
      const int column = (v >> 1) & 15;
      const std::uint64_t placed = static_cast<std::uint64_t>(kSBoxes[b][row * 16 + column])
                                   << (28 - 4 * b);
      tables.box[b][v] = static_cast<std::uint32_t>(Permute(placed, 32, kPermutationP, 32));
    }
  }
  return tables;
}

constexpr SpTables kSp = MakeSpTables();

constexpr std::uint32_t Rotate28(std::uint32_t half, int count) {
  return ((half << count) | (half >> (28 - count))) & 0x0FFFFFFF;
}

// The round function: expansion, key mixing, S-boxes and P. The 32 bits of `right` with the last
// bit copied in front and the first copied behind give the eight overlapping 6-bit groups of
// the expansion directly.
std::uint32_t Feistel(std::uint32_t right, std::uint32_t even_groups, std::uint32_t odd_groups) {
  const std::uint64_t expanded = (static_cast<std::uint64_t>(right & 1) << 33) |
                                 (static_cast<std::uint64_t>(right) << 1) | (right >> 31);
  std::uint32_t result = 0;
  for (int i = 0; i < 8; ++i) {
    const std::uint32_t groups = (i % 2 == 0) ? even_groups : odd_groups;
    const std::uint32_t subkey = (groups >> (24 - 8 * (i / 2))) & 63;
    const std::uint32_t input = static_cast<std::uint32_t>(expanded >> (28 - 4 * i)) & 63;
    result |= kSp.box[i][input ^ subkey];
  }
  return result;
}

}  // namespace

DesCipher::DesCipher(const std::uint8_t key[8]) {
  std::uint64_t key_bits = 0;
  for (int j = 0; j < 64; ++j) {
    // Least significant bit of each byte first; standard DES starts at the most significant.
    key_bits = (key_bits << 1) | ((key[j / 8] >> (j % 8)) & 1);
  }
  const std::uint64_t halves = Permute(key_bits, 64, kPermutedChoice1, 56);
  const auto c = static_cast<std::uint32_t>(halves >> 28) & 0x0FFFFFFF;
  const auto d = static_cast<std::uint32_t>(halves) & 0x0FFFFFFF;
  for (std::size_t round = 0; round < 16; ++round) {
    const std::uint64_t rotated =
        (static_cast<std::uint64_t>(Rotate28(c, kTotalRotation[round])) << 28) |
        Rotate28(d, kTotalRotation[round]);
    const std::uint64_t subkey = Permute(rotated, 56, kPermutedChoice2, 48);
    std::uint32_t even_groups = 0;
    std::uint32_t odd_groups = 0;
    for (int g = 0; g < 8; ++g) {
      const auto group = static_cast<std::uint32_t>(subkey >> (42 - 6 * g)) & 63;
      std::uint32_t& word = (g % 2 == 0) ? even_groups : odd_groups;
      word |= group << (24 - 8 * (g / 2));
    }
    encrypt_keys_[2 * round] = even_groups;
    encrypt_keys_[2 * round + 1] = odd_groups;
  }
  for (std::size_t round = 0; round < 16; ++round) {
    decrypt_keys_[2 * round] = encrypt_keys_[2 * (15 - round)];
    decrypt_keys_[2 * round + 1] = encrypt_keys_[2 * (15 - round) + 1];
  }
}

void DesCipher::EncryptBlock(const std::uint8_t* source, std::size_t source_offset,
                             std::uint8_t* destination, std::size_t destination_offset) {
  Crypt(encrypt_keys_, source + source_offset, destination + destination_offset);
}

void DesCipher::DecryptBlock(const std::uint8_t* source, std::size_t source_offset,
                             std::uint8_t* destination, std::size_t destination_offset) {
  Crypt(decrypt_keys_, source + source_offset, destination + destination_offset);
}

void DesCipher::Crypt(const Schedule& schedule, const std::uint8_t* source,
                      std::uint8_t* destination) {
  std::uint64_t block = 0;
  for (int i = 0; i < 8; ++i) {
    block = (block << 8) | source[i];
  }
  block = Permute(block, 64, kInitialPermutation, 64);
  work_[0] = static_cast<std::uint32_t>(block >> 32);
  work_[1] = static_cast<std::uint32_t>(block);
  for (std::size_t round = 0; round < 16; ++round) {
    const std::uint32_t next =
        work_[0] ^ Feistel(work_[1], schedule[2 * round], schedule[2 * round + 1]);
    work_[0] = work_[1];
    work_[1] = next;
  }
  // The halves leave the last round swapped.
  block = (static_cast<std::uint64_t>(work_[1]) << 32) | work_[0];
  block = Permute(block, 64, kFinalPermutation.table, 64);
  // Written only after the whole source was read, so source and destination may overlap.
  for (int i = 7; i >= 0; --i) {
    destination[i] = static_cast<std::uint8_t>(block);
    block >>= 8;
  }
}

namespace {

constexpr std::size_t kPasswordBlockSize = 24;
constexpr std::size_t kMaxPasswordLength = kPasswordBlockSize - 1;
constexpr std::size_t kStoredTextLength = 2 * kPasswordBlockSize;

// The key is the first 8 characters of the key text; a shorter text is padded with zero bytes.
DesCipher CipherFor(std::string_view key) {
  std::uint8_t key_bytes[8] = {};
  for (std::size_t i = 0; i < 8 && i < key.size(); ++i) {
    key_bytes[i] = static_cast<std::uint8_t>(key[i]);
  }
  return DesCipher(key_bytes);
}

}  // namespace

std::string EncryptPasswordText(std::string_view password, std::string_view key) {
  if (password.size() > kMaxPasswordLength) {
    password = password.substr(0, kMaxPasswordLength);
  }
  std::uint8_t block[kPasswordBlockSize];
  block[0] = static_cast<std::uint8_t>(password.size());
  for (std::size_t i = 0; i < password.size(); ++i) {
    block[1 + i] = static_cast<std::uint8_t>(password[i]);
  }
  std::random_device random;
  std::uniform_int_distribution<int> filler(0, 255);
  for (std::size_t i = 1 + password.size(); i < kPasswordBlockSize; ++i) {
    block[i] = static_cast<std::uint8_t>(filler(random));
  }
  DesCipher cipher = CipherFor(key);
  for (std::size_t offset = 0; offset < kPasswordBlockSize; offset += 8) {
    cipher.EncryptBlock(block, offset, block, offset);
  }
  std::string text;
  text.reserve(kStoredTextLength);
  for (const std::uint8_t byte : block) {
    text.push_back(static_cast<char>(32 + byte / 16));
    text.push_back(static_cast<char>(32 + byte % 16));
  }
  return text;
}

std::string DecryptPasswordText(std::string_view stored, std::string_view key) {
  if (stored.size() < kStoredTextLength) {
    return "###";
  }
  std::uint8_t block[kPasswordBlockSize];
  for (std::size_t i = 0; i < kPasswordBlockSize; ++i) {
    const int high = static_cast<unsigned char>(stored[2 * i]) - 32;
    const int low = static_cast<unsigned char>(stored[2 * i + 1]) - 32;
    block[i] = static_cast<std::uint8_t>((high * 16 + low) & 0xFF);
  }
  DesCipher cipher = CipherFor(key);
  for (std::size_t offset = 0; offset < kPasswordBlockSize; offset += 8) {
    cipher.DecryptBlock(block, offset, block, offset);
  }
  const std::size_t length = block[0];
  if (length > kMaxPasswordLength) {
    return std::string();
  }
  return std::string(reinterpret_cast<const char*>(block + 1), length);
}

}  // namespace tarvo::client
