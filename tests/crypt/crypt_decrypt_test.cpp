// Real encrypted files made by Access, and files we encrypt ourselves as Access does, opened
// with the right, a wrong and no password; values compared with what mdb-reader reads.
#include <fcntl.h>
#include <unistd.h>

#include <filesystem>

#include "source/crypt/encrypted_access.h"
#include "tests/crypt/crypt_test_support.h"
#include "tests/support/test_support.h"

namespace fs = std::filesystem;
using testsupport::mdbReaderDump;

namespace {

std::string sharedFile(const std::string& name) {
  return (testsupport::sharedAccessData() / name).string();
}

// mdb-reader's value against libmdb's text of it, for the kinds our real files hold.
std::string asLibmdbText(const nlohmann::json& v) {
  if (v.is_null()) return "";
  if (v.is_string()) return v.get<std::string>();
  if (v.is_number_integer()) return std::to_string(v.get<int64_t>());
  if (v.is_boolean()) return v.get<bool>() ? "1" : "0";
  return "<unexpected " + v.dump() + ">";
}

void expectSameAsMdbReader(const nlohmann::json& ours, const nlohmann::json& reference) {
  ASSERT_TRUE(ours.is_object()) << "libmdb could not open the decrypted database";
  ASSERT_TRUE(reference.is_object());
  ASSERT_EQ(ours["tables"].size(), reference["tables"].size());
  for (size_t t = 0; t < ours["tables"].size(); ++t) {
    const auto& a = ours["tables"][t];
    const auto& b = reference["tables"][t];
    EXPECT_EQ(a["name"], b["name"]);
    ASSERT_EQ(a["rows"].size(), b["rows"].size()) << b["name"];
    for (size_t r = 0; r < a["rows"].size(); ++r)
      for (size_t c = 0; c < a["rows"][r].size(); ++c)
        EXPECT_EQ(a["rows"][r][c].get<std::string>(), asLibmdbText(b["rows"][r][c]))
            << b["name"] << " row " << r << " column " << c;
  }
}

class CryptSharedFiles : public ::testing::TestWithParam<const char*> {};

TEST_P(CryptSharedFiles, DecryptsWithThePasswordAndReadsLikeMdbReader) {
  REQUIRE_SHARED_ACCESS_DATA();
  std::string file = sharedFile(GetParam());
  if (!fs::exists(file)) GTEST_SKIP() << file << " is absent";
  // Both shared files are agile today (the manifest expects RC4 CryptoAPI for the ace14 one);
  // either supported kind must decrypt.
  AccessEncryption kind = detectAccessEncryptionOfFile(file);
  if (std::string(GetParam()) == "ace-agile-encrypted.accdb") {
    EXPECT_EQ(kind, AccessEncryption::OfficeAgile);
  } else {
    EXPECT_TRUE(kind == AccessEncryption::OfficeAgile || kind == AccessEncryption::OfficeRc4CryptoApi)
        << accessEncryptionName(kind);
  }

  DecryptResult result = decryptAccessDatabase(file, "password");
  ASSERT_TRUE(result) << result.message;
  EXPECT_EQ(result.database.kind(), kind);
  EXPECT_EQ(result.database.size(), fs::file_size(file));
  EXPECT_EQ(result.database.path(), "/proc/self/fd/" + std::to_string(result.database.fd()));
  // The decrypted copy reads as a plain database.
  EXPECT_EQ(detectAccessEncryptionOfFile(result.database.path()), AccessEncryption::None);

  nlohmann::json ours = crypttest::libmdbDump(result.database.path());
  nlohmann::json reference = mdbReaderDump(file, "password");
  ASSERT_FALSE(reference["tables"].empty());
  EXPECT_EQ(reference["tables"][0]["name"], "Table1");
  expectSameAsMdbReader(ours, reference);
}

TEST_P(CryptSharedFiles, WrongAndMissingPasswordsFailDistinguishably) {
  REQUIRE_SHARED_ACCESS_DATA();
  std::string file = sharedFile(GetParam());
  if (!fs::exists(file)) GTEST_SKIP() << file << " is absent";

  DecryptResult missing = decryptAccessDatabase(file, "");
  DecryptResult wrong = decryptAccessDatabase(file, "wrong");
  DecryptResult wrongCase = decryptAccessDatabase(file, "Password");
  DecryptResult longer = decryptAccessDatabase(file, "password ");
  EXPECT_EQ(missing.failure, DecryptFailure::PasswordMissing);
  EXPECT_EQ(wrong.failure, DecryptFailure::WrongPassword);
  EXPECT_EQ(wrongCase.failure, DecryptFailure::WrongPassword);
  EXPECT_EQ(longer.failure, DecryptFailure::WrongPassword);
  for (const DecryptResult* r : {&missing, &wrong}) {
    EXPECT_FALSE(*r);
    EXPECT_FALSE(r->database.valid());
    EXPECT_NE(r->message.find(file), std::string::npos) << r->message;
  }
  EXPECT_NE(missing.message, wrong.message);
  EXPECT_NE(wrong.message.find("wrong"), std::string::npos) << wrong.message;
}

INSTANTIATE_TEST_SUITE_P(Files, CryptSharedFiles,
                         ::testing::Values("ace14-encrypted-password.accdb",
                                           "ace-agile-encrypted.accdb"));

TEST(CryptDetect, PlainAndJetFilesAreNotOfficeEncrypted) {
  REQUIRE_SHARED_ACCESS_DATA();
  for (const char* name : {"ace14-types.accdb", "ace12-types.accdb", "jet4-2000-password.mdb",
                           "jet3-types.mdb"}) {
    EXPECT_EQ(detectAccessEncryptionOfFile(sharedFile(name)), AccessEncryption::None) << name;
    DecryptResult r = decryptAccessDatabase(sharedFile(name), "password");
    EXPECT_EQ(r.failure, DecryptFailure::NotEncrypted) << name;
    EXPECT_NE(r.message.find(name), std::string::npos) << r.message;
  }
  EXPECT_EQ(detectAccessEncryptionOfFile("/nonexistent/x.accdb"), AccessEncryption::None);
  DecryptResult missing = decryptAccessDatabase("/nonexistent/x.accdb", "password");
  EXPECT_EQ(missing.failure, DecryptFailure::Unreadable);
  EXPECT_NE(missing.message.find("/nonexistent/x.accdb"), std::string::npos);
}

// Files we encrypt from a plain one: mdb-reader must read them like the plain file (so the
// encryption is what Access writes), and our decryption must give back the plain pages.
struct Synthetic {
  std::string name;
  std::string encrypted;
};

void expectDecryptsToPlain(const std::string& plainName, const Synthetic& s,
                           const std::string& password, AccessEncryption kind,
                           bool mdbReaderReadsIt = true) {
  std::string plain = testsupport::readFileBytes(sharedFile(plainName));
  testsupport::ScratchDir dir;
  fs::path file = dir / (s.name + ".accdb");
  testsupport::writeFileBytes(file, s.encrypted);

  EXPECT_EQ(detectAccessEncryptionOfFile(file.string()), kind);
  if (mdbReaderReadsIt) {
    EXPECT_EQ(mdbReaderDump(file, password), mdbReaderDump(sharedFile(plainName)))
        << "mdb-reader does not read our " << s.name << " file like the plain one";
  }

  DecryptResult r = decryptAccessDatabase(file.string(), password);
  ASSERT_TRUE(r) << r.message;
  std::string decrypted = testsupport::readFileBytes(r.database.path());
  ASSERT_EQ(decrypted.size(), plain.size());
  // Every page but the header page comes back byte for byte; the header keeps its encryption
  // info but loses the database key.
  EXPECT_TRUE(decrypted.compare(4096, std::string::npos, plain, 4096, std::string::npos) == 0);
  std::string header = decrypted.substr(0, 4096);
  crypttest::toggleMask(header);
  EXPECT_EQ(header.substr(0x3e, 4), std::string(4, '\0'));
  EXPECT_EQ(crypttest::libmdbDump(r.database.path()), crypttest::libmdbDump(sharedFile(plainName)));

  EXPECT_EQ(decryptAccessDatabase(file.string(), password + "x").failure,
            DecryptFailure::WrongPassword);
  EXPECT_EQ(decryptAccessDatabase(file.string(), "").failure, DecryptFailure::PasswordMissing);
}

TEST(CryptRc4CryptoApi, OurEncryptedFileDecryptsToThePlainOne) {
  REQUIRE_SHARED_ACCESS_DATA();
  std::string plain = testsupport::readFileBytes(sharedFile("ace14-types.accdb"));
  crypttest::Rc4Options options;
  options.password = "Geheim 42";
  expectDecryptsToPlain("ace14-types.accdb", {"rc4", crypttest::encryptRc4CryptoApi(plain, options)},
                        options.password, AccessEncryption::OfficeRc4CryptoApi);
}

TEST(CryptRc4CryptoApi, FortyBitKeysArePaddedTo128Bits) {
  // mdb-reader uses the bare 5 bytes here, against Office's rule; so we only check that our
  // decryption undoes an encryption made by the rule.
  REQUIRE_SHARED_ACCESS_DATA();
  std::string plain = testsupport::readFileBytes(sharedFile("ace12-types.accdb"));
  crypttest::Rc4Options options;
  options.keyBits = 40;
  testsupport::ScratchDir dir;
  testsupport::writeFileBytes(dir / "rc4-40.accdb", crypttest::encryptRc4CryptoApi(plain, options));
  DecryptResult r = decryptAccessDatabase((dir / "rc4-40.accdb").string(), "password");
  ASSERT_TRUE(r) << r.message;
  std::string decrypted = testsupport::readFileBytes(r.database.path());
  EXPECT_TRUE(decrypted.compare(4096, std::string::npos, plain, 4096, std::string::npos) == 0);
}

TEST(CryptStandardAes, StretchedAndUnstretchedKeysDecryptToThePlainFile) {
  // mdb-reader does not read this kind; the unstretched variant was checked once against a file
  // Access wrote (outside the test data we may keep).
  REQUIRE_SHARED_ACCESS_DATA();
  std::string plain = testsupport::readFileBytes(sharedFile("ace12-types.accdb"));
  crypttest::StandardAesOptions stretched;
  expectDecryptsToPlain("ace12-types.accdb",
                        {"standard-aes", crypttest::encryptStandardAes(plain, stretched)},
                        stretched.password, AccessEncryption::OfficeStandardAes, false);
  crypttest::StandardAesOptions variant;
  variant.aesFlag = false;
  variant.keyBits = 256;
  variant.password = "Test123";
  expectDecryptsToPlain("ace12-types.accdb",
                        {"aes-unstretched", crypttest::encryptStandardAes(plain, variant)},
                        variant.password, AccessEncryption::OfficeStandardAes, false);
}

TEST(CryptAgile, OtherHashesAndKeySizesDecryptToThePlainFile) {
  REQUIRE_SHARED_ACCESS_DATA();
  std::string plain = testsupport::readFileBytes(sharedFile("ace14-types.accdb"));
  crypttest::AgileOptions aes128;
  aes128.keyBits = 128;
  aes128.spinCount = 5000;
  aes128.password = "p";
  expectDecryptsToPlain("ace14-types.accdb", {"agile-aes128", crypttest::encryptAgile(plain, aes128)},
                        aes128.password, AccessEncryption::OfficeAgile);
  crypttest::AgileOptions sha384;
  sha384.hash = "SHA384";
  sha384.spinCount = 0;
  expectDecryptsToPlain("ace14-types.accdb", {"agile-sha384", crypttest::encryptAgile(plain, sha384)},
                        sha384.password, AccessEncryption::OfficeAgile);
}

TEST(CryptAgile, HashesShorterThanABlockAndKeysShorterThanTheirBlocks) {
  // mdb-reader fails on both (it pads a 20-byte SHA-1 verifier hash in place, and uses a
  // 192-bit key with its block padding as a 256-bit key); Office uses the stated sizes.
  REQUIRE_SHARED_ACCESS_DATA();
  std::string plain = testsupport::readFileBytes(sharedFile("ace14-types.accdb"));
  crypttest::AgileOptions sha1;
  sha1.hash = "SHA1";
  sha1.keyBits = 128;
  sha1.spinCount = 100;
  expectDecryptsToPlain("ace14-types.accdb", {"agile-sha1", crypttest::encryptAgile(plain, sha1)},
                        sha1.password, AccessEncryption::OfficeAgile, false);
  crypttest::AgileOptions aes192;
  aes192.hash = "SHA256";
  aes192.keyBits = 192;
  aes192.spinCount = 100;
  expectDecryptsToPlain("ace14-types.accdb", {"agile-aes192", crypttest::encryptAgile(plain, aes192)},
                        aes192.password, AccessEncryption::OfficeAgile, false);
}

TEST(CryptAgile, PasswordIsUtf16AndCutAt255Characters) {
  REQUIRE_SHARED_ACCESS_DATA();
  std::string plain = testsupport::readFileBytes(sharedFile("ace14-empty.accdb"));
  crypttest::AgileOptions o;
  o.spinCount = 10;
  o.password = std::string(255, 'k');
  testsupport::ScratchDir dir;
  fs::path file = dir / "long.accdb";
  testsupport::writeFileBytes(file, crypttest::encryptAgile(plain, o));
  EXPECT_TRUE(decryptAccessDatabase(file.string(), o.password));
  // Office reads no further than 255 characters.
  EXPECT_TRUE(decryptAccessDatabase(file.string(), o.password + "tail"));
  EXPECT_EQ(decryptAccessDatabase(file.string(), std::string(254, 'k')).failure,
            DecryptFailure::WrongPassword);

  // UTF-8 in, UTF-16 hashed: "ü" is one character, not two.
  crypttest::AgileOptions latin;
  latin.spinCount = 10;
  latin.password = "\xfc";  // the test encoder writes each byte as one UTF-16 unit
  testsupport::writeFileBytes(file, crypttest::encryptAgile(plain, latin));
  EXPECT_TRUE(decryptAccessDatabase(file.string(), "\xc3\xbc"));
  EXPECT_EQ(decryptAccessDatabase(file.string(), "\xc3\xbc\xc3\xbc").failure,
            DecryptFailure::WrongPassword);
}

// libmdb 1.0 undoes the Jet page encoding (database key, no password) itself: such files are
// not ours to decrypt, and libmdb reads them like the plain file.
TEST(CryptJetEncoding, LibmdbReadsJetEncodedPagesItself) {
  REQUIRE_SHARED_ACCESS_DATA();
  std::string plainPath = sharedFile("jet4-2003-no-password.mdb");
  std::string encoded = crypttest::encodeJetPages(testsupport::readFileBytes(plainPath),
                                                  {0x11, 0x22, 0x33, 0x44});
  testsupport::ScratchDir dir;
  fs::path file = dir / "encoded.mdb";
  testsupport::writeFileBytes(file, encoded);
  EXPECT_EQ(detectAccessEncryptionOfFile(file.string()), AccessEncryption::None);
  nlohmann::json plain = crypttest::libmdbDump(plainPath);
  ASSERT_FALSE(plain["tables"].empty());
  EXPECT_EQ(crypttest::libmdbDump(file.string()), plain);
  EXPECT_EQ(mdbReaderDump(file), mdbReaderDump(plainPath));
}

}  // namespace
