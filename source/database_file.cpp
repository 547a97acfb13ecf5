#include "source/database_file.h"

#include "source/com_error.h"
#include "source/crypt/encrypted_access.h"
#include "source/jet/catalog.h"
#include "source/jet/pages.h"

namespace {

// The reason of a failed decryption as the user reads it.
std::string decryptFailureReason(const DecryptResult& r) {
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

}  // namespace

DatabaseFile::~DatabaseFile() = default;

std::shared_ptr<DatabaseFile> openDatabaseFile(const std::string& path, const std::string& password) {
  auto file = std::make_shared<DatabaseFile>();
  file->path = path;
  file->password = password;
  file->header = readJetHeader(path);
  std::string openPath = path;
  DecryptedDatabase decrypted;
  if (file->header.officeEncrypted) {
    DecryptResult r = decryptAccessDatabase(path, password);
    if (!r) {
      bool passwordFault = r.failure == DecryptFailure::WrongPassword || r.failure == DecryptFailure::PasswordMissing;
      throw ComError(passwordFault ? daoerror::kNotValidPassword
                     : r.failure == DecryptFailure::Damaged ? daoerror::kDatabaseCorrupt
                                                            : daoerror::kUnrecognizedFormat,
                     "DAO.DBEngine", r.message, decryptFailureReason(r));
    }
    decrypted = std::move(r.database);
    openPath = decrypted.path();
  } else {
    checkDatabasePassword(file->header, password, path);
  }
  file->pages = std::make_unique<PageReader>(openPath, file->header);
  readCatalog(file);
  return file;
}
