// OpenSSL's libcrypto, opened the first time a database needs it. Only encrypted databases do,
// and linking it costs every process its relocations at start (about 3.5 ms), so the programs
// and libraries do not link it: its functions are looked up here, with the prototypes of its
// headers.
#pragma once

#include <openssl/evp.h>

#define QUARLEX_OPENSSL_FUNCTIONS(X)                                                              \
  X(EVP_md5) X(EVP_sha1) X(EVP_sha256) X(EVP_sha384) X(EVP_sha512)                                \
  X(EVP_aes_128_cbc) X(EVP_aes_192_cbc) X(EVP_aes_256_cbc)                                        \
  X(EVP_aes_128_ecb) X(EVP_aes_192_ecb) X(EVP_aes_256_ecb)                                        \
  X(EVP_CIPHER_CTX_new) X(EVP_CIPHER_CTX_free) X(EVP_CIPHER_CTX_set_padding)                      \
  X(EVP_CipherInit_ex) X(EVP_CipherUpdate) X(EVP_DecryptInit_ex2)                                 \
  X(EVP_CIPHER_fetch) X(EVP_CIPHER_free) X(EVP_CIPHER_get0_name)                                  \
  X(EVP_MD_CTX_new) X(EVP_MD_CTX_free) X(EVP_DigestInit_ex2)                 \
  X(EVP_DigestUpdate) X(EVP_DigestFinal_ex)                                                       \
  X(EVP_MD_fetch) X(EVP_MD_free) X(EVP_MD_get0_name) X(EVP_DecodeBlock)

struct OpenSslLibrary {
#define QUARLEX_OPENSSL_MEMBER(name) decltype(&::name) name = nullptr;
  QUARLEX_OPENSSL_FUNCTIONS(QUARLEX_OPENSSL_MEMBER)
#undef QUARLEX_OPENSSL_MEMBER
};

// The functions, loaded once for the whole process; null when libcrypto cannot be opened or
// lacks one of them (the decryption then reports the cipher as not available).
const OpenSslLibrary* openSsl();
