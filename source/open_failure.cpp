#include "source/open_failure.h"

std::string openFailureReason(const ComError& error) {
  if (!error.reason().empty()) return error.reason();
  if (error.hresult() == daoerror::kNotValidPassword) return openreason::kPasswordWrong;
  if (error.hresult() == daoerror::kUnrecognizedFormat) return openreason::kNotAccess;
  if (error.hresult() == daoerror::kDatabaseCorrupt) return openreason::kDamagedPrefix + error.description();
  return error.description();
}
