#include <cctype>

#include "platform/rc4.h"
#include "source/crypt/office_encryption.h"

namespace {

// Layout of the provider block: version, a copy of the flags, the header's size, the header,
// then the verifier.
constexpr size_t kHeaderSizeAt = 8;
constexpr size_t kHeaderAt = 12;
constexpr size_t kFixedHeaderSize = 32;  // flags .. reserved2; the CSP name follows
constexpr size_t kAlgIdAt = 8, kAlgIdHashAt = 12, kKeySizeAt = 16;
constexpr uint32_t kAlgRc4 = 0x6801, kAlgAes128 = 0x660E, kAlgAes192 = 0x660F, kAlgAes256 = 0x6610;
constexpr uint32_t kAlgSha1 = 0x8004;
constexpr uint32_t kStandardAesIterations = 50000;
constexpr uint32_t kExternalFlag = 0x10;
constexpr size_t kSaltSize = 16, kVerifierSize = 16, kVerifierHashSize = 20;
constexpr size_t kRc4EncryptedHashSize = 20, kAesEncryptedHashSize = 32;

// The CSP name in lower case, non-ASCII characters dropped; enough to spot a "base" provider.
std::string cspName(ByteView bytes) {
  std::string name;
  for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
    uint32_t unit = le::get16(bytes.data() + i);
    if (unit == 0) break;
    if (unit < 0x80) name += static_cast<char>(std::tolower(static_cast<int>(unit)));
  }
  return name;
}

}  // namespace

void readCryptoApiInfo(ByteView info, bool aesFlag, OfficeEncryptionInfo& into) {
  into.kind = AccessEncryption::Damaged;
  if (info.size() < kHeaderAt) {
    into.problem = "its CryptoAPI encryption header is cut short";
    return;
  }
  uint32_t headerSize = le::get32(info.data() + kHeaderSizeAt);
  if (headerSize < kFixedHeaderSize || headerSize > info.size() - kHeaderAt) {
    into.problem = "its CryptoAPI encryption header has an impossible size (" +
                   std::to_string(headerSize) + " bytes)";
    return;
  }
  ByteView header = info.subspan(kHeaderAt, headerSize);
  uint32_t flags = le::get32(header.data());
  uint32_t algId = le::get32(header.data() + kAlgIdAt);
  uint32_t algIdHash = le::get32(header.data() + kAlgIdHashAt);
  uint32_t keyBits = le::get32(header.data() + kKeySizeAt);
  if (flags & kExternalFlag) {
    into.kind = AccessEncryption::OfficeUnsupported;
    into.problem = "it is encrypted by an external provider, which is not supported";
    return;
  }
  CryptoApiInfo& c = into.cryptoApi;
  uint32_t aesBits = 0;
  if (algId == 0) {
    c.cipher = aesFlag ? CryptoApiCipher::Aes : CryptoApiCipher::Rc4;
    aesBits = 128;
  } else if (algId == kAlgRc4 && !aesFlag) {
    c.cipher = CryptoApiCipher::Rc4;
  } else if (algId == kAlgAes128 || algId == kAlgAes192 || algId == kAlgAes256) {
    c.cipher = CryptoApiCipher::Aes;
    aesBits = algId == kAlgAes128 ? 128 : algId == kAlgAes192 ? 192 : 256;
  } else {
    into.problem = "its CryptoAPI encryption header names the unknown cipher " + std::to_string(algId);
    return;
  }
  if (algIdHash != 0 && algIdHash != kAlgSha1) {
    into.problem = "its CryptoAPI encryption header names an unknown hash";
    return;
  }
  if (c.cipher == CryptoApiCipher::Rc4) {
    if (keyBits == 0) {
      // No size given: the "base" providers and an empty name mean 40 bits, the others 128.
      std::string csp = cspName(header.subspan(kFixedHeaderSize));
      keyBits = (csp.empty() || csp.find(" base ") != std::string::npos) ? 40 : 128;
    }
    if (keyBits < 40 || keyBits > 128 || keyBits % 8 != 0) {
      into.problem = "its RC4 key size of " + std::to_string(keyBits) + " bits is impossible";
      return;
    }
  } else {
    if (keyBits == 0) keyBits = aesBits;
    if (keyBits != aesBits) {
      into.problem = "its AES key size of " + std::to_string(keyBits) + " bits does not fit its cipher";
      return;
    }
    // Without the AES flag the key is not stretched: a variant some Access versions write.
    c.iterations = aesFlag ? kStandardAesIterations : 0;
  }

  size_t encryptedHashSize = c.cipher == CryptoApiCipher::Rc4 ? kRc4EncryptedHashSize : kAesEncryptedHashSize;
  size_t verifierBlockSize = 4 + kSaltSize + kVerifierSize + 4 + encryptedHashSize;
  if (info.size() - kHeaderAt - headerSize < verifierBlockSize) {
    into.problem = "its CryptoAPI password verifier is cut short";
    return;
  }
  ByteView verifier = info.subspan(kHeaderAt + headerSize, verifierBlockSize);
  if (le::get32(verifier.data()) != kSaltSize) {
    into.problem = "its salt size is " + std::to_string(le::get32(verifier.data())) + " bytes instead of 16";
    return;
  }
  size_t at = 4;
  c.salt.assign(verifier.begin() + at, verifier.begin() + at + kSaltSize);
  at += kSaltSize;
  c.encryptedVerifier.assign(verifier.begin() + at, verifier.begin() + at + kVerifierSize);
  at += kVerifierSize;
  if (le::get32(verifier.data() + at) != kVerifierHashSize) {
    into.problem = "its verifier hash size is " + std::to_string(le::get32(verifier.data() + at)) +
                   " bytes instead of 20";
    return;
  }
  at += 4;
  c.encryptedVerifierHash.assign(verifier.begin() + at, verifier.begin() + at + encryptedHashSize);
  c.keyBits = keyBits;
  into.kind = c.cipher == CryptoApiCipher::Rc4 ? AccessEncryption::OfficeRc4CryptoApi
                                               : AccessEncryption::OfficeStandardAes;
  into.problem.clear();
}

namespace {

// The key of one block (0 for the verifier, else a page key).
Bytes blockKey(const CryptoApiInfo& info, const Bytes& baseHash, ByteView block) {
  Bytes hash = hashOf(HashKind::Sha1, {baseHash, block});
  if (info.cipher == CryptoApiCipher::Rc4) {
    hash.resize(info.keyBits / 8);
    if (info.keyBits == 40) hash.resize(16, 0);
    return hash;
  }
  // AES: CryptDeriveKey's two hashes of the hash XORed into 64 bytes of 0x36 and of 0x5C.
  Bytes inner(64, 0x36), outer(64, 0x5C);
  for (size_t i = 0; i < hash.size() && i < 64; ++i) {
    inner[i] ^= hash[i];
    outer[i] ^= hash[i];
  }
  Bytes key = hashOf(HashKind::Sha1, {inner});
  Bytes second = hashOf(HashKind::Sha1, {outer});
  key.insert(key.end(), second.begin(), second.end());
  key.resize(info.keyBits / 8);
  return key;
}

}  // namespace

KeyResult cryptoApiKey(const CryptoApiInfo& info, ByteView password, Bytes& baseHash) {
  baseHash = iterateHash(HashKind::Sha1, hashOf(HashKind::Sha1, {info.salt, password}), info.iterations);
  if (baseHash.empty()) return KeyResult::CipherFailure;
  // The verifier is encrypted with the key of block 0 (not the page key of page 0); with RC4 the
  // hash of the verifier follows it in the same key stream.
  const unsigned char blockZero[4] = {0, 0, 0, 0};
  Bytes key = blockKey(info, baseHash, blockZero);
  Bytes verifier = info.encryptedVerifier;
  Bytes verifierHash = info.encryptedVerifierHash;
  if (info.cipher == CryptoApiCipher::Rc4) {
    if (key.empty()) return KeyResult::CipherFailure;
    Rc4 stream(key.data(), key.size());
    stream.apply(verifier.data(), verifier.size());
    stream.apply(verifierHash.data(), verifierHash.size());
  } else if (!aesEcbDecrypt(key, verifier) || !aesEcbDecrypt(key, verifierHash)) {
    return KeyResult::CipherFailure;
  }
  Bytes expected = hashOf(HashKind::Sha1, {verifier});
  verifierHash.resize(kVerifierHashSize);
  return expected == verifierHash ? KeyResult::Ok : KeyResult::WrongPassword;
}

bool cryptoApiDecryptPage(const CryptoApiInfo& info, const Bytes& baseHash,
                          const std::array<unsigned char, 4>& pageKey, std::span<unsigned char> page) {
  Bytes key = blockKey(info, baseHash, pageKey);
  bool ok = info.cipher == CryptoApiCipher::Rc4 ? rc4Apply(key, page) : aesEcbDecrypt(key, page);
  wipe(key);
  return ok;
}
