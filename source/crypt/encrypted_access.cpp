#include "source/crypt/encrypted_access.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstring>

#include "platform/read_whole.h"
#include "source/crypt/access_header.h"
#include "source/crypt/office_encryption.h"
#include "source/jet_header_mask.h"

namespace {

// What the header page says, with the provider read when the database key marks an ACE file
// as encrypted. Jet3 and Jet4 files with a database key carry the Jet page encoding instead.
struct Detection {
  AccessEncryption kind = AccessEncryption::None;
  HeaderFacts facts;
  OfficeEncryptionInfo office;
};

Detection detect(std::span<const unsigned char> headerPage) {
  Detection d;
  if (headerPage.size() < kAccessPageSize) return d;
  std::array<unsigned char, kAccessPageSize> page;
  std::memcpy(page.data(), headerPage.data(), kAccessPageSize);
  jetfmt::toggleHeaderMask(page.data(), page.size());
  d.facts = readHeaderFacts(page);
  if (!d.facts.accessHeader || d.facts.version < kFirstAceVersion || !d.facts.hasDatabaseKey)
    return d;
  if (!d.facts.encryptionInfoFits) {
    d.kind = AccessEncryption::Damaged;
    d.office.problem = "its encryption header runs past the header page";
    return d;
  }
  d.office = readOfficeEncryptionInfo(d.facts.encryptionInfo);
  d.kind = d.office.kind;
  d.facts.encryptionInfo = {};  // points into the local page
  return d;
}

std::string quoted(const std::string& path) { return "'" + path + "'"; }

CipherResult failure(DecryptFailure kind, std::string message) {
  CipherResult r;
  r.failure = kind;
  r.message = std::move(message);
  return r;
}

struct FileDescriptor {
  int fd = -1;
  ~FileDescriptor() {
    if (fd >= 0) close(fd);
  }
};

}  // namespace

const char* accessEncryptionName(AccessEncryption kind) {
  switch (kind) {
    case AccessEncryption::None: return "none";
    case AccessEncryption::OfficeRc4CryptoApi: return "RC4 CryptoAPI";
    case AccessEncryption::OfficeAgile: return "agile (AES)";
    case AccessEncryption::OfficeStandardAes: return "standard AES";
    case AccessEncryption::OfficeUnsupported: return "an unsupported Office encryption";
    case AccessEncryption::Damaged: return "a damaged encryption header";
  }
  return "unknown";
}

AccessEncryption detectAccessEncryption(std::span<const unsigned char> headerPage) {
  return detect(headerPage).kind;
}

AccessEncryption detectAccessEncryptionOfFile(const std::string& path) {
  FileDescriptor file{open(path.c_str(), O_RDONLY | O_CLOEXEC)};
  if (file.fd < 0) return AccessEncryption::None;
  std::array<unsigned char, kAccessPageSize> page;
  if (preadWhole(file.fd, page.data(), page.size(), 0) != static_cast<ssize_t>(page.size()))
    return AccessEncryption::None;
  return detectAccessEncryption(page);
}

struct OfficePageCipher::Keys {
  AccessEncryption kind = AccessEncryption::None;
  std::array<unsigned char, 4> databaseKey{};
  CryptoApiInfo cryptoApi;  // RC4 and standard AES
  AgileInfo agile;
  Bytes secret;             // the CryptoAPI kinds' base hash (agile's page key only until
                            // it moves into agilePageKey)
  std::unique_ptr<AesCbcPageKey> agilePageKey;

  ~Keys() { wipe(secret); }
};

OfficePageCipher::OfficePageCipher(std::unique_ptr<const Keys> keys) : keys_(std::move(keys)) {}
OfficePageCipher::~OfficePageCipher() = default;

AccessEncryption OfficePageCipher::kind() const { return keys_->kind; }

bool OfficePageCipher::decryptPage(uint32_t number,
                                   std::span<unsigned char, kAccessPageSize> page) const {
  if (number == 0) return true;
  std::array<unsigned char, 4> key = pageKey(keys_->databaseKey, number);
  return keys_->kind == AccessEncryption::OfficeAgile
             ? agileDecryptPage(keys_->agile, *keys_->agilePageKey, key, page)
             : cryptoApiDecryptPage(keys_->cryptoApi, keys_->secret, key, page);
}

CipherResult openOfficeCipher(std::span<const unsigned char> headerPage, uint64_t fileSize,
                              const std::string& path, const std::string& password) {
  if (headerPage.size() < kAccessPageSize || fileSize < kAccessPageSize)
    return failure(DecryptFailure::Damaged,
                   quoted(path) + " is damaged: it is shorter than one database page");
  Detection found = detect(headerPage);
  switch (found.kind) {
    case AccessEncryption::None:
      return failure(DecryptFailure::NotEncrypted, quoted(path) + " is not an encrypted database");
    case AccessEncryption::Damaged:
      return failure(DecryptFailure::Damaged, quoted(path) + " is damaged: " + found.office.problem);
    case AccessEncryption::OfficeUnsupported:
      return failure(DecryptFailure::Unsupported,
                     "cannot decrypt " + quoted(path) + ": " + found.office.problem);
    case AccessEncryption::OfficeRc4CryptoApi:
    case AccessEncryption::OfficeStandardAes:
    case AccessEncryption::OfficeAgile:
      break;
  }
  if (fileSize % kAccessPageSize != 0)
    return failure(DecryptFailure::Damaged,
                   quoted(path) + " is damaged: its size of " + std::to_string(fileSize) +
                       " bytes is not a whole number of database pages (truncated?)");

  auto keys = std::make_unique<OfficePageCipher::Keys>();
  keys->kind = found.kind;
  keys->databaseKey = found.facts.databaseKey;
  keys->cryptoApi = std::move(found.office.cryptoApi);
  keys->agile = std::move(found.office.agile);
  Bytes passwordBytes = passwordUtf16le(password);
  KeyResult key = found.kind == AccessEncryption::OfficeAgile
                      ? agileKey(keys->agile, passwordBytes, keys->secret)
                      : cryptoApiKey(keys->cryptoApi, passwordBytes, keys->secret);
  wipe(passwordBytes);
  if (key == KeyResult::CipherFailure)
    return failure(DecryptFailure::Unsupported,
                   "cannot decrypt " + quoted(path) + ": the cipher is not available from OpenSSL");
  if (key == KeyResult::WrongPassword) {
    if (password.empty())
      return failure(DecryptFailure::PasswordMissing,
                     quoted(path) + " is encrypted with a password, and none was given");
    return failure(DecryptFailure::WrongPassword,
                   "the password for the encrypted database " + quoted(path) + " is wrong");
  }
  if (found.kind == AccessEncryption::OfficeAgile) {
    keys->agilePageKey = std::make_unique<AesCbcPageKey>(keys->secret, keys->agile.keyData.hash);
    wipe(keys->secret);
    keys->secret.clear();
    if (!keys->agilePageKey->valid())
      return failure(DecryptFailure::Unsupported,
                     "cannot decrypt " + quoted(path) + ": the cipher is not available from OpenSSL");
  }
  CipherResult result;
  result.cipher = std::make_unique<OfficePageCipher>(std::move(keys));
  return result;
}
