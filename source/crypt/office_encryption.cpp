#include "source/crypt/office_encryption.h"

OfficeEncryptionInfo readOfficeEncryptionInfo(ByteView info) {
  OfficeEncryptionInfo result;
  if (info.size() < 8) {
    result.problem = "its encryption header is missing or cut short";
    return result;
  }
  uint32_t major = le::get16(info.data());
  uint32_t minor = le::get16(info.data() + 2);
  std::string version = std::to_string(major) + "." + std::to_string(minor);
  if (major == 4 && minor == 4) {
    readAgileInfo(info, result);
  } else if ((major == 2 || major == 3 || major == 4) && minor == 2) {
    constexpr uint32_t kCryptoApiFlag = 0x04, kAesFlag = 0x20;
    uint32_t flags = le::get32(info.data() + 4);
    if (!(flags & kCryptoApiFlag)) {
      result.problem = "its encryption header (version " + version + ") has unknown flags";
    } else {
      readCryptoApiInfo(info, (flags & kAesFlag) != 0, result);
    }
  } else if ((major == 3 || major == 4) && minor == 3) {
    result.kind = AccessEncryption::OfficeUnsupported;
    result.problem = "it uses an extensible (third-party) encryption provider, which is not supported";
  } else if (major == 1 && minor == 1) {
    result.kind = AccessEncryption::OfficeUnsupported;
    result.problem = "it uses Office binary RC4 encryption, which is not supported";
  } else {
    result.problem = "its encryption header has the unknown version " + version;
  }
  return result;
}
