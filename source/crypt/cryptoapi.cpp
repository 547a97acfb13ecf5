#include <cctype>

#include "source/crypt/office_encryption.h"

namespace {

// Layout of the provider block: version, a copy of the flags, the header's size, the header,
// then the verifier.
constexpr size_t kHeaderSizeAt = 8;
constexpr size_t kHeaderAt = 12;
constexpr size_t kFixedHeaderSize = 32;  // flags .. reserved2; the CSP name follows
constexpr size_t kAlgIdAt = 8, kAlgIdHashAt = 12, kKeySizeAt = 16;
constexpr uint32_t kAlgRc4 = 0x6801, kAlgSha1 = 0x8004;
constexpr uint32_t kExternalFlag = 0x10;
constexpr size_t kSaltSize = 16, kVerifierSize = 16, kVerifierHashSize = 20;
constexpr size_t kVerifierBlockSize = 4 + kSaltSize + kVerifierSize + 4 + kVerifierHashSize;

// The CSP name in lower case, non-ASCII characters dropped; enough to spot a "base" provider.
std::string cspName(ByteView bytes) {
  std::string name;
  for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
    uint32_t unit = readLe16(bytes, i);
    if (unit == 0) break;
    if (unit < 0x80) name += static_cast<char>(std::tolower(static_cast<int>(unit)));
  }
  return name;
}

}  // namespace

void readRc4CryptoApiInfo(ByteView info, OfficeEncryptionInfo& into) {
  into.kind = AccessEncryption::Damaged;
  if (info.size() < kHeaderAt) {
    into.problem = "its RC4 encryption header is cut short";
    return;
  }
  uint32_t headerSize = readLe32(info, kHeaderSizeAt);
  if (headerSize < kFixedHeaderSize || headerSize > info.size() - kHeaderAt ||
      info.size() - kHeaderAt - headerSize < kVerifierBlockSize) {
    into.problem = "its RC4 encryption header has an impossible size (" +
                   std::to_string(headerSize) + " bytes)";
    return;
  }
  ByteView header = info.subspan(kHeaderAt, headerSize);
  uint32_t flags = readLe32(header, 0);
  uint32_t algId = readLe32(header, kAlgIdAt);
  uint32_t algIdHash = readLe32(header, kAlgIdHashAt);
  uint32_t keyBits = readLe32(header, kKeySizeAt);
  if (flags & kExternalFlag) {
    into.kind = AccessEncryption::OfficeUnsupported;
    into.problem = "it is encrypted by an external provider, which is not supported";
    return;
  }
  if (algId != 0 && algId != kAlgRc4) {
    into.problem = "its RC4 encryption header names the unknown cipher " + std::to_string(algId);
    return;
  }
  if (algIdHash != 0 && algIdHash != kAlgSha1) {
    into.problem = "its RC4 encryption header names an unknown hash";
    return;
  }
  if (keyBits == 0) {
    // No size given: the "base" providers and an empty name mean 40 bits, the others 128.
    std::string csp = cspName(header.subspan(kFixedHeaderSize));
    keyBits = (csp.empty() || csp.find(" base ") != std::string::npos) ? 40 : 128;
  }
  if (keyBits < 40 || keyBits > 128 || keyBits % 8 != 0) {
    into.problem = "its RC4 key size of " + std::to_string(keyBits) + " bits is impossible";
    return;
  }
  ByteView verifier = info.subspan(kHeaderAt + headerSize, kVerifierBlockSize);
  if (readLe32(verifier, 0) != kSaltSize) {
    into.problem = "its RC4 salt size is " + std::to_string(readLe32(verifier, 0)) +
                   " bytes instead of 16";
    return;
  }
  size_t at = 4;
  into.rc4.salt.assign(verifier.begin() + at, verifier.begin() + at + kSaltSize);
  at += kSaltSize;
  into.rc4.encryptedVerifier.assign(verifier.begin() + at, verifier.begin() + at + kVerifierSize);
  at += kVerifierSize;
  if (readLe32(verifier, at) != kVerifierHashSize) {
    into.problem = "its RC4 verifier hash size is " + std::to_string(readLe32(verifier, at)) +
                   " bytes instead of 20";
    return;
  }
  at += 4;
  into.rc4.encryptedVerifierHash.assign(verifier.begin() + at,
                                        verifier.begin() + at + kVerifierHashSize);
  into.rc4.keyBits = keyBits;
  into.kind = AccessEncryption::OfficeRc4CryptoApi;
  into.problem.clear();
}

Bytes rc4CryptoApiBlockKey(const Rc4CryptoApiInfo& info, const Bytes& baseHash, ByteView block) {
  Bytes key = hashOf(HashKind::Sha1, {baseHash, block});
  key.resize(info.keyBits / 8);
  if (info.keyBits == 40) key.resize(16, 0);
  return key;
}

KeyResult rc4CryptoApiKey(const Rc4CryptoApiInfo& info, ByteView password, Bytes& baseHash) {
  baseHash = hashOf(HashKind::Sha1, {info.salt, password});
  // The verifier is encrypted with the key of block 0 (not the page key of page 0), the hash
  // of the verifier right after it in the same key stream.
  const unsigned char blockZero[4] = {0, 0, 0, 0};
  Rc4Stream stream(rc4CryptoApiBlockKey(info, baseHash, blockZero));
  Bytes verifier = info.encryptedVerifier;
  Bytes verifierHash = info.encryptedVerifierHash;
  if (!stream.apply(verifier) || !stream.apply(verifierHash)) return KeyResult::CipherFailure;
  Bytes expected = hashOf(HashKind::Sha1, {verifier});
  return expected.size() == verifierHash.size() && expected == verifierHash
             ? KeyResult::Ok
             : KeyResult::WrongPassword;
}

bool rc4CryptoApiDecryptPage(const Rc4CryptoApiInfo& info, const Bytes& baseHash,
                             const std::array<unsigned char, 4>& pageKey,
                             std::span<unsigned char> page) {
  return rc4Apply(rc4CryptoApiBlockKey(info, baseHash, pageKey), page);
}
