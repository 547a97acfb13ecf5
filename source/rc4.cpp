#include "source/rc4.h"

#include <utility>

void rc4Apply(const uint8_t* key, size_t keyLength, uint8_t* data, size_t length) {
  uint8_t state[256];
  for (int i = 0; i < 256; ++i) state[i] = static_cast<uint8_t>(i);
  uint8_t j = 0;
  for (int i = 0; i < 256; ++i) {
    j = static_cast<uint8_t>(j + state[i] + key[i % keyLength]);
    std::swap(state[i], state[j]);
  }
  uint8_t x = 0, y = 0;
  for (size_t n = 0; n < length; ++n) {
    x = static_cast<uint8_t>(x + 1);
    y = static_cast<uint8_t>(y + state[x]);
    std::swap(state[x], state[y]);
    data[n] ^= state[static_cast<uint8_t>(state[x] + state[y])];
  }
}
