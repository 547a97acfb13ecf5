// Value encodings the writer needs: texts through the platform codec (UTF-8 to UTF-16, Access's
// compressed Unicode form), decimal numbers, little-endian stores, RC4.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace accesswriter::enc {

inline void put16(uint8_t* p, uint16_t v) { p[0] = uint8_t(v); p[1] = uint8_t(v >> 8); }
inline void put32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = uint8_t(v >> (8 * i));
}
inline void put64(uint8_t* p, uint64_t v) {
  for (int i = 0; i < 8; ++i) p[i] = uint8_t(v >> (8 * i));
}
inline void putDouble(uint8_t* p, double v) {
  uint64_t bits;
  std::memcpy(&bits, &v, 8);
  put64(p, bits);
}
inline void putFloat(uint8_t* p, float v) {
  uint32_t bits;
  std::memcpy(&bits, &v, 4);
  put32(p, bits);
}

// UTF-16 code units of a UTF-8 text; throws std::invalid_argument on malformed UTF-8.
std::u16string utf16FromUtf8(const std::string& text);

// The 17 stored bytes of a decimal "-12.34" in a field of the given precision and scale;
// throws std::invalid_argument when the text is malformed or does not fit.
void numericBytes(const std::string& text, int precision, int scale, uint8_t out[17]);

// RC4 over `data` in place.
void rc4(const uint8_t* key, size_t keyLength, uint8_t* data, size_t length);

}  // namespace accesswriter::enc
