#include "source/text_decoding.h"

#include <iconv.h>

#include <string>
#include <vector>

#include "platform/text.h"

namespace {


std::string utf16ToUtf8(const std::vector<uint16_t>& units) {
  std::string out;
  out.reserve(units.size());
  for (size_t i = 0; i < units.size(); ++i) {
    uint32_t u = units[i];
    if (u >= 0xD800 && u <= 0xDBFF && i + 1 < units.size() && units[i + 1] >= 0xDC00 && units[i + 1] <= 0xDFFF) {
      appendUtf8(out, 0x10000 + ((u - 0xD800) << 10) + (units[i + 1] - 0xDC00));
      ++i;
    } else if (u >= 0xD800 && u <= 0xDFFF) {
      appendUtf8(out, 0xFFFD);
    } else {
      appendUtf8(out, u);
    }
  }
  return out;
}

// Windows-1252 bytes 0x80 to 0x9F; the rest map to the same code point.
constexpr uint16_t kCp1252High[32] = {0x20AC, 0xFFFD, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                      0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0xFFFD, 0x017D, 0xFFFD,
                                      0xFFFD, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                      0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0xFFFD, 0x017E, 0x0178};

std::string cp1252ToUtf8(const uint8_t* data, size_t length) {
  std::string out;
  out.reserve(length);
  for (size_t i = 0; i < length; ++i) {
    uint8_t b = data[i];
    appendUtf8(out, (b >= 0x80 && b < 0xA0) ? kCp1252High[b - 0x80] : b);
  }
  return out;
}

}  // namespace

std::string decodeJet4Text(const uint8_t* data, size_t length) {
  std::vector<uint16_t> units;
  if (length >= 2 && data[0] == 0xFF && data[1] == 0xFE) {
    units.reserve(length);
    bool compressed = true;
    size_t pos = 2;
    while (pos < length) {
      if (data[pos] == 0) {
        compressed = !compressed;
        ++pos;
      } else if (compressed) {
        units.push_back(data[pos++]);
      } else if (length - pos >= 2) {
        units.push_back(static_cast<uint16_t>(data[pos] | (data[pos + 1] << 8)));
        pos += 2;
      } else {
        break;
      }
    }
  } else {
    units.reserve(length / 2);
    for (size_t pos = 0; pos + 1 < length; pos += 2) units.push_back(static_cast<uint16_t>(data[pos] | (data[pos + 1] << 8)));
  }
  return utf16ToUtf8(units);
}

std::string decodeJet3Text(const uint8_t* data, size_t length, uint16_t codePage) {
  if (codePage == 0 || codePage == 1252 || length == 0) return cp1252ToUtf8(data, length);
  std::string from = "CP" + std::to_string(codePage);
  iconv_t cd = iconv_open("UTF-8", from.c_str());
  if (cd == reinterpret_cast<iconv_t>(-1)) return cp1252ToUtf8(data, length);
  std::string out(length * 4 + 4, '\0');
  char* in = reinterpret_cast<char*>(const_cast<uint8_t*>(data));
  size_t inLeft = length;
  char* outPtr = out.data();
  size_t outLeft = out.size();
  while (inLeft > 0) {
    if (iconv(cd, &in, &inLeft, &outPtr, &outLeft) == static_cast<size_t>(-1)) {
      if (outLeft < 3) break;
      // A byte the code page does not define: keep going with a replacement character.
      ++in;
      --inLeft;
      *outPtr++ = static_cast<char>(0xEF);
      *outPtr++ = static_cast<char>(0xBF);
      *outPtr++ = static_cast<char>(0xBD);
      outLeft -= 3;
    }
  }
  iconv_close(cd);
  out.resize(out.size() - outLeft);
  return out;
}
