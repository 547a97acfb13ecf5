#include "source/crypt/encrypted_access.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>

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

DecryptResult decryptFailure(DecryptFailure kind, std::string message) {
  DecryptResult r;
  r.failure = kind;
  r.message = std::move(message);
  return r;
}

// A value from /proc/meminfo in bytes, or nothing.
std::optional<uint64_t> meminfo(const char* key) {
  std::ifstream in("/proc/meminfo");
  std::string name;
  uint64_t kib = 0;
  std::string unit;
  while (in >> name >> kib) {
    std::getline(in, unit);
    if (name == key) return kib * 1024;
  }
  return std::nullopt;
}

// The room a control group still leaves, from its limit and usage files; nothing when unlimited
// or unknown.
std::optional<uint64_t> groupRoom(const std::string& limitFile, const std::string& usageFile) {
  std::ifstream limitIn(limitFile), usageIn(usageFile);
  std::string limitText;
  uint64_t usage = 0;
  if (!(limitIn >> limitText) || limitText == "max" || !(usageIn >> usage)) return std::nullopt;
  uint64_t limit = std::strtoull(limitText.c_str(), nullptr, 10);
  if (limit >= (1ull << 62)) return std::nullopt;  // cgroup v1 writes "unlimited" as ~2^63
  return limit > usage ? limit - usage : 0;
}

// How much memory a new memfd may still fill: what the system has free (swap included) and what
// this process's control group still allows. Unknown counts as unlimited.
uint64_t memoryAvailable() {
  uint64_t available = UINT64_MAX;
  if (auto mem = meminfo("MemAvailable:")) available = *mem + meminfo("SwapFree:").value_or(0);
  // cgroup v2: "0::/some/group" names this process's group below /sys/fs/cgroup.
  std::ifstream cgroup("/proc/self/cgroup");
  std::string line, group;
  while (std::getline(cgroup, line))
    if (line.rfind("0::", 0) == 0) group = line.substr(3);
  std::string folder = "/sys/fs/cgroup" + (group == "/" ? std::string() : group);
  if (auto room = groupRoom(folder + "/memory.max", folder + "/memory.current"))
    available = std::min(available, *room);
  if (auto room = groupRoom("/sys/fs/cgroup/memory/memory.limit_in_bytes",
                            "/sys/fs/cgroup/memory/memory.usage_in_bytes"))
    available = std::min(available, *room);
  return available;
}

bool readFully(int fd, unsigned char* into, size_t size, off_t at) {
  while (size > 0) {
    ssize_t n = pread(fd, into, size, at);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    into += n;
    size -= static_cast<size_t>(n);
    at += n;
  }
  return true;
}

bool writeFully(int fd, const unsigned char* from, size_t size, off_t at) {
  while (size > 0) {
    ssize_t n = pwrite(fd, from, size, at);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    from += n;
    size -= static_cast<size_t>(n);
    at += n;
  }
  return true;
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
  if (!readFully(file.fd, page.data(), page.size(), 0)) return AccessEncryption::None;
  return detectAccessEncryption(page);
}

DecryptedDatabase::~DecryptedDatabase() {
  if (fd_ >= 0) close(fd_);
}

DecryptedDatabase::DecryptedDatabase(DecryptedDatabase&& other) noexcept
    : fd_(other.fd_), size_(other.size_), kind_(other.kind_) {
  other.fd_ = -1;
}

DecryptedDatabase& DecryptedDatabase::operator=(DecryptedDatabase&& other) noexcept {
  if (this != &other) {
    if (fd_ >= 0) close(fd_);
    fd_ = other.fd_;
    size_ = other.size_;
    kind_ = other.kind_;
    other.fd_ = -1;
  }
  return *this;
}

std::string DecryptedDatabase::path() const {
  return fd_ < 0 ? std::string() : "/proc/self/fd/" + std::to_string(fd_);
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

DecryptResult decryptAccessDatabase(const std::string& path, const std::string& password) {
  FileDescriptor source{open(path.c_str(), O_RDONLY | O_CLOEXEC)};
  if (source.fd < 0)
    return decryptFailure(DecryptFailure::Unreadable,
                          "cannot open " + quoted(path) + ": " + std::strerror(errno));
  struct stat st {};
  if (fstat(source.fd, &st) != 0 || !S_ISREG(st.st_mode))
    return decryptFailure(DecryptFailure::Unreadable, quoted(path) + " is not a regular file");
  uint64_t size = static_cast<uint64_t>(st.st_size);
  std::array<unsigned char, kAccessPageSize> page{};
  bool whole = size >= kAccessPageSize && readFully(source.fd, page.data(), page.size(), 0);
  CipherResult opened = openOfficeCipher(std::span<const unsigned char>(page).first(whole ? page.size() : 0),
                                         size, path, password);
  if (!opened) return decryptFailure(opened.failure, std::move(opened.message));
  const OfficePageCipher& cipher = *opened.cipher;

  if (size > memoryAvailable())
    return decryptFailure(DecryptFailure::OutOfMemory,
                   "not enough memory to decrypt " + quoted(path) + " (" + std::to_string(size) +
                       " bytes)");
  int memory = memfd_create("quarlex-decrypted-database", MFD_CLOEXEC | MFD_ALLOW_SEALING);
  if (memory < 0)
    return decryptFailure(DecryptFailure::OutOfMemory,
                   "cannot create memory for decrypting " + quoted(path) + ": " + std::strerror(errno));
  DecryptedDatabase database(memory, size, cipher.kind());
  if (ftruncate(memory, static_cast<off_t>(size)) != 0)
    return decryptFailure(DecryptFailure::OutOfMemory,
                   "not enough memory to decrypt " + quoted(path) + ": " + std::strerror(errno));

  // Page 0 stays as it is, but without the database key: libmdb would otherwise undo its own
  // Jet page encoding on pages we have already decrypted.
  std::array<unsigned char, kAccessPageSize> header = page;
  jetfmt::toggleHeaderMask(header.data(), header.size());
  std::memset(header.data() + kDatabaseKeyOffset, 0, 4);
  jetfmt::toggleHeaderMask(header.data(), header.size());
  if (!writeFully(memory, header.data(), header.size(), 0))
    return decryptFailure(DecryptFailure::OutOfMemory,
                   "not enough memory to decrypt " + quoted(path) + ": " + std::strerror(errno));

  uint64_t pages = size / kAccessPageSize;
  for (uint64_t number = 1; number < pages; ++number) {
    off_t at = static_cast<off_t>(number * kAccessPageSize);
    errno = 0;
    if (!readFully(source.fd, page.data(), page.size(), at))
      return decryptFailure(DecryptFailure::Unreadable,
                     "cannot read page " + std::to_string(number) + " of " + quoted(path) +
                         (errno ? std::string(": ") + std::strerror(errno) : ": the file shrank"));
    if (!cipher.decryptPage(static_cast<uint32_t>(number), page))
      return decryptFailure(DecryptFailure::Unsupported,
                     "cannot decrypt " + quoted(path) + ": the cipher failed on page " +
                         std::to_string(number));
    if (!writeFully(memory, page.data(), page.size(), at))
      return decryptFailure(DecryptFailure::OutOfMemory,
                     "not enough memory to decrypt " + quoted(path) + ": " + std::strerror(errno));
  }
  wipe(page);

  // Nobody may change the decrypted copy behind libmdb's back.
  fcntl(memory, F_ADD_SEALS, F_SEAL_SHRINK | F_SEAL_GROW | F_SEAL_WRITE | F_SEAL_SEAL);

  DecryptResult result;
  result.database = std::move(database);
  return result;
}
