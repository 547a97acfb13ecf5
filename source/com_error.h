// The engine's failure: an HRESULT with the failing object's name and a description that says
// what failed and on which file. Failures of a database's open also carry the reason alone, in
// the words the user is shown after the file's name (see openFailureReason).
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

class ComError : public std::exception {
 public:
  ComError(int32_t hresult, std::string source, std::string description, std::string reason = {})
      : hresult_(hresult), source_(std::move(source)), description_(std::move(description)),
        reason_(std::move(reason)) {}
  int32_t hresult() const { return hresult_; }
  const std::string& source() const { return source_; }
  const std::string& description() const { return description_; }
  const std::string& reason() const { return reason_; }  // empty when the thrower gave none
  const char* what() const noexcept override { return description_.c_str(); }

 private:
  int32_t hresult_;
  std::string source_;
  std::string description_;
  std::string reason_;
};

// The reasons a database does not open, as the user reads them.
namespace openreason {
inline constexpr const char* kPasswordNeeded = "a password is needed (give it with /PASSWORD=)";
inline constexpr const char* kPasswordWrong = "the password is wrong";
inline constexpr const char* kNotAccess = "not an Access database";
inline constexpr const char* kDamagedPrefix = "damaged: ";
}  // namespace openreason

// HRESULTs the engine raises: the DAO error number in the automation error facility.
namespace daoerror {
constexpr int32_t fromCode(int code) { return static_cast<int32_t>(0x800A0000u | static_cast<uint32_t>(code)); }
inline constexpr int32_t kNoCurrentRecord = fromCode(3021);
inline constexpr int32_t kFileNotFound = fromCode(3024);
inline constexpr int32_t kNotValidPassword = fromCode(3031);
inline constexpr int32_t kTableNotFound = fromCode(3078);
inline constexpr int32_t kItemNotFound = fromCode(3265);
inline constexpr int32_t kUnrecognizedFormat = fromCode(3343);
inline constexpr int32_t kDatabaseCorrupt = fromCode(3049);
inline constexpr int32_t kObjectClosed = fromCode(3420);
inline constexpr int32_t kEncrypted = fromCode(3031);
inline constexpr int32_t kOdbcConnectFailed = fromCode(3151);
inline constexpr int32_t kNoInstallableIsam = fromCode(3170);
}  // namespace daoerror
