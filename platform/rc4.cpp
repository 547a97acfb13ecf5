#include "platform/rc4.h"

#include <utility>

Rc4::Rc4(const uint8_t* key, size_t keyLength) {
  for (int i = 0; i < 256; ++i) state_[i] = static_cast<uint8_t>(i);
  uint8_t j = 0;
  for (int i = 0; i < 256; ++i) {
    j = static_cast<uint8_t>(j + state_[i] + key[i % keyLength]);
    std::swap(state_[i], state_[j]);
  }
}

void Rc4::apply(uint8_t* data, size_t length) {
  uint8_t x = x_, y = y_;
  for (size_t n = 0; n < length; ++n) {
    x = static_cast<uint8_t>(x + 1);
    y = static_cast<uint8_t>(y + state_[x]);
    std::swap(state_[x], state_[y]);
    data[n] ^= state_[static_cast<uint8_t>(state_[x] + state_[y])];
  }
  x_ = x;
  y_ = y;
}

void rc4Apply(const uint8_t* key, size_t keyLength, uint8_t* data, size_t length) {
  Rc4(key, keyLength).apply(data, length);
}
