// The encrypted database of the bench, and what decrypting its pages costs.
//
//   bench_encrypt_database PLAIN ENCRYPTED PASSWORD
//       writes PLAIN (.accdb) encrypted as Access 2010 and later encrypt by default: agile,
//       AES-256 with SHA-512 and a spin count of 100,000
//   bench_encrypt_database --pages ENCRYPTED PASSWORD
//       checks the password, then decrypts every page through the page cipher, in memory, and
//       prints the time a page takes (best of five passes)
#include <chrono>
#include <cstdio>
#include <fstream>
#include <span>
#include <string>

#include "source/crypt/encrypted_access.h"
#include "tests/crypt/access_encryptor.h"

namespace {

bool readWhole(const std::string& path, std::string& bytes) {
  std::ifstream in(path, std::ios::binary | std::ios::ate);
  if (!in) return false;
  bytes.resize(static_cast<size_t>(in.tellg()));
  in.seekg(0);
  return static_cast<bool>(in.read(bytes.data(), static_cast<std::streamsize>(bytes.size())));
}

int encrypt(const std::string& plainPath, const std::string& outPath, const std::string& password) {
  std::string plain;
  if (!readWhole(plainPath, plain)) {
    std::fprintf(stderr, "cannot read %s\n", plainPath.c_str());
    return 1;
  }
  crypttest::AgileOptions options;
  options.password = password;
  options.spinCount = 100000;
  std::string encrypted = crypttest::encryptAgile(plain, options);
  std::ofstream out(outPath, std::ios::binary | std::ios::trunc);
  out.write(encrypted.data(), static_cast<std::streamsize>(encrypted.size()));
  out.close();
  if (!out) {
    std::fprintf(stderr, "cannot write %s\n", outPath.c_str());
    return 1;
  }
  return 0;
}

int timePages(const std::string& path, const std::string& password) {
  std::string bytes;
  if (!readWhole(path, bytes)) {
    std::fprintf(stderr, "cannot read %s\n", path.c_str());
    return 1;
  }
  auto header = reinterpret_cast<const unsigned char*>(bytes.data());
  using Clock = std::chrono::steady_clock;
  Clock::time_point start = Clock::now();
  CipherResult opened =
      openOfficeCipher(std::span<const unsigned char>(header, std::min(bytes.size(), kAccessPageSize)),
                       bytes.size(), path, password);
  if (!opened) {
    std::fprintf(stderr, "%s\n", opened.message.c_str());
    return 1;
  }
  double keySeconds = std::chrono::duration<double>(Clock::now() - start).count();
  // The best of five passes, each over a fresh copy of the stored pages.
  size_t pages = bytes.size() / kAccessPageSize;
  double seconds = 0;
  for (int pass = 0; pass < 5; ++pass) {
    std::string copy = bytes;
    auto data = reinterpret_cast<unsigned char*>(copy.data());
    start = Clock::now();
    for (size_t page = 1; page < pages; ++page) {
      std::span<unsigned char, kAccessPageSize> bytesOfPage(data + page * kAccessPageSize, kAccessPageSize);
      if (!opened.cipher->decryptPage(static_cast<uint32_t>(page), bytesOfPage)) {
        std::fprintf(stderr, "the cipher failed on page %zu\n", page);
        return 1;
      }
    }
    double passSeconds = std::chrono::duration<double>(Clock::now() - start).count();
    if (pass == 0 || passSeconds < seconds) seconds = passSeconds;
  }
  std::printf("%s (%s): password checked in %.3f s; %zu pages decrypted in %.3f s, %.2f us a page, %.0f MB/s\n",
              path.c_str(), accessEncryptionName(opened.cipher->kind()), keySeconds, pages - 1, seconds,
              seconds * 1e6 / static_cast<double>(pages - 1),
              static_cast<double>((pages - 1) * kAccessPageSize) / seconds / 1e6);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 4 && std::string(argv[1]) == "--pages") return timePages(argv[2], argv[3]);
  if (argc == 4 && argv[1][0] != '-') return encrypt(argv[1], argv[2], argv[3]);
  std::fprintf(stderr,
               "usage: bench_encrypt_database PLAIN ENCRYPTED PASSWORD\n"
               "       bench_encrypt_database --pages ENCRYPTED PASSWORD\n");
  return 2;
}
