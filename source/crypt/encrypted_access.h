// Opening password-protected .accdb files. Access 2007 and later encrypt every page but the
// header page when a database password is set. openOfficeCipher checks the password against the
// header page and gives back an object that decrypts one page at a time as the reader reads it:
// nothing is copied, so memory does not grow with the file.
//
// The older Jet page encoding of .mdb files (a key in the header and no password) needs no
// password and nothing from here: detectAccessEncryption reports such files as None.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>

#include "source/crypt/access_header.h"

enum class AccessEncryption {
  None,                // a plain database, or one with the Jet page encoding
  OfficeRc4CryptoApi,  // RC4 with a SHA-1 key per page (Access 2007; later: legacy encryption)
  OfficeAgile,         // AES with an XML key description (the default since Access 2010)
  OfficeStandardAes,   // AES-ECB under the CryptoAPI header ("standard" encryption)
  OfficeUnsupported,   // another Office provider (extensible, plain RC4, certificates)
  Damaged,             // claims to be encrypted, but its encryption header cannot be read
};

// A readable name for messages: "RC4 CryptoAPI", "agile (AES)", ...
const char* accessEncryptionName(AccessEncryption kind);

// What the header page (the file's first 4096 bytes) says. Fewer bytes, or bytes that are not
// an Access header, give None: the engine's own open reports those.
AccessEncryption detectAccessEncryption(std::span<const unsigned char> headerPage);

// Reads the header page of the file. An unreadable or short file gives None.
AccessEncryption detectAccessEncryptionOfFile(const std::string& path);

enum class DecryptFailure {
  None,             // success
  NotEncrypted,     // nothing to decrypt: open the file itself
  PasswordMissing,  // encrypted, and the password given is empty
  WrongPassword,    // the password does not match the file's verifier
  Unsupported,      // an encryption kind or algorithm we do not read
  Damaged,          // the encryption header or the file's size is not what Access writes
};

// Decrypts the pages of one encrypted database with the key its password unlocked. Immutable once
// made: several threads may decrypt pages with one object at the same time. Wipes the key when
// destroyed.
class OfficePageCipher {
 public:
  struct Keys;  // the provider's parameters and the unlocked key, private to the decryption
  explicit OfficePageCipher(std::unique_ptr<const Keys> keys);
  ~OfficePageCipher();
  OfficePageCipher(const OfficePageCipher&) = delete;
  OfficePageCipher& operator=(const OfficePageCipher&) = delete;

  AccessEncryption kind() const;
  // Decrypts page `number` in place. Page 0, the header page, is stored plain and stays as it
  // is. False only when the cipher itself fails (OpenSSL lacks it or runs out of memory).
  bool decryptPage(uint32_t number, std::span<unsigned char, kAccessPageSize> page) const;

 private:
  std::unique_ptr<const Keys> keys_;
};

struct CipherResult {
  DecryptFailure failure = DecryptFailure::None;
  std::string message;                      // what failed and on which file; empty on success
  std::unique_ptr<OfficePageCipher> cipher;  // set only on success
  explicit operator bool() const { return failure == DecryptFailure::None; }
};

// From the file's header page as stored (its first 4096 bytes, read by the caller), the file's
// size and the password (UTF-8 here; Access compares it as UTF-16LE, case-sensitive, at most 255
// characters): checks that the file is Office-encrypted, that its size is a whole number of
// pages and that the password is right. `path` only names the file in messages.
CipherResult openOfficeCipher(std::span<const unsigned char> headerPage, uint64_t fileSize,
                              const std::string& path, const std::string& password);
