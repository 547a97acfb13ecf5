#include "source/jet_header.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstring>
#include <vector>

#include "platform/little_endian.h"
#include "platform/read_whole.h"
#include "platform/text_codec.h"
#include "source/com_error.h"
#include "source/jet_format.h"
#include "source/jet_header_mask.h"

namespace {

constexpr const char* kSource = "DAO.DBEngine";
constexpr size_t kVersionOffset = jetfmt::kHdrVersion;
constexpr size_t kHeaderMaskStart = jetfmt::kHdrRc4Start;
constexpr size_t kCodePageOffset = jetfmt::kHdrCodePage;
constexpr size_t kPageKeyOffset = jetfmt::kHdrDbKey;
constexpr size_t kPasswordOffset = jetfmt::kHdrPassword;
constexpr size_t kCreationDateOffset = jetfmt::kHdrCreationDate;  // Jet4 and later: masks the password

[[noreturn]] void fail(int32_t hr, const std::string& what, const std::string& path, const std::string& reason) {
  throw ComError(hr, kSource, what + ": " + path, reason);
}

std::string damage(const std::string& what) { return openreason::kDamagedPrefix + what; }

}  // namespace

int openAccessFile(const std::string& path) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    int err = errno;
    if (err == ENOENT || err == ENOTDIR)
      fail(daoerror::kFileNotFound, "Could not find the database file", path, std::strerror(err));
    fail(daoerror::kFileNotFound, std::string("Could not open the database file (") + std::strerror(err) + ")", path,
         std::strerror(err));
  }
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    fail(daoerror::kUnrecognizedFormat, "Not a database file", path,
         S_ISDIR(st.st_mode) ? std::strerror(EISDIR) : openreason::kNotAccess);
  }
  return fd;
}

JetHeader readJetHeader(int fd, const std::string& path, uint16_t textCodePage) {
  struct stat st {};
  if (::fstat(fd, &st) != 0) fail(daoerror::kUnrecognizedFormat, "Could not read the database file", path, std::strerror(errno));
  std::vector<uint8_t> page(4096, 0);
  ssize_t got = preadWhole(fd, page.data(), page.size(), 0);
  if (got < 0) fail(daoerror::kUnrecognizedFormat, "Could not read the database file", path, std::strerror(errno));

  JetHeader header;
  header.fileSize = static_cast<uint64_t>(st.st_size);
  if (got < 0x80 + static_cast<ssize_t>(kHeaderMaskStart) || !startsLikeAccessDatabase(page.data(), static_cast<size_t>(got)))
    fail(daoerror::kUnrecognizedFormat, "Unrecognized database format", path, openreason::kNotAccess);
  uint8_t version = page[kVersionOffset];
  if (version > static_cast<uint8_t>(JetVersion::Ace17))
    fail(daoerror::kUnrecognizedFormat, "Unrecognized database format (unknown version " + std::to_string(version) + ")", path,
         openreason::kNotAccess);
  header.version = static_cast<JetVersion>(version);
  header.pageSize = header.version == JetVersion::Jet3 ? jetfmt::kJet3PageSize : jetfmt::kPageSize;
  header.pageCount = header.fileSize / header.pageSize;
  // Page 2 holds the catalog's table definition; anything shorter was cut off.
  if (header.pageCount < 3)
    fail(daoerror::kUnrecognizedFormat, "The database file is truncated or damaged", path,
         damage("the file is cut short"));

  jetfmt::toggleHeaderMask(page.data(), page.size());
  header.codePage = le::get16(&page[kCodePageOffset]);
  if (header.version == JetVersion::Jet3 && textCodePage != 0) header.codePage = textCodePage;
  uint32_t key = le::get32(&page[kPageKeyOffset]);
  if (header.version >= JetVersion::Ace12) {
    header.officeEncrypted = key != 0;
  } else {
    header.pageKey = key;
  }

  if (header.version == JetVersion::Jet3) {
    const uint8_t* stored = &page[kPasswordOffset];
    size_t n = 0;
    while (n < jetfmt::kHdrJet3PasswordBytes && stored[n] != 0) ++n;
    header.password = decodeCodePageText(stored, n, header.codePage);
  } else if (header.version == JetVersion::Jet4) {
    uint8_t stored[jetfmt::kHdrPasswordBytes];
    std::memcpy(stored, &page[kPasswordOffset], sizeof stored);
    double created;
    std::memcpy(&created, &page[kCreationDateOffset], sizeof created);
    uint32_t mask = 0;
    if (std::isfinite(created) && created > -2147483648.0 && created < 2147483648.0)
      mask = static_cast<uint32_t>(static_cast<int32_t>(std::floor(created)));
    uint8_t maskBytes[4];
    le::put32(maskBytes, mask);
    for (size_t i = 0; i < sizeof stored; ++i) stored[i] ^= maskBytes[i % 4];
    size_t n = 0;
    while (n + 1 < sizeof stored && (stored[n] | stored[n + 1]) != 0) n += 2;
    header.password = decodeAccessText(stored, n);
  }
  return header;
}

void checkDatabasePassword(const JetHeader& header, const std::string& given, const std::string& path) {
  if (header.officeEncrypted)
    fail(daoerror::kEncrypted, "The database is encrypted with a password, which this engine cannot open yet", path,
         "encrypted in a way this program cannot read");
  if (header.password.empty()) return;
  if (given.empty())
    fail(daoerror::kNotValidPassword, "The database is password-protected and no password was given", path,
         openreason::kPasswordNeeded);
  if (given != header.password)
    fail(daoerror::kNotValidPassword, "Not a valid password", path, openreason::kPasswordWrong);
}

bool startsLikeAccessDatabase(const uint8_t* bytes, size_t size) {
  const uint8_t* name = bytes + jetfmt::kHdrEngineName;
  return size >= jetfmt::kHdrEngineName + jetfmt::kEngineNameLength && bytes[0] == 0 &&
         (std::memcmp(name, jetfmt::kEngineNameJet, jetfmt::kEngineNameLength) == 0 ||
          std::memcmp(name, jetfmt::kEngineNameAce, jetfmt::kEngineNameLength) == 0);
}
