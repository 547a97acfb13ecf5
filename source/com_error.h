// The engine's failure: an HRESULT with the failing object's name and a description that says
// what failed and on which file.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

class ComError : public std::exception {
 public:
  ComError(int32_t hresult, std::string source, std::string description)
      : hresult_(hresult), source_(std::move(source)), description_(std::move(description)) {}
  int32_t hresult() const { return hresult_; }
  const std::string& source() const { return source_; }
  const std::string& description() const { return description_; }
  const char* what() const noexcept override { return description_.c_str(); }

 private:
  int32_t hresult_;
  std::string source_;
  std::string description_;
};

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
}  // namespace daoerror
