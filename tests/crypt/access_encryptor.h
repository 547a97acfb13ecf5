// Encrypting a plain Access file the way Access does, for the tests and the benches: written
// separately from the decryption, with its own RC4 and key derivation, so that the two cannot
// share a mistake.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace crypttest {

struct Rc4Options {
  std::string password = "password";        // ASCII only
  uint32_t keyBits = 128;
  std::array<unsigned char, 4> databaseKey = {0x5a, 0x17, 0xc3, 0x81};
};

struct AgileOptions {
  std::string password = "password";        // ASCII only
  std::string hash = "SHA512";              // SHA1, SHA256, SHA384, SHA512
  uint32_t keyBits = 256;
  uint32_t spinCount = 1000;
  std::array<unsigned char, 4> databaseKey = {0xa3, 0x38, 0xbe, 0xa0};
};

struct StandardAesOptions {
  std::string password = "password";        // ASCII only
  uint32_t keyBits = 128;
  bool aesFlag = true;                      // false: the unstretched variant
  std::array<unsigned char, 4> databaseKey = {0x0f, 0x1e, 0x2d, 0x3c};
};

// The whole file encrypted; `plain` is a plain Jet4 or ACE file's bytes.
std::string encryptRc4CryptoApi(const std::string& plain, const Rc4Options& options = {});
std::string encryptAgile(const std::string& plain, const AgileOptions& options = {});
std::string encryptStandardAes(const std::string& plain, const StandardAesOptions& options = {});

// The Jet page encoding (no password): every page but 0 RC4'd with the database key.
std::string encodeJetPages(const std::string& plain, std::array<unsigned char, 4> databaseKey);

// The header page's masked region toggled (plain <-> stored).
void toggleMask(std::string& file);
// Replaces the encryption info block at 0x299 (length and bytes) in the unmasked header.
void setEncryptionInfo(std::string& file, const std::string& info);
std::string encryptionInfo(const std::string& file);

}  // namespace crypttest
