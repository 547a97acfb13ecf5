#include <pugixml.hpp>

#include <cstring>

#include "source/crypt/office_encryption.h"

namespace {

constexpr size_t kReservedAt = 4;
constexpr uint32_t kReservedValue = 0x40;
constexpr size_t kXmlAt = 8;
constexpr const char* kPasswordEncryptorUri =
    "http://schemas.microsoft.com/office/2006/keyEncryptor/password";

// The block keys that tell the three values derived from one password apart.
constexpr unsigned char kVerifierInputBlock[8] = {0xfe, 0xa7, 0xd2, 0x76, 0x3b, 0x4b, 0x9e, 0x79};
constexpr unsigned char kVerifierValueBlock[8] = {0xd7, 0xaa, 0x0f, 0x6d, 0x30, 0x61, 0x34, 0x4e};
constexpr unsigned char kKeyValueBlock[8] = {0x14, 0x6e, 0x0b, 0xe7, 0xab, 0xac, 0xd0, 0xd6};

// Largest values we accept for the sizes the XML states; Office writes 16-byte salts, blocks
// of 16, keys up to 32 bytes and hashes up to 64.
constexpr size_t kMaxSaltSize = 64;
constexpr size_t kMaxEncryptedValueSize = 128;

// The element's name without its namespace prefix ("p:encryptedKey" -> "encryptedKey").
const char* localName(const pugi::xml_node& node) {
  const char* name = node.name();
  const char* colon = std::strrchr(name, ':');
  return colon ? colon + 1 : name;
}

pugi::xml_node childNamed(const pugi::xml_node& parent, const char* name) {
  for (pugi::xml_node child : parent.children())
    if (child.type() == pugi::node_element && std::strcmp(localName(child), name) == 0) return child;
  return {};
}

// A reader that keeps the first problem it meets; later reads become no-ops.
struct AttributeReader {
  OfficeEncryptionInfo& into;
  const char* element;
  bool failed = false;

  void fail(AccessEncryption kind, const std::string& problem) {
    if (failed) return;
    failed = true;
    into.kind = kind;
    into.problem = problem;
  }
  void damaged(const std::string& problem) { fail(AccessEncryption::Damaged, problem); }

  std::string text(const pugi::xml_node& node, const char* name) {
    pugi::xml_attribute a = node.attribute(name);
    if (!a) damaged(std::string("its key description lacks ") + element + " " + name);
    return a.value();
  }
  uint32_t number(const pugi::xml_node& node, const char* name) {
    std::string value = text(node, name);
    if (failed) return 0;
    uint64_t n = 0;
    bool ok = !value.empty() && value.size() <= 10;
    for (char c : value) {
      if (c < '0' || c > '9') ok = false;
      else n = n * 10 + static_cast<uint64_t>(c - '0');
    }
    if (!ok || n > UINT32_MAX) {
      damaged(std::string("its key description has an invalid ") + element + " " + name);
      return 0;
    }
    return static_cast<uint32_t>(n);
  }
  Bytes base64(const pugi::xml_node& node, const char* name, size_t maxSize) {
    std::string value = text(node, name);
    if (failed) return {};
    if (value.size() > maxSize * 2) {
      damaged(std::string("its key description's ") + element + " " + name + " is too long");
      return {};
    }
    std::optional<Bytes> bytes = base64Decode(value);
    if (!bytes) {
      damaged(std::string("its key description's ") + element + " " + name + " is not base64");
      return {};
    }
    return *bytes;
  }

  AgileCipher cipher(const pugi::xml_node& node) {
    AgileCipher c;
    uint32_t saltSize = number(node, "saltSize");
    c.blockSize = number(node, "blockSize");
    c.keyBits = number(node, "keyBits");
    uint32_t statedHashSize = number(node, "hashSize");
    std::string algorithm = text(node, "cipherAlgorithm");
    std::string chaining = text(node, "cipherChaining");
    std::string hash = text(node, "hashAlgorithm");
    c.salt = base64(node, "saltValue", kMaxSaltSize);
    if (failed) return c;
    if (algorithm != "AES") {
      fail(AccessEncryption::OfficeUnsupported,
           "it is encrypted with the cipher " + algorithm + ", which is not supported");
    } else if (chaining != "ChainingModeCBC") {
      fail(AccessEncryption::OfficeUnsupported,
           "it is encrypted in the cipher mode " + chaining + ", which is not supported");
    } else if (c.keyBits != 128 && c.keyBits != 192 && c.keyBits != 256) {
      damaged("its AES key size of " + std::to_string(c.keyBits) + " bits is impossible");
    } else if (c.blockSize != 16) {
      damaged("its AES block size of " + std::to_string(c.blockSize) + " bytes is impossible");
    } else if (!hashKindNamed(hash)) {
      fail(AccessEncryption::OfficeUnsupported,
           "it uses the hash " + hash + ", which is not supported");
    } else {
      c.hash = *hashKindNamed(hash);
      if (statedHashSize != hashSize(c.hash))
        damaged("its key description gives " + hash + " a size of " +
                std::to_string(statedHashSize) + " bytes");
      else if (c.salt.empty() || c.salt.size() != saltSize)
        damaged(std::string("its ") + element + " salt does not have its stated size");
    }
    return c;
  }
};

bool wholeBlocks(const Bytes& value, size_t blockSize, size_t atLeast) {
  return value.size() >= atLeast && value.size() % blockSize == 0;
}

// The password's key for one block: the stretched hash, hashed with the block key and fitted.
Bytes passwordBlockKey(const AgileInfo& info, const Bytes& stretched, ByteView block) {
  return fitToSize(hashOf(info.passwordKey.hash, {stretched, block}), info.passwordKey.keyBits / 8,
                   0x36);
}

bool decryptWithPassword(const AgileInfo& info, const Bytes& stretched, ByteView block,
                         Bytes& value) {
  Bytes iv = fitToSize(info.passwordKey.salt, info.passwordKey.blockSize, 0x36);
  return aesCbcDecrypt(passwordBlockKey(info, stretched, block), iv, value);
}

}  // namespace

void readAgileInfo(ByteView info, OfficeEncryptionInfo& into) {
  into.kind = AccessEncryption::Damaged;
  if (info.size() <= kXmlAt || le::get32(info.data() + kReservedAt) != kReservedValue) {
    into.problem = "its agile encryption header is cut short or has an unexpected layout";
    return;
  }
  ByteView xml = info.subspan(kXmlAt);
  while (!xml.empty() && xml.back() == 0) xml = xml.first(xml.size() - 1);
  pugi::xml_document doc;
  pugi::xml_parse_result parsed = doc.load_buffer(xml.data(), xml.size());
  if (!parsed) {
    into.problem = std::string("its key description is not well-formed XML (") +
                   parsed.description() + ")";
    return;
  }
  pugi::xml_node root = childNamed(doc, "encryption");
  pugi::xml_node keyData = childNamed(root, "keyData");
  pugi::xml_node encryptors = childNamed(root, "keyEncryptors");
  if (!root || !keyData || !encryptors) {
    into.problem = "its key description lacks the key data or the key encryptors";
    return;
  }
  pugi::xml_node encryptedKey;
  for (pugi::xml_node encryptor : encryptors.children()) {
    if (encryptor.type() == pugi::node_element &&
        std::strcmp(localName(encryptor), "keyEncryptor") == 0 &&
        std::strcmp(encryptor.attribute("uri").value(), kPasswordEncryptorUri) == 0)
      encryptedKey = childNamed(encryptor, "encryptedKey");
  }
  if (!encryptedKey) {
    into.kind = AccessEncryption::OfficeUnsupported;
    into.problem = "it is encrypted for a certificate, not with a password";
    return;
  }

  AgileInfo& agile = into.agile;
  AttributeReader keyDataReader{into, "keyData"};
  agile.keyData = keyDataReader.cipher(keyData);
  if (keyDataReader.failed) return;
  AttributeReader reader{into, "encryptedKey"};
  agile.passwordKey = reader.cipher(encryptedKey);
  agile.spinCount = reader.number(encryptedKey, "spinCount");
  agile.encryptedVerifierHashInput =
      reader.base64(encryptedKey, "encryptedVerifierHashInput", kMaxEncryptedValueSize);
  agile.encryptedVerifierHashValue =
      reader.base64(encryptedKey, "encryptedVerifierHashValue", kMaxEncryptedValueSize);
  agile.encryptedKeyValue = reader.base64(encryptedKey, "encryptedKeyValue", kMaxEncryptedValueSize);
  if (reader.failed) return;

  size_t block = agile.passwordKey.blockSize;
  if (agile.spinCount > kMaxSpinCount) {
    into.problem = "its spin count of " + std::to_string(agile.spinCount) +
                   " is far beyond what Access writes";
  } else if (!wholeBlocks(agile.encryptedVerifierHashInput, block, agile.passwordKey.salt.size())) {
    into.problem = "its encrypted verifier has an impossible size";
  } else if (!wholeBlocks(agile.encryptedVerifierHashValue, block, hashSize(agile.passwordKey.hash))) {
    into.problem = "its encrypted verifier hash has an impossible size";
  } else if (!wholeBlocks(agile.encryptedKeyValue, block, agile.keyData.keyBits / 8)) {
    into.problem = "its encrypted key has an impossible size";
  } else {
    into.kind = AccessEncryption::OfficeAgile;
    into.problem.clear();
  }
}

KeyResult agileKey(const AgileInfo& info, ByteView password, Bytes& pageCipherKey) {
  HashKind hash = info.passwordKey.hash;
  Bytes stretched = iterateHash(hash, hashOf(hash, {info.passwordKey.salt, password}), info.spinCount);
  if (stretched.empty()) return KeyResult::CipherFailure;

  Bytes verifier = info.encryptedVerifierHashInput;
  Bytes verifierHash = info.encryptedVerifierHashValue;
  if (!decryptWithPassword(info, stretched, kVerifierInputBlock, verifier) ||
      !decryptWithPassword(info, stretched, kVerifierValueBlock, verifierHash))
    return KeyResult::CipherFailure;
  // The verifier is salt-sized random bytes padded to whole blocks; its hash is padded likewise.
  verifier.resize(info.passwordKey.salt.size());
  Bytes expected = hashOf(hash, {verifier});
  verifierHash.resize(expected.size());
  if (expected.empty() || expected != verifierHash) return KeyResult::WrongPassword;

  Bytes key = info.encryptedKeyValue;
  if (!decryptWithPassword(info, stretched, kKeyValueBlock, key)) return KeyResult::CipherFailure;
  key.resize(info.keyData.keyBits / 8);
  pageCipherKey = std::move(key);
  return KeyResult::Ok;
}

bool agileDecryptPage(const AgileInfo& info, const AesCbcPageKey& pageCipherKey,
                      const std::array<unsigned char, 4>& pageKey, std::span<unsigned char> page) {
  // The IV: hash(keyData salt + page key), cut to the block size (no hash Office allows is shorter).
  unsigned char digest[64];
  size_t length = pageCipherKey.hash({info.keyData.salt, pageKey}, digest);
  if (length < info.keyData.blockSize) return false;
  return pageCipherKey.decrypt(ByteView(digest, info.keyData.blockSize), page);
}
