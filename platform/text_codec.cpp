#include "platform/text_codec.h"

#include <iconv.h>

#include "platform/little_endian.h"

namespace {

constexpr char32_t kReplacement = 0xFFFD;
constexpr uint8_t kCompressedMark[2] = {0xFF, 0xFE};

bool isHighSurrogate(uint32_t u) { return u >= 0xD800 && u <= 0xDBFF; }
bool isLowSurrogate(uint32_t u) { return u >= 0xDC00 && u <= 0xDFFF; }

void appendUtf16(std::u16string& out, char32_t cp) {
  if (cp >= 0x10000) {
    cp -= 0x10000;
    out += static_cast<char16_t>(0xD800 + (cp >> 10));
    out += static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
  } else {
    out += static_cast<char16_t>(cp);
  }
}

// Appends UTF-16 units as UTF-8, pairing surrogates; `pending` carries a high surrogate across calls.
void appendUnit(std::string& out, uint16_t unit, uint16_t& pending) {
  if (pending) {
    if (isLowSurrogate(unit)) {
      appendUtf8(out, 0x10000 + ((static_cast<char32_t>(pending) - 0xD800) << 10) + (unit - 0xDC00));
      pending = 0;
      return;
    }
    appendUtf8(out, kReplacement);
    pending = 0;
  }
  if (isHighSurrogate(unit)) pending = unit;
  else if (isLowSurrogate(unit)) appendUtf8(out, kReplacement);
  else appendUtf8(out, unit);
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

void appendUtf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

size_t decodeUtf8Char(std::string_view s, size_t i, char32_t& cp) {
  unsigned char c = static_cast<unsigned char>(s[i]);
  if (c < 0x80) {
    cp = c;
    return 1;
  }
  size_t len;
  char32_t min;
  if (c >= 0xC2 && c <= 0xDF) len = 2, cp = c & 0x1F, min = 0x80;
  else if (c >= 0xE0 && c <= 0xEF) len = 3, cp = c & 0x0F, min = 0x800;
  else if (c >= 0xF0 && c <= 0xF4) len = 4, cp = c & 0x07, min = 0x10000;
  else return 0;
  if (i + len > s.size()) return 0;
  for (size_t k = 1; k < len; ++k) {
    unsigned char d = static_cast<unsigned char>(s[i + k]);
    if ((d & 0xC0) != 0x80) return 0;
    cp = (cp << 6) | (d & 0x3F);
  }
  if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
  return len;
}

std::u16string utf8ToUtf16(std::string_view s) {
  std::u16string out;
  out.reserve(s.size());
  for (size_t i = 0; i < s.size();) {
    char32_t cp;
    size_t len = decodeUtf8Char(s, i, cp);
    if (len == 0) cp = kReplacement, len = 1;
    appendUtf16(out, cp);
    i += len;
  }
  return out;
}

bool utf8ToUtf16Strict(std::string_view s, std::u16string& out, size_t* badAt) {
  out.clear();
  out.reserve(s.size());
  for (size_t i = 0; i < s.size();) {
    char32_t cp;
    size_t len = decodeUtf8Char(s, i, cp);
    if (len == 0) {
      if (badAt) *badAt = i;
      return false;
    }
    appendUtf16(out, cp);
    i += len;
  }
  return true;
}

std::string utf16ToUtf8(std::u16string_view units) {
  std::string out;
  out.reserve(units.size());
  uint16_t pending = 0;
  for (char16_t u : units) appendUnit(out, u, pending);
  if (pending) appendUtf8(out, kReplacement);
  return out;
}

namespace {

void appendUtf16Le(std::string& out, const uint8_t* data, size_t length) {
  uint16_t pending = 0;
  for (size_t pos = 0; pos + 1 < length; pos += 2) {
    const uint16_t unit = le::get16(data + pos);
    if (unit < 0x80 && !pending) out += static_cast<char>(unit);
    else appendUnit(out, unit, pending);
  }
  if (pending) appendUtf8(out, kReplacement);
}

}  // namespace

std::string decodeUtf16Le(const uint8_t* data, size_t length) {
  std::string out;
  out.reserve(length / 2);
  appendUtf16Le(out, data, length);
  return out;
}

std::string decodeAccessText(const uint8_t* data, size_t length) {
  std::string out;
  decodeAccessTextInto(out, data, length);
  return out;
}

void decodeAccessTextInto(std::string& out, const uint8_t* data, size_t length) {
  out.clear();
  if (length < 2 || data[0] != kCompressedMark[0] || data[1] != kCompressedMark[1]) {
    out.reserve(length / 2);
    appendUtf16Le(out, data, length);
    return;
  }
  out.reserve(length);
  uint16_t pending = 0;
  bool compressed = true;
  size_t pos = 2;
  while (pos < length) {
    if (data[pos] == 0) {
      compressed = !compressed;
      ++pos;
    } else if (compressed) {
      if (data[pos] < 0x80 && !pending) out += static_cast<char>(data[pos++]);  // ASCII, most texts
      else appendUnit(out, data[pos++], pending);
    } else if (length - pos >= 2) {
      appendUnit(out, le::get16(data + pos), pending);
      pos += 2;
    } else {
      break;
    }
  }
  if (pending) appendUtf8(out, kReplacement);
}

std::vector<uint8_t> encodeAccessText(std::u16string_view units, bool compress) {
  bool compressible = compress && units.size() > 2;
  for (size_t i = 0; compressible && i < units.size(); ++i) compressible = units[i] >= 0x01 && units[i] <= 0xFF;
  std::vector<uint8_t> out;
  if (compressible) {
    out.reserve(units.size() + 2);
    out.push_back(kCompressedMark[0]);
    out.push_back(kCompressedMark[1]);
    for (char16_t u : units) out.push_back(static_cast<uint8_t>(u));
  } else {
    out.reserve(units.size() * 2);
    for (char16_t u : units) {
      out.push_back(static_cast<uint8_t>(u));
      out.push_back(static_cast<uint8_t>(u >> 8));
    }
  }
  return out;
}

bool canDecodeCodePage(uint16_t codePage) {
  if (codePage == 1252) return true;
  iconv_t cd = iconv_open("UTF-8", ("CP" + std::to_string(codePage)).c_str());
  if (cd == reinterpret_cast<iconv_t>(-1)) return false;
  iconv_close(cd);
  return true;
}

namespace {

// The converter of the code page decoded last on this thread: a Jet3 table's texts all share one
// code page, and opening a converter costs far more than a short text's decoding.
class CodePageConverter {
 public:
  ~CodePageConverter() { close(); }
  iconv_t forCodePage(uint16_t codePage) {
    if (codePage != codePage_) {
      close();
      cd_ = iconv_open("UTF-8", ("CP" + std::to_string(codePage)).c_str());
      codePage_ = codePage;
    }
    if (cd_ != kNone) iconv(cd_, nullptr, nullptr, nullptr, nullptr);  // back to the initial state
    return cd_;
  }

 private:
  static inline const iconv_t kNone = reinterpret_cast<iconv_t>(-1);
  void close() {
    if (cd_ != kNone) iconv_close(cd_);
    cd_ = kNone;
    codePage_ = 0;
  }
  uint16_t codePage_ = 0;
  iconv_t cd_ = kNone;
};

}  // namespace

std::string decodeCodePageText(const uint8_t* data, size_t length, uint16_t codePage) {
  if (codePage == 0 || codePage == 1252 || length == 0) return cp1252ToUtf8(data, length);
  thread_local CodePageConverter converter;
  iconv_t cd = converter.forCodePage(codePage);
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
      std::string replacement;
      appendUtf8(replacement, kReplacement);
      for (char c : replacement) *outPtr++ = c;
      outLeft -= replacement.size();
    }
  }
  out.resize(out.size() - outLeft);
  return out;
}
