// Real encrypted files made by Access, and files we encrypt ourselves as Access does, opened
// with the right, a wrong and no password; each page decrypted through the page cipher.
#include <filesystem>
#include <thread>

#include "source/crypt/encrypted_access.h"
#include "source/jet_format.h"
#include "tests/crypt/access_encryptor.h"
#include "tests/crypt/crypt_test_support.h"
#include "tests/support/test_support.h"

namespace fs = std::filesystem;
using crypttest::engineDump;
using crypttest::openCipherOfFile;
using testsupport::mdbReaderDump;

namespace {

std::string sharedFile(const std::string& name) {
  return (testsupport::sharedAccessData() / name).string();
}

nlohmann::json expectation(const std::string& file) {
  return nlohmann::json::parse(testsupport::readFileBytes(file + ".expected.json"));
}

class CryptSharedFiles : public ::testing::TestWithParam<const char*> {};

TEST_P(CryptSharedFiles, DecryptsWithThePasswordAndReadsAsExpected) {
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

  CipherResult result = openCipherOfFile(file, "password");
  ASSERT_TRUE(result) << result.message;
  EXPECT_TRUE(result.message.empty());
  EXPECT_EQ(result.cipher->kind(), kind);
  // Every decrypted page starts with the mark of one of the page types.
  std::string decrypted = crypttest::decryptPages(testsupport::readFileBytes(file), *result.cipher);
  ASSERT_EQ(decrypted.size(), fs::file_size(file));
  for (size_t page = 1; page * 4096 < decrypted.size(); ++page)
    EXPECT_LE(static_cast<uint8_t>(decrypted[page * 4096]), jetfmt::kPageUsageBitmap) << "page " << page;

  nlohmann::json expected = expectation(file);
  ASSERT_EQ(expected["tables"].size(), 1u);
  nlohmann::json ours = engineDump(file, "password");
  ASSERT_TRUE(ours.is_object()) << "the engine could not open the database";
  ASSERT_EQ(ours["tables"].size(), 1u);
  EXPECT_EQ(ours["tables"][0]["name"], expected["tables"][0]["name"]);
  EXPECT_EQ(ours["tables"][0]["rows"], expected["tables"][0]["rows"]);
}

TEST_P(CryptSharedFiles, WrongAndMissingPasswordsFailDistinguishably) {
  REQUIRE_SHARED_ACCESS_DATA();
  std::string file = sharedFile(GetParam());
  if (!fs::exists(file)) GTEST_SKIP() << file << " is absent";

  CipherResult missing = openCipherOfFile(file, "");
  CipherResult wrong = openCipherOfFile(file, "wrong");
  EXPECT_EQ(missing.failure, DecryptFailure::PasswordMissing);
  EXPECT_EQ(wrong.failure, DecryptFailure::WrongPassword);
  EXPECT_EQ(openCipherOfFile(file, "Password").failure, DecryptFailure::WrongPassword);
  EXPECT_EQ(openCipherOfFile(file, "password ").failure, DecryptFailure::WrongPassword);
  for (const CipherResult* r : {&missing, &wrong}) {
    EXPECT_FALSE(*r);
    EXPECT_FALSE(r->cipher);
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
    CipherResult r = openCipherOfFile(sharedFile(name), "password");
    EXPECT_EQ(r.failure, DecryptFailure::NotEncrypted) << name;
    EXPECT_NE(r.message.find(name), std::string::npos) << r.message;
  }
  EXPECT_EQ(detectAccessEncryptionOfFile("/nonexistent/x.accdb"), AccessEncryption::None);
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

  CipherResult r = openCipherOfFile(file.string(), password);
  ASSERT_TRUE(r) << r.message;
  EXPECT_EQ(r.cipher->kind(), kind);
  std::string decrypted = crypttest::decryptPages(s.encrypted, *r.cipher);
  ASSERT_EQ(decrypted.size(), plain.size());
  // Every page but the header page comes back byte for byte; the header page stays as stored.
  EXPECT_TRUE(decrypted.compare(4096, std::string::npos, plain, 4096, std::string::npos) == 0);
  EXPECT_EQ(decrypted.substr(0, 4096), s.encrypted.substr(0, 4096));
  nlohmann::json plainDump = engineDump(sharedFile(plainName));
  ASSERT_FALSE(plainDump["tables"].empty());
  EXPECT_EQ(engineDump(file.string(), password), plainDump);

  EXPECT_EQ(openCipherOfFile(file.string(), password + "x").failure, DecryptFailure::WrongPassword);
  EXPECT_EQ(openCipherOfFile(file.string(), "").failure, DecryptFailure::PasswordMissing);
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
  std::string encrypted = crypttest::encryptRc4CryptoApi(plain, options);
  testsupport::writeFileBytes(dir / "rc4-40.accdb", encrypted);
  CipherResult r = openCipherOfFile((dir / "rc4-40.accdb").string(), "password");
  ASSERT_TRUE(r) << r.message;
  std::string decrypted = crypttest::decryptPages(encrypted, *r.cipher);
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
  EXPECT_TRUE(openCipherOfFile(file.string(), o.password));
  // Office reads no further than 255 characters.
  EXPECT_TRUE(openCipherOfFile(file.string(), o.password + "tail"));
  EXPECT_EQ(openCipherOfFile(file.string(), std::string(254, 'k')).failure,
            DecryptFailure::WrongPassword);

  // UTF-8 in, UTF-16 hashed: "ü" is one character, not two.
  crypttest::AgileOptions latin;
  latin.spinCount = 10;
  latin.password = "\xfc";  // the test encoder writes each byte as one UTF-16 unit
  testsupport::writeFileBytes(file, crypttest::encryptAgile(plain, latin));
  EXPECT_TRUE(openCipherOfFile(file.string(), "\xc3\xbc"));
  EXPECT_EQ(openCipherOfFile(file.string(), "\xc3\xbc\xc3\xbc").failure,
            DecryptFailure::WrongPassword);
}

// The Jet page encoding (database key, no password) is not Office encryption: the engine reads
// such files like the plain file, without a cipher.
TEST(CryptJetEncoding, JetEncodedPagesReadLikeThePlainFile) {
  REQUIRE_SHARED_ACCESS_DATA();
  std::string plainPath = sharedFile("jet4-2003-no-password.mdb");
  std::string encoded = crypttest::encodeJetPages(testsupport::readFileBytes(plainPath),
                                                  {0x11, 0x22, 0x33, 0x44});
  testsupport::ScratchDir dir;
  fs::path file = dir / "encoded.mdb";
  testsupport::writeFileBytes(file, encoded);
  EXPECT_EQ(detectAccessEncryptionOfFile(file.string()), AccessEncryption::None);
  nlohmann::json plain = engineDump(plainPath);
  ASSERT_FALSE(plain["tables"].empty());
  EXPECT_EQ(engineDump(file.string()), plain);
  EXPECT_EQ(mdbReaderDump(file), mdbReaderDump(plainPath));
}

// The reader decrypts pages on more than one thread: one cipher serves them all at once.
TEST(CryptThreads, OneCipherDecryptsOnSeveralThreadsAtOnce) {
  REQUIRE_SHARED_ACCESS_DATA();
  std::string plain = testsupport::readFileBytes(sharedFile("ace14-types.accdb"));
  for (const std::string& encrypted : {crypttest::encryptAgile(plain, {.spinCount = 10}),
                                       crypttest::encryptRc4CryptoApi(plain)}) {
    testsupport::ScratchDir dir;
    testsupport::writeFileBytes(dir / "shared.accdb", encrypted);
    CipherResult r = openCipherOfFile((dir / "shared.accdb").string(), "password");
    ASSERT_TRUE(r) << r.message;
    std::vector<std::string> results(4);
    std::vector<std::thread> threads;
    for (std::string& result : results)
      threads.emplace_back([&] { result = crypttest::decryptPages(encrypted, *r.cipher); });
    for (std::thread& t : threads) t.join();
    for (const std::string& result : results)
      EXPECT_TRUE(result.size() == plain.size() &&
                  result.compare(4096, std::string::npos, plain, 4096, std::string::npos) == 0);
  }
}

}  // namespace
