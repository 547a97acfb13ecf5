#include "source/database_file.h"

#include <unistd.h>

#include <array>

#include "platform/text_codec.h"
#include "source/com_error.h"
#include "source/crypt/encrypted_access.h"
#include "source/jet/catalog.h"
#include "source/jet/pages.h"

namespace {

// The reason of a failed decryption as the user reads it.
std::string decryptFailureReason(const CipherResult& r) {
  switch (r.failure) {
    case DecryptFailure::PasswordMissing: return openreason::kPasswordNeeded;
    case DecryptFailure::WrongPassword: return openreason::kPasswordWrong;
    case DecryptFailure::Damaged: {
      constexpr std::string_view kDamagedMark = " is damaged: ";  // the decryption's words before the damage
      size_t at = r.message.find(kDamagedMark);
      return openreason::kDamagedPrefix + (at == std::string::npos ? r.message : r.message.substr(at + kDamagedMark.size()));
    }
    default: return r.message;
  }
}

// The key that the password unlocks, checked against the header page, as the decryption of
// every page the reader reads.
PageDecryptor officeDecryptor(const PageReader& pages, const std::string& path, const std::string& password) {
  std::array<unsigned char, kAccessPageSize> header{};
  if (pages.pageSize() != kAccessPageSize || !pages.read(0, header.data()))
    throw ComError(daoerror::kUnrecognizedFormat, "DAO.DBEngine", "Could not read the database file: " + path,
                   openreason::kNotAccess);
  CipherResult r = openOfficeCipher(header, pages.fileSize(), path, password);
  if (!r) {
    bool passwordFault = r.failure == DecryptFailure::WrongPassword || r.failure == DecryptFailure::PasswordMissing;
    throw ComError(passwordFault ? daoerror::kNotValidPassword
                   : r.failure == DecryptFailure::Damaged ? daoerror::kDatabaseCorrupt
                                                          : daoerror::kUnrecognizedFormat,
                   "DAO.DBEngine", r.message, decryptFailureReason(r));
  }
  std::shared_ptr<const OfficePageCipher> cipher = std::move(r.cipher);
  return [cipher](uint32_t page, uint8_t* bytes) {
    return cipher->decryptPage(page, std::span<unsigned char, kAccessPageSize>(bytes, kAccessPageSize));
  };
}

}  // namespace

DatabaseFile::~DatabaseFile() = default;

std::shared_ptr<DatabaseFile> openDatabaseFile(const std::string& path, const std::string& password,
                                               int32_t textCodePage) {
  if (textCodePage != 0) {
    bool known = textCodePage > 0 && textCodePage <= UINT16_MAX && canDecodeCodePage(static_cast<uint16_t>(textCodePage));
    if (!known) {
      std::string reason = textCodePage < 0 ? "the code page is no number from 1 to 65535"
                                            : "code page " + std::to_string(textCodePage) + " is not one this system decodes";
      throw ComError(daoerror::kNoInstallableIsam, "DAO.DBEngine", "Cannot read the texts of " + path + ": " + reason, reason);
    }
  }
  auto file = std::make_shared<DatabaseFile>();
  file->path = path;
  file->password = password;
  file->textCodePage = static_cast<uint16_t>(textCodePage);
  // One descriptor for the header and the pages: they come from the same file, even if the path
  // is replaced meanwhile.
  const int fd = openAccessFile(path);
  try {
    file->header = readJetHeader(fd, path, file->textCodePage);
  } catch (...) {
    ::close(fd);
    throw;
  }
  file->pages = std::make_unique<PageReader>(fd, file->header);
  if (file->header.officeEncrypted) {
    file->pages->setDecryptor(officeDecryptor(*file->pages, path, password));
  } else {
    checkDatabasePassword(file->header, password, path);
  }
  readCatalog(file);
  return file;
}
