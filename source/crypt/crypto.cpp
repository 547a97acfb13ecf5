#include "source/crypt/crypto.h"

#include <cstring>

#include "platform/little_endian.h"
#include "platform/rc4.h"
#include "source/crypt/openssl_library.h"

namespace {

const EVP_MD* digestOf(const OpenSslLibrary* ssl, HashKind kind) {
  switch (kind) {
    case HashKind::Md5: return ssl->EVP_md5();
    case HashKind::Sha1: return ssl->EVP_sha1();
    case HashKind::Sha256: return ssl->EVP_sha256();
    case HashKind::Sha384: return ssl->EVP_sha384();
    case HashKind::Sha512: return ssl->EVP_sha512();
  }
  return nullptr;
}

// The digest of `parts` into `out` (room for EVP_MAX_MD_SIZE bytes): its length, 0 when the
// digest is missing or OpenSSL fails.
size_t digestInto(const OpenSslLibrary* ssl, const EVP_MD* md, std::initializer_list<ByteView> parts, unsigned char* out) {
  EVP_MD_CTX* ctx = ssl->EVP_MD_CTX_new();
  unsigned int length = 0;
  bool ok = ctx && md && ssl->EVP_DigestInit_ex2(ctx, md, nullptr) == 1;
  for (ByteView part : parts) ok = ok && ssl->EVP_DigestUpdate(ctx, part.data(), part.size()) == 1;
  ok = ok && ssl->EVP_DigestFinal_ex(ctx, out, &length) == 1;
  ssl->EVP_MD_CTX_free(ctx);
  return ok ? length : 0;
}

bool applyCipher(const OpenSslLibrary* ssl, EVP_CIPHER_CTX* ctx, std::span<unsigned char> data) {
  // EVP works in place for stream ciphers and for block ciphers without padding.
  size_t done = 0;
  while (done < data.size()) {
    int chunk = static_cast<int>(std::min<size_t>(data.size() - done, 1 << 20));
    int out = 0;
    if (ssl->EVP_CipherUpdate(ctx, data.data() + done, &out, data.data() + done, chunk) != 1 ||
        out != chunk)
      return false;
    done += static_cast<size_t>(chunk);
  }
  return true;
}

// AES decryption in place without padding; `iv` is empty for ECB.
bool aesDecryptInPlace(ByteView key, ByteView iv, std::span<unsigned char> data) {
  const OpenSslLibrary* ssl = openSsl();
  if (!ssl) return false;
  bool ecb = iv.empty();
  const EVP_CIPHER* cipher = nullptr;
  switch (key.size()) {
    case 16: cipher = ecb ? ssl->EVP_aes_128_ecb() : ssl->EVP_aes_128_cbc(); break;
    case 24: cipher = ecb ? ssl->EVP_aes_192_ecb() : ssl->EVP_aes_192_cbc(); break;
    case 32: cipher = ecb ? ssl->EVP_aes_256_ecb() : ssl->EVP_aes_256_cbc(); break;
    default: return false;
  }
  if ((!ecb && iv.size() != 16) || data.size() % 16 != 0) return false;
  EVP_CIPHER_CTX* ctx = ssl->EVP_CIPHER_CTX_new();
  if (!ctx) return false;
  bool ok = ssl->EVP_CipherInit_ex(ctx, cipher, nullptr, key.data(), ecb ? nullptr : iv.data(), 0) == 1 &&
            ssl->EVP_CIPHER_CTX_set_padding(ctx, 0) == 1 && applyCipher(ssl, ctx, data);
  ssl->EVP_CIPHER_CTX_free(ctx);
  return ok;
}

}  // namespace

std::optional<HashKind> hashKindNamed(std::string_view name) {
  std::string n;
  for (char c : name)
    if (c != '-') n += static_cast<char>(c >= 'a' && c <= 'z' ? c - 32 : c);
  if (n == "SHA1") return HashKind::Sha1;
  if (n == "SHA256") return HashKind::Sha256;
  if (n == "SHA384") return HashKind::Sha384;
  if (n == "SHA512") return HashKind::Sha512;
  if (n == "MD5") return HashKind::Md5;
  return std::nullopt;
}

size_t hashSize(HashKind kind) {
  switch (kind) {
    case HashKind::Md5: return 16;
    case HashKind::Sha1: return 20;
    case HashKind::Sha256: return 32;
    case HashKind::Sha384: return 48;
    case HashKind::Sha512: return 64;
  }
  return 0;
}

Bytes hashOf(HashKind kind, std::initializer_list<ByteView> parts) {
  const OpenSslLibrary* ssl = openSsl();
  if (!ssl) return {};
  Bytes out(EVP_MAX_MD_SIZE);
  // A digest that fails here is an OpenSSL fault, not a property of the file; an empty hash
  // then fails every comparison, so nothing decrypts with it.
  out.resize(digestInto(ssl, digestOf(ssl, kind), parts, out.data()));
  return out;
}

Bytes iterateHash(HashKind kind, Bytes start, uint32_t count) {
  const OpenSslLibrary* ssl = openSsl();
  if (!ssl) return {};
  const EVP_MD* md = digestOf(ssl, kind);
  size_t size = hashSize(kind);
  if (start.size() != size) return {};
  EVP_MD_CTX* ctx = ssl->EVP_MD_CTX_new();
  if (!ctx) return {};
  Bytes h = std::move(start);
  bool ok = true;
  for (uint32_t i = 0; ok && i < count; ++i) {
    unsigned char counter[4];
    le::put32(counter, i);
    unsigned int length = 0;
    ok = ssl->EVP_DigestInit_ex2(ctx, md, nullptr) == 1 && ssl->EVP_DigestUpdate(ctx, counter, 4) == 1 &&
         ssl->EVP_DigestUpdate(ctx, h.data(), h.size()) == 1 &&
         ssl->EVP_DigestFinal_ex(ctx, h.data(), &length) == 1 && length == size;
  }
  ssl->EVP_MD_CTX_free(ctx);
  if (!ok) h.clear();
  return h;
}

Bytes fitToSize(Bytes value, size_t size, unsigned char pad) {
  value.resize(size, pad);
  return value;
}

bool rc4Apply(ByteView key, std::span<unsigned char> data) {
  if (key.empty()) return false;
  ::rc4Apply(key.data(), key.size(), data.data(), data.size());
  return true;
}

bool aesCbcDecrypt(ByteView key, ByteView iv, std::span<unsigned char> data) {
  if (iv.empty()) return false;
  return aesDecryptInPlace(key, iv, data);
}

bool aesEcbDecrypt(ByteView key, std::span<unsigned char> data) {
  return aesDecryptInPlace(key, {}, data);
}

AesCbcPageKey::AesCbcPageKey(ByteView key, HashKind hash) : key_(key.begin(), key.end()) {
  const OpenSslLibrary* ssl = openSsl();
  if (!ssl) return;
  const EVP_CIPHER* named = key.size() == 16   ? ssl->EVP_aes_128_cbc()
                            : key.size() == 24 ? ssl->EVP_aes_192_cbc()
                            : key.size() == 32 ? ssl->EVP_aes_256_cbc()
                                               : nullptr;
  if (named) cipher_ = ssl->EVP_CIPHER_fetch(nullptr, ssl->EVP_CIPHER_get0_name(named), nullptr);
  digest_ = ssl->EVP_MD_fetch(nullptr, ssl->EVP_MD_get0_name(digestOf(ssl, hash)), nullptr);
}

AesCbcPageKey::~AesCbcPageKey() {
  wipe(key_);
  const OpenSslLibrary* ssl = openSsl();  // loaded when cipher_ or digest_ is set
  if (!ssl) return;
  ssl->EVP_CIPHER_free(cipher_);
  ssl->EVP_MD_free(digest_);
}

size_t AesCbcPageKey::hash(std::initializer_list<ByteView> parts, unsigned char* out) const {
  const OpenSslLibrary* ssl = openSsl();
  return ssl ? digestInto(ssl, digest_, parts, out) : 0;
}

bool AesCbcPageKey::decrypt(ByteView iv, std::span<unsigned char> data) const {
  if (!valid() || iv.size() != 16 || data.size() % 16 != 0) return false;
  const OpenSslLibrary* ssl = openSsl();  // valid() means it is loaded
  // A context of its own for each call keeps the object free of shared mutable state; with the
  // algorithm already fetched, making one costs a fraction of decrypting a page.
  EVP_CIPHER_CTX* ctx = ssl->EVP_CIPHER_CTX_new();
  bool ok = ctx && ssl->EVP_DecryptInit_ex2(ctx, cipher_, key_.data(), iv.data(), nullptr) == 1 &&
            ssl->EVP_CIPHER_CTX_set_padding(ctx, 0) == 1 && applyCipher(ssl, ctx, data);
  ssl->EVP_CIPHER_CTX_free(ctx);
  return ok;
}

void wipe(std::span<unsigned char> secret) {
  if (!secret.empty()) explicit_bzero(secret.data(), secret.size());
}

std::optional<Bytes> base64Decode(std::string_view text) {
  const OpenSslLibrary* ssl = openSsl();
  if (!ssl) return std::nullopt;
  std::string clean;
  for (char c : text)
    if (c != ' ' && c != '\t' && c != '\r' && c != '\n') clean += c;
  if (clean.size() % 4 != 0) return std::nullopt;
  size_t padding = 0;
  if (!clean.empty() && clean.back() == '=') ++padding;
  if (clean.size() > 1 && clean[clean.size() - 2] == '=') ++padding;
  for (size_t i = 0; i < clean.size(); ++i) {
    char c = clean[i];
    bool alphabet = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                    c == '+' || c == '/';
    if (!alphabet && !(c == '=' && i >= clean.size() - padding)) return std::nullopt;
  }
  Bytes out(clean.size() / 4 * 3 + 1);
  // EVP_DecodeBlock keeps the padding as zero bytes; they are cut off below.
  int n = ssl->EVP_DecodeBlock(out.data(), reinterpret_cast<const unsigned char*>(clean.data()),
                          static_cast<int>(clean.size()));
  if (n < 0 || static_cast<size_t>(n) < padding) return std::nullopt;
  out.resize(static_cast<size_t>(n) - padding);
  return out;
}

Bytes passwordUtf16le(const std::string& utf8) {
  std::vector<uint16_t> units;
  auto byte = [&](size_t i) { return static_cast<unsigned char>(utf8[i]); };
  for (size_t i = 0; i < utf8.size();) {
    unsigned char b = byte(i);
    uint32_t cp = b;
    size_t length = 1;
    if (b >= 0xC2 && b <= 0xF4) {
      length = b < 0xE0 ? 2 : b < 0xF0 ? 3 : 4;
      cp = b & (length == 2 ? 0x1F : length == 3 ? 0x0F : 0x07);
      bool valid = i + length <= utf8.size();
      for (size_t k = 1; valid && k < length; ++k) {
        if ((byte(i + k) & 0xC0) != 0x80) valid = false;
        else cp = (cp << 6) | (byte(i + k) & 0x3F);
      }
      if (valid) {
        bool overlong = (length == 3 && cp < 0x800) || (length == 4 && cp < 0x10000);
        valid = !overlong && cp <= 0x10FFFF && !(cp >= 0xD800 && cp <= 0xDFFF);
      }
      if (!valid) {
        cp = b;
        length = 1;
      }
    }
    if (cp >= 0x10000) {
      cp -= 0x10000;
      units.push_back(static_cast<uint16_t>(0xD800 + (cp >> 10)));
      units.push_back(static_cast<uint16_t>(0xDC00 + (cp & 0x3FF)));
    } else {
      units.push_back(static_cast<uint16_t>(cp));
    }
    i += length;
  }
  if (units.size() > kMaxPasswordUnits) units.resize(kMaxPasswordUnits);
  Bytes out;
  for (uint16_t u : units) {
    out.push_back(static_cast<unsigned char>(u & 0xFF));
    out.push_back(static_cast<unsigned char>(u >> 8));
  }
  return out;
}
