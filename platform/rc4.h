// RC4, the one implementation for the Jet header mask and page encoding, Office's CryptoAPI RC4
// decryption and the test writer. Encryption and decryption are the same operation.
#pragma once

#include <cstddef>
#include <cstdint>

// A key stream that goes on across calls, for data stored one piece after the other.
class Rc4 {
 public:
  // keyLength must be at least 1.
  Rc4(const uint8_t* key, size_t keyLength);
  void apply(uint8_t* data, size_t length);

 private:
  uint8_t state_[256];
  uint8_t x_ = 0, y_ = 0;
};

// RC4 over the data in place with a fresh key stream.
void rc4Apply(const uint8_t* key, size_t keyLength, uint8_t* data, size_t length);
