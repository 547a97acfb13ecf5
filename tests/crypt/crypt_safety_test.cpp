// Decrypted pages never reach a file, and damaged encrypted files fail cleanly and quickly.
#include <filesystem>
#include <map>
#include <random>
#include <set>

#include "source/crypt/encrypted_access.h"
#include "source/engine.h"
#include "tests/crypt/access_encryptor.h"
#include "tests/crypt/crypt_test_support.h"
#include "tests/support/test_support.h"

namespace fs = std::filesystem;

namespace {

std::string sharedFile(const std::string& name) {
  return (testsupport::sharedAccessData() / name).string();
}

// Every file below the folders, with its size and modification time.
std::map<std::string, std::pair<uintmax_t, fs::file_time_type>> filesIn(
    const std::vector<fs::path>& folders) {
  std::map<std::string, std::pair<uintmax_t, fs::file_time_type>> files;
  for (const fs::path& folder : folders) {
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(folder, fs::directory_options::skip_permission_denied, ec);
         it != fs::recursive_directory_iterator(); it.increment(ec)) {
      if (ec) break;
      // Other helpers build beside us; their build output is not ours to watch.
      if (it->path().string().find("/build/") != std::string::npos) continue;
      if (it->is_regular_file(ec))
        files[it->path().string()] = {it->file_size(ec), it->last_write_time(ec)};
    }
  }
  return files;
}

std::map<int, std::string> openDescriptors() {
  std::map<int, std::string> fds;
  for (const auto& entry : fs::directory_iterator("/proc/self/fd")) {
    std::error_code ec;
    fs::path target = fs::read_symlink(entry.path(), ec);
    if (!ec) fds[std::stoi(entry.path().filename().string())] = target.string();
  }
  return fds;
}

// A stretch of decrypted content that no file should hold: the busiest page's first 1 KiB.
std::string plaintextSignature(const std::string& decrypted) {
  size_t best = 1, bestCount = 0;
  for (size_t page = 1; page * 4096 < decrypted.size(); ++page) {
    size_t count = 0;
    for (size_t i = 0; i < 4096; ++i) count += decrypted[page * 4096 + i] != 0;
    if (count > bestCount) bestCount = count, best = page;
  }
  return decrypted.substr(best * 4096, 1024);
}

TEST(CryptNoPlaintextOnDisk, ReadingEveryTableWritesNothingAndLeaksNoDescriptor) {
  REQUIRE_SHARED_ACCESS_DATA();
  std::string file = sharedFile("ace-agile-encrypted.accdb");
  if (!fs::exists(file)) GTEST_SKIP() << file << " is absent";
  // Other tests and helpers write into these folders at the same time, so new files are
  // searched for decrypted content rather than forbidden.
  std::vector<fs::path> shared = {fs::temp_directory_path(), testsupport::projectRoot()};
  std::vector<fs::path> source = {testsupport::sharedAccessData()};
  auto sharedBefore = filesIn(shared);
  auto sourceFilesBefore = filesIn(source);
  // The engine's first open may set up what the process keeps for good; every later open must
  // give back all it takes.
  ASSERT_TRUE(crypttest::engineDump(file, "password").is_object());
  auto fdsBefore = openDescriptors();
  std::string sourceBefore = testsupport::readFileBytes(file);
  auto sourceTime = fs::last_write_time(file);

  CipherResult cipher = crypttest::openCipherOfFile(file, "password");
  ASSERT_TRUE(cipher) << cipher.message;
  std::string signature = plaintextSignature(crypttest::decryptPages(sourceBefore, *cipher.cipher));
  ASSERT_EQ(sourceBefore.find(signature), std::string::npos) << "the signature is not plaintext";
  {
    auto db = DBEngine(EngineFlavour::Dao120).OpenDatabase(file, 0, true, std::string(";pwd=password"));
    auto rs = db->OpenRecordset("Table1");
    // While the table is open, a new descriptor is the source file or nothing on disk.
    for (const auto& [fd, target] : openDescriptors()) {
      if (fdsBefore.count(fd) && fdsBefore[fd] == target) continue;
      EXPECT_TRUE(target == fs::canonical(file).string() || target.rfind("/proc/", 0) == 0 ||
                  !fs::exists(target))
          << "descriptor " << fd << " points at " << target;
    }
    std::vector<std::string> texts;
    for (rs->MoveFirst(); !rs->Eof(); rs->MoveNext()) texts.push_back(rs->Fields().Item(1).Value().text);
    EXPECT_EQ(texts, (std::vector<std::string>{"One", "Two", "Three"}));
    EXPECT_EQ(crypttest::engineDump(file, "password")["tables"][0]["rows"].size(), 3u);
  }
  EXPECT_EQ(openDescriptors(), fdsBefore) << "a descriptor outlived the database";
  for (const auto& [path, stamp] : filesIn(shared)) {
    auto before = sharedBefore.find(path);
    if (before != sharedBefore.end() && before->second == stamp) continue;
    if (stamp.first > (64u << 20)) continue;
    EXPECT_EQ(testsupport::readFileBytes(path).find(signature), std::string::npos)
        << path << " holds decrypted content";
  }
  EXPECT_EQ(filesIn(source), sourceFilesBefore) << "a file appeared or changed beside the source";
  EXPECT_EQ(testsupport::readFileBytes(file), sourceBefore);
  EXPECT_EQ(fs::last_write_time(file), sourceTime);
}

// --- damaged files -------------------------------------------------------------------------

class CryptDamaged : public ::testing::Test {
 protected:
  void SetUp() override {
    if (testsupport::sharedAccessData().empty())
      GTEST_SKIP() << "../shared/testdata/access is absent: real Access files not tested";
    plain_ = testsupport::readFileBytes(sharedFile("ace14-empty.accdb"));
  }
  CipherResult decrypt(const std::string& bytes, const std::string& password = "password") {
    fs::path file = dir_ / "damaged.accdb";
    testsupport::writeFileBytes(file, bytes);
    CipherResult r = crypttest::openCipherOfFile(file.string(), password);
    if (!r) {
      EXPECT_NE(r.message.find(file.string()), std::string::npos) << r.message;
    }
    return r;
  }
  // The agile file with one attribute of its key description replaced.
  std::string agileWith(const std::string& from, const std::string& to, uint32_t spin = 10) {
    crypttest::AgileOptions o;
    o.spinCount = spin;
    std::string file = crypttest::encryptAgile(plain_, o);
    std::string info = crypttest::encryptionInfo(file);
    size_t at = info.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    if (at != std::string::npos) info.replace(at, from.size(), to);
    crypttest::setEncryptionInfo(file, info);
    return file;
  }
  std::string plain_;
  testsupport::ScratchDir dir_;
};

TEST_F(CryptDamaged, TruncatedFiles) {
  std::string file = crypttest::encryptRc4CryptoApi(plain_);
  EXPECT_EQ(decrypt(file.substr(0, 100)).failure, DecryptFailure::Damaged);
  EXPECT_EQ(decrypt(file.substr(0, 4095)).failure, DecryptFailure::Damaged);
  CipherResult cut = decrypt(file.substr(0, 3 * 4096 + 17));
  EXPECT_EQ(cut.failure, DecryptFailure::Damaged);
  EXPECT_NE(cut.message.find("whole number of database pages"), std::string::npos);
  EXPECT_EQ(decrypt("").failure, DecryptFailure::Damaged);
}

TEST_F(CryptDamaged, EncryptionInfoLengthBeyondThePage) {
  std::string file = crypttest::encryptAgile(plain_, {.spinCount = 10});
  file[0x299] = '\xff';
  file[0x29a] = '\xff';
  EXPECT_EQ(detectAccessEncryption({reinterpret_cast<const unsigned char*>(file.data()), 4096}),
            AccessEncryption::Damaged);
  EXPECT_EQ(decrypt(file).failure, DecryptFailure::Damaged);
  crypttest::setEncryptionInfo(file, "");
  EXPECT_EQ(decrypt(file).failure, DecryptFailure::Damaged);
}

TEST_F(CryptDamaged, AbsurdAgileValuesFailWithoutSpinningOrAllocating) {
  EXPECT_EQ(decrypt(agileWith("spinCount=\"10\"", "spinCount=\"4000000000\"")).failure,
            DecryptFailure::Damaged);
  EXPECT_EQ(decrypt(agileWith("spinCount=\"10\"", "spinCount=\"1000001\"")).failure,
            DecryptFailure::Damaged);
  EXPECT_EQ(decrypt(agileWith("spinCount=\"10\"", "spinCount=\"99999999999999999999\"")).failure,
            DecryptFailure::Damaged);
  EXPECT_EQ(decrypt(agileWith("spinCount=\"10\"", "spinCount=\"-1\"")).failure,
            DecryptFailure::Damaged);
  EXPECT_EQ(decrypt(agileWith("keyBits=\"256\"", "keyBits=\"4294967295\"")).failure,
            DecryptFailure::Damaged);
  EXPECT_EQ(decrypt(agileWith("blockSize=\"16\"", "blockSize=\"0\"")).failure,
            DecryptFailure::Damaged);
  EXPECT_EQ(decrypt(agileWith("hashSize=\"64\"", "hashSize=\"65535\"")).failure,
            DecryptFailure::Damaged);
  EXPECT_EQ(decrypt(agileWith("saltSize=\"16\"", "saltSize=\"4000000000\"")).failure,
            DecryptFailure::Damaged);
  EXPECT_EQ(decrypt(agileWith("encryptedKeyValue=\"", "encryptedKeyValue=\"!!")).failure,
            DecryptFailure::Damaged);
  EXPECT_EQ(decrypt(agileWith("<keyData ", "<keyDat ")).failure, DecryptFailure::Damaged);
  EXPECT_EQ(decrypt(agileWith("</encryption>", "</encryptio")).failure, DecryptFailure::Damaged);
  EXPECT_EQ(decrypt(agileWith("cipherAlgorithm=\"AES\"", "cipherAlgorithm=\"DES\"")).failure,
            DecryptFailure::Unsupported);
  EXPECT_EQ(decrypt(agileWith("hashAlgorithm=\"SHA512\"", "hashAlgorithm=\"WHIRLPOOL\"")).failure,
            DecryptFailure::Unsupported);
  EXPECT_EQ(decrypt(agileWith("uri=\"http://schemas.microsoft.com/office/2006/keyEncryptor/password",
                             "uri=\"http://schemas.microsoft.com/office/2006/keyEncryptor/certificate")).failure,
            DecryptFailure::Unsupported);
}

TEST_F(CryptDamaged, AbsurdRc4HeaderValues) {
  std::string good = crypttest::encryptRc4CryptoApi(plain_);
  auto withWord = [&](size_t offsetInInfo, uint32_t value) {
    std::string file = good;
    std::string info = crypttest::encryptionInfo(file);
    for (int i = 0; i < 4; ++i) info[offsetInInfo + i] = static_cast<char>(value >> (8 * i));
    crypttest::setEncryptionInfo(file, info);
    return file;
  };
  EXPECT_EQ(decrypt(withWord(8, 0xFFFFFFFF)).failure, DecryptFailure::Damaged);  // header size
  EXPECT_EQ(decrypt(withWord(8, 4)).failure, DecryptFailure::Damaged);
  EXPECT_EQ(decrypt(withWord(12 + 16, 4096)).failure, DecryptFailure::Damaged);  // key bits
  EXPECT_EQ(decrypt(withWord(12 + 8, 0x660E)).failure, DecryptFailure::Damaged);  // cipher
  EXPECT_EQ(decrypt(withWord(138, 1000)).failure, DecryptFailure::Damaged);  // salt size
  EXPECT_EQ(decrypt(withWord(0, 0x00030009)).failure, DecryptFailure::Damaged);  // version 9.3
  EXPECT_EQ(decrypt(withWord(0, 0x00030004)).failure, DecryptFailure::Unsupported);  // extensible
  EXPECT_EQ(decrypt(withWord(4, 0x24)).failure, DecryptFailure::Damaged);  // AES flag, RC4 cipher
  EXPECT_EQ(decrypt(withWord(12, 0x14)).failure, DecryptFailure::Unsupported);  // external
  // A damaged verifier cannot be told from a wrong password: the password check fails.
  std::string verifier = good;
  verifier[0x29b + 142 + 16] ^= 0x01;
  EXPECT_EQ(decrypt(verifier).failure, DecryptFailure::WrongPassword);
  EXPECT_TRUE(decrypt(good));
}

TEST_F(CryptDamaged, RandomFlipsInTheHeaderPageNeverCrash) {
  std::mt19937 random(20261207);
  for (const std::string& good : {crypttest::encryptRc4CryptoApi(plain_),
                                  crypttest::encryptAgile(plain_, {.spinCount = 3})}) {
    size_t infoLength = crypttest::encryptionInfo(good).size();
    std::set<DecryptFailure> seen;
    for (int round = 0; round < 300; ++round) {
      std::string file = good;
      int flips = 1 + static_cast<int>(random() % 4);
      for (int k = 0; k < flips; ++k) {
        size_t at = 0x299 + random() % (infoLength + 2);
        file[at] = static_cast<char>(file[at] ^ (1u << (random() % 8)));
      }
      seen.insert(decrypt(file).failure);
    }
    EXPECT_GT(seen.size(), 1u);
  }
}

}  // namespace
