// The Office encryption providers Access stores in its header page, read into plain records,
// and what each does with a password and a page.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "platform/little_endian.h"
#include "source/crypt/crypto.h"
#include "source/crypt/encrypted_access.h"

// The CryptoAPI kinds share one binary header: RC4, and AES ("standard" encryption).
// RC4: one SHA-1 of salt and password; each page's RC4 key is a SHA-1 of that and the page key,
// cut to the key size. AES: that SHA-1 stretched (50000 times, or not at all in the variant
// without the AES flag), and each page's AES-ECB key derived from it and the page key.
enum class CryptoApiCipher { Rc4, Aes };

struct CryptoApiInfo {
  CryptoApiCipher cipher = CryptoApiCipher::Rc4;
  uint32_t keyBits = 0;            // RC4 40 to 128 (40 is used as 128, zero padded); AES 128-256
  uint32_t iterations = 0;         // AES only
  Bytes salt;                      // 16 bytes
  Bytes encryptedVerifier;         // 16 bytes
  Bytes encryptedVerifierHash;     // 20 bytes for RC4, 32 for AES
};

struct AgileCipher {
  uint32_t keyBits = 0;   // 128, 192, 256
  uint32_t blockSize = 0; // 16
  HashKind hash = HashKind::Sha1;
  Bytes salt;
};

// Agile: the password, hashed spinCount times, unlocks a random key that encrypts the pages with
// AES-CBC; each page's IV is a hash of the key data's salt and the page key.
struct AgileInfo {
  AgileCipher keyData;           // how the pages are encrypted
  AgileCipher passwordKey;       // how the password's key encrypts the page key
  uint32_t spinCount = 0;
  Bytes encryptedVerifierHashInput;
  Bytes encryptedVerifierHashValue;
  Bytes encryptedKeyValue;
};

// Office writes 100000; ten times that still opens in seconds, anything beyond is not a file
// Access made and would only keep the user waiting.
inline constexpr uint32_t kMaxSpinCount = 1000000;

struct OfficeEncryptionInfo {
  AccessEncryption kind = AccessEncryption::Damaged;
  std::string problem;  // why Damaged or OfficeUnsupported
  CryptoApiInfo cryptoApi;
  AgileInfo agile;
};

// Reads the provider's bytes (the length-prefixed block of the header page).
OfficeEncryptionInfo readOfficeEncryptionInfo(ByteView info);
// The two readers it calls; each sets kind (or Damaged, OfficeUnsupported and problem).
// `aesFlag`: the header's flags ask for AES; without it an AES cipher id is the unstretched variant.
void readCryptoApiInfo(ByteView info, bool aesFlag, OfficeEncryptionInfo& into);
void readAgileInfo(ByteView info, OfficeEncryptionInfo& into);

enum class KeyResult { Ok, WrongPassword, CipherFailure };

// The per-database secret a correct password yields: the CryptoAPI kinds' (stretched) base hash,
// agile's page key. Checks the password against the stored verifier first.
KeyResult cryptoApiKey(const CryptoApiInfo& info, ByteView password, Bytes& baseHash);
KeyResult agileKey(const AgileInfo& info, ByteView password, Bytes& pageCipherKey);

// Decrypts one page in place; the page key comes from pageKey() in access_header.h.
bool cryptoApiDecryptPage(const CryptoApiInfo& info, const Bytes& baseHash,
                          const std::array<unsigned char, 4>& pageKey, std::span<unsigned char> page);
// `pageCipherKey`: agileKey's key with keyData's hash.
bool agileDecryptPage(const AgileInfo& info, const AesCbcPageKey& pageCipherKey,
                      const std::array<unsigned char, 4>& pageKey, std::span<unsigned char> page);
