// The few cipher and hash operations the decryption needs, over OpenSSL's libcrypto (RC4 is
// our own, shared with the Jet page encoding).
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

struct evp_cipher_st;
struct evp_md_st;

using Bytes = std::vector<unsigned char>;
using ByteView = std::span<const unsigned char>;

enum class HashKind { Md5, Sha1, Sha256, Sha384, Sha512 };

// The hash named as Office names it ("SHA512", "SHA-1", ...), or nothing.
std::optional<HashKind> hashKindNamed(std::string_view name);
size_t hashSize(HashKind kind);

// Hash of the parts, one after the other.
Bytes hashOf(HashKind kind, std::initializer_list<ByteView> parts);

// Office's password stretching: h = hash(i as 4 bytes little-endian + h) for i = 0 .. count-1.
Bytes iterateHash(HashKind kind, Bytes start, uint32_t count);

// The value cut to `size` bytes, or lengthened with `pad` bytes.
Bytes fitToSize(Bytes value, size_t size, unsigned char pad);

// RC4 over the data in place (decryption and encryption are the same). False for an empty key.
bool rc4Apply(ByteView key, std::span<unsigned char> data);

// AES-CBC decryption in place, without padding: whole blocks, a key of 16, 24 or 32 bytes.
bool aesCbcDecrypt(ByteView key, ByteView iv, std::span<unsigned char> data);
// AES-ECB decryption in place, likewise.
bool aesEcbDecrypt(ByteView key, std::span<unsigned char> data);

// Overwrites secret bytes with zeros in a way the compiler cannot leave out.
void wipe(std::span<unsigned char> secret);

// An AES-CBC key and a hash made ready once for every page of a database: OpenSSL 3 otherwise
// looks both algorithms up again on each use, which costs a third of a page's decryption.
// Immutable once made, so threads may share one; wipes its key when destroyed.
class AesCbcPageKey {
 public:
  AesCbcPageKey(ByteView key, HashKind hash);
  ~AesCbcPageKey();
  AesCbcPageKey(const AesCbcPageKey&) = delete;
  AesCbcPageKey& operator=(const AesCbcPageKey&) = delete;

  // False when OpenSSL lacks the cipher or the hash, or the key is not 16, 24 or 32 bytes.
  bool valid() const { return cipher_ && digest_; }
  // The hash of the parts, one after the other, into `out` (room for 64 bytes); its size, or 0.
  size_t hash(std::initializer_list<ByteView> parts, unsigned char* out) const;
  // Decrypts whole blocks in place, without padding; `iv` is one block.
  bool decrypt(ByteView iv, std::span<unsigned char> data) const;

 private:
  Bytes key_;
  evp_cipher_st* cipher_ = nullptr;
  evp_md_st* digest_ = nullptr;
};

// Strict base64 (whitespace allowed); nothing for anything malformed.
std::optional<Bytes> base64Decode(std::string_view text);

// The password as Office hashes it: UTF-16LE, at most 255 code units. Bytes that are not UTF-8
// are taken as Latin-1 characters.
Bytes passwordUtf16le(const std::string& utf8);

inline constexpr size_t kMaxPasswordUnits = 255;
