#include "tests/crypt/access_encryptor.h"

#include <openssl/evp.h>
#include <openssl/rand.h>

#include <cstring>
#include <stdexcept>

namespace crypttest {
namespace {

using Bytes = std::vector<unsigned char>;
constexpr size_t kPage = 4096;

// Plain RC4, written out here so that the tests do not rely on the code under test.
void rc4(const Bytes& key, unsigned char* data, size_t size) {
  unsigned char s[256];
  for (int i = 0; i < 256; ++i) s[i] = static_cast<unsigned char>(i);
  for (int i = 0, j = 0; i < 256; ++i) {
    j = (j + s[i] + key[i % key.size()]) & 0xFF;
    std::swap(s[i], s[j]);
  }
  for (size_t k = 0, i = 0, j = 0; k < size; ++k) {
    i = (i + 1) & 0xFF;
    j = (j + s[i]) & 0xFF;
    std::swap(s[i], s[j]);
    data[k] ^= s[(s[i] + s[j]) & 0xFF];
  }
}

Bytes digest(const std::string& name, const std::vector<Bytes>& parts) {
  const EVP_MD* md = EVP_get_digestbyname(name.c_str());
  if (!md) throw std::runtime_error("no digest " + name);
  EVP_MD_CTX* ctx = EVP_MD_CTX_new();
  EVP_DigestInit_ex(ctx, md, nullptr);
  for (const Bytes& p : parts) EVP_DigestUpdate(ctx, p.data(), p.size());
  Bytes out(EVP_MAX_MD_SIZE);
  unsigned int n = 0;
  EVP_DigestFinal_ex(ctx, out.data(), &n);
  EVP_MD_CTX_free(ctx);
  out.resize(n);
  return out;
}

Bytes le32(uint32_t v) {
  return {static_cast<unsigned char>(v), static_cast<unsigned char>(v >> 8),
          static_cast<unsigned char>(v >> 16), static_cast<unsigned char>(v >> 24)};
}

Bytes utf16(const std::string& ascii) {
  Bytes out;
  for (char c : ascii) {
    out.push_back(static_cast<unsigned char>(c));
    out.push_back(0);
  }
  return out;
}

Bytes random(size_t n) {
  Bytes out(n);
  RAND_bytes(out.data(), static_cast<int>(n));
  return out;
}

Bytes keyForPage(const std::array<unsigned char, 4>& databaseKey, uint32_t page) {
  Bytes k = le32(page);
  for (int i = 0; i < 4; ++i) k[i] ^= databaseKey[i];
  return k;
}

void setDatabaseKey(std::string& file, const std::array<unsigned char, 4>& key) {
  toggleMask(file);
  std::memcpy(file.data() + 0x3e, key.data(), 4);
  toggleMask(file);
}

void aesEcbEncrypt(const Bytes& key, unsigned char* data, size_t size) {
  const EVP_CIPHER* cipher = key.size() == 16   ? EVP_aes_128_ecb()
                             : key.size() == 24 ? EVP_aes_192_ecb()
                                                : EVP_aes_256_ecb();
  EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
  EVP_EncryptInit_ex(ctx, cipher, nullptr, key.data(), nullptr);
  EVP_CIPHER_CTX_set_padding(ctx, 0);
  int out = 0;
  EVP_EncryptUpdate(ctx, data, &out, data, static_cast<int>(size));
  EVP_CIPHER_CTX_free(ctx);
}

void aesCbcEncrypt(const Bytes& key, const Bytes& iv, unsigned char* data, size_t size) {
  const EVP_CIPHER* cipher = key.size() == 16   ? EVP_aes_128_cbc()
                             : key.size() == 24 ? EVP_aes_192_cbc()
                                                : EVP_aes_256_cbc();
  EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
  EVP_EncryptInit_ex(ctx, cipher, nullptr, key.data(), iv.data());
  EVP_CIPHER_CTX_set_padding(ctx, 0);
  int out = 0;
  EVP_EncryptUpdate(ctx, data, &out, data, static_cast<int>(size));
  EVP_CIPHER_CTX_free(ctx);
}

std::string base64(const Bytes& b) {
  std::string out(4 * ((b.size() + 2) / 3) + 1, '\0');
  int n = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(out.data()), b.data(),
                          static_cast<int>(b.size()));
  out.resize(static_cast<size_t>(n));
  return out;
}

Bytes fit(Bytes b, size_t n, unsigned char pad) {
  b.resize(n, pad);
  return b;
}

void append(std::string& s, const Bytes& b) { s.append(b.begin(), b.end()); }

// The EncryptionInfo of RC4 CryptoAPI and standard encryption (version 4.2): the header (flags,
// algorithm, SHA-1, key bits, provider type, CSP name), then the salt, the encrypted verifier and
// its encrypted hash.
std::string standardEncryptionInfo(uint32_t flags, uint32_t algId, uint32_t keyBits, uint32_t providerType,
                                   const std::string& csp, const Bytes& salt, const Bytes& encVerifier,
                                   const Bytes& encVerifierHash) {
  Bytes cspBytes = utf16(csp);
  cspBytes.push_back(0);
  cspBytes.push_back(0);
  std::string info;
  append(info, {4, 0, 2, 0});
  append(info, le32(flags));
  append(info, le32(static_cast<uint32_t>(32 + cspBytes.size())));
  for (uint32_t v : {flags, 0u, algId, 0x8004u, keyBits, providerType, 0u, 0u}) append(info, le32(v));
  append(info, cspBytes);
  append(info, le32(16));
  append(info, salt);
  append(info, encVerifier);
  append(info, le32(20));
  append(info, encVerifierHash);
  return info;
}

}  // namespace

void toggleMask(std::string& file) {
  const Bytes key = {0xC7, 0xDA, 0x39, 0x6B};
  rc4(key, reinterpret_cast<unsigned char*>(file.data()) + 0x18, 128);
}

void setEncryptionInfo(std::string& file, const std::string& info) {
  if (0x29b + info.size() > kPage) throw std::runtime_error("encryption info too long");
  file[0x299] = static_cast<char>(info.size() & 0xFF);
  file[0x29a] = static_cast<char>(info.size() >> 8);
  std::memcpy(file.data() + 0x29b, info.data(), info.size());
}

std::string encryptionInfo(const std::string& file) {
  size_t n = static_cast<unsigned char>(file[0x299]) | (static_cast<unsigned char>(file[0x29a]) << 8);
  return file.substr(0x29b, n);
}

std::string encryptRc4CryptoApi(const std::string& plain, const Rc4Options& o) {
  std::string file = plain;
  Bytes salt = random(16), verifier = random(16);
  Bytes baseHash = digest("SHA1", {salt, utf16(o.password)});
  auto blockKey = [&](const Bytes& block) {
    Bytes k = digest("SHA1", {baseHash, block});
    k.resize(o.keyBits / 8);
    if (o.keyBits == 40) k.resize(16, 0);
    return k;
  };
  // Verifier and its hash share one key stream.
  Bytes pair = verifier;
  Bytes hash = digest("SHA1", {verifier});
  pair.insert(pair.end(), hash.begin(), hash.end());
  rc4(blockKey(le32(0)), pair.data(), pair.size());

  setEncryptionInfo(file, standardEncryptionInfo(0x04, 0x6801, o.keyBits, 1,
                                                 "Microsoft Enhanced Cryptographic Provider v1.0", salt,
                                                 Bytes(pair.begin(), pair.begin() + 16), Bytes(pair.begin() + 16, pair.end())));
  setDatabaseKey(file, o.databaseKey);

  for (size_t page = 1; page * kPage < file.size(); ++page)
    rc4(blockKey(keyForPage(o.databaseKey, static_cast<uint32_t>(page))),
        reinterpret_cast<unsigned char*>(file.data()) + page * kPage, kPage);
  return file;
}

std::string encryptAgile(const std::string& plain, const AgileOptions& o) {
  std::string file = plain;
  const size_t keyBytes = o.keyBits / 8;
  Bytes keyDataSalt = random(16), passwordSalt = random(16), pageKey = random(keyBytes);
  Bytes verifier = random(16);

  Bytes h = digest(o.hash, {passwordSalt, utf16(o.password)});
  for (uint32_t i = 0; i < o.spinCount; ++i) h = digest(o.hash, {le32(i), h});
  auto encryptWith = [&](const Bytes& block, Bytes value) {
    Bytes key = fit(digest(o.hash, {h, block}), keyBytes, 0x36);
    value.resize((value.size() + 15) / 16 * 16, 0);
    aesCbcEncrypt(key, passwordSalt, value.data(), value.size());
    return value;
  };
  Bytes encInput = encryptWith({0xfe, 0xa7, 0xd2, 0x76, 0x3b, 0x4b, 0x9e, 0x79}, verifier);
  Bytes encValue = encryptWith({0xd7, 0xaa, 0x0f, 0x6d, 0x30, 0x61, 0x34, 0x4e},
                               digest(o.hash, {verifier}));
  Bytes encKey = encryptWith({0x14, 0x6e, 0x0b, 0xe7, 0xab, 0xac, 0xd0, 0xd6}, pageKey);

  size_t hashSize = digest(o.hash, {}).size();
  std::string attrs = "saltSize=\"16\" blockSize=\"16\" keyBits=\"" + std::to_string(o.keyBits) +
                      "\" hashSize=\"" + std::to_string(hashSize) +
                      "\" cipherAlgorithm=\"AES\" cipherChaining=\"ChainingModeCBC\" hashAlgorithm=\"" +
                      o.hash + "\" ";
  std::string xml =
      "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\r\n"
      "<encryption xmlns=\"http://schemas.microsoft.com/office/2006/encryption\" "
      "xmlns:p=\"http://schemas.microsoft.com/office/2006/keyEncryptor/password\">"
      "<keyData " + attrs + "saltValue=\"" + base64(keyDataSalt) + "\"/>"
      "<keyEncryptors><keyEncryptor uri=\"http://schemas.microsoft.com/office/2006/keyEncryptor/password\">"
      "<p:encryptedKey spinCount=\"" + std::to_string(o.spinCount) + "\" " + attrs +
      "saltValue=\"" + base64(passwordSalt) + "\" encryptedVerifierHashInput=\"" + base64(encInput) +
      "\" encryptedVerifierHashValue=\"" + base64(encValue) + "\" encryptedKeyValue=\"" +
      base64(encKey) + "\"/></keyEncryptor></keyEncryptors></encryption>";
  std::string info;
  append(info, {4, 0, 4, 0});
  append(info, le32(0x40));
  info += xml;
  setEncryptionInfo(file, info);
  setDatabaseKey(file, o.databaseKey);

  for (size_t page = 1; page * kPage < file.size(); ++page) {
    Bytes iv = fit(digest(o.hash, {keyDataSalt, keyForPage(o.databaseKey, static_cast<uint32_t>(page))}),
                   16, 0x36);
    aesCbcEncrypt(pageKey, iv, reinterpret_cast<unsigned char*>(file.data()) + page * kPage, kPage);
  }
  return file;
}

std::string encryptStandardAes(const std::string& plain, const StandardAesOptions& o) {
  std::string file = plain;
  Bytes salt = random(16), verifier = random(16);
  Bytes h = digest("SHA1", {salt, utf16(o.password)});
  for (uint32_t i = 0; o.aesFlag && i < 50000; ++i) h = digest("SHA1", {le32(i), h});
  auto blockKey = [&](const Bytes& block) {
    Bytes final = digest("SHA1", {h, block});
    Bytes x1(64, 0x36), x2(64, 0x5C);
    for (size_t i = 0; i < final.size(); ++i) x1[i] ^= final[i], x2[i] ^= final[i];
    Bytes key = digest("SHA1", {x1});
    Bytes k2 = digest("SHA1", {x2});
    key.insert(key.end(), k2.begin(), k2.end());
    key.resize(o.keyBits / 8);
    return key;
  };
  Bytes key0 = blockKey(le32(0));
  Bytes encVerifier = verifier;
  aesEcbEncrypt(key0, encVerifier.data(), 16);
  Bytes encHash = fit(digest("SHA1", {verifier}), 32, 0);
  aesEcbEncrypt(key0, encHash.data(), 32);

  uint32_t flags = o.aesFlag ? 0x24 : 0x04;
  uint32_t algId = o.keyBits == 128 ? 0x660E : o.keyBits == 192 ? 0x660F : 0x6610;
  setEncryptionInfo(file, standardEncryptionInfo(flags, algId, o.keyBits, 0x18,
                                                 "Microsoft Enhanced RSA and AES Cryptographic Provider", salt,
                                                 encVerifier, encHash));
  setDatabaseKey(file, o.databaseKey);

  for (size_t page = 1; page * kPage < file.size(); ++page)
    aesEcbEncrypt(blockKey(keyForPage(o.databaseKey, static_cast<uint32_t>(page))),
                  reinterpret_cast<unsigned char*>(file.data()) + page * kPage, kPage);
  return file;
}

std::string encodeJetPages(const std::string& plain, std::array<unsigned char, 4> databaseKey) {
  std::string file = plain;
  setDatabaseKey(file, databaseKey);
  for (size_t page = 1; page * kPage < file.size(); ++page)
    rc4(keyForPage(databaseKey, static_cast<uint32_t>(page)),
        reinterpret_cast<unsigned char*>(file.data()) + page * kPage, kPage);
  return file;
}

}  // namespace crypttest
