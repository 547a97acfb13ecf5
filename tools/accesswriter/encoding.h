// Value encodings the writer needs: texts through the platform codec (UTF-8 to UTF-16, Access's
// compressed Unicode form), decimal numbers, and floating-point numbers stored little-endian.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "platform/little_endian.h"

namespace accesswriter::enc {

inline void putDouble(uint8_t* p, double v) {
  uint64_t bits;
  std::memcpy(&bits, &v, 8);
  le::put64(p, bits);
}
inline void putFloat(uint8_t* p, float v) {
  uint32_t bits;
  std::memcpy(&bits, &v, 4);
  le::put32(p, bits);
}

// UTF-16 code units of a UTF-8 text; throws std::invalid_argument on malformed UTF-8.
std::u16string utf16FromUtf8(const std::string& text);

// The 17 stored bytes of a decimal "-12.34" in a field of the given precision and scale;
// throws std::invalid_argument when the text is malformed or does not fit.
void numericBytes(const std::string& text, int precision, int scale, uint8_t out[17]);

// A calculated Decimal result "-12.340" as Access stores it, with the scale it is written with
// (here 3, up to 28) and a 96-bit magnitude; returns the byte count (16) written to `out`.
size_t calculatedDecimalBytes(const std::string& text, uint8_t out[16]);

}  // namespace accesswriter::enc
